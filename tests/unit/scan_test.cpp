// Directory scan on real temporary trees: what is recorded, where, and how
// its paths are built.
#include "scan/scan.h"

#include <cstdlib>
#include <cwchar>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/app.h"
#include "scan/lister.h"
#include "support/harness.h"
#include "support/seam.h"

namespace {

class ScanTest : public E2ETest {
 protected:
  void SetUp() override {
    E2ETest::SetUp();
    optionsClear();
    cntFilesInSource = cntFilesInTree = 0;
    tree = bintree_Allocate();
    source = linklist_Allocate();
  }
  void TearDown() override {
    ReleaseScan(tree, source);
    E2ETest::TearDown();
  }
  DWORD Scan(const std::wstring &dir, const std::wstring &filter,
             bool withSource = true) {
    return ScanDirectory(dir.c_str(), filter.c_str(), tree,
                         withSource ? source : nullptr);
  }
  static std::vector<std::wstring> Paths(linklist *list) {
    std::vector<std::wstring> out;
    ListElement *c = nullptr;
    for (FileRecord *r = linklist_FindFirst(list, &c); r != nullptr;
         r = linklist_FindNext(list, &c))
      out.push_back(FileRecordPathHere(r));
    return out;
  }
  std::vector<std::wstring> Group(uint64_t size) {
    auto *g = static_cast<SizeGroup *>(bintree_GetObject(
        tree, static_cast<DWORD>(size), static_cast<DWORD>(size >> 32)));
    return g == nullptr ? std::vector<std::wstring>{} : Paths(g->files);
  }
  std::set<std::wstring> SourceSet() {
    auto v = Paths(source);
    return {v.begin(), v.end()};
  }
  bintree *tree = nullptr;
  linklist *source = nullptr;
};

TEST_F(ScanTest, ZeroSizeFilesAreNeverRecorded) {
  MakeEmptyFile("empty");
  std::wstring one = MakeFile("one", "x");
  Scan(Root(), L"*");
  options.All = 1;
  Scan(Root(), L"");
  EXPECT_EQ(Paths(source), (std::vector<std::wstring>{one, one}));
  EXPECT_EQ(cntFilesInSource, 2u);
}

TEST_F(ScanTest, TwoSameSizeFilesGiveOneGroupAndFourRecords) {
  std::wstring a = MakeFile("a", "12345");
  std::wstring b = MakeFile("b", "abcde");
  Scan(Root(), L"*");
  EXPECT_EQ(SourceSet(), (std::set<std::wstring>{a, b}));
  EXPECT_EQ(Group(5).size(), 2u);
  EXPECT_EQ(cntFilesInSource, 2u);
  EXPECT_EQ(cntFilesInTree, 2u);
  ListElement *c = nullptr;
  auto *g = static_cast<SizeGroup *>(bintree_GetObject(tree, 5, 0));
  FileRecord *r = linklist_FindFirst(g->files, &c);
  EXPECT_EQ(r->fInSource, 1);
  EXPECT_EQ(r->size, 5u);
}

TEST_F(ScanTest, HiddenFilesOnlyWithAllButHiddenDirsAlwaysEntered) {
  std::wstring h = MakeFile(".hidden", "hhh");
  ASSERT_TRUE(SetHidden(h));
  std::wstring d = MakeSubdir(".hdir");
  ASSERT_TRUE(SetHidden(d));
  std::wstring inner = MakeFile(".hdir/inner", "iii");
  options.Recurse = 1;
  Scan(Root(), L"*");
  EXPECT_EQ(SourceSet(), (std::set<std::wstring>{inner}));
  options.All = 1;
  Scan(Root(), L"*");
  EXPECT_EQ(SourceSet(), (std::set<std::wstring>{inner, h}));
}

TEST_F(ScanTest, FilterAppliesToFilesInEverySubdirectory) {
  std::wstring top = MakeFile("top.jpg", "1");
  MakeFile("top.txt", "2");
  std::wstring deep = MakeFile("x/y.txt/deep.JPG", "3");
  MakeFile("x/other.png", "4");
  options.Recurse = 1;
  Scan(Root(), L"*.jpg");
  EXPECT_EQ(SourceSet(), (std::set<std::wstring>{top, deep}));
}

TEST_F(ScanTest, WithoutRecurseSubdirectoriesAreNotEntered) {
  std::wstring top = MakeFile("top", "1");
  MakeFile("sub/inner", "2");
  Scan(Root(), L"*");
  EXPECT_EQ(SourceSet(), (std::set<std::wstring>{top}));
}

TEST_F(ScanTest, ThreeDotDirectoryIsEntered) {
  std::wstring d = At("...");
  if (!MakeDir(d)) GTEST_SKIP() << "this file system refuses the name ...";
  std::wstring f = MakeFile(".../f", "data");
  options.Recurse = 1;
  Scan(Root(), L"*");
  EXPECT_EQ(SourceSet(), (std::set<std::wstring>{f}));
}

TEST_F(ScanTest, DestinationModeRecordsOnlySourceSizes) {
  MakeFile("src/a", "12345");
  std::wstring same = MakeFile("dst/same-size", "zzzzz");
  MakeFile("dst/other-size", "zz");
  Scan(At("src"), L"*");
  Scan(At("dst"), L"*", false);
  EXPECT_EQ(Group(5).size(), 2u);
  EXPECT_EQ(Group(5)[1], same);
  EXPECT_TRUE(Group(2).empty());
  EXPECT_EQ(cntFilesInTree, 2u);
  EXPECT_EQ(cntFilesInSource, 1u);
}

TEST_F(ScanTest, MissingDirectoryIsReportedWithoutLineEnd) {
  std::wstring missing = At("missing");
  std::string out = CaptureOutput([&] { EXPECT_EQ(Scan(missing, L"*"), 87u); });
  EXPECT_EQ(out, "Err: \"" + P(missing) + "\" is not a directory.");
}

TEST_F(ScanTest, SizesAbove4GiBKeepBothWords) {
  std::wstring big = At("big");
  if (!MakeSparseFile(big, (1ull << 32) + 1)) GTEST_SKIP() << "no sparse files";
  Scan(Root(), L"*");
  EXPECT_EQ(Group((1ull << 32) + 1).size(), 1u);
  EXPECT_TRUE(Group(1).empty());
}

// Records of folders deeper than MAX_PATH, at every level of the descent,
// rebuild their whole paths, in the source list and in their groups.
TEST_F(ScanTest, DeepFolderPathsAreRebuiltWhole) {
  std::string rel;
  std::set<std::wstring> files;
  std::wstring top, deepest;
  for (char c = 'a'; rel.size() < 300; c++) {
    // Sizes 1, 2, 3...: one group per level.
    std::wstring f = MakeFile(rel + "f", std::string(rel.size() / 61 + 1, c));
    if (top.empty()) top = f;
    files.insert(f);
    rel += std::string(60, c) + "/";
  }
  deepest = MakeFile(rel + "g", "z");  // size 1, as top
  files.insert(deepest);
  ASSERT_GT(deepest.size(), (size_t)MAX_PATH);
  options.Recurse = 1;
  EXPECT_EQ(Scan(Root(), L"*"), 0u);
  EXPECT_EQ(SourceSet(), files);
  EXPECT_EQ(Group(1), (std::vector<std::wstring>{top, deepest}));
}

// The listing of a root folder, faked: one file, "f.jpg" of 5 bytes.
HANDLE const kRootListing = reinterpret_cast<HANDLE>(0x5107);
std::wstring rootPattern;
PlatformCalls::FindFirstFileWType realFindFirst;
PlatformCalls::FindNextFileWType realFindNext;
PlatformCalls::FindCloseType realFindClose;

HANDLE WINAPI FindFirstRoot(LPCWSTR pattern, WIN32_FIND_DATAW *fd) {
  if (rootPattern != pattern) return realFindFirst(pattern, fd);
  *fd = WIN32_FIND_DATAW{};
  fd->dwFileAttributes = FILE_ATTRIBUTE_NORMAL;
  fd->nFileSizeLow = 5;
  wcscpy(fd->cFileName, L"f.jpg");
  return kRootListing;
}

BOOL WINAPI FindNextRoot(HANDLE find, WIN32_FIND_DATAW *fd) {
  if (find != kRootListing) return realFindNext(find, fd);
  platformCalls.SetLastError(ERROR_NO_MORE_FILES);
  return FALSE;
}

BOOL WINAPI FindCloseRoot(HANDLE find) {
  return find == kRootListing ? TRUE : realFindClose(find);
}

// A root folder already ends where its names begin (a bare drive names its
// current folder): its files' paths get no separator of their own.
TEST_F(ScanTest, RootFolderPathsGetNoSecondSeparator) {
#if defined(_WIN32)
  const std::wstring roots[] = {L"C:\\", L"C:"};
#else
  const std::wstring roots[] = {L"/"};
#endif
  CallReplaced<PlatformCalls::FindFirstFileWType> first(
      &platformCalls.FindFirstFileW, FindFirstRoot);
  CallReplaced<PlatformCalls::FindNextFileWType> next(
      &platformCalls.FindNextFileW, FindNextRoot);
  CallReplaced<PlatformCalls::FindCloseType> close(&platformCalls.FindClose,
                                                   FindCloseRoot);
  realFindFirst = first.saved();
  realFindNext = next.saved();
  realFindClose = close.saved();
  for (const std::wstring &root : roots) {
    rootPattern = root + L"*";
    ReleaseScan(tree, source);
    tree = bintree_Allocate();
    source = linklist_Allocate();
    EXPECT_EQ(Scan(root, L"*"), 0u);
    const std::vector<std::wstring> expected = {root + L"f.jpg"};
    EXPECT_EQ(Paths(source), expected);
    EXPECT_EQ(Group(5), expected);
  }
}

// A new size group the tree cannot take (its node finds no memory) is
// given back at once; the file still goes into the source list.
TEST_F(ScanTest, GroupTheTreeRefusedIsReleased) {
  WIN32_FIND_DATAW fd = {};
  fd.nFileSizeLow = 7;
  const std::wstring path = JoinPath(Root(), L"seven");
  ContainerFaultScope faults;
  containerFaults.alloc = 2;  // the group's list header, then the node
  EXPECT_EQ(bintree_AddObject(path.c_str(), &fd, tree, source), 8u);
  EXPECT_EQ(containerFaults.live, 1);  // the source list's element alone
  EXPECT_TRUE(Group(7).empty());
  EXPECT_EQ(Paths(source), (std::vector<std::wstring>{path}));
  EXPECT_EQ(cntFilesInTree, 0u);
  // The next file of that size makes the group.
  EXPECT_EQ(bintree_AddObject(path.c_str(), &fd, tree, nullptr), 0u);
  EXPECT_EQ(Group(7), (std::vector<std::wstring>{path}));
}

using ListerStartCall = decltype(ThreadStart);
using NextCall = decltype(PlatformCalls::FindNextFileW);
ListerStartCall realListerStart = nullptr;
NextCall realNext = nullptr;
int nextsLeft = 0;  // the FindNextFileW that makes this 0 fails

// The listing runs to its end before the scan takes any of it.
bool StartAndFinish(std::thread *t, std::function<void()> body) {
  if (!realListerStart(t, std::move(body))) return false;
  t->join();
  return true;
}

bool NoThread(std::thread *, std::function<void()>) { return false; }

BOOL WINAPI FailingNext(HANDLE find, WIN32_FIND_DATAW *fd) {
  if (--nextsLeft == 0) {
    platformCalls.SetLastError(ERROR_NOT_READY);
    return FALSE;
  }
  return realNext(find, fd);
}

struct Listed {
  DWORD rc = 0;
  std::string out;
  std::string err;  // the folders named on standard error
  std::vector<std::wstring> paths;
};

// The line that names a folder that could not be read with code.
std::string UnreadLine(const std::wstring &dir, DWORD code) {
  platformCalls.SetLastError(code);
  wchar_t text[ERROR_TEXT_CAPACITY];
  SystemErrorText(text, ERROR_TEXT_CAPACITY);
  return "TwinSift: a folder could not be read (" + std::to_string(code) +
         "): \"" + P(dir) + "\" " + P(text) + "\n";
}

// The listing of one scan fails at its failAt-th step to a next entry (0:
// none fails), with the listing started by start; the scan's output (with
// Debug) and records.
Listed ScanFailingAt(const std::wstring &dir, ListerStartCall start,
                     int failAt) {
  CallReplaced<ListerStartCall> starts(&ThreadStart, start);
  realListerStart = starts.saved();
  CallReplaced<NextCall> next(&platformCalls.FindNextFileW, FailingNext);
  realNext = next.saved();
  nextsLeft = failAt;
  bintree *t = bintree_Allocate();
  linklist *src = linklist_Allocate();
  Listed r;
  testing::internal::CaptureStderr();
  r.out =
      CaptureOutput([&] { r.rc = ScanDirectory(dir.c_str(), L"*", t, src); });
  r.err = testing::internal::GetCapturedStderr();
  ListElement *c = nullptr;
  for (FileRecord *f = linklist_FindFirst(src, &c); f != nullptr;
       f = linklist_FindNext(src, &c))
    r.paths.push_back(FileRecordPathHere(f));
  ReleaseScan(t, src);
  return r;
}

// A listing that fails part-way (a file listing, a subdirectory listing,
// within a directory's later chunk) while the scan is behind it: the scan
// records what it would have recorded listing on its own thread, in the
// same order, with the same output and result, and names the folder once.
TEST_F(ScanTest, ListingThatFailsAheadOfTheScanEndsWhereItFailed) {
  for (int d = 0; d < 3; d++)
    for (int f = 0; f < 30; f++)
      MakeFile("d/s" + std::to_string(d) + "/t/f" + std::to_string(f),
               std::string(1 + f, 'x'));
  for (int f = 0; f < 1100; f++) MakeFile("d/big/f" + std::to_string(f), "y");
  options.Recurse = 1;
  options.Debug = 1;
  const Listed whole = ScanFailingAt(At("d"), NoThread, 0);
  const int steps = -nextsLeft;  // the whole listing's steps
  EXPECT_EQ(whole.paths.size(), 90u + 1100u);
  size_t lost = 0;
  for (int failAt : {1, steps / 5, steps / 3, steps / 2, steps - 40}) {
    const Listed here = ScanFailingAt(At("d"), NoThread, failAt);
    const Listed ahead = ScanFailingAt(At("d"), StartAndFinish, failAt);
    lost += whole.paths.size() - here.paths.size();
    EXPECT_EQ(ahead.paths, here.paths) << failAt;
    EXPECT_EQ(ahead.out, here.out) << failAt;
    EXPECT_EQ(ahead.rc, here.rc) << failAt;
    EXPECT_EQ(ahead.err, here.err) << failAt;
    EXPECT_EQ(SplitLines(here.err).size(), 1u) << failAt;
    EXPECT_EQ(here.err.find("TwinSift: a folder could not be read (21): \""),
              0u)
        << failAt;
  }
  EXPECT_EQ(whole.err, "");
  EXPECT_GT(lost, 0u);
  const Listed ahead = ScanFailingAt(At("d"), StartAndFinish, 0);
  EXPECT_EQ(ahead.paths, whole.paths);
  EXPECT_EQ(ahead.out, whole.out);
}

using FindCall = decltype(PlatformCalls::FindFirstFileW);
using FindExCall = decltype(PlatformCalls::FindFirstFileExW);
FindCall realFind = nullptr;
FindExCall realFindEx = nullptr;
std::wstring lockedDir;  // its listings fail with access denied

bool InLocked(LPCWSTR pattern) {
  return std::wstring(pattern).rfind(JoinPath(lockedDir, L""), 0) == 0;
}

HANDLE WINAPI LockedFind(LPCWSTR pattern, WIN32_FIND_DATAW *fd) {
  if (!InLocked(pattern)) return realFind(pattern, fd);
  platformCalls.SetLastError(ERROR_ACCESS_DENIED);
  return INVALID_HANDLE_VALUE;
}

HANDLE WINAPI LockedFindEx(LPCWSTR pattern, FINDEX_INFO_LEVELS level, void *fd,
                           FINDEX_SEARCH_OPS op, void *filter, DWORD flags) {
  if (!InLocked(pattern))
    return realFindEx(pattern, level, fd, op, filter, flags);
  platformCalls.SetLastError(ERROR_ACCESS_DENIED);
  return INVALID_HANDLE_VALUE;
}

// A folder that cannot be listed at all is named once, in scan order,
// whether the listing runs ahead or not; what lies beside it is scanned
// and what lies below it is not. A filter that matches nothing in a
// readable folder is no failure.
TEST_F(ScanTest, FolderThatCannotBeListedIsNamedOnceInScanOrder) {
  const std::wstring a = MakeFile("d/a/f1", "1");
  MakeFile("d/locked/f2", "22");
  MakeFile("d/locked/sub/f3", "333");
  const std::wstring z = MakeFile("d/z/f4", "4444");
  MakeSubdir("d/y");
  lockedDir = At("d/locked");
  CallReplaced<FindCall> find(&platformCalls.FindFirstFileW, LockedFind);
  realFind = find.saved();
  CallReplaced<FindExCall> findEx(&platformCalls.FindFirstFileExW,
                                  LockedFindEx);
  realFindEx = findEx.saved();
  options.Recurse = 1;
  for (ListerStartCall start : {NoThread, StartAndFinish}) {
    CallReplaced<ListerStartCall> starts(&ThreadStart, start);
    realListerStart = starts.saved();
    ProgressStart();
    testing::internal::CaptureStderr();
    Scan(At("d"), L"f*");
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, UnreadLine(lockedDir, ERROR_ACCESS_DENIED));
    EXPECT_EQ(progress.foldersUnread, 1u);
    EXPECT_EQ(SourceSet(), (std::set<std::wstring>{a, z}));
    ReleaseScan(tree, source);
    tree = bintree_Allocate();
    source = linklist_Allocate();
  }
}

}  // namespace
