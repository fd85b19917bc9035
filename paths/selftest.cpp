// The self-test mode: the path helpers on a fixed set of inputs.
#include <cstdlib>
#include <cwchar>

#include "common/common.h"
#include "paths/paths.h"

// The inputs are written the way a Windows user types them; "C:\dirnoexist\"
// and "C:." are listed twice on purpose.
static const wchar_t *const kIsADirPaths[] = {
    L"",
    L"C:",
    L"C:\\",
    L"C:.",
    L"C:..",
    L"C:\\code",
    L"C:\\code\\.",
    L"C:\\dirnoexist",
    L"C:\\dirnoexist\\",
    L"C:\\dirnoexist\\",
    L"C:\\dirnoexist\\.",
    L"direxists",
    L"direxists\\.",
    L"dirnoexists",
    L"dirnoexists\\.",
    L".\\",
    L"C:.",
    L"J:.",
    L"J:..",
    L"L:.",
    L"J:\\",
};

struct ConcatCase {
  const wchar_t *path;
  const wchar_t *tail;
};

static const ConcatCase kConcatCases[] = {
    {L"", L""},
    {L"C:", L""},
    {L"C:\\", L""},
    {L"C:\\", L"F"},
    {L"C:\\D", L"Filename.ext"},
};

static const wchar_t *const kFullPathInputs[] = {
    L"C:",
    L"C:.",
    L".",
    L"C:\\",
    L"C:\\code",
    L"C:\\code\\.",
    L"C:\\dirnoexist\\.",
};

struct SplitCase {
  const wchar_t *path;
  const wchar_t *expectedDir;
};

static const SplitCase kSplitCases[] = {
    {L"", L""},
    {L"\\", L"\\"},
    {L"C:", L"C:"},
    {L"C:\\", L"C:\\"},
    {L".", L"."},
    {L"C:.", L"C:."},
    {L"C:\\.", L"C:\\."},
    {L".\\", L"."},
    {L"C:.\\F.T", L"C:."},
    {L"C:\\.", L"C:\\."},
    {L".e", L""},
    {L"F", L""},
    {L"F.", L""},
    {L"\\F", L"\\"},
    {L"C:F", L"C:"},
    {L"C:\\F", L"C:\\"},
    {L"C:\\foo\\..\\F", L"C:\\foo\\.."},
    {L"C:\\foo\\..\\F.TXT", L"C:\\foo\\.."},
    {L"C:\\foo\\..\\F.", L"C:\\foo\\.."},
    {L"F", L""},
    {L"C:\\FILE", L"C:\\"},
    {L"C:\\PATH\\", L"C:\\PATH"},
    {L"C:\\PATH\\.", L"C:\\PATH\\."},
    {L"C:\\PATH\\..", L"C:\\PATH\\.."},
    {L"C:\\PATH\\..\\F", L"C:\\PATH\\.."},
    {L"C:\\PATH\\F", L"C:\\PATH"},
    {L"E:\\code", L"E:\\code"},
    {L"C:\\PATH1\\PATH2\\FILENAME.TXT", L"C:\\PATH1\\PATH2"},
    {L"/etc/.host", L"/etc"},
    {L"j:.", L"j:."},
};

// One line per path: the path and IsADir of it. Can't fail.
void IsADir_unittest(void) {
  for (const wchar_t *path : kIsADirPaths) {
    PrintW(L"IsADir(\"%ls\") = %d\n", path, IsADir(path));
  }
}

// Joins path and tail in a buffer sized as callers size it, after checking
// that a one-character buffer survives the same tail. Can't fail.
void StringConcat_testcase(const wchar_t *path, const wchar_t *tail) {
  size_t cap = wcslen(path) + wcslen(tail) + 2;
  wchar_t *buf = StringAllocOrDie(cap);
  wcscpy(buf, path);
  wchar_t tiny[1] = {L'\0'};
  StringConcat(tiny, 1, tail);
  StringConcat(buf, cap, tail);
  PrintW(L"%-12ls + %-12ls = %ls\n", path, tail, buf);
  free(buf);
}

// One split line; only the directory part is checked. Can't fail.
void fsplit_testcase(const wchar_t *path, const wchar_t *expected) {
  wchar_t *dir = nullptr;
  wchar_t *name = nullptr;
  fsplit_with_allocs(path, &dir, &name);
  PrintW(L"Split %-30ls Dir=%-20ls  Name=%ls", path, dir, name);
  if (wcscmp(dir, expected) != 0) PrintW(L"  (Err)");
  PrintW(L"\n");
  fsplit_dealloc(dir, name);
}

// The split table, then the leak check under Debug. Can't fail.
void fsplit_unittest(void) {
  PrintW(L"\nfsplit_unittest\n");
  for (const SplitCase &c : kSplitCases) fsplit_testcase(c.path, c.expectedDir);
  if (fsplit_leakcheck != 0) DebugText(L"fsplit_leakcheck is non-zero\n");
}

// The four tables, in order. Can't fail.
void RunSelfTest(void) {
  IsADir_unittest();
  for (const ConcatCase &c : kConcatCases) {
    StringConcat_testcase(c.path, c.tail);
  }
  for (const wchar_t *path : kFullPathInputs) {
    wchar_t *full = FullPathAlloc(path);
    PrintW(L"%-20ls split: Dir=%-20ls\n", path, full);
    free(full);
  }
  fsplit_unittest();
}
