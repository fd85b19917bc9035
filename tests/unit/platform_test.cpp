// The platform calls as the program uses them, checked on both builds.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/testing/testing.h"
#include "support/seam.h"

namespace {

// The table holds nothing but entries of pointer size, every one set.
TEST(PlatformCallsTest, EveryEntryHoldsAnImplementation) {
  const size_t n = sizeof(PlatformCalls) / sizeof(void (*)(void));
  ASSERT_EQ(n * sizeof(void (*)(void)), sizeof(PlatformCalls));
  for (size_t i = 0; i < n; i++) {
    void (*entry)(void) = nullptr;
    memcpy(&entry,
           reinterpret_cast<const char *>(&platformCalls) + i * sizeof(entry),
           sizeof(entry));
    EXPECT_NE(entry, nullptr) << "entry " << i;
  }
}

BOOL WINAPI RefusedDelete(LPCWSTR) {
  SetLastError(ERROR_ACCESS_DENIED);
  return FALSE;
}

// A replaced entry is what the program calls, and it is put back after.
TEST(PlatformCallsTest, ReplacementHoldsForItsScopeOnly) {
  const auto own = platformCalls.DeleteFileW;
  {
    CallReplaced<decltype(PlatformCalls::DeleteFileW)> refused(
        &platformCalls.DeleteFileW, RefusedDelete);
    EXPECT_EQ(refused.saved(), own);
    EXPECT_FALSE(platformCalls.DeleteFileW(L"no such file"));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  }
  EXPECT_EQ(platformCalls.DeleteFileW, own);
}

// The bytes 0..n-1 of the fixed test pattern.
std::string PatternBytes(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; i++) s[i] = (char)((i * 31 + 7) & 0xFF);
  return s;
}

std::string Hex(const BYTE *data, size_t n) {
  std::string hex;
  char two[3];
  for (size_t i = 0; i < n; i++) {
    snprintf(two, sizeof(two), "%02x", data[i]);
    hex += two;
  }
  return hex;
}

// A SHA-256 context and hash object, released at scope end.
struct Sha256 {
  HCRYPTPROV prov = 0;
  HCRYPTHASH hash = 0;
  Sha256() {
    EXPECT_TRUE(CryptAcquireContextW(&prov, nullptr, nullptr, PROV_RSA_AES,
                                     CRYPT_VERIFYCONTEXT));
    EXPECT_TRUE(CryptCreateHash(prov, CALG_SHA_256, 0, 0, &hash));
  }
  ~Sha256() {
    CryptDestroyHash(hash);
    CryptReleaseContext(prov, 0);
  }
  std::string Value() {
    BYTE value[32] = {};
    DWORD len = sizeof(value);
    EXPECT_TRUE(CryptGetHashParam(hash, HP_HASHVAL, value, &len, 0));
    EXPECT_EQ(32u, len);
    return Hex(value, sizeof(value));
  }
};

std::string Sha256OfText(const std::string &text) {
  Sha256 sha;
  EXPECT_TRUE(CryptHashData(sha.hash, (const BYTE *)text.data(),
                            (DWORD)text.size(), 0));
  return sha.Value();
}

// Reads the file in 32,768-byte pieces, as the hash routine does.
std::string Sha256OfFile(const std::wstring &path, int *reads) {
  Sha256 sha;
  HANDLE file = CreateFileW(
      path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
      FILE_FLAG_SEQUENTIAL_SCAN | FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_NE(INVALID_HANDLE_VALUE, file) << GetLastError();
  std::vector<BYTE> buf(32768);
  DWORD got = 0;
  *reads = 0;
  while (ReadFile(file, buf.data(), (DWORD)buf.size(), &got, nullptr) &&
         got != 0) {
    (*reads)++;
    EXPECT_TRUE(CryptHashData(sha.hash, buf.data(), got, 0));
  }
  EXPECT_TRUE(CloseHandle(file));
  return sha.Value();
}

class PlatformFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = MakeTempDir();
    ASSERT_FALSE(dir_.empty()) << "fixture: no temporary directory";
  }
  void TearDown() override { RemoveTree(dir_); }
  std::wstring Path(const std::wstring &name) { return dir_ + kPathSep + name; }
  std::wstring dir_;
};

}  // namespace

TEST(PlatformCrypt, KnownVectorsAndSize) {
  EXPECT_EQ("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855",
            Sha256OfText(""));
  EXPECT_EQ("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad",
            Sha256OfText("abc"));
  Sha256 sha;
  DWORD size = 0, len = sizeof(size);
  ASSERT_TRUE(CryptGetHashParam(sha.hash, HP_HASHSIZE, (BYTE *)&size, &len, 0));
  EXPECT_EQ(32u, size);
  EXPECT_EQ(4u, len);
}

