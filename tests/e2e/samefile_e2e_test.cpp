// One file reached twice is never erased on the strength of a match with
// itself.
#include <cwctype>
#include <string>

#include "support/harness.h"

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

}  // namespace
