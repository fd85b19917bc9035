// The hashing pass on worker threads, where they fail: threads that cannot
// start, a device that cannot tell its seek penalty, files that vanish
// within one hand-off. The report stays that of hashing on this thread.
#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/app.h"
#include "dups/dups.h"
#include "hash/hash.h"
#include "support/harness.h"
#include "support/seam.h"

namespace {

bool inPass = false;  // the thread starts counted are the pass's

struct PassResult {
  std::string out;
  uint32_t hashed;
};

class WorkersTest : public E2ETest {
 protected:
  void SetUp() override {
    E2ETest::SetUp();
    optionsClear();
  }
  void TearDown() override {
    hashPassPlain = 0;
    optionsClear();
    E2ETest::TearDown();
  }
  PassResult Run() {
    options.uCntParms = 1;
    cntFilesHashed = 0;
    bintree *tree = bintree_Allocate();
    linklist *source = linklist_Allocate();
    ScanDirectory(At("d").c_str(), L"*", tree, source);
    PassResult r;
    options.Debug = 1;  // the Debug texts of failures are compared too
    inPass = true;
    r.out = CaptureOutput([&] { HashGroupsAndCompare(source, tree); });
    inPass = false;
    options.Debug = 0;
    r.hashed = cntFilesHashed;
    ReleaseScan(tree, source);
    EXPECT_EQ(memCheckCnt, 0);
    return r;
  }
  // The same tree hashed every member whole on this thread.
  PassResult Plain() {
    hashPassPlain = 1;
    PassResult r = Run();
    hashPassPlain = 0;
    return r;
  }
  // Groups of small files (one head or less, and more) and of files of
  // several reads, each with a pair of twins.
  void MakeTree() {
    for (size_t size : {1000u, 4096u, 9000u, 300000u}) {
      const std::string base(size, 'a');
      const std::string d = "d/" + std::to_string(size);
      MakeFile(d + "a", base);
      MakeFile(d + "b", base + "");
      MakeFile(d + "c", std::string(size, 'c'));
      MakeFile(d + "e", std::string(size - 1, 'a') + "e");
    }
  }
};

using StartCall = decltype(ThreadStart);
StartCall realStart = nullptr;
int startsLeft = 0;  // the start that makes this 0 fails

bool CountedStart(std::thread *t, std::function<void()> body) {
  if (inPass && --startsLeft == 0) return false;
  return realStart(t, std::move(body));
}

TEST_F(WorkersTest, ThreadsThatCannotStartLeaveTheWorkToThisThread) {
  MakeTree();
  const PassResult plain = Plain();
  const int cores = std::max(1u, std::thread::hardware_concurrency());
  for (int n : {1, 2, cores}) {  // the first, the second, the last hasher
    CallReplaced<StartCall> start(&ThreadStart, CountedStart);
    realStart = start.saved();
    startsLeft = n;
    PassResult r = Run();
    EXPECT_EQ(r.out, plain.out) << n;
    EXPECT_EQ(r.hashed, plain.hashed) << n;
    EXPECT_EQ(hashPassReads.oneReader + hashPassReads.ownReads, 0u) << n;
  }
}

using DeviceCall = decltype(PlatformCalls::GetVolumeSeekPenalty);
int queries = 0;

int CannotTell(const wchar_t *) {
  queries++;
  return kSeekUnknown;
}

int NoSeekPenalty(const wchar_t *) {
  queries++;
  return kSeekNone;
}

TEST_F(WorkersTest, DeviceThatCannotTellIsReadUnderTheGate) {
  MakeTree();
  const PassResult plain = Plain();
  {
    queries = 0;
    CallReplaced<DeviceCall> query(&platformCalls.GetVolumeSeekPenalty,
                                   CannotTell);
    PassResult r = Run();
    EXPECT_EQ(r.out, plain.out);
    EXPECT_EQ(r.hashed, plain.hashed);
    EXPECT_GT(hashPassReads.oneReader, 0u);
    EXPECT_EQ(hashPassReads.ownReads, 0u);
  }
  queries = 0;
  CallReplaced<DeviceCall> query(&platformCalls.GetVolumeSeekPenalty,
                                 NoSeekPenalty);
  PassResult r = Run();
  EXPECT_EQ(r.out, plain.out);
  EXPECT_EQ(r.hashed, plain.hashed);
  EXPECT_GT(queries, 0);
  EXPECT_EQ(hashPassReads.oneReader, 0u);
  EXPECT_GT(hashPassReads.ownReads, 0u);
}

using CachedCall = decltype(PlatformCalls::ReadFileCached);
CachedCall realCached = nullptr;

BOOL FailingCachedRead(HANDLE, void *, DWORD, DWORD *read) {
  *read = 0;
  platformCalls.SetLastError(ERROR_READ_FAULT);
  return FALSE;
}

BOOL HalfCachedRead(HANDLE file, void *buf, DWORD toRead, DWORD *read) {
  return realCached(file, buf, toRead > 1 ? toRead / 2 : toRead, read);
}

// A volume that seeks is read from memory without the gate where the data
// is there: a look into memory that fails, or finds only part of a read
// there, leaves the rest to the device's reads, and the report stays.
TEST_F(WorkersTest, ReadsFromMemoryThatFailOrComeInPartsChangeNothing) {
  MakeTree();
  const PassResult plain = Plain();
  CallReplaced<DeviceCall> query(&platformCalls.GetVolumeSeekPenalty,
                                 CannotTell);
  for (CachedCall probe : {FailingCachedRead, HalfCachedRead}) {
    CallReplaced<CachedCall> cached(&platformCalls.ReadFileCached, probe);
    realCached = cached.saved();
    const PassResult r = Run();
    EXPECT_EQ(r.out, plain.out);
    EXPECT_EQ(r.hashed, plain.hashed);
    EXPECT_GT(hashPassReads.oneReader, 0u);
  }
}

// Files of a volume with a seek penalty are read under one gate (open once
// the reads prove quick, as these from the page cache soon do), a piece
// at a time, by every hasher in turn: a read that fails part-way through
// one of them (past its first piece) fails that file alone, and every other
// file is hashed as when each is hashed whole on this thread.
TEST_F(WorkersTest, GatedReadsKeepAFailedReadToItsFile) {
  const size_t size = 3 * 8 * HASH_READ_SIZE + 1000;
  for (int g = 0; g < 3; g++) {
    // One head and one last block for the whole group: each is read whole.
    std::string body(size + g, static_cast<char>('a' + g));
    const std::string d = "d/" + std::to_string(g);
    MakeFile(d + "a", body);
    MakeFile(d + "b", body);
    MakeFile(d + "v", body);
    body[size / 2] = 'x';
    MakeFile(d + "c", body);
  }
  FileIdentity victim;
  HANDLE h = platformCalls.CreateFileW(At("d/1v").c_str(), GENERIC_READ,
                                       FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                       0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(FileIdentityFromHandle(h, &victim));
  platformCalls.CloseHandle(h);
  // The victim's reads since it was last opened: the tenth fails.
  int reads = 0;
  FileCallHooks hooks;
  hooks.beforeOpen = [&](const std::wstring &path, DWORD) {
    if (path == At("d/1v")) reads = 0;
  };
  hooks.failRead = [&](HANDLE file) {
    FileIdentity id;
    if (!FileIdentityFromHandle(file, &id) || !SameFileIdentity(&id, &victim) ||
        ++reads != 10)
      return false;
    platformCalls.SetLastError(ERROR_READ_FAULT);
    return true;
  };
  const PassResult plain = Plain();
  ASSERT_NE(plain.out.find("ComputeSHA256 failed (0x1e): \"" + P(At("d/1v"))),
            std::string::npos)
      << plain.out;
  CallReplaced<DeviceCall> query(&platformCalls.GetVolumeSeekPenalty,
                                 CannotTell);
  const PassResult r = Run();
  EXPECT_EQ(r.out, plain.out);
  EXPECT_EQ(r.hashed, plain.hashed);
  EXPECT_EQ(hashPassReads.ownReads, 0u);
}

// Files of one hand-off vanish when the pass opens its first file: each
// fails in its place, in list order, as when every file is hashed here.
TEST_F(WorkersTest, FilesVanishingWithinOneHandOffFailInListOrder) {
  auto make = [&] {
    for (int i = 0; i < 40; i++)
      MakeFile("d/f" + std::to_string(100 + i),
               std::string(300, static_cast<char>('a' + i % 4)));
  };
  std::vector<std::wstring> victims;
  for (int i = 3; i < 40; i += 5)
    victims.push_back(At("d/f" + std::to_string(100 + i)));
  bool gone = false;
  FileCallHooks hooks;
  hooks.beforeOpen = [&](const std::wstring &, DWORD flags) {
    if (!IsHashingOpen(flags) || gone) return;
    gone = true;
    for (const std::wstring &v : victims) RemoveTree(v);
  };
  make();
  const PassResult plain = Plain();
  RemoveTree(At("d"));
  make();
  gone = false;
  const PassResult r = Run();
  EXPECT_EQ(r.out, plain.out);
  EXPECT_EQ(r.hashed, plain.hashed);
  // The order is the plain pass's: the list's.
  for (const std::wstring &v : victims)
    EXPECT_NE(r.out.find("ComputeSHA256 failed (0x2): \"" + P(v) + "\""),
              std::string::npos)
        << P(v);
}

}  // namespace