TEST(PlatformCrypt, ValueIsFinalAndBufferChecked) {
  Sha256 sha;
  ASSERT_TRUE(CryptHashData(sha.hash, (const BYTE *)"abc", 3, 0));
  BYTE small[16];
  DWORD len = sizeof(small);
  EXPECT_FALSE(CryptGetHashParam(sha.hash, HP_HASHVAL, small, &len, 0));
  EXPECT_EQ(234u, GetLastError());  // ERROR_MORE_DATA
  EXPECT_EQ(32u, len);
  const std::string first = sha.Value();
  EXPECT_EQ(first, sha.Value());  // asking again gives the same value
  EXPECT_FALSE(CryptHashData(sha.hash, (const BYTE *)"x", 1, 0));
}

TEST_F(PlatformFiles, FileDigestsAcrossReadBoundaries) {
  struct Case {
    size_t size;
    int reads;
    const char *digest;
  } cases[] = {
      {0, 0,
       "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {32768, 1,
       "611253a4531dea3d840789b4f11a1ad9c4329fbbf85ee1634f2ae601e6da6db0"},
      {32769, 2,
       "42716c166873d334f5905ca5abf7d73bd1ee5736bdbc4c22a9bad28b7e5ef17a"},
  };
  for (const Case &c : cases) {
    const std::wstring path = Path(L"f" + std::to_wstring(c.size));
    ASSERT_TRUE(WriteBytes(path, PatternBytes(c.size))) << "fixture";
    int reads = -1;
    EXPECT_EQ(c.digest, Sha256OfFile(path, &reads)) << c.size;
    EXPECT_EQ(c.reads, reads) << c.size;
  }
}

TEST_F(PlatformFiles, MissingFilesGiveFileNotFound) {
  const std::wstring missing = Path(L"missing");
  HANDLE h =
      CreateFileW(missing.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_EQ(INVALID_HANDLE_VALUE, h);
  EXPECT_EQ(2u, GetLastError());
  EXPECT_FALSE(DeleteFileW(missing.c_str()));
  EXPECT_EQ(2u, GetLastError());
  WIN32_FIND_DATAW data;
  EXPECT_EQ(INVALID_HANDLE_VALUE, FindFirstFileW(missing.c_str(), &data));
  EXPECT_EQ(2u, GetLastError());
}

TEST_F(PlatformFiles, FullPathOfAnAbsolutePathIsItself) {
  const std::wstring path = Path(L"name.txt");
  wchar_t buf[MAX_PATH * 2];
  wchar_t *filePart = nullptr;
  const DWORD len =
      GetFullPathNameW(path.c_str(), MAX_PATH * 2, buf, &filePart);
  EXPECT_EQ(path.size(), len);
  EXPECT_EQ(path, std::wstring(buf));
  ASSERT_NE(nullptr, filePart);
  EXPECT_EQ(std::wstring(L"name.txt"), filePart);
}

// The seek penalty of the test tree's volume: one answer, the same for each
// of its folders however written, and the same when asked again.
TEST_F(PlatformFiles, SeekPenaltyIsOneAnswerPerVolume) {
  ASSERT_TRUE(MakeDir(Path(L"sub"))) << "fixture";
  const int answer = GetVolumeSeekPenalty(dir_.c_str());
  EXPECT_TRUE(answer == kSeekNone || answer == kSeekPenalty ||
              answer == kSeekUnknown)
      << answer;
  EXPECT_EQ(answer, GetVolumeSeekPenalty(dir_.c_str()));
  EXPECT_EQ(answer, GetVolumeSeekPenalty((dir_ + kPathSep).c_str()));
  EXPECT_EQ(answer, GetVolumeSeekPenalty(Path(L"sub").c_str()));
  EXPECT_EQ(answer, GetVolumeSeekPenalty((Path(L"sub") + kPathSep).c_str()));
}

TEST_F(PlatformFiles, DeleteAndRemoveDirectory) {
  const std::wstring sub = Path(L"sub");
  ASSERT_TRUE(MakeDir(sub) && WriteBytes(sub + kPathSep + L"f", "x"));
  EXPECT_FALSE(RemoveDirectoryW(sub.c_str()));
  EXPECT_EQ(145u, GetLastError());  // ERROR_DIR_NOT_EMPTY
  EXPECT_TRUE(DeleteFileW((sub + kPathSep + L"f").c_str()));
  EXPECT_TRUE(RemoveDirectoryW(sub.c_str()));
  EXPECT_FALSE(PathExists(sub));
}

// A file open without FILE_SHARE_DELETE cannot be erased (by this process
// or another: the Linux stand-in locks between processes) until it is
// closed, and its open handle names its path.
TEST_F(PlatformFiles, AFileHeldOpenIsNotErasedAndNamesItsPath) {
  const std::wstring f = Path(L"held.jpg");
  ASSERT_TRUE(WriteBytes(f, "photo"));
  HANDLE h = platformCalls.CreateFileW(f.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                       nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  EXPECT_FALSE(platformCalls.DeleteFileW(f.c_str()));
  EXPECT_EQ(32u, platformCalls.GetLastError());  // ERROR_SHARING_VIOLATION
  wchar_t small[4];
  const DWORD need = platformCalls.GetFinalPathNameByHandleW(h, small, 4, 0);
  ASSERT_GT(need, 4u);
  std::wstring named(need, L'\0');
  const DWORD n =
      platformCalls.GetFinalPathNameByHandleW(h, named.data(), need, 0);
  ASSERT_EQ(n + 1, need);
  named.resize(n);
  EXPECT_EQ(L"held.jpg", named.substr(named.size() - 8));
  EXPECT_TRUE(platformCalls.CloseHandle(h));
  EXPECT_TRUE(platformCalls.DeleteFileW(f.c_str()));
}

TEST(PlatformSync, CriticalSectionIsRecursiveAndExclusive) {
  CRITICAL_SECTION cs;
  InitializeCriticalSection(&cs);
  // Whether another thread can take the lock now.
  auto freeForOthers = [&cs] {
    BOOL took = FALSE;
    std::thread([&] {
      took = TryEnterCriticalSection(&cs);
      if (took) LeaveCriticalSection(&cs);
    }).join();
    return took != FALSE;
  };
  EnterCriticalSection(&cs);
  EXPECT_TRUE(TryEnterCriticalSection(&cs));  // again, by its holder
  EXPECT_FALSE(freeForOthers());
  LeaveCriticalSection(&cs);
  EXPECT_FALSE(freeForOthers());  // entered twice, left once
  LeaveCriticalSection(&cs);
  EXPECT_TRUE(freeForOthers());  // left as often as entered
  DeleteCriticalSection(&cs);
}

// Threads that wait for the lock are woken in turn and never hold it
// together: every increment made under it survives (ThreadSanitizer also
// sees the hand-over).
TEST(PlatformSync, CriticalSectionHandsOverUnderContention) {
  CRITICAL_SECTION cs;
  InitializeCriticalSection(&cs);
  long counter = 0;
  const int threads = 4, rounds = 100000;
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; t++) {
    workers.emplace_back([&] {
      for (int i = 0; i < rounds; i++) {
        EnterCriticalSection(&cs);
        EnterCriticalSection(&cs);  // recursion inside contention
        long seen = counter;
        if (i % 1000 == 0) std::this_thread::yield();  // be caught holding
        counter = seen + 1;
        LeaveCriticalSection(&cs);
        LeaveCriticalSection(&cs);
      }
    });
  }
  for (std::thread &w : workers) w.join();
  EXPECT_EQ(counter, (long)threads * rounds);
  EXPECT_TRUE(TryEnterCriticalSection(&cs));
  LeaveCriticalSection(&cs);
  DeleteCriticalSection(&cs);
}

TEST(PlatformSync, InterlockedCountsEveryStep) {
  volatile LONG counter = 0;
  EXPECT_EQ(1, InterlockedIncrement(&counter));
  EXPECT_EQ(0, InterlockedDecrement(&counter));
  EXPECT_EQ(-1, InterlockedDecrement(&counter));
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; t++) {
    threads.emplace_back([&] {
      for (int i = 0; i < 20000; i++) InterlockedIncrement(&counter);
    });
  }
  for (std::thread &t : threads) t.join();
  EXPECT_EQ(79999, (LONG)counter);
}

