// Paths longer than MAX_PATH, end to end: scanned, hashed, reported as the
// user would write them, erased and purged like any other.
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/harness.h"

namespace {

std::string Del(const std::wstring &p) { return "del \"" + P(p) + "\""; }
std::string Rem(const std::wstring &p) { return "REM \"" + P(p) + "\""; }
std::string Rd(const std::wstring &p) { return "rd  \"" + P(p) + "\""; }

class LongPathTest : public E2ETest {
 protected:
  // Directories below base, one 60-character component each, until the
  // deepest path has at least n characters. Returns them top down.
  std::vector<std::wstring> MakeChain(const std::wstring &base, size_t n) {
    std::vector<std::wstring> chain;
    std::wstring dir = base;
    for (wchar_t c = L'a'; dir.size() < n; c++) {
      dir += L"\\" + std::wstring(60, c);
      if (!MakeDir(dir)) {
        ADD_FAILURE() << "broken fixture: cannot make " << P(dir);
        break;
      }
      chain.push_back(dir);
    }
    return chain;
  }

  std::wstring Write(const std::wstring &path, const std::string &bytes) {
    EXPECT_TRUE(WriteBytes(path, bytes)) << "broken fixture: " << P(path);
    return path;
  }
};

// Counts the manifests of a module. Can't fail.
BOOL CALLBACK CountName(HMODULE, LPCWSTR, LPWSTR, LONG_PTR count) {
  ++*reinterpret_cast<int *>(count);
  return TRUE;
}

// The program carries one manifest, and it declares long-path awareness.
TEST(LongPathManifest, TheProgramDeclaresItselfLongPathAware) {
  const std::wstring exe = TwinSiftExe();
  ASSERT_FALSE(exe.empty()) << "broken fixture: no twinsift beside the test";
  HMODULE module =
      LoadLibraryExW(exe.c_str(), nullptr,
                     LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  ASSERT_NE(nullptr, module) << GetLastError();
  int manifests = 0;
  EnumResourceNamesW(module, RT_MANIFEST, CountName,
                     reinterpret_cast<LONG_PTR>(&manifests));
  EXPECT_EQ(1, manifests);
  HRSRC res = FindResourceW(module, MAKEINTRESOURCEW(1), RT_MANIFEST);
  ASSERT_NE(nullptr, res);
  const char *text =
      static_cast<const char *>(LockResource(LoadResource(module, res)));
  ASSERT_NE(nullptr, text);
  const std::string manifest(text, SizeofResource(module, res));
  EXPECT_NE(std::string::npos,
            manifest.find("<ws2:longPathAware>true</ws2:longPathAware>"))
      << manifest;
  FreeLibrary(module);
}

TEST_F(LongPathTest, DuplicatesInALongDirectoryAreReportedAndErased) {
  const std::wstring dir = MakeChain(Root(), 300).back();
  const std::wstring a = Write(dir + L"\\a.jpg", "picture");
  const std::wstring b = Write(dir + L"\\b.jpg", "picture");
  ASSERT_GE(a.size(), 300u);
  const std::string expected = Lines({"", Del(a), Rem(b)});
  EXPECT_EQ(expected, RunTwinSift({dir}).out);
  EXPECT_TRUE(PathExists(a));
  EXPECT_EQ(expected, RunTwinSift({L"-d", dir}).out);
  EXPECT_FALSE(PathExists(a));
  EXPECT_TRUE(PathExists(b));
}

TEST_F(LongPathTest, RecursionIntoLongPathsErasesAndPurges) {
  MakeSubdir("src");
  MakeFile("src/keep.txt", "other data");
  const std::vector<std::wstring> chain = MakeChain(At("src"), 300);
  const std::wstring deep = Write(chain.back() + L"\\x.jpg", "picture");
  const std::wstring empty = Write(chain.back() + L"\\empty.txt", "");
  const std::wstring copy = MakeFile("dst/y.jpg", "picture");

  EXPECT_EQ(Lines({"", Del(deep), Rem(copy)}),
            RunTwinSift({L"-r", At("src"), At("dst")}).out);
  std::vector<std::string> lines = {"", Del(deep), Rem(copy), "",
                                    "del \"" + P(empty) + "\""};
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    lines.push_back(Rd(*it));
  }
  EXPECT_EQ(Lines(lines),
            RunTwinSift({L"-r", L"-d", At("src"), At("dst")}).out);
  EXPECT_FALSE(PathExists(chain.front()));
  EXPECT_TRUE(PathExists(At("src/keep.txt")));
  EXPECT_TRUE(PathExists(copy));
}

}  // namespace
