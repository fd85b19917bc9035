// Same-size files of more than one read are compared by their first read
// before any is hashed whole: the report, the failure lines and the counts
// are those of hashing every member whole.
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/app.h"
#include "dups/dups.h"
#include "hash/hash.h"
#include "support/harness.h"
#include "support/seam.h"

namespace {

// Contents of n bytes, different for every seed.
std::string Bytes(size_t n, unsigned seed) {
  std::string b(n, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < n; i++) {
    x = x * 1103515245u + 12345u;
    b[i] = static_cast<char>(x >> 24);
  }
  return b;
}

std::string Flipped(std::string b, size_t at) {
  b[at] = static_cast<char>(b[at] ^ 0x5A);
  return b;
}

// Changes the file's first byte in place, and moves its write time on,
// where the system lets a writer in (Windows refuses one while the pass
// holds the file open). Throws nothing.
void RewriteFirstByte(const std::wstring &path) {
  const std::filesystem::path p(path);
  {
    std::fstream f(p, std::ios::in | std::ios::out | std::ios::binary);
    char c = 0;
    if (!f.read(&c, 1)) return;
    f.seekp(0);
    c = static_cast<char>(c ^ 0x5A);
    f.write(&c, 1);
  }
  std::error_code ec;
  const auto t = std::filesystem::last_write_time(p, ec);
  if (!ec) std::filesystem::last_write_time(p, t + std::chrono::hours(1), ec);
}

struct PassResult {
  std::string out;
  uint32_t hashed;
};

class HeadCompareTest : public E2ETest {
 protected:
  void SetUp() override {
    E2ETest::SetUp();
    optionsClear();
  }
  void TearDown() override {
    optionsClear();
    E2ETest::TearDown();
  }
  // Scans dir as a single-directory run and runs the pass.
  PassResult Run(const std::wstring &dir) {
    options.uCntParms = 1;
    cntFilesHashed = 0;
    bintree *tree = bintree_Allocate();
    linklist *source = linklist_Allocate();
    ScanDirectory(dir.c_str(), L"*", tree, source);
    PassResult r;
    r.out = CaptureOutput([&] { HashGroupsAndCompare(source, tree); });
    r.hashed = cntFilesHashed;
    ReleaseScan(tree, source);
    EXPECT_EQ(memCheckCnt, 0);
    return r;
  }
};

std::string Del(const std::wstring &p) { return "del \"" + P(p) + "\""; }
std::string Rem(const std::wstring &p) { return "REM \"" + P(p) + "\""; }

TEST_F(HeadCompareTest, TwinsAreFoundWhereverTheOthersDiffer) {
  for (size_t size : {32769u, 40000u, 300000u}) {
    std::string d = std::to_string(size);
    d.append("/");
    const std::string base = Bytes(size, 7);
    auto a = MakeFile(d + "a", base);
    MakeFile(d + "b", Flipped(base, 0));
    MakeFile(d + "c", Flipped(base, size / 2));
    MakeFile(d + "e", Flipped(base, size - 1));
    auto f = MakeFile(d + "f", base);
    PassResult r = Run(At(d));
    EXPECT_EQ(r.out, Lines({"", Del(a), Rem(f)})) << size;
    EXPECT_EQ(r.hashed, 5u) << size;
  }
}

TEST_F(HeadCompareTest, FilesDifferingOnlyAtTheStartGiveNothing) {
  const std::string base = Bytes(70000, 3);
  for (int i = 0; i < 4; i++)
    MakeFile("d/" + std::to_string(i), Flipped(base, (size_t)i));
  PassResult r = Run(At("d"));
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.hashed, 4u);
}

// From HASH_TAIL_FROM bytes on the last block is compared too: a file that
// differs from the others only there is opened once and never read whole,
// a twin is read whole on the handle its head was read on, and a twin
// whose last block can't be read (or that can't be put back in place) is
// still hashed and found.
TEST_F(HeadCompareTest, LastBlocksSettleFilesDifferingAtTheEnd) {
  const std::string base = Bytes(HASH_TAIL_FROM + 5000, 5);
  auto a = MakeFile("d/a", base);
  auto b = MakeFile("d/b", base);
  auto e = MakeFile("d/e", Flipped(base, base.size() - 10));
  std::map<std::wstring, int> opens;
  FileCallHooks hooks;
  hooks.beforeOpen = [&](const std::wstring &path, DWORD flags) {
    if (IsHashingOpen(flags)) opens[path]++;
  };
  PassResult r = Run(At("d"));
  EXPECT_EQ(r.out, Lines({"", Del(a), Rem(b)}));
  EXPECT_EQ(opens[e], 1);  // the first and last blocks, one open
  EXPECT_EQ(opens[a], 1);  // and then hashed whole on the same handle
  CallReplaced<decltype(PlatformCalls::SetFilePointerEx)> noSeek(
      &platformCalls.SetFilePointerEx,
      [](HANDLE, LARGE_INTEGER, PLARGE_INTEGER, DWORD) -> BOOL {
        platformCalls.SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
      });
  r = Run(At("d"));
  EXPECT_EQ(r.out, Lines({"", Del(a), Rem(b)}));
}

