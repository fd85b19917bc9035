// The Linux stand-in layer: names as bytes, enumeration, errors, paths.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <functional>
#include <map>
#include <string>

#include "platform/platform.h"
#include "platform/testing/testing.h"

namespace {

// Runs fn with file descriptor fd sent into a pipe; returns what arrived.
std::string CaptureFd(int fd, const std::function<void()> &fn) {
  fflush(stdout);
  fflush(stderr);
  int p[2];
  if (pipe(p) != 0) return "fixture: no pipe";
  const int saved = dup(fd);
  dup2(p[1], fd);
  close(p[1]);
  fn();
  dup2(saved, fd);
  close(saved);
  std::string got;
  char buf[4096];
  ssize_t n;
  while ((n = read(p[0], buf, sizeof(buf))) > 0) got.append(buf, (size_t)n);
  close(p[0]);
  return got;
}

class PosixFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = MakeTempDir();
    ASSERT_FALSE(dir_.empty()) << "fixture: no temporary directory";
    bytes_ = BytesFromWide(dir_);
  }
  void TearDown() override { RemoveTree(dir_); }
  std::wstring Path(const std::wstring &name) { return dir_ + L"/" + name; }
  std::string PathB(const std::string &name) { return bytes_ + "/" + name; }

  // Every entry a search for pattern reports, by name; the search must end
  // with ERROR_NO_MORE_FILES.
  std::map<std::wstring, WIN32_FIND_DATAW> List(const std::wstring &pattern) {
    std::map<std::wstring, WIN32_FIND_DATAW> found;
    WIN32_FIND_DATAW data;
    HANDLE h = FindFirstFileW(pattern.c_str(), &data);
    if (h == INVALID_HANDLE_VALUE) return found;
    do {
      found[data.cFileName] = data;
    } while (FindNextFileW(h, &data));
    EXPECT_EQ(18u, GetLastError());
    EXPECT_TRUE(FindClose(h));
    return found;
  }

  std::wstring dir_;
  std::string bytes_;
};

}  // namespace

// ---- Names as bytes ----

TEST(PosixEncoding, ValidUtf8Decodes) {
  EXPECT_EQ(std::wstring(L"a\u00e9\u20ac\U0001F600"),
            WideFromBytes("a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"));
  EXPECT_EQ(std::wstring(L"\U0010FFFF"), WideFromBytes("\xF4\x8F\xBF\xBF"));
}

TEST(PosixEncoding, InvalidBytesBecomeEscapes) {
  struct Case {
    std::string bytes;
    std::wstring wide;
  } cases[] = {
      {"\x80", L"\xDC80"},                      // lone continuation
      {"\xC0\xAF", L"\xDCC0\xDCAF"},            // overlong '/'
      {"\xE0\x80\xAF", L"\xDCE0\xDC80\xDCAF"},  // overlong, 3 bytes
      {"\xE2\x82", L"\xDCE2\xDC82"},            // truncated at the end
      {"\xE2\x82"
       "A",
       L"\xDCE2\xDC82"
       L"A"},                                   // truncated mid-string
      {"\xFF", L"\xDCFF"},                      // never in UTF-8
      {"\xED\xA0\x80", L"\xDCED\xDCA0\xDC80"},  // encoded surrogate
      {"\xF4\x90\x80\x80", L"\xDCF4\xDC90\xDC80\xDC80"},  // above U+10FFFF
      {"\xC3\xA9\xA9", L"\u00e9\xDCA9"},                  // one byte too many
  };
  for (const Case &c : cases) {
    EXPECT_EQ(c.wide, WideFromBytes(c.bytes)) << c.bytes;
    EXPECT_EQ(c.bytes, BytesFromWide(c.wide)) << c.bytes;
  }
}

TEST(PosixEncoding, EveryShortByteStringRoundTrips) {
  for (int a = 0; a < 256; a++) {
    for (int b = 0; b < 256; b++) {
      const std::string s = {(char)a, (char)b};
      ASSERT_EQ(s, BytesFromWide(WideFromBytes(s))) << a << " " << b;
    }
  }
  const char tails[] = {'\x80', '\xBF', 'A', '\xC0'};
  for (int lead = 0xE0; lead <= 0xF4; lead++) {
    for (int mid = 0; mid < 256; mid++) {
      for (char t : tails) {
        const std::string s = {(char)lead, (char)mid, t, t};
        ASSERT_EQ(s, BytesFromWide(WideFromBytes(s))) << lead << " " << mid;
      }
    }
  }
}

