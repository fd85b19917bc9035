// The Linux stand-ins on the scan's and the hash's hot paths: the listing
// of directories only, and reads that stop at the end of a regular file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/testing/testing.h"

namespace {

class FastPath : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = MakeTempDir();
    ASSERT_FALSE(dir_.empty()) << "fixture: no temporary directory";
  }
  void TearDown() override { RemoveTree(dir_); }
  std::wstring Path(const std::wstring &name) { return dir_ + L"/" + name; }

  // The names a search started by start hands out, in order; the search
  // must end with ERROR_NO_MORE_FILES.
  template <typename Start>
  std::vector<std::wstring> Names(Start start) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    HANDLE h = start(&data);
    if (h == INVALID_HANDLE_VALUE) return names;
    do {
      names.push_back(data.cFileName);
    } while (FindNextFileW(h, &data));
    EXPECT_EQ(18u, GetLastError());
    EXPECT_TRUE(FindClose(h));
    return names;
  }
  std::vector<std::wstring> Dirs(const std::wstring &pattern) {
    return Names([&](WIN32_FIND_DATAW *d) {
      return FindFirstFileExW(pattern.c_str(), FindExInfoBasic, d,
                              FindExSearchLimitToDirectories, nullptr,
                              FIND_FIRST_EX_LARGE_FETCH);
    });
  }
  std::vector<std::wstring> All(const std::wstring &pattern) {
    return Names([&](WIN32_FIND_DATAW *d) {
      return FindFirstFileW(pattern.c_str(), d);
    });
  }

  std::wstring dir_;
};

TEST_F(FastPath, DirectoriesOnlyListingKeepsEveryDirectoryInOrder) {
  ASSERT_TRUE(MakeDir(Path(L"b")) && MakeDir(Path(L"A")) &&
              MakeDir(Path(L".hidden")) && MakeDir(Path(L"...")))
      << "fixture";
  ASSERT_TRUE(WriteBytes(Path(L"a.txt"), "x") && WriteBytes(Path(L"c"), "") &&
              MakeSymlink(Path(L"b"), Path(L"l")))
      << "fixture";
  ASSERT_EQ(0, mkfifo(BytesFromWide(Path(L"fifo")).c_str(), 0600)) << "fixture";
  const std::vector<std::wstring> dirs = Dirs(Path(L"*"));
  EXPECT_EQ(dirs, (std::vector<std::wstring>{L".", L"..", L"...", L".hidden",
                                             L"A", L"b"}));
  // The same directories, in the same order, as the full listing has them.
  std::vector<std::wstring> fromAll;
  for (const std::wstring &name : All(Path(L"*"))) {
    struct stat st;
    if (lstat(BytesFromWide(Path(name)).c_str(), &st) == 0 &&
        S_ISDIR(st.st_mode))
      fromAll.push_back(name);
  }
  EXPECT_EQ(dirs, fromAll);
}

TEST_F(FastPath, DirectoriesOnlyListingStillMatchesThePattern) {
  ASSERT_TRUE(MakeDir(Path(L"pics")) && MakeDir(Path(L"docs")) &&
              WriteBytes(Path(L"pic.jpg"), "x"))
      << "fixture";
  EXPECT_EQ(Dirs(Path(L"p*")), std::vector<std::wstring>{L"pics"});
  // A name-match search with the basic level is the plain search.
  std::vector<std::wstring> basic = Names([&](WIN32_FIND_DATAW *d) {
    return FindFirstFileExW(Path(L"*").c_str(), FindExInfoBasic, d,
                            FindExSearchNameMatch, nullptr, 0);
  });
  EXPECT_EQ(basic, All(Path(L"*")));
}

TEST_F(FastPath, UnsupportedSearchArgumentsAreRefused) {
  WIN32_FIND_DATAW data;
  int filter = 0;
  const std::wstring pattern = Path(L"*");
  EXPECT_EQ(INVALID_HANDLE_VALUE,
            FindFirstFileExW(pattern.c_str(), FindExInfoStandard, &data,
                             FindExSearchNameMatch, &filter, 0));
  EXPECT_EQ(87u, GetLastError());
  EXPECT_EQ(INVALID_HANDLE_VALUE,
            FindFirstFileExW(pattern.c_str(), FindExInfoStandard, &data,
                             FindExSearchNameMatch, nullptr, 1));
  EXPECT_EQ(87u, GetLastError());
  EXPECT_EQ(INVALID_HANDLE_VALUE,
            FindFirstFileExW(pattern.c_str(), FindExInfoMaxInfoLevel, &data,
                             FindExSearchNameMatch, nullptr, 0));
  EXPECT_EQ(87u, GetLastError());
  EXPECT_EQ(INVALID_HANDLE_VALUE,
            FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data,
                             FindExSearchLimitToDevices, nullptr, 0));
  EXPECT_EQ(87u, GetLastError());
  EXPECT_EQ(INVALID_HANDLE_VALUE,
            FindFirstFileExW(Path(L"missing/*").c_str(), FindExInfoBasic, &data,
                             FindExSearchLimitToDirectories, nullptr, 0));
  EXPECT_EQ(3u, GetLastError());
}

HANDLE OpenForHash(const std::wstring &path) {
  return CreateFileW(
      path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
      FILE_FLAG_SEQUENTIAL_SCAN | FILE_ATTRIBUTE_NORMAL, nullptr);
}

TEST_F(FastPath, ReadsEndAtTheEndOfTheFileAsItWas) {
  ASSERT_TRUE(WriteBytes(Path(L"f"), std::string(10, 'a'))) << "fixture";
  HANDLE h = OpenForHash(Path(L"f"));
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  char buf[64];
  DWORD got = 99;
  EXPECT_TRUE(ReadFile(h, buf, sizeof(buf), &got, nullptr));
  EXPECT_EQ(got, 10u);
  // What the file gains after its end was met is not part of this reading.
  ASSERT_TRUE(WriteBytes(Path(L"f"), std::string(20, 'b'))) << "fixture";
  EXPECT_TRUE(ReadFile(h, buf, sizeof(buf), &got, nullptr));
  EXPECT_EQ(got, 0u);
  BY_HANDLE_FILE_INFORMATION info;
  ASSERT_TRUE(GetFileInformationByHandle(h, &info));
  EXPECT_EQ(info.nFileSizeLow, 10u);  // the status as of the opening
  EXPECT_TRUE(CloseHandle(h));

  h = OpenForHash(Path(L"f"));
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(ReadFile(h, buf, sizeof(buf), &got, nullptr));
  EXPECT_EQ(got, 20u);
  ASSERT_TRUE(GetFileInformationByHandle(h, &info));
  EXPECT_EQ(info.nFileSizeLow, 20u);
  EXPECT_TRUE(CloseHandle(h));
}

TEST_F(FastPath, AFullReadAsksAgainForTheEnd) {
  ASSERT_TRUE(WriteBytes(Path(L"f"), std::string(64, 'a'))) << "fixture";
  HANDLE h = OpenForHash(Path(L"f"));
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  char buf[32];
  DWORD got = 0;
  for (DWORD expected : {32u, 32u, 0u, 0u}) {
    EXPECT_TRUE(ReadFile(h, buf, sizeof(buf), &got, nullptr));
    EXPECT_EQ(got, expected);
  }
  EXPECT_TRUE(CloseHandle(h));
}

}  // namespace
