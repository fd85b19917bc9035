// SHA-256 of a file: known digests, read-size boundaries, failures.
#include "hash/hash.h"

#include <cstring>
#include <string>

#include "app/app.h"
#include "support/harness.h"
#include "support/seam.h"

namespace {

std::string Hex(const uint8_t *d) {
  static const char digits[] = "0123456789abcdef";
  std::string s;
  for (int i = 0; i < SHA256_BYTES; i++) {
    s += digits[d[i] >> 4];
    s += digits[d[i] & 15];
  }
  return s;
}

std::string Pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; i++) s[i] = static_cast<char>((i * 7 + 3) % 251);
  return s;
}

bool AllZero(const uint8_t *d) {
  for (int i = 0; i < SHA256_BYTES; i++)
    if (d[i] != 0) return false;
  return true;
}

class HashTest : public E2ETest {
 protected:
  void SetUp() override {
    E2ETest::SetUp();
    optionsClear();
  }
  // Hashes path; checks the read-buffer count is back where it was.
  DWORD Hash(const std::wstring &path) {
    LONG before = memCheckCnt;
    memset(digest, 0xAA, sizeof digest);
    DWORD rc = hashCalcSHA256(path.c_str(), digest);
    EXPECT_EQ(memCheckCnt, before);
    return rc;
  }
  uint8_t digest[SHA256_BYTES];
};

TEST_F(HashTest, KnownDigests) {
  ASSERT_EQ(Hash(MakeFile("abc", "abc")), 0u);
  EXPECT_EQ(Hex(digest),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  ASSERT_EQ(Hash(MakeEmptyFile("empty")), 0u);
  EXPECT_EQ(Hex(digest),
            "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

TEST_F(HashTest, ReadSizeBoundaries) {
  ASSERT_EQ(Hash(MakeFile("a", Pattern(32768))), 0u);
  EXPECT_EQ(Hex(digest),
            "4f4e63eece56f25e5d98264c62891f846c1b9566ca7501d42c890ed79ef7e21e");
  ASSERT_EQ(Hash(MakeFile("b", Pattern(32769))), 0u);
  EXPECT_EQ(Hex(digest),
            "8aadbc0adabb2eb99cd9b3f4bcf7c73d33792b2f94949df31aea2ce0d6d23f28");
  ASSERT_EQ(Hash(MakeFile("c", Pattern(65536))), 0u);
  EXPECT_EQ(Hex(digest),
            "93d1a595bb5828c088e99c53df8dca5511567b7724bc2325cf3e54d725fa069b");
}

TEST_F(HashTest, MissingFileGivesNotFoundAndZeroDigest) {
  EXPECT_EQ(Hash(At("nothing-here")), ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(AllZero(digest));
}

TEST_F(HashTest, DirectoryIsRefusedWithZeroDigest) {
  EXPECT_NE(Hash(MakeSubdir("d")), 0u);
  EXPECT_TRUE(AllZero(digest));
}

TEST_F(HashTest, UnreadableFileGivesAccessDenied) {
  if (RunningAsRoot()) GTEST_SKIP() << "root reads every file";
  std::wstring f = MakeFile("secret", "data");
  if (!SetUnreadable(f)) GTEST_SKIP() << "cannot take read access away here";
  EXPECT_EQ(Hash(f), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(AllZero(digest));
}

// Failures of the system calls themselves, made to happen: each gives its
// code, an all-zero digest and, under Debug, its own text.
TEST_F(HashTest, FailedStepsGiveTheirCodeAndDebugText) {
  std::wstring f = MakeFile("photo", Pattern(70000));
  options.Debug = 1;
  FileCallHooks hooks;
  int reads = 0;
  hooks.failRead = [&](HANDLE) {
    if (++reads < 2) return false;  // the second piece cannot be read
    SetLastError(ERROR_READ_FAULT);
    return true;
  };
  DWORD rc = 0;
  std::string out = CaptureOutput([&] { rc = Hash(f); });
  EXPECT_EQ(rc, ERROR_READ_FAULT);
  EXPECT_TRUE(AllZero(digest));
  EXPECT_EQ(out, Lines({"hashCalcSHA256 - ReadFile failed."}));
  hooks.failRead = nullptr;
  hooks.failOpen = [](const std::wstring &, DWORD) {
    SetLastError(ERROR_SHARING_VIOLATION);
    return true;
  };
  out = CaptureOutput([&] { rc = Hash(f); });
  EXPECT_EQ(rc, ERROR_SHARING_VIOLATION);
  EXPECT_TRUE(AllZero(digest));
  EXPECT_EQ(out, Lines({"Err: Could not open file."}));
  options.Debug = 0;
}

TEST_F(HashTest, ReadBufferThatCannotBeHadGivesNoMemory) {
  std::wstring f = MakeFile("photo", "data");
  options.Debug = 1;
  ContainerFaultScope faults;
  containerFaults.alloc = 1;
  DWORD rc = 0;
  std::string out = CaptureOutput([&] { rc = Hash(f); });
  EXPECT_EQ(rc, ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_TRUE(AllZero(digest));
  EXPECT_EQ(out, Lines({"hashCalcSHA256 - memMalloc failed."}));
  EXPECT_EQ(containerFaults.live, 0);
  options.Debug = 0;
  EXPECT_EQ(Hash(f), 0u);  // memory is back
}

TEST_F(HashTest, MissingArgumentsLeaveDigestUntouched) {
  memset(digest, 0xAA, sizeof digest);
  EXPECT_EQ(hashCalcSHA256(nullptr, digest), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(digest[0], 0xAA);
  EXPECT_EQ(hashCalcSHA256(L"x", nullptr), ERROR_INVALID_PARAMETER);
}

TEST_F(HashTest, IdentityTellsHardLinksApartFromCopies) {
  std::wstring a = MakeFile("a", "same");
  std::wstring b = MakeFile("b", "same");
  FileIdentity ia, ib, ia2;
  ASSERT_EQ(hashCalcSHA256Identify(a.c_str(), digest, &ia), 0u);
  ASSERT_EQ(hashCalcSHA256Identify(b.c_str(), digest, &ib), 0u);
  ASSERT_EQ(hashCalcSHA256Identify(a.c_str(), digest, &ia2), 0u);
  ASSERT_TRUE(ia.known && ib.known);
  EXPECT_EQ(ia.size, 4u);
  EXPECT_FALSE(ia.indexLow == ib.indexLow && ia.indexHigh == ib.indexHigh &&
               ia.volume == ib.volume);
  EXPECT_TRUE(ia.indexLow == ia2.indexLow && ia.indexHigh == ia2.indexHigh &&
              ia.volume == ia2.volume);
}

}  // namespace
