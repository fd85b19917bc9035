// Hostile file names on Linux, end to end with -d: no name may produce text
// that reads as another report line, and exactly the right file is erased.
#include <string>

#include "platform/platform.h"
#include "support/harness.h"

namespace {

class NamesTest : public E2ETest {
 protected:
  // A file named by raw bytes in dir, holding data.
  std::wstring Named(const std::wstring &dir, const std::string &name,
                     const std::string &data) {
    std::wstring path = JoinPath(dir, WideFromBytes(name));
    EXPECT_TRUE(WriteBytes(path, data)) << "broken fixture: " << name;
    return path;
  }
  // Runs -d on a directory holding the hostile name and a plain twin that
  // sorts after it; checks the exact report and which file is left.
  void Check(const std::string &hostile, const std::string &shown) {
    std::wstring dir = MakeSubdir("case");
    std::wstring h = Named(dir, hostile, "photo");
    std::wstring twin = Named(dir, "~twin", "photo");
    RunResult r = RunTwinSift({L"-d", dir});
    std::string prefix = BytesFromWide(dir) + "/";
    EXPECT_EQ(r.out, Lines({"", "del \"" + prefix + shown + "\"",
                            "REM \"" + prefix + "~twin\""}))
        << hostile;
    EXPECT_FALSE(PathExists(h)) << hostile;
    std::string bytes;
    EXPECT_TRUE(ReadBytes(twin, &bytes) && bytes == "photo") << hostile;
    RemoveTree(dir);
  }
};

TEST_F(NamesTest, LineBreaksCannotStartALineOfTheirOwn) {
  Check("a\nb", "a\\x0Ab");
  Check("a\rb", "a\\x0Db");
  Check("x\ndel \"victim", "x\\x0Adel \\x22victim");
  Check(
      "n\xc2\x85"
      "ext",
      "n\\xC2\\x85ext");                               // U+0085
  Check("ls\xe2\x80\xa8sep", "ls\\xE2\\x80\\xA8sep");  // U+2028
}

TEST_F(NamesTest, QuotesAndBackslashesAreEscaped) {
  Check("say \"cheese\".jpg", "say \\x22cheese\\x22.jpg");
  Check("back\\slash", "back\\x5Cslash");
}

// A directory "e\\" beside a directory "e": each entry of "e\\" is joined
// to it with '/', so it is never read, reported or erased as a file of "e",
// and the purge removes exactly the directory left empty.
TEST_F(NamesTest, DirectoryNameEndingInABackslashKeepsItsSeparator) {
  const std::wstring odd = MakeSubdir("src/e\\");
  const std::wstring plain = MakeSubdir("src/e");
  const std::wstring a = JoinPath(odd, L"a.jpg");
  const std::wstring b = JoinPath(odd, L"b.jpg");
  const std::wstring c = JoinPath(plain, L"a.jpg");
  ASSERT_TRUE(WriteBytes(a, "photo") && WriteBytes(b, "photo") &&
              WriteBytes(c, "other"));
  RunResult r = RunTwinSift({L"-r", L"-d", At("src")});
  const std::string shown = BytesFromWide(At("src")) + "/e\\x5C/";
  EXPECT_EQ(r.out, Lines({"", "del \"" + shown + "a.jpg\"",
                          "REM \"" + shown + "b.jpg\"", ""}));
  EXPECT_FALSE(PathExists(a));
  std::string bytes;
  EXPECT_TRUE(ReadBytes(b, &bytes) && bytes == "photo");
  EXPECT_TRUE(ReadBytes(c, &bytes) && bytes == "other");
}

TEST_F(NamesTest, OrdinaryOddNamesStayAsTheyAre) {
  Check("-rf.jpg", "-rf.jpg");
  Check("100% & (copy) !.jpg", "100% & (copy) !.jpg");
  Check("caf\xc3\xa9.jpg", "caf\xc3\xa9.jpg");
}

TEST_F(NamesTest, BytesThatAreNotUtf8AreWrittenBack) {
  std::wstring dir = MakeSubdir("raw");
  std::wstring a = Named(dir, "\x01\xff\xfe.jpg", "photo");
  std::wstring b = Named(dir, "\x02\xc3(.jpg", "photo");
  RunResult r = RunTwinSift({L"-d", dir});
  std::string prefix = BytesFromWide(dir) + "/";
  EXPECT_EQ(r.out, Lines({"", "del \"" + prefix + "\\x01\xff\xfe.jpg\"",
                          "REM \"" + prefix + "\\x02\xc3(.jpg\""}));
  EXPECT_FALSE(PathExists(a));
  EXPECT_TRUE(PathExists(b));
}

TEST_F(NamesTest, LongestNameInALongPath) {
  std::wstring dir = Root();
  while (BytesFromWide(dir).size() < 3500)
    dir = JoinPath(dir, WideFromBytes(std::string(200, 'd')));
  std::string name(255, 'n');
  ASSERT_TRUE(MakeDir(At("d0")));
  // Build the chain of directories level by level.
  for (std::wstring level = Root(); level != dir;) {
    size_t next = dir.find(L'/', level.size() + 1);
    level = dir.substr(0, next);
    ASSERT_TRUE(MakeDir(level) || PathExists(level));
  }
  std::wstring a = Named(dir, name, "photo");
  std::wstring b = Named(At("d0"), "twin", "photo");
  RunResult r = RunTwinSift({L"-r", L"-d", Root()});
  EXPECT_NE(r.out.find("del \"" + BytesFromWide(b) + "\""), std::string::npos)
      << r.out.substr(0, 300);
  EXPECT_NE(r.out.find("REM \"" + BytesFromWide(a) + "\""), std::string::npos);
  EXPECT_TRUE(PathExists(a));
  EXPECT_FALSE(PathExists(b));
}

}  // namespace
