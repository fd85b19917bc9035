// The duplicate report end to end: exact output and the files left behind.
#include <string>
#include <vector>

#include "app/app.h"
#include "dups/dups.h"
#include "support/harness.h"

namespace {

const char kAbcHash[] =
    "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD";

std::string Del(const std::wstring &p) { return "del \"" + P(p) + "\""; }
std::string Rem(const std::wstring &p) { return "REM \"" + P(p) + "\""; }

// The system's own text for an error code, as the program prints it.
std::string ErrorText(DWORD code) {
  SetLastError(code);
  wchar_t text[ERROR_TEXT_CAPACITY];
  SystemErrorText(text, ERROR_TEXT_CAPACITY);
  return P(text);
}

class ReportTest : public E2ETest {
 protected:
  bool Exists(const std::wstring &p) { return PathExists(p); }
};

TEST_F(ReportTest, SingleDirectoryKeepsTheLastCopyFound) {
  auto a = MakeFile("data/a.txt", "abc");
  auto b = MakeFile("data/b.txt", "abc");
  auto c = MakeFile("data/c.txt", "abc");
  RunResult r = RunTwinSift({At("data")});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, Lines({"", Del(a), Del(b), Rem(c)}));

  r = RunTwinSift({L"-v", At("data")});
  EXPECT_EQ(r.out, Lines({"", std::string("REM FileSize=3 Hash=") + kAbcHash,
                          Del(a), Del(b), Rem(c)}));

  r = RunTwinSift({L"-d", At("data")});
  EXPECT_EQ(r.out, Lines({"", Del(a), Del(b), Rem(c)}));
  EXPECT_FALSE(Exists(a));
  EXPECT_FALSE(Exists(b));
  EXPECT_TRUE(Exists(c));
}

TEST_F(ReportTest, DestinationCopiesAreKeptAndEverySourceCopyErased) {
  auto x = MakeFile("src/x.jpg", "picture");
  auto z = MakeFile("src/z.jpg", "picture");
  auto y = MakeFile("dst/y.jpg", "picture");
  RunResult r = RunTwinSift({L"-d", At("src"), At("dst")});
  EXPECT_EQ(r.out, Lines({"", Del(x), Del(z), Rem(y)}));
  EXPECT_FALSE(Exists(x));
  EXPECT_FALSE(Exists(z));
  EXPECT_TRUE(Exists(y));
}

TEST_F(ReportTest, SetWithoutDestinationCopyOnlyWithVerbose) {
  auto x = MakeFile("src/x.jpg", "abc");
  auto z = MakeFile("src/z.jpg", "abc");
  MakeFile("dst/other.jpg", "xyz");
  EXPECT_EQ(RunTwinSift({L"-d", At("src"), At("dst")}).out, "");
  EXPECT_TRUE(Exists(x) && Exists(z));
  RunResult r = RunTwinSift({L"-v", L"-d", At("src"), At("dst")});
  EXPECT_EQ(r.out, Lines({"", std::string("REM FileSize=3 Hash=") + kAbcHash,
                          Rem(x), Rem(z)}));
  EXPECT_TRUE(Exists(x) && Exists(z));
  // Debug without -v: the header alone, at the end of the debug output.
  std::string tail =
      Lines({"", std::string("REM FileSize=3 Hash=") + kAbcHash});
  r = RunTwinSift({L"-debug", At("src"), At("dst")});
  ASSERT_GE(r.out.size(), tail.size());
  EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail);
}

TEST_F(ReportTest, TwoSetsInOneSizeGroupGiveTwoBlocks) {
  auto a1 = MakeFile("d/a1", "aaa");
  auto a2 = MakeFile("d/a2", "aaa");
  auto b1 = MakeFile("d/b1", "bbb");
  auto b2 = MakeFile("d/b2", "bbb");
  MakeFile("d/c1", "ccc");
  RunResult r = RunTwinSift({At("d")});
  EXPECT_EQ(r.out, Lines({"", Del(a1), Rem(a2), "", Del(b1), Rem(b2)}));
}

TEST_F(ReportTest, EqualSizesWithDifferentContentsPrintNothing) {
  MakeFile("d/a", "aaa");
  MakeFile("d/b", "bbb");
  EXPECT_EQ(RunTwinSift({At("d")}).out, "");
  EXPECT_EQ(RunTwinSift({L"-v", At("d")}).out, "");
}

