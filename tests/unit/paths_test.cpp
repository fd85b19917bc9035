// Path helpers: joining, the directory test, resolution and splitting.
#include "paths/paths.h"

#include <algorithm>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "app/app.h"
#include "support/harness.h"

namespace {

const std::wstring kSep(1, kPathSep);

// StringConcat on a buffer sized the way callers size it, with guard
// characters after it that must survive.
std::wstring Concat(const std::wstring &path, const wchar_t *tail) {
  size_t tailLen = tail ? std::wstring(tail).size() : 0;
  size_t cap = path.size() + tailLen + 2;
  std::vector<wchar_t> buf(cap + 4, L'#');
  std::copy(path.begin(), path.end(), buf.begin());
  buf[path.size()] = L'\0';
  StringConcat(buf.data(), cap, tail);
  for (size_t i = cap; i < buf.size(); i++) EXPECT_EQ(buf[i], L'#');
  return buf.data();
}

TEST(StringConcat, AddsThePlatformSeparatorBetweenPathAndTail) {
  EXPECT_EQ(Concat(L"C:\\D", L"Filename.ext"),
            L"C:\\D" + kSep + L"Filename.ext");
  EXPECT_EQ(Concat(L"dir", L"f"), L"dir" + kSep + L"f");
}

TEST(StringConcat, PathEndingInEitherSeparatorGetsNoSecondOne) {
  EXPECT_EQ(Concat(L"C:\\", L"F"), L"C:\\F");
  EXPECT_EQ(Concat(L"dir/", L"F"), L"dir/F");
  EXPECT_EQ(Concat(L"\\", L"F"), L"\\F");
}

// A '\' ending a path below its root is the separator on Windows; on Linux
// it ends a name (a listed name may hold one), so the '/' still follows.
TEST(StringConcat, TrailingBackslashBelowARootEndsANameOnLinux) {
  const bool windows = kPathSep == L'\\';
  EXPECT_EQ(Concat(L"d\\", L"F"), windows ? L"d\\F" : L"d\\/F");
  EXPECT_EQ(Concat(L"/a/b\\", L"F"), windows ? L"/a/b\\F" : L"/a/b\\/F");
  EXPECT_EQ(Concat(L"d\\/", L"F"), L"d\\/F");
}

// A folder made the prefix of its entries' paths ends where a join would
// put a name; the separator goes in only when it fits.
TEST(PathEntryPrefix, EndsWhereAJoinPutsTheName) {
  for (const wchar_t *path :
       {L"", L"C:", L"C:\\", L"\\", L"/", L"dir", L"dir/", L"d\\"}) {
    std::vector<wchar_t> buf(wcslen(path) + 2, L'\0');
    std::copy(path, path + wcslen(path), buf.begin());
    PathEntryPrefix(buf.data(), buf.size());
    EXPECT_EQ(std::wstring(buf.data()) + L"F", Concat(path, L"F")) << path;
  }
  wchar_t full[4] = {L'd', L'i', L'r', L'\0'};
  PathEntryPrefix(full, 4);
  EXPECT_EQ(std::wstring(full), L"dir");
}

TEST(StringConcat, BareDriveGetsNoSeparator) {
  EXPECT_EQ(Concat(L"C:", L"F"), L"C:F");
  EXPECT_EQ(Concat(L"c:", L"F"), L"c:F");
  // Not a letter, so not a drive.
  EXPECT_EQ(Concat(L"1:", L"F"), L"1:" + kSep + L"F");
}

TEST(StringConcat, EmptyPathGivesTheTailAlone) {
  EXPECT_EQ(Concat(L"", L"Filename.ext"), L"Filename.ext");
}

TEST(StringConcat, EmptyOrMissingTailChangesNothing) {
  for (const wchar_t *path : {L"", L"C:", L"C:\\", L"dir"}) {
    EXPECT_EQ(Concat(path, L""), path);
    EXPECT_EQ(Concat(path, nullptr), path);
  }
}

TEST(StringConcat, CapacityOneLeavesTheBufferEmpty) {
  wchar_t buf[3] = {L'\0', L'#', L'#'};
  StringConcat(buf, 1, L"F");
  EXPECT_EQ(buf[0], L'\0');
  EXPECT_EQ(buf[1], L'#');
  EXPECT_EQ(buf[2], L'#');
}

TEST(StringConcat, TailIsCutToFitTheCapacity) {
  wchar_t buf[10] = {L'a', L'b', L'\0', L'#', L'#', L'#', L'#', L'#', L'#'};
  StringConcat(buf, 6, L"cdefg");
  EXPECT_EQ(std::wstring(buf), L"ab" + kSep + L"cd");
  EXPECT_EQ(buf[6], L'#');
}

TEST(StringConcat, MissingBufferIsReportedUnderDebugOnly) {
  optionsClear();
  EXPECT_EQ(CaptureOutput([] { StringConcat(nullptr, 5, L"F"); }), "");
  options.Debug = 1;
  EXPECT_EQ(CaptureOutput([] { StringConcat(nullptr, 5, L"F"); }),
            "StringConcat - NULL parameter");
  optionsClear();
}

TEST(IsADir, WildcardIsNeverADirectory) {
  EXPECT_EQ(IsADir(L"C:\\*"), 0);
  EXPECT_EQ(IsADir(L"?:\\"), 0);
  EXPECT_EQ(IsADir(L"*"), 0);
  EXPECT_EQ(IsADir(L".\\?"), 0);
}

TEST(IsADir, RootsAreDirectoriesWithoutLookingAtTheDisk) {
  for (const wchar_t *root :
       {L"\\", L"/", L"C:\\", L"J:\\", L"q:/", L"1:\\", L"#:/"}) {
    EXPECT_EQ(IsADir(root), 1) << P(root);
  }
}

TEST(IsADir, BareDriveIsADirectoryButOnlyForALetter) {
  EXPECT_EQ(IsADir(L"C:"), 1);
  EXPECT_EQ(IsADir(L"z:"), 1);
  EXPECT_EQ(IsADir(L"1:"), 0);  // looked up, and not there
}

TEST(IsADir, EmptyPathIsNoDirectory) { EXPECT_EQ(IsADir(L""), 0); }

TEST(IsADir, CurrentDirectoryIsADirectory) { EXPECT_EQ(IsADir(L"."), 1); }

// The fixture's temporary directory serves the tests that need a real tree.
class PathsOnDisk : public E2ETest {};

TEST_F(PathsOnDisk, ExistingDirectoryButNotWithATrailingSeparator) {
  std::wstring dir = MakeSubdir("sub");
  EXPECT_EQ(IsADir(dir.c_str()), 1);
  EXPECT_EQ(IsADir((dir + kSep + L".").c_str()), 1);
  EXPECT_EQ(IsADir((dir + kSep).c_str()), 0);
  EXPECT_EQ(IsADir((dir + L"\\").c_str()), 0);
  EXPECT_EQ(IsADir((dir + L"/").c_str()), 0);
}

TEST_F(PathsOnDisk, FilesAndMissingPathsAreNoDirectories) {
  std::wstring file = MakeFile("file.txt", "data");
  EXPECT_EQ(IsADir(file.c_str()), 0);
  EXPECT_EQ(IsADir(At("missing").c_str()), 0);
  EXPECT_EQ(IsADir(At("missing/.").c_str()), 0);
}

TEST_F(PathsOnDisk, WildcardUnderAnExistingDirectoryIsNoDirectory) {
  MakeSubdir("sub");
  EXPECT_EQ(IsADir((At("sub") + kSep + L"*").c_str()), 0);
  EXPECT_EQ(IsADir((Root() + kSep + L"s?b").c_str()), 0);
}

struct SplitResult {
  std::wstring dir;
  std::wstring name;
};

// One balanced split: the two parts, with the count raised by two while
// they are held.
SplitResult Split(const wchar_t *path) {
  int32_t before = fsplit_leakcheck;
  wchar_t *dir = nullptr;
  wchar_t *name = nullptr;
  fsplit_with_allocs(path, &dir, &name);
  EXPECT_EQ(fsplit_leakcheck, before + 2);
  SplitResult r{dir ? dir : L"<null>", name ? name : L"<null>"};
  fsplit_dealloc(dir, name);
  EXPECT_EQ(fsplit_leakcheck, before);
  return r;
}

struct SplitRow {
  const wchar_t *path;
  const wchar_t *dir;
  const wchar_t *name;
};

// The paths that none of the test machines has as directories.
const SplitRow kSplitRows[] = {
    {L"", L"", L""},
    {L"\\", L"\\", L""},
    {L"C:", L"C:", L""},
    {L"C:\\", L"C:\\", L""},
    {L".", L".", L""},
    {L"C:.", L"C:.", L""},
    {L"C:\\.", L"C:\\.", L""},
    {L".\\", L".", L""},
    {L"C:.\\F.T", L"C:.", L"F.T"},
    {L".e", L"", L".e"},
    {L"F", L"", L"F"},
    {L"F.", L"", L"F."},
    {L"\\F", L"\\", L"F"},
    {L"C:F", L"C:", L"F"},
    {L"C:\\F", L"C:\\", L"F"},
    {L"C:\\FILE", L"C:\\", L"FILE"},
    {L"C:\\foo\\..\\F", L"C:\\foo\\..", L"F"},
    {L"C:\\foo\\..\\F.TXT", L"C:\\foo\\..", L"F.TXT"},
    {L"C:\\foo\\..\\F.", L"C:\\foo\\..", L"F."},
    {L"C:\\PATH\\", L"C:\\PATH", L""},
    {L"C:\\PATH\\.", L"C:\\PATH\\.", L""},
    {L"C:\\PATH\\..", L"C:\\PATH\\..", L""},
    {L"C:\\PATH\\..\\F", L"C:\\PATH\\..", L"F"},
    {L"C:\\PATH\\F", L"C:\\PATH", L"F"},
    {L"C:\\PATH1\\PATH2\\FILENAME.TXT", L"C:\\PATH1\\PATH2", L"FILENAME.TXT"},
    {L"/etc/.host", L"/etc", L".host"},
    {L"j:.", L"j:.", L""},
    // A '.' after '\' splits where one after '/' does not.
    {L"\\etc\\.host", L"\\etc\\.", L"host"},
    // Two dots in a row in the last component split after the second.
    {L"C:\\dir\\a..b", L"C:\\dir\\a..", L"b"},
    {L"/tmp/", L"/tmp", L""},
    {L"/", L"/", L""},
    {L"C:/", L"C:/", L""},
};

TEST(FsplitWithAllocs, WorkedTable) {
  for (const SplitRow &row : kSplitRows) {
    SCOPED_TRACE(P(row.path));
    SplitResult r = Split(row.path);
    EXPECT_EQ(r.dir, row.dir);
    EXPECT_EQ(r.name, row.name);
  }
  EXPECT_EQ(fsplit_leakcheck, 0);
}

TEST_F(PathsOnDisk, SplitOfAnExistingDirectoryKeepsItWhole) {
  std::wstring dir = MakeSubdir("pics.jpg");
  SplitResult r = Split(dir.c_str());
  EXPECT_EQ(r.dir, dir);
  EXPECT_EQ(r.name, L"");
}

TEST_F(PathsOnDisk, SplitOfAFileOrPatternGivesItsParent) {
  std::wstring file = MakeFile("a.txt", "x");
  SplitResult r = Split(file.c_str());
  EXPECT_EQ(r.dir, Root());
  EXPECT_EQ(r.name, L"a.txt");
  r = Split((Root() + kSep + L"*.jpg").c_str());
  EXPECT_EQ(r.dir, Root());
  EXPECT_EQ(r.name, L"*.jpg");
}

class FsplitRefusal : public ::testing::Test {
 protected:
  void SetUp() override { optionsClear(); }
  void TearDown() override { optionsClear(); }
};

TEST_F(FsplitRefusal, MissingArgumentsLeaveOutputsAndCountUntouched) {
  wchar_t *dir = nullptr;
  wchar_t *name = nullptr;
  std::string out = CaptureOutput([&] {
    fsplit_with_allocs(nullptr, &dir, &name);
    fsplit_with_allocs(L"C:\\F", nullptr, &name);
    fsplit_with_allocs(L"C:\\F", &dir, nullptr);
  });
  EXPECT_EQ(out, "");
  EXPECT_EQ(dir, nullptr);
  EXPECT_EQ(name, nullptr);
  EXPECT_EQ(fsplit_leakcheck, 0);

  options.Debug = 1;
  out = CaptureOutput([&] { fsplit_with_allocs(nullptr, &dir, &name); });
  EXPECT_EQ(out, Lines({"fsplit_with_allocs - NULL parameter"}));
  EXPECT_EQ(dir, nullptr);
  EXPECT_EQ(fsplit_leakcheck, 0);
}

TEST_F(FsplitRefusal, OutputAlreadySetLeavesOutputsAndCountUntouched) {
  wchar_t held[] = L"held";
  wchar_t *dir = held;
  wchar_t *name = nullptr;
  options.Debug = 1;
  std::string out = CaptureOutput([&] {
    fsplit_with_allocs(L"C:\\F", &dir, &name);
    dir = nullptr;
    name = held;
    fsplit_with_allocs(L"C:\\F", &dir, &name);
  });
  EXPECT_EQ(out,
            "fsplit_with_allocs - Returned strings should be NULL on entry"
            "fsplit_with_allocs - Returned strings should be NULL on entry");
  EXPECT_EQ(dir, nullptr);
  EXPECT_EQ(name, held);
  EXPECT_EQ(fsplit_leakcheck, 0);
}

TEST_F(FsplitRefusal, DeallocOfAMissingStringCountsOnlyThePresentOne) {
  wchar_t *dir = nullptr;
  wchar_t *name = nullptr;
  fsplit_with_allocs(L"C:\\F", &dir, &name);
  ASSERT_EQ(fsplit_leakcheck, 2);
  options.Debug = 1;
  std::string out = CaptureOutput([&] {
    fsplit_dealloc(dir, nullptr);
    fsplit_dealloc(nullptr, name);
  });
  EXPECT_EQ(out,
            "fsplit_dealloc - strings should be non-NULL on entry"
            "fsplit_dealloc - strings should be non-NULL on entry");
  EXPECT_EQ(fsplit_leakcheck, 0);
}

// The current directory's parent, found textually.
std::wstring ParentOf(const std::wstring &dir) {
  size_t cut = dir.find_last_of(L"\\/");
  return cut == std::wstring::npos ? dir : dir.substr(0, cut);
}

// Frees a FullPathAlloc result and hands back its text.
std::wstring Full(const wchar_t *path) {
  wchar_t *full = FullPathAlloc(path);
  std::wstring text = full;
  free(full);
  return text;
}

TEST(FullPathAlloc, DotAndEmptyAreTheCurrentDirectory) {
  EXPECT_EQ(Full(L"."), CurrentDir());
  EXPECT_EQ(Full(L""), CurrentDir());
}

TEST(FullPathAlloc, DotDotIsTheParent) {
  std::wstring cwd = CurrentDir();
  ASSERT_GT(cwd.find_last_of(L"\\/"), 3u) << "needs a deeper current dir";
  EXPECT_EQ(Full(L".."), ParentOf(cwd));
}

TEST(FullPathAlloc, RelativeNameIsTakenAgainstTheCurrentDirectory) {
  EXPECT_EQ(Full(L"name.txt"), CurrentDir() + kSep + L"name.txt");
  EXPECT_EQ(Full(L"a/../b"), CurrentDir() + kSep + L"b");
}

TEST_F(PathsOnDisk, AbsolutePathStaysAsItIs) {
  EXPECT_EQ(Full(Root().c_str()), Root());
  EXPECT_EQ(Full((Root() + kSep + L"x.jpg").c_str()), Root() + kSep + L"x.jpg");
}

}  // namespace
