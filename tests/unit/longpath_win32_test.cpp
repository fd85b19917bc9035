// Long paths on Windows: the "\\?\" form handed to the system, and the
// wrapped calls working on a path longer than MAX_PATH.
#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"
#include "platform/testing/testing.h"

namespace {

// n characters of a repeating component pattern "dddddddddd\" (no dot
// components, no repeated separators), ending in a component character.
std::wstring Components(size_t n, wchar_t sep = L'\\') {
  std::wstring s;
  while (s.size() < n) s += (s.size() % 11 == 10) ? sep : L'd';
  if (s.back() == sep) s.back() = L'd';
  return s;
}

std::wstring Form(const std::wstring &path) {
  return LongPathForm(path.c_str());
}

}  // namespace

TEST(LongPathForm, ShortPathsPassUnchanged) {
  for (const wchar_t *p :
       {L"C:\\pics\\a.jpg", L"C:/pics/a.jpg", L"\\\\server\\share\\a.jpg",
        L"C:\\", L"C:\\pics\\*", L"a.jpg", L"..\\x", L""}) {
    EXPECT_EQ(p, Form(p));
  }
  const std::wstring justShort = L"C:\\" + Components(MAX_PATH - 20);
  EXPECT_EQ(justShort, Form(justShort));
}

TEST(LongPathForm, LongDrivePathsGetTheVerbatimPrefix) {
  const std::wstring tail = Components(300);
  EXPECT_EQ(L"\\\\?\\C:\\" + tail, Form(L"C:\\" + tail));
  // Just under MAX_PATH is already too long for CreateDirectoryW.
  const std::wstring closeToLimit = L"C:\\" + Components(MAX_PATH - 5);
  EXPECT_EQ(L"\\\\?\\" + closeToLimit, Form(closeToLimit));
  // '/' becomes '\', which the verbatim form requires.
  EXPECT_EQ(L"\\\\?\\C:\\" + tail, Form(L"C:/" + Components(300, L'/')));
  // The last component is kept exactly: a wildcard pattern, a trailing dot.
  EXPECT_EQ(L"\\\\?\\C:\\" + tail + L"\\*.jpg",
            Form(L"C:\\" + tail + L"\\*.jpg"));
  EXPECT_EQ(L"\\\\?\\C:\\" + tail + L"\\x.", Form(L"C:\\" + tail + L"\\x."));
}

TEST(LongPathForm, LongUncPathsGetTheUncPrefix) {
  const std::wstring tail = Components(300);
  EXPECT_EQ(L"\\\\?\\UNC\\server\\share\\" + tail,
            Form(L"\\\\server\\share\\" + tail));
  EXPECT_EQ(L"\\\\?\\UNC\\server\\share\\" + tail,
            Form(L"//server/share/" + Components(300, L'/')));
}

TEST(LongPathForm, VerbatimAndDevicePathsAreLeftAlone) {
  const std::wstring tail = Components(300);
  for (const std::wstring &p :
       {L"\\\\?\\C:\\" + tail, L"\\\\?\\UNC\\server\\share\\" + tail,
        L"\\\\.\\C:\\" + tail, L"\\??\\C:\\" + tail}) {
    EXPECT_EQ(p, Form(p));
  }
}

TEST(LongPathForm, DotComponentsAndRepeatedSeparatorsAreResolvedFirst) {
  const std::wstring tail = Components(300);
  // The verbatim form would take "." and ".." as names: they are folded.
  EXPECT_EQ(L"\\\\?\\C:\\" + tail, Form(L"C:\\x\\..\\" + tail));
  EXPECT_EQ(L"\\\\?\\C:\\" + tail, Form(L"C:\\.\\" + tail));
  EXPECT_EQ(L"\\\\?\\C:\\" + tail, Form(L"C:\\" + tail + L"\\x\\.."));
  EXPECT_EQ(L"\\\\?\\C:\\d\\" + tail, Form(L"C:\\d\\\\" + tail));
}

TEST(LongPathForm, RelativePathsAreMadeAbsolute) {
  const std::wstring rel = Components(300);
  EXPECT_EQ(L"\\\\?\\" + CurrentDir() + L"\\" + rel, Form(rel));
}

TEST(LongPathForm, ShortRelativePathInALongCurrentDirectory) {
  const std::wstring root = MakeTempDir();
  ASSERT_FALSE(root.empty()) << "broken fixture: no temporary directory";
  std::wstring dir = root;
  while (dir.size() < MAX_PATH) {
    dir += L"\\" + std::wstring(40, L'd');
    ASSERT_TRUE(TsCreateDirectoryW(dir.c_str(), nullptr)) << GetLastError();
  }
  const std::wstring before = CurrentDir();
  if (!SetCurrentDirectoryW(dir.c_str())) {
    RemoveTree(root);
    GTEST_SKIP() << "this system keeps the current directory short";
  }
  const std::wstring got = Form(L"a.jpg");
  SetCurrentDirectoryW(before.c_str());
  RemoveTree(root);
  EXPECT_EQ(L"\\\\?\\" + dir + L"\\a.jpg", got);
}

// Every wrapped call on a path of over 300 characters.
TEST(LongPathCalls, EveryWrappedCallTakesALongPath) {
  const std::wstring root = MakeTempDir();
  ASSERT_FALSE(root.empty()) << "broken fixture: no temporary directory";
  std::wstring dir = root;
  while (dir.size() < 300) {
    dir += L"\\" + std::wstring(50, L'e');
    ASSERT_TRUE(TsCreateDirectoryW(dir.c_str(), nullptr)) << GetLastError();
  }
  const std::wstring file = dir + L"\\photo.jpg";
  ASSERT_TRUE(WriteBytes(file, "pixels"));
  std::string bytes;
  EXPECT_TRUE(ReadBytes(file, &bytes));  // CreateFileW
  EXPECT_EQ("pixels", bytes);

  WIN32_FIND_DATAW fd;
  HANDLE find = platformCalls.FindFirstFileW((dir + L"\\*.jpg").c_str(), &fd);
  ASSERT_NE(INVALID_HANDLE_VALUE, find) << GetLastError();
  EXPECT_STREQ(L"photo.jpg", fd.cFileName);
  platformCalls.FindClose(find);
  find = platformCalls.FindFirstFileExW((dir + L"\\*").c_str(), FindExInfoBasic,
                                        &fd, FindExSearchNameMatch, nullptr, 0);
  ASSERT_NE(INVALID_HANDLE_VALUE, find) << GetLastError();
  platformCalls.FindClose(find);

  EXPECT_TRUE(TsSetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_TRUE(TsGetFileAttributesW(file.c_str()) & FILE_ATTRIBUTE_READONLY);
  EXPECT_FALSE(
      platformCalls.DeleteFileW(file.c_str()));  // read-only is still refused
  EXPECT_TRUE(TsSetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL));
  EXPECT_TRUE(platformCalls.DeleteFileW(file.c_str())) << GetLastError();
  EXPECT_FALSE(PathExists(file));
  EXPECT_TRUE(platformCalls.RemoveDirectoryW(dir.c_str())) << GetLastError();
  EXPECT_FALSE(PathExists(dir));
  RemoveTree(root);
}