TEST_F(ReportTest, DestinationFilesOfOtherSizesAreNeverPrinted) {
  auto s = MakeFile("src/s", "abc");
  auto d1 = MakeFile("dst1/copy", "abc");
  MakeFile("dst1/big", "abcd");
  MakeFile("dst1/big2", "abcd");
  auto d2 = MakeFile("dst2/copy", "abc");
  RunResult r = RunTwinSift({At("src"), At("dst1"), At("dst2")});
  EXPECT_EQ(r.out, Lines({"", Del(s), Rem(d1), Rem(d2)}));
}

TEST_F(ReportTest, LargeSizesShowInFull) {
  auto a = At("big/a");
  auto b = At("big/b");
  MakeSubdir("big");
  if (!MakeSparseFile(a, 5000000000ull) || !MakeSparseFile(b, 5000000000ull))
    GTEST_SKIP() << "no room for two sparse 5 GB files";
  RunResult r = RunTwinSift({L"-v", At("big")});
  EXPECT_NE(r.out.find("REM FileSize=5000000000 Hash="), std::string::npos)
      << r.out;
}

TEST_F(ReportTest, ReadOnlySourceCopyIsReportedAndKept) {
  auto a = MakeFile("d/a", "abc");
  auto b = MakeFile("d/b", "abc");
  ASSERT_TRUE(SetReadOnly(a, true));
  RunResult r = RunTwinSift({L"-d", At("d")});
  EXPECT_EQ(r.out,
            Lines({"", Del(a),
                   "DeleteFile failed (5): \"" + P(a) + "\" : " + ErrorText(5),
                   Rem(b)}));
  EXPECT_TRUE(Exists(a));
  EXPECT_TRUE(Exists(b));
}

TEST_F(ReportTest, UnreadableFileIsReportedAndNeverMatched) {
  if (RunningAsRoot()) GTEST_SKIP() << "root reads every file";
  auto a = MakeFile("d/a", "abc");
  MakeFile("d/b", "abc");
  if (!SetUnreadable(a)) GTEST_SKIP() << "cannot take read access away here";
  RunResult r = RunTwinSift({L"-d", At("d")});
  // The group is hashed again when its other source file is visited.
  std::string failure =
      "ComputeSHA256 failed (0x5): \"" + P(a) + "\" " + ErrorText(5);
  EXPECT_EQ(r.out, Lines({failure, failure}));
}

TEST_F(ReportTest, SameDirectoryStopsTheRun) {
  MakeFile("d/a.jpg", "abc");
  MakeFile("d/b.jpg", "abc");
  RunResult r = RunTwinSift({L"-d", At("d"), JoinPath(At("d"), L"*.jpg")});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out,
            "Err: Source and destination directories are same, stopping");
  EXPECT_TRUE(Exists(At("d/a.jpg")) && Exists(At("d/b.jpg")));
}

TEST_F(ReportTest, MissingAndEmptySources) {
  auto missing = At("nodir");
  RunResult r = RunTwinSift({JoinPath(missing, L"x")});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "Err: \"" + P(missing) + "\" is not a directory." +
                       Lines({"No files found"}));
  MakeSubdir("empty");
  EXPECT_EQ(RunTwinSift({At("empty")}).out, Lines({"No files found"}));
}

TEST_F(ReportTest, DeleteWithoutRecursePrintsNoPurge) {
  MakeEmptyFile("d/zero");
  MakeSubdir("d/sub");
  MakeFile("d/data", "abc");
  EXPECT_EQ(RunTwinSift({L"-d", At("d")}).out, "");
  EXPECT_TRUE(Exists(At("d/zero")) && Exists(At("d/sub")));
}

TEST_F(ReportTest, NamesOutsideTheOutputCodePageKeepEveryLineWhole) {
  // A euro sign and a CJK character: outside most console code pages.
  std::wstring a = JoinPath(MakeSubdir("d"), L"a\u20AC\u4E2D.jpg");
  std::wstring b = JoinPath(At("d"), L"b\u20AC\u4E2D.jpg");
  ASSERT_TRUE(WriteBytes(a, "picture") && WriteBytes(b, "picture"));
  RunResult r = RunTwinSift({At("d")});
  std::vector<std::string> lines = SplitLines(r.out);
  ASSERT_EQ(lines.size(), 3u) << r.out;
  EXPECT_EQ(lines[0], "");
  EXPECT_EQ(lines[1].rfind("del \"", 0), 0u);
  EXPECT_EQ(lines[2].rfind("REM \"", 0), 0u);
  EXPECT_EQ(lines[1].back(), '"');
  EXPECT_EQ(lines[2].back(), '"');
  EXPECT_EQ(r.out, Lines({"", Del(a), Rem(b)}));
}

}  // namespace