// A file read whole on the handle its head was read on goes on from its
// head only while the file shows no change: one that changed in between
// (here in its first block, which the head had seen as its twins') is read
// again from its start, and is no twin. Where the system keeps writers off
// the open file (Windows), it can't change, and stays a twin.
TEST_F(HeadCompareTest, FileChangedAfterItsHeadIsReadAgainFromItsStart) {
  const std::string base = Bytes(3 * HASH_READ_SIZE, 9);
  auto a = MakeFile("d/a", base);
  auto b = MakeFile("d/b", base);
  auto v = MakeFile("d/v", base);
  static FileIdentity victim;
  static int looks;
  static std::wstring victimPath;
  victimPath = v;
  looks = 0;
  HANDLE h = platformCalls.CreateFileW(v.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                       nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(FileIdentityFromHandle(h, &victim));
  platformCalls.CloseHandle(h);
  using InfoCall = decltype(PlatformCalls::GetFileInformationByHandle);
  static InfoCall real;
  // The victim's second look (the whole read's, after its head's) finds it
  // rewritten: its first byte and its write time changed.
  CallReplaced<InfoCall> info(
      &platformCalls.GetFileInformationByHandle,
      [](HANDLE file, BY_HANDLE_FILE_INFORMATION *i) -> BOOL {
        const BOOL ok = real(file, i);
        if (!ok || i->nFileIndexLow != victim.indexLow ||
            i->nFileIndexHigh != victim.indexHigh || ++looks != 2)
          return ok;
        RewriteFirstByte(victimPath);
        return real(file, i);
      });
  real = info.saved();
  PassResult r = Run(At("d"));
  std::string now;
  ASSERT_TRUE(ReadBytes(v, &now));
  if (now == base)
    EXPECT_EQ(r.out, Lines({"", Del(a), Del(b), Rem(v)}));
  else
    EXPECT_EQ(r.out, Lines({"", Del(a), Rem(b)}));
  EXPECT_EQ(looks, 2);
}

TEST_F(HeadCompareTest, HeaderShowsTheWholeFileDigest) {
  const std::string base = Bytes(65536, 11);
  MakeFile("d/a", base);
  MakeFile("d/b", base);
  MakeFile("d/c", Flipped(base, 1));
  options.Verbose = 1;
  PassResult r = Run(At("d"));
  uint8_t digest[SHA256_BYTES];
  ASSERT_EQ(hashCalcSHA256(At("d/a").c_str(), digest), 0u);
  std::string hex;
  char two[3];
  for (uint8_t byte : digest) {
    snprintf(two, sizeof(two), "%02X", byte);
    hex += two;
  }
  EXPECT_EQ(r.out, Lines({"", "REM FileSize=65536 Hash=" + hex, Del(At("d/a")),
                          Rem(At("d/b"))}));
}

class HeadCompareHookTest : public HeadCompareTest {
 protected:
  void SetUp() override {
    HeadCompareTest::SetUp();
    // The head read opens a file as the whole hashing does: either is the
    // pass's first look at it.
    hooks_.beforeOpen = [this](const std::wstring &path, DWORD flags) {
      if (IsHashingOpen(flags) && onHash_) onHash_(path);
    };
  }
  void TearDown() override {
    hashPassPlain = 0;
    HeadCompareTest::TearDown();
  }
  // The pass on a tree that make builds afresh, with heads compared and
  // with every member hashed whole; both must print and count the same.
  PassResult Both(const std::function<void()> &make) {
    make();
    PassResult heads = Run(At("d"));
    RemoveTree(At("d"));
    make();
    hashPassPlain = 1;
    PassResult whole = Run(At("d"));
    hashPassPlain = 0;
    EXPECT_EQ(heads.out, whole.out);
    EXPECT_EQ(heads.hashed, whole.hashed);
    return heads;
  }
  // Removes the file when the pass is about to read it.
  void VanishOnHash(const std::wstring &victim) {
    onHash_ = [victim](const std::wstring &p) {
      if (p == victim) RemoveTree(p);
    };
  }

 private:
  FileCallHooks hooks_;
  std::function<void(const std::wstring &)> onHash_;
};

TEST_F(HeadCompareHookTest, UnopenableFileFailsInItsPlace) {
  const std::string base = Bytes(200000, 5);
  options.Debug = 1;
  PassResult r = Both([&] {
    MakeFile("d/a", Flipped(base, 9));
    MakeFile("d/b", base);
    MakeFile("d/c", base);
    MakeFile("d/e", Flipped(base, 20));
    VanishOnHash(At("d/b"));
  });
  const std::string fail = "ComputeSHA256 failed (0x2): \"" + P(At("d/b"));
  EXPECT_EQ(r.out.rfind(P(L"Err: Could not open file.\n") + fail, 0), 0u)
      << r.out;
  EXPECT_EQ(r.out.find("del "), std::string::npos) << r.out;
  EXPECT_EQ(r.hashed, 3u);
}

TEST_F(HeadCompareHookTest, GroupWhoseFirstFileFailsIsReadAgainPerVisit) {
  PassResult r = Both([&] {
    for (unsigned i = 0; i < 4; i++)
      MakeFile("d/" + std::to_string(i), Bytes(150000, i));
    VanishOnHash(At("d/0"));
  });
  size_t lines = 0;
  for (size_t p = 0;
       (p = r.out.find("ComputeSHA256 failed", p)) != std::string::npos; p++)
    lines++;
  EXPECT_EQ(lines, 4u) << r.out;
  EXPECT_EQ(r.hashed, 12u);
}

TEST_F(HeadCompareHookTest, FailuresKeepListOrderAmongTwins) {
  const std::string base = Bytes(33000, 8);
  options.Verbose = 1;
  Both([&] {
    MakeFile("d/a", base);
    MakeFile("d/b", Flipped(base, 32900));
    MakeFile("d/c", base);
    MakeFile("d/e", Flipped(base, 0));
    MakeFile("d/f", base);
    VanishOnHash(At("d/e"));
  });
}

}  // namespace