TEST(PlatformText, MessagesEndLikeWindows) {
  for (DWORD code : {2u, 5u}) {
    wchar_t buf[260];
    const DWORD len = FormatMessageW(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        code, 0, buf, 260, nullptr);
    ASSERT_GT(len, 2u) << code;
    EXPECT_EQ(std::wstring(L"\r\n"), std::wstring(buf + len - 2)) << code;
  }
}

TEST(PlatformText, WsprintfFormatsDigestDigits) {
  wchar_t buf[1024];
  const BYTE bytes[] = {0x0A, 0xFF, 0x00};
  EXPECT_EQ(6, wsprintfW(buf, L"%02X%02X%02X", bytes[0], bytes[1], bytes[2]));
  EXPECT_EQ(std::wstring(L"0AFF00"), buf);
  EXPECT_EQ(9, wsprintfW(buf, L"%ls=%d", L"count", -12));
  EXPECT_EQ(std::wstring(L"count=-12"), buf);
}

TEST(PlatformText, SwitchPrefixDash) {
  EXPECT_TRUE(IsSwitchPrefix(L'-'));
  EXPECT_FALSE(IsSwitchPrefix(L'a'));
  EXPECT_FALSE(IsSwitchPrefix(L'\\'));
}

// The Windows bins, in any letter case, on both builds; only whole names.
TEST(PlatformBins, WindowsBinsInAnyCase) {
  for (const wchar_t *name :
       {L"$RECYCLE.BIN", L"$Recycle.Bin", L"RECYCLER", L"recycler",
        L"System Volume Information", L"SYSTEM VOLUME INFORMATION"})
    EXPECT_EQ(IsRecycleBinName(L"D:\\", name), 1);
  for (const wchar_t *name : {L"RECYCLE.BIN", L"$RECYCLE.BIN2", L"RECYCLE",
                              L"System Volume", L"", L"photos"})
    EXPECT_EQ(IsRecycleBinName(L"D:\\", name), 0);
}