TEST(PosixEncoding, UnencodableCharactersBecomeReplacement) {
  EXPECT_EQ("\xEF\xBF\xBD", BytesFromWide(std::wstring(1, (wchar_t)0xD800)));
  EXPECT_EQ("\xEF\xBF\xBD", BytesFromWide(std::wstring(1, (wchar_t)0x110000)));
}

TEST_F(PosixFiles, UndecodableNameIsFoundOpenedAndDeleted) {
  const std::string raw = "x\xFF\xC0y";
  ASSERT_TRUE(WriteBytes(WideFromBytes(PathB(raw)), "data")) << "fixture";
  const auto found = List(Path(L"*"));
  const std::wstring name = WideFromBytes(raw);
  ASSERT_EQ(1u, found.count(name));
  HANDLE h =
      CreateFileW(Path(name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  char buf[16];
  DWORD got = 0;
  EXPECT_TRUE(ReadFile(h, buf, sizeof(buf), &got, nullptr));
  EXPECT_EQ("data", std::string(buf, got));
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_TRUE(DeleteFileW(Path(name).c_str()));
  EXPECT_NE(0, access(PathB(raw).c_str(), F_OK));
}

// ---- Wildcards ----

TEST(PosixWildcard, WindowsRules) {
  struct Case {
    const wchar_t *pattern, *name;
    bool match;
  } cases[] = {
      {L"*", L"anything", true},    {L"*.jpg", L"a.JPG", true},
      {L"*.jpg", L"a.jpeg", false}, {L"*.jpg", L"a.jpg.bak", false},
      {L"?", L"a", true},           {L"?", L"ab", false},
      {L"a?c", L"abc", true},       {L"a?c", L"ac", false},
      {L"*.*", L"noext", true},     {L"*.*", L".hidden", true},
      {L"a.*", L"a", true},         {L"a.*", L"ab", false},
      {L"ABC", L"abc", true},       {L"abc", L"abd", false},
      {L"abc", L"abcd", false},     {L"\u00C9", L"\u00E9", false},
      {L"**x", L"x", true},         {L"x*", L"x", true},
      {L"*x*", L"abxcd", true},     {L"*x*y", L"axbx", false},
      {L"[a]", L"a", false},        {L"a*b?d", L"aXXbcd", true},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(c.match, WildcardMatch(c.pattern, c.name))
        << "pattern " << BytesFromWide(c.pattern) << " name "
        << BytesFromWide(c.name);
  }
}

TEST(PosixWildcard, PathologicalPatternEnds) {
  const std::wstring name(300, L'a');
  EXPECT_FALSE(WildcardMatch(L"*a*a*a*a*a*a*a*a*a*a*a*a*b", name.c_str()));
  EXPECT_TRUE(WildcardMatch(L"*a*a*a*a*a*a*a*a*a*a*a*a*", name.c_str()));
}

// ---- Enumeration ----

TEST_F(PosixFiles, EntriesCarryWindowsAttributesAndSizes) {
  ASSERT_TRUE(
      WriteBytes(Path(L"plain"), "12345") && WriteBytes(Path(L".dot"), "123") &&
      WriteBytes(Path(L"ro"), "1") && SetReadOnly(Path(L"ro"), true) &&
      MakeDir(Path(L"sub")) && MakeSparseFile(Path(L"big"), (1ull << 32) + 7) &&
      symlink("sub", PathB("link").c_str()) == 0 &&
      symlink("nowhere", PathB("dangling").c_str()) == 0 &&
      mkfifo(PathB("fifo").c_str(), 0644) == 0)
      << "fixture";
  auto found = List(Path(L"*"));
  EXPECT_EQ(9u, found.size());  // the FIFO is left out
  EXPECT_EQ(0u, found.count(L"fifo"));
  EXPECT_EQ(FILE_ATTRIBUTE_NORMAL, found[L"plain"].dwFileAttributes);
  EXPECT_EQ(5u, found[L"plain"].nFileSizeLow);
  EXPECT_EQ(FILE_ATTRIBUTE_HIDDEN, found[L".dot"].dwFileAttributes);
  EXPECT_EQ(FILE_ATTRIBUTE_READONLY, found[L"ro"].dwFileAttributes);
  EXPECT_EQ(FILE_ATTRIBUTE_DIRECTORY, found[L"sub"].dwFileAttributes);
  EXPECT_EQ(1u, found[L"big"].nFileSizeHigh);
  EXPECT_EQ(7u, found[L"big"].nFileSizeLow);
  for (const wchar_t *link : {L"link", L"dangling"}) {
    EXPECT_EQ(FILE_ATTRIBUTE_REPARSE_POINT, found[link].dwFileAttributes);
    EXPECT_EQ(0u, found[link].nFileSizeLow);
    EXPECT_EQ(0u, found[link].dwReserved0);  // Wine's tag for a Unix link
  }
  for (const wchar_t *dot : {L".", L".."}) {
    EXPECT_EQ(FILE_ATTRIBUTE_DIRECTORY, found[dot].dwFileAttributes);
  }
}

TEST_F(PosixFiles, PatternSelectsNamesWithoutRegardToAsciiCase) {
  for (const wchar_t *name : {L"a.txt", L"b.TXT", L"c.txt.bak", L"d"}) {
    ASSERT_TRUE(WriteBytes(Path(name), "x")) << "fixture";
  }
  const auto found = List(Path(L"*.txt"));
  EXPECT_EQ(2u, found.size());
  EXPECT_EQ(1u, found.count(L"a.txt"));
  EXPECT_EQ(1u, found.count(L"b.TXT"));
  EXPECT_EQ(6u, List(Path(L"*.*")).size());  // with "." and ".."
}

TEST_F(PosixFiles, ListingComesInNtfsOrder) {
  for (const wchar_t *name : {L"b", L"_x", L"a2", L"C", L"A", L"!"}) {
    ASSERT_TRUE(WriteBytes(Path(name), "x")) << "fixture";
  }
  std::wstring order;
  WIN32_FIND_DATAW data;
  HANDLE h = FindFirstFileW(Path(L"*").c_str(), &data);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  do {
    order += std::wstring(data.cFileName) + L" ";
  } while (FindNextFileW(h, &data));
  FindClose(h);
  EXPECT_EQ(L". .. ! A a2 b C _x ", order);
}

TEST_F(PosixFiles, FailedSearchesGiveWindowsCodes) {
  ASSERT_TRUE(MakeDir(Path(L"sub")) && WriteBytes(Path(L"f"), "x") &&
              mkfifo(PathB("fifo").c_str(), 0644) == 0)
      << "fixture";
  struct Case {
    std::wstring pattern;
    DWORD code;
  } cases[] = {
      {Path(L"*.none"), 2}, {Path(L"missing/*"), 3}, {Path(L"sub/"), 2},
      {Path(L"sub\\"), 2},  {Path(L"missing"), 2},   {Path(L"missing/f"), 3},
      {Path(L"fifo"), 2},   {Path(L"f/*"), 3},
  };
  for (const Case &c : cases) {
    WIN32_FIND_DATAW data;
    EXPECT_EQ(INVALID_HANDLE_VALUE, FindFirstFileW(c.pattern.c_str(), &data))
        << BytesFromWide(c.pattern);
    EXPECT_EQ(c.code, GetLastError()) << BytesFromWide(c.pattern);
  }
}

TEST_F(PosixFiles, LookUpOfOnePathFollowsALink) {
  ASSERT_TRUE(MakeDir(Path(L"sub")) &&
              symlink("sub", PathB("link").c_str()) == 0)
      << "fixture";
  WIN32_FIND_DATAW data;
  HANDLE h = FindFirstFileW(Path(L"link").c_str(), &data);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  EXPECT_EQ(FILE_ATTRIBUTE_DIRECTORY, data.dwFileAttributes);
  EXPECT_EQ(std::wstring(L"link"), data.cFileName);
  EXPECT_FALSE(FindNextFileW(h, &data));
  EXPECT_EQ(18u, GetLastError());
  EXPECT_FALSE(CloseHandle(h));  // a search is closed with FindClose only
  EXPECT_EQ(6u, GetLastError());
  EXPECT_TRUE(FindClose(h));
}

// ---- Files ----

TEST_F(PosixFiles, OpenRefusesSpecialFilesAndUnsupportedModes) {
  ASSERT_TRUE(mkfifo(PathB("fifo").c_str(), 0644) == 0 &&
              MakeDir(Path(L"sub")) && WriteBytes(Path(L"f"), "x"))
      << "fixture";
  for (const wchar_t *name : {L"fifo", L"sub"}) {
    // A FIFO without a writer must not block the open.
    EXPECT_EQ(INVALID_HANDLE_VALUE,
              CreateFileW(Path(name).c_str(), GENERIC_READ, FILE_SHARE_READ,
                          nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_EQ(5u, GetLastError());
  }
  EXPECT_EQ(INVALID_HANDLE_VALUE,
            CreateFileW(Path(L"f").c_str(), GENERIC_READ | 0x40000000u, 0,
                        nullptr, OPEN_EXISTING, 0, nullptr));
  EXPECT_EQ(87u, GetLastError());
  EXPECT_EQ(INVALID_HANDLE_VALUE, CreateFileW(Path(L"f").c_str(), GENERIC_READ,
                                              0, nullptr, 2u, 0, nullptr));
  EXPECT_EQ(87u, GetLastError());
}

TEST_F(PosixFiles, HardLinksShareTheirIdentity) {
  ASSERT_TRUE(WriteBytes(Path(L"a"), "abc") &&
              link(PathB("a").c_str(), PathB("b").c_str()) == 0)
      << "fixture";
  BY_HANDLE_FILE_INFORMATION info[2];
  const wchar_t *names[2] = {L"a", L"b"};
  for (int i = 0; i < 2; i++) {
    HANDLE h = CreateFileW(Path(names[i]).c_str(), GENERIC_READ, 0, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    EXPECT_TRUE(GetFileInformationByHandle(h, &info[i]));
    EXPECT_TRUE(CloseHandle(h));
  }
  EXPECT_EQ(info[0].dwVolumeSerialNumber, info[1].dwVolumeSerialNumber);
  EXPECT_EQ(info[0].nFileIndexLow, info[1].nFileIndexLow);
  EXPECT_EQ(info[0].nFileIndexHigh, info[1].nFileIndexHigh);
  EXPECT_EQ(2u, info[0].nNumberOfLinks);
  EXPECT_EQ(3u, info[0].nFileSizeLow);
}

TEST_F(PosixFiles, DeleteRespectsReadOnlyAndDirectories) {
  ASSERT_TRUE(WriteBytes(Path(L"ro"), "x") && SetReadOnly(Path(L"ro"), true) &&
              MakeDir(Path(L"sub")) &&
              symlink("ro", PathB("link").c_str()) == 0)
      << "fixture";
  EXPECT_FALSE(DeleteFileW(Path(L"ro").c_str()));
  EXPECT_EQ(5u, GetLastError());
  EXPECT_TRUE(PathExists(Path(L"ro")));
  EXPECT_FALSE(DeleteFileW(Path(L"sub").c_str()));
  EXPECT_EQ(5u, GetLastError());
  EXPECT_TRUE(DeleteFileW(Path(L"link").c_str()));  // the link, not its file
  EXPECT_FALSE(PathExists(Path(L"link")));
  EXPECT_TRUE(PathExists(Path(L"ro")));
  EXPECT_FALSE(DeleteFileW(Path(L"missing/f").c_str()));
  EXPECT_EQ(3u, GetLastError());
  EXPECT_FALSE(RemoveDirectoryW(Path(L"ro").c_str()));
  EXPECT_EQ(267u, GetLastError());  // ERROR_DIRECTORY
}

// ---- Errors ----

TEST(PosixErrors, ErrnoMapsToWindowsCodes) {
  const std::pair<int, DWORD> cases[] = {
      {0, 0},        {ENOENT, 2},         {ENOTDIR, 3},  {EACCES, 5},
      {EPERM, 5},    {ENOMEM, 8},         {EINVAL, 87},  {ENOTEMPTY, 145},
      {EEXIST, 183}, {ENAMETOOLONG, 206}, {EMFILE, 4},   {EBADF, 6},
      {EROFS, 19},   {EBUSY, 170},        {ENOSPC, 112}, {EIO, 1117},
      {ELOOP, 1921}, {EXDEV, 17},         {ETXTBSY, 32}, {ENOSYS, 120},
      {EPIPE, 109},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(c.second, WinErrorFromErrno(c.first)) << c.first;
  }
}

TEST(PosixErrors, MessageTextsAndRefusals) {
  wchar_t buf[260];
  const DWORD flags =
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  ASSERT_EQ(44u, FormatMessageW(flags, nullptr, 3, 0, buf, 260, nullptr));
  EXPECT_EQ(std::wstring(L"The system cannot find the path specified.\r\n"),
            buf);
  FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 145, 0, buf, 260,
                 nullptr);
  EXPECT_EQ(std::wstring(L"The directory is not empty.\r\n"), buf);
  EXPECT_EQ(0u, FormatMessageW(flags, nullptr, 3, 0, buf, 44, nullptr));
  EXPECT_EQ(122u, GetLastError());  // no room for the terminator
  EXPECT_EQ(0u, FormatMessageW(flags, nullptr, 99999, 0, buf, 260, nullptr));
  EXPECT_EQ(317u, GetLastError());
  EXPECT_EQ(0u, FormatMessageW(flags | 0x100u, nullptr, 3, 0, buf, 260,
                               nullptr));  // ALLOCATE_BUFFER
  EXPECT_EQ(87u, GetLastError());
}

// ---- Full paths ----

class PosixFullPath : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = CurrentDir();
    dir_ = MakeTempDir();
    ASSERT_TRUE(!dir_.empty() && MakeDir(dir_ + L"/sub")) << "fixture";
    ASSERT_EQ(0, chdir(BytesFromWide(dir_ + L"/sub").c_str())) << "fixture";
  }
  void TearDown() override {
    EXPECT_EQ(0, chdir(BytesFromWide(saved_).c_str()));
    RemoveTree(dir_);
  }
  static std::wstring Full(const std::wstring &path) {
    wchar_t buf[1024];
    const DWORD len = GetFullPathNameW(path.c_str(), 1024, buf, nullptr);
    return len == 0 ? L"<error>" : std::wstring(buf, len);
  }
  std::wstring saved_, dir_;
};

TEST_F(PosixFullPath, FoldsTextually) {
  EXPECT_EQ(L"/a/b/d", Full(L"/a/./b//c/../d"));
  EXPECT_EQ(L"/a/b/c", Full(L"/a\\b/c"));
  EXPECT_EQ(L"/", Full(L"/../.."));
  EXPECT_EQ(L"/x", Full(L"/../x"));
  EXPECT_EQ(L"/a/b/", Full(L"/a/b/"));
  EXPECT_EQ(L"/a/b", Full(L"/a/b/."));
  EXPECT_EQ(L"/a", Full(L"/a/b/.."));
  EXPECT_EQ(L"/C:", Full(L"/C:"));
}

TEST_F(PosixFullPath, RelativePathsStartAtTheCurrentDirectory) {
  EXPECT_EQ(dir_ + L"/sub/x/y", Full(L"x/y"));
  EXPECT_EQ(dir_ + L"/sub/x/y", Full(L"x\\y"));
  EXPECT_EQ(dir_ + L"/sub", Full(L"."));
  EXPECT_EQ(dir_ + L"/", Full(L"../"));
  EXPECT_EQ(dir_ + L"/sub/C:x", Full(L"C:x"));  // no drives here
  wchar_t buf[4];
  EXPECT_EQ(0u, GetFullPathNameW(L"", 4, buf, nullptr));
  EXPECT_EQ(123u, GetLastError());
}

TEST_F(PosixFullPath, SmallBufferGetsTheNeededSize) {
  const std::wstring path = L"/abc/def";
  wchar_t buf[16];
  wmemset(buf, L'#', 16);
  EXPECT_EQ(9u, GetFullPathNameW(path.c_str(), 8, buf, nullptr));
  EXPECT_EQ(L'#', buf[0]);  // untouched
  EXPECT_EQ(9u, GetFullPathNameW(path.c_str(), 0, nullptr, nullptr));
  wchar_t *filePart = nullptr;
  EXPECT_EQ(8u, GetFullPathNameW(path.c_str(), 9, buf, &filePart));
  EXPECT_EQ(path, buf);
  EXPECT_EQ(buf + 5, filePart);
  EXPECT_EQ(5u, GetFullPathNameW(L"/abc/", 16, buf, &filePart));
  EXPECT_EQ(nullptr, filePart);
}

// ---- Output and user interface ----

TEST(PosixOutput, PrintWRestoresEscapedBytesAndSharesTheStream) {
  const std::wstring name = WideFromBytes("n\xFF\xC3\xA9");
  const std::wstring longText(5000, L'z');
  const std::string got = CaptureFd(STDOUT_FILENO, [&] {
    PrintA("help ");
    PrintW(L"del \"%ls\" %d\n", name.c_str(), 7);
    PrintW(L"%ls\n", longText.c_str());
    PrintA("end\n");
    PrintFlush();
  });
  EXPECT_EQ(
      "help del \"n\xFF\xC3\xA9\" 7\n" + std::string(5000, 'z') + "\nend\n",
      got);
  EXPECT_EQ("n\xFF\xC3\xA9\n", OutputBytes(name + L"\n"));
  EXPECT_FALSE(IsSwitchPrefix(L'/'));  // an absolute path, not a switch
}

TEST(PosixOutput, WsprintfStopsAt1024Characters) {
  const std::wstring longText(2000, L'q');
  wchar_t buf[1024];
  EXPECT_EQ(1023, wsprintfW(buf, L"%ls", longText.c_str()));
  EXPECT_EQ(std::wstring(1023, L'q'), buf);
}

TEST(PosixOutput, MessageBoxWritesToStandardErrorWithoutWaiting) {
  const int saved = dup(STDIN_FILENO);
  const int null = open("/dev/null", O_RDONLY);
  ASSERT_TRUE(saved >= 0 && null >= 0) << "fixture";
  dup2(null, STDIN_FILENO);
  int rc = 0;
  const std::string got = CaptureFd(STDERR_FILENO, [&] {
    rc = MessageBoxW(nullptr, L"memCheck 1 \u00e9", L"Title", MB_OK);
  });
  dup2(saved, STDIN_FILENO);
  close(saved);
  close(null);
  EXPECT_EQ(IDOK, rc);
  EXPECT_EQ("memCheck 1 \xC3\xA9\n", got);
}

// ---- Devices ----

// A folder that can't be reached can't tell; one on a file system with no
// disk behind it (procfs) has no seek penalty.
TEST_F(PosixFiles, SeekPenaltyOfMissingAndDisklessFolders) {
  EXPECT_EQ(kSeekUnknown, GetVolumeSeekPenalty((dir_ + L"/missing").c_str()));
  EXPECT_EQ(kSeekUnknown, GetVolumeSeekPenalty(L""));
  EXPECT_EQ(kSeekNone, GetVolumeSeekPenalty(L"/proc/self"));
  EXPECT_EQ(kSeekNone, GetVolumeSeekPenalty(L"/proc/self/"));
}

// The desktop's trash folders, besides the Windows bins of both builds.
TEST(PosixBins, TrashFoldersOfVolumesAndHomes) {
  const struct {
    const wchar_t *parent, *name;
    int bin;
  } kNames[] = {
      {L"/media/card", L".Trash", 1},
      {L"/media/card", L".Trash-1000", 1},
      {L"/media/card", L".Trash-", 0},
      {L"/media/card", L".Trash-10x", 0},
      {L"/media/card", L".trash", 0},
      {L"/home/ann/.local/share", L"Trash", 1},
      {L"/home/ann/.local/share/", L"Trash", 1},
      {L".local/share", L"Trash", 1},
      {L"/home/ann/share", L"Trash", 0},
      {L"/home/ann/.local/share", L"trash", 0},
      {L"/home/ann/x.local/share", L"Trash", 0},
      {L"/", L"Trash", 0},
  };
  for (const auto &n : kNames)
    EXPECT_EQ(IsRecycleBinName(n.parent, n.name), n.bin)
        << BytesFromWide(n.parent) << " " << BytesFromWide(n.name);
}
