// Paths on Windows: the "\\?\" form handed to the system for every path, the
// wrapped calls on paths longer than MAX_PATH and on names the plain calls
// take for devices or trim, reads that could wait refused, and the form of
// such paths on the report's command lines.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "hash/hash.h"
#include "platform/platform.h"
#include "platform/testing/testing.h"
#include "support/harness.h"

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

TEST(LongPathForm, EveryPathGetsTheVerbatimForm) {
  const std::wstring cwd = CurrentDir();
  const std::wstring drive = cwd.substr(0, 2);
  const struct {
    std::wstring path, form;
  } cases[] = {
      {L"C:\\pics\\a.jpg", L"\\\\?\\C:\\pics\\a.jpg"},
      {L"C:/pics/a.jpg", L"\\\\?\\C:\\pics\\a.jpg"},
      {L"\\\\server\\share\\a.jpg", L"\\\\?\\UNC\\server\\share\\a.jpg"},
      {L"\\\\server\\share", L"\\\\?\\UNC\\server\\share\\"},
      {L"C:\\", L"\\\\?\\C:\\"},
      {L"C:\\pics\\*", L"\\\\?\\C:\\pics\\*"},
      {L"C:\\pics\\", L"\\\\?\\C:\\pics\\"},
      // Names the plain calls would take for devices or trim.
      {L"C:\\src\\aux.c", L"\\\\?\\C:\\src\\aux.c"},
      {L"C:\\CON\\nul", L"\\\\?\\C:\\CON\\nul"},
      {L"C:\\x\\dot.", L"\\\\?\\C:\\x\\dot."},
      {L"C:\\x\\space ", L"\\\\?\\C:\\x\\space "},
      {L"C:\\trip.\\..\\x.jpg.", L"\\\\?\\C:\\x.jpg."},
      // Relative, rooted and drive-relative forms are made full first.
      {L"a.jpg", L"\\\\?\\" + cwd + L"\\a.jpg"},
      {L"..\\x", L"\\\\?\\" + cwd.substr(0, cwd.find_last_of(L'\\')) + L"\\x"},
      {L".", L"\\\\?\\" + cwd},
      {L"\\x\\com1.jpg", L"\\\\?\\" + drive + L"\\x\\com1.jpg"},
      {drive + L"lpt1", L"\\\\?\\" + cwd + L"\\lpt1"},
      {L"", L""},
  };
  for (const auto &c : cases) EXPECT_EQ(c.form, Form(c.path)) << P(c.path);
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

// The table's GetFullPathNameW keeps a parameter's names as they are, where
// the system's call would give "\\.\aux" or trim the dot.
TEST(FullPathName, NamesAreKeptAsTheyAre) {
  const std::wstring cwd = CurrentDir();
  wchar_t buf[MAX_PATH];
  for (const wchar_t *rel : {L"sub\\aux.txt", L"trip.", L"CON", L"sp \\"}) {
    const std::wstring want = cwd + L"\\" + rel;
    const DWORD n = platformCalls.GetFullPathNameW(rel, MAX_PATH, buf, nullptr);
    EXPECT_EQ(want, std::wstring(buf, n)) << P(rel);
  }
  // Too small a buffer: the size it takes, terminator included.
  const std::wstring want = cwd + L"\\a.jpg";
  EXPECT_EQ(want.size() + 1,
            platformCalls.GetFullPathNameW(L"a.jpg", 3, buf, nullptr));
}

// Files and a folder Windows would take for devices or trim, made by the
// Linux shell, are read, listed, erased and removed through the wrappers.
TEST(LongPathCalls, ReservedAndTrimmedNamesAreOrdinaryFiles) {
  const std::wstring root = MakeTempDir();
  ASSERT_FALSE(root.empty()) << "broken fixture: no temporary directory";
  const std::vector<std::wstring> names = {L"aux.txt", L"CON",    L"nul.jpg",
                                           L"dot.",    L"space ", L"lpt1"};
  ASSERT_TRUE(RunLinuxShell(
      "cd \"$1\" && for n in aux.txt CON nul.jpg dot. 'space '; do "
      "printf '%s' \"$n\" > \"$n\" || exit 1; done && mkdir lpt1",
      {root}))
      << "broken fixture: no Linux shell";
  for (const std::wstring &name : names) {
    const std::wstring path = root + L"\\" + name;
    WIN32_FIND_DATAW fd;
    HANDLE find = platformCalls.FindFirstFileW(path.c_str(), &fd);
    ASSERT_NE(INVALID_HANDLE_VALUE, find) << P(name) << " " << GetLastError();
    platformCalls.FindClose(find);
    EXPECT_EQ(name, std::wstring(fd.cFileName));
    if (name == L"lpt1") {
      EXPECT_TRUE(platformCalls.RemoveDirectoryW(path.c_str())) << P(name);
      continue;
    }
    std::string bytes;
    EXPECT_TRUE(ReadBytes(path, &bytes)) << P(name);
    EXPECT_EQ(P(name), bytes);
    EXPECT_TRUE(platformCalls.DeleteFileW(path.c_str())) << P(name);
  }
  // Nothing else was reached: the folder is empty now.
  EXPECT_TRUE(platformCalls.RemoveDirectoryW(root.c_str())) << GetLastError();
}

// A read of a device or a FIFO could wait for ever: the open fails as a
// read failure. Opened without read access (the volume query), a device
// still opens.
TEST(LongPathCalls, ReadsThatCouldWaitAreRefused) {
  HANDLE h = platformCalls.CreateFileW(L"\\\\.\\NUL", GENERIC_READ, 0, nullptr,
                                       OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(INVALID_HANDLE_VALUE, h);
  EXPECT_EQ((DWORD)ERROR_NOT_SUPPORTED, GetLastError());
  h = platformCalls.CreateFileW(L"\\\\.\\NUL", 0, 0, nullptr, OPEN_EXISTING, 0,
                                nullptr);
  EXPECT_NE(INVALID_HANDLE_VALUE, h);
  if (h != INVALID_HANDLE_VALUE) platformCalls.CloseHandle(h);

  const std::wstring root = MakeTempDir();
  ASSERT_FALSE(root.empty()) << "broken fixture: no temporary directory";
  const std::wstring fifo = root + L"\\fifo.jpg";
  if (!MakeFifo(fifo)) {
    RemoveTree(root);
    GTEST_SKIP() << "no FIFOs here (Windows itself)";
  }
  // The hashing fails with the code of its failure line, without waiting.
  uint8_t digest[32];
  EXPECT_EQ(0x32u, hashCalcSHA256(fifo.c_str(), digest));
  RemoveTree(root);
}

// On the report's command lines ("del ", "rd "), a path cmd would send to a
// device or trim names its "\\?\" form; "REM " lines and other text, and
// every other path, stay as they are.
TEST(ShowPathOnWindows, CommandLinesNameSuchFilesVerbatim) {
  const std::wstring cwd = CurrentDir();
  const std::wstring verbatim[] = {
      L"C:\\a\\aux.txt",  L"C:\\a\\Con.h",       L"C:\\a\\LPT9",
      L"C:\\a\\nul .txt", L"C:\\a\\COM\u00B9.x", L"C:\\a\\conin$",
      L"C:\\a\\x.jpg.",   L"C:\\a\\space ",      L"C:\\dir.\\a.jpg",
      L"C:\\prn\\a.jpg",  L"\\\\srv\\share\\aux"};
  for (const std::wstring &p : verbatim) {
    EXPECT_EQ(LongPathForm(p.c_str()), ShowPath(p.c_str(), 2)) << P(p);
    EXPECT_EQ(p, ShowPath(p.c_str(), 1)) << P(p);
    EXPECT_EQ(p, ShowPath(p.c_str(), 0)) << P(p);
  }
  const std::wstring plain[] = {
      L"C:\\a\\auxx.txt",     L"C:\\a\\com10.jpg",
      L"C:\\a\\con-x",        L"C:\\a.b.c",
      L"C:\\a\\x .jpg",       L"C:\\a\\lpt",
      L"..\\x.jpg",           L"C:\\",
      L"\\\\aux\\con\\x.txt", L"\\\\?\\C:\\a\\aux.txt"};
  for (const std::wstring &p : plain) {
    EXPECT_EQ(p, ShowPath(p.c_str(), 2)) << P(p);
  }
  // '%' is still doubled; a relative path is made full first.
  EXPECT_EQ(L"\\\\?\\C:\\100%%\\con.txt", ShowPath(L"C:\\100%\\con.txt", 2));
  EXPECT_EQ(L"\\\\?\\" + cwd + L"\\b\\nul.jpg", ShowPath(L"b\\nul.jpg", 2));
}
