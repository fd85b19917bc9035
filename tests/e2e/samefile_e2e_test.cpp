// One file reached twice is never erased on the strength of a match with
// itself.
#include <algorithm>
#include <cwctype>
#include <string>
#include <utility>
#include <vector>

#include "support/harness.h"
#include "support/randomtree.h"

namespace {

std::string Del(const std::wstring &p) { return "del \"" + P(p) + "\""; }
std::string Rem(const std::wstring &p) { return "REM \"" + P(p) + "\""; }

class SameFileTest : public E2ETest {};

TEST_F(SameFileTest, DestinationInsideTheSourceTreeKeepsItsFile) {
  auto b = MakeFile("src/b.jpg", "picture");
  auto a = MakeFile("src/old/a.jpg", "picture");
  RunResult r = RunTwinSift({L"-r", L"-d", At("src"), At("src/old")});
  EXPECT_EQ(r.out, Lines({"", Del(b), Rem(a), ""}));
  EXPECT_FALSE(PathExists(b));
  std::string bytes;
  ASSERT_TRUE(ReadBytes(a, &bytes));
  EXPECT_EQ(bytes, "picture");
}

TEST_F(SameFileTest, HardLinksAreOneFile) {
  auto a = MakeFile("d/a", "only copy");
  if (!MakeHardLink(a, At("d/b"))) GTEST_SKIP() << "no hard links here";
  RunResult r = RunTwinSift({L"-d", At("d")});
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(PathExists(a) && PathExists(At("d/b")));
}

TEST_F(SameFileTest, HardLinkBesideARealCopy) {
  auto a = MakeFile("d/a", "photo");
  if (!MakeHardLink(a, At("d/b"))) GTEST_SKIP() << "no hard links here";
  auto c = MakeFile("d/c", "photo");
  RunResult r = RunTwinSift({L"-d", At("d")});
  EXPECT_EQ(r.out, Lines({"", Del(a), Rem(c)}));
  std::string bytes;
  EXPECT_TRUE(ReadBytes(c, &bytes) && bytes == "photo");
}

TEST_F(SameFileTest, SourceGivenAgainThroughALink) {
  auto a = MakeFile("src/a", "photo");
  auto b = MakeFile("src/b", "photo");
  if (!MakeSymlink(At("src"), At("again")))
    GTEST_SKIP() << "no symbolic links here";
  RunResult r = RunTwinSift({L"-d", At("src"), At("again")});
  // Every source record is the same file as a destination record: nothing
  // is left to erase, and the two copies are not reported as such.
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(PathExists(a) && PathExists(b));
}

TEST_F(SameFileTest, SourceGivenAgainInOtherLetterCase) {
  auto a = MakeFile("src/a", "photo");
  std::wstring upper = At("src");
  for (size_t i = upper.size() - 3; i < upper.size(); i++)
    upper[i] = static_cast<wchar_t>(towupper(upper[i]));
  if (!PathExists(upper)) GTEST_SKIP() << "file names are case-sensitive here";
  RunResult r = RunTwinSift({L"-d", At("src"), upper});
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(PathExists(a));
}

// One layout: the files made, the run's arguments (relative to the test's
// folder), its expected report and the files left.
struct Layout {
  const char *what;
  std::vector<std::pair<std::string, std::string>> files;  // path, bytes
  std::vector<std::pair<std::string, std::string>> links;  // hard: from, to
  std::vector<std::string> args;
  std::vector<std::string> report;  // "del x" / "REM x" / "" / "hdr"
  std::vector<std::string> left;
};

TEST_F(SameFileTest, EachParameterHoldsItsFilesMostNarrowly) {
  const std::vector<Layout> layouts = {
      {"import folder inside the library",
       {{"lib/import/a.jpg", "photo"}, {"lib/old/photo.jpg", "photo"}},
       {},
       {"-r", "-d", "lib/import", "lib"},
       {"", "del lib/import/a.jpg", "REM lib/old/photo.jpg", "",
        "rd  lib/import"},
       {"lib/old/photo.jpg"}},
      {"backup folder inside the pictures",
       {{"pics/x.jpg", "photo"}, {"pics/backup/x.jpg", "photo"}},
       {},
       {"-r", "-d", "pics", "pics/backup"},
       {"", "del pics/x.jpg", "REM pics/backup/x.jpg", ""},
       {"pics/backup/x.jpg"}},
      {"a hard link in the library to the import's only copy",
       {{"lib/import/a.jpg", "photo"}},
       {{"lib/import/a.jpg", "lib/old/a.jpg"}},
       {"-r", "-d", "lib/import", "lib"},
       {""},
       {"lib/import/a.jpg", "lib/old/a.jpg"}},
      {"a hard link from the source into a destination, shown with -v",
       {{"s/a.jpg", "photo"}, {"d/old.jpg", "photo"}},
       {{"s/a.jpg", "d/a.jpg"}},
       {"-v", "-d", "s", "d"},
       {"", "hdr", "REM s/a.jpg", "REM d/a.jpg", "REM d/old.jpg"},
       {"s/a.jpg", "d/a.jpg", "d/old.jpg"}},
      {"the same hard link without -v, and a source copy erased against it",
       {{"s/a.jpg", "photo"}, {"s/b.jpg", "photo"}},
       {{"s/a.jpg", "d/a.jpg"}},
       {"-d", "s", "d"},
       {"", "REM s/a.jpg", "del s/b.jpg", "REM d/a.jpg"},
       {"s/a.jpg", "d/a.jpg"}},
  };
  const std::string header = "REM FileSize=5 Hash=" + Sha256Hex("photo");
  for (const Layout &l : layouts) {
    SCOPED_TRACE(l.what);
    for (const char *d : {"lib", "pics", "s", "d"}) RemoveTree(At(d));
    for (const auto &[path, bytes] : l.files) MakeFile(path, bytes);
    bool linked = true;
    for (const auto &[from, to] : l.links) {
      MakeSubdir(to.substr(0, to.rfind('/')));
      linked = linked && MakeHardLink(At(from), At(to));
    }
    if (!linked) continue;  // no hard links on this file system
    std::vector<std::wstring> args;
    for (const std::string &a : l.args)
      args.push_back(a[0] == '-' ? W(a) : At(a));
    RunResult r = RunTwinSift(args);
    std::vector<std::string> expected;
    for (const std::string &line : l.report) {
      if (line.empty() || line == "hdr")
        expected.push_back(line.empty() ? line : header);
      else
        expected.push_back(line.substr(0, line.find(' ', 3) + 1) + "\"" +
                           P(At(line.substr(line.find(' ', 3) + 1))) + "\"");
    }
    EXPECT_EQ(r.out, Lines(expected));
    for (const auto &[path, bytes] : l.files) {
      const bool stays =
          std::find(l.left.begin(), l.left.end(), path) != l.left.end();
      EXPECT_EQ(PathExists(At(path)), stays) << path;
    }
    for (const std::string &path : l.left)
      EXPECT_TRUE(PathExists(At(path))) << path;
  }
}

}  // namespace
