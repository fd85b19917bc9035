// The empty-directory purge of -r -d, end to end.
#include <string>

#include "support/harness.h"

namespace {

std::string Del(const std::wstring &p) { return "del \"" + P(p) + "\""; }
std::string Rd(const std::wstring &p) { return "rd  \"" + P(p) + "\""; }

class PurgeTest : public E2ETest {};

TEST_F(PurgeTest, TreeOfZeroSizeFilesIsRemovedChildrenFirst) {
  auto z0 = MakeEmptyFile("src/z0");
  auto z1 = MakeEmptyFile("src/a/z1");
  auto z2 = MakeEmptyFile("src/a/b/z2");
  RunResult r = RunTwinSift({L"-r", L"-d", At("src")});
  EXPECT_EQ(r.out, Lines({"No files found", "", Del(z0), Del(z1), Del(z2),
                          Rd(At("src/a/b")), Rd(At("src/a")), Rd(At("src"))}));
  EXPECT_FALSE(PathExists(At("src")));
}

TEST_F(PurgeTest, VerboseAnnouncesEachZeroSizeFile) {
  auto z = MakeEmptyFile("src/sub/z");
  MakeFile("src/keep", "data");
  RunResult r = RunTwinSift({L"-r", L"-d", L"-v", At("src")});
  EXPECT_EQ(r.out,
            Lines({"", "REM Erase zero size file", Del(z), Rd(At("src/sub"))}));
  EXPECT_TRUE(PathExists(At("src/keep")));
  EXPECT_FALSE(PathExists(At("src/sub")));
}

TEST_F(PurgeTest, ZeroSizeFileBesideDataInASubdirectory) {
  auto z = MakeEmptyFile("src/d/z");
  auto f = MakeFile("src/d/e/f", "1");
  RunResult r = RunTwinSift({L"-r", L"-d", At("src")});
  EXPECT_EQ(r.out, Lines({"", Del(z)}));
  EXPECT_FALSE(PathExists(z));
  EXPECT_TRUE(PathExists(f));
}

TEST_F(PurgeTest, FileOutsideTheFilterKeepsItsDirectory) {
  MakeFile("src/sub/keep.txt", "data");
  RunResult r = RunTwinSift({L"-r", L"-d", JoinPath(At("src"), L"*.jpg")});
  EXPECT_EQ(r.out, Lines({"No files found", ""}));
  EXPECT_TRUE(PathExists(At("src/sub/keep.txt")));
}

TEST_F(PurgeTest, ErasedDuplicatesLeaveTheirDirectoryEmpty) {
  auto a = MakeFile("src/old/a.jpg", "picture");
  auto b = MakeFile("src/new/b.jpg", "picture");
  RunResult r = RunTwinSift({L"-r", L"-d", At("src")});
  // new/ comes first: its copy is erased and the directory goes with it.
  EXPECT_EQ(r.out,
            Lines({"", Del(b), "REM \"" + P(a) + "\"", "", Rd(At("src/new"))}));
  EXPECT_TRUE(PathExists(a));
  EXPECT_FALSE(PathExists(At("src/new")));
}

// Destinations are read-only, also inside the source: the purge leaves a
// destination's empty folders and zero-size files, and the folders above
// it, as they are, while the rest of the source is purged.
TEST_F(PurgeTest, DestinationInsideTheSourceIsLeftAsItIs) {
  auto z = MakeEmptyFile("src/lib/z");
  MakeSubdir("src/lib/empty");
  auto other = MakeEmptyFile("src/tmp/z");
  RunResult r = RunTwinSift({L"-r", L"-d", At("src"), At("src/lib")});
  EXPECT_EQ(r.out,
            Lines({"No files found", "", Del(other), Rd(At("src/tmp"))}));
  EXPECT_TRUE(PathExists(z));
  EXPECT_TRUE(PathExists(At("src/lib/empty")));
  EXPECT_FALSE(PathExists(At("src/tmp")));
}

// A link to a folder outside the source is neither entered nor erased:
// nothing outside the source changes, and the link's folder stays. Under
// Wine the link is a Unix one, listed as a folder reparse point of tag 0.
TEST_F(PurgeTest, LinkToAFolderOutsideChangesNothingThere) {
  const auto b = MakeFile("src/zz/b.jpg", "picture");
  const auto a = MakeFile("outside/a.jpg", "picture");
  const auto empty = MakeEmptyFile("outside/empty.txt");
  MakeSubdir("outside/sub");
  ASSERT_TRUE(MakeFolderLink(At("outside"), At("src/link"))) << "fixture";
  RunResult r = RunTwinSift({L"-r", L"-d", At("src")});
  EXPECT_EQ(r.out, Lines({""}));
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.exitCode, 0);
  for (const auto &p : {b, a, empty, At("outside/sub"), At("src/link")})
    EXPECT_TRUE(PathExists(p)) << P(p);
  std::string bytes;
  EXPECT_TRUE(ReadBytes(a, &bytes) && bytes == "picture");
  EXPECT_TRUE(RemoveFolderLink(At("src/link"))) << "fixture";
}

// A copy in a recycle bin is never the kept copy: the bin is not entered,
// so the source's copy has no match and stays. A bin in the source keeps
// its folder.
TEST_F(PurgeTest, RecycleBinsAreNeitherMatchedNorPurged) {
  const auto a = MakeFile("src/a.jpg", "picture");
  const auto binned =
      MakeFile("dest/$RECYCLE.BIN/S-1-5-21/$R0A1B2C.jpg", "picture");
  const auto z = MakeEmptyFile("src/old/$Recycle.Bin/z");
  RunResult r = RunTwinSift({L"-r", L"-d", At("src"), At("dest")});
  EXPECT_EQ(r.out, Lines({""}));
  EXPECT_EQ(r.exitCode, 0);
  for (const auto &p : {a, binned, z}) EXPECT_TRUE(PathExists(p)) << P(p);
}

}  // namespace
