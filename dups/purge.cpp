// The empty-directory purge: removes, children first, every directory below
// the source that holds no byte of file data, with its zero-size files.
#include <cstdlib>
#include <cwchar>
#include <deque>
#include <string>
#include <vector>

#include "common/common.h"
#include "dups/dups.h"
#include "paths/paths.h"

namespace {

bool isDotOrDotDot(const wchar_t *name) {
  return wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0;
}

uint64_t entrySize(const WIN32_FIND_DATAW *fd) {
  return (static_cast<uint64_t>(fd->nFileSizeHigh) << 32) | fd->nFileSizeLow;
}

// dir followed by the separator and "*", appended as is.
wchar_t *allPattern(const wchar_t *dir) {
  size_t cap = wcslen(dir) + 3;
  wchar_t *pattern = StringAllocOrDie(cap);
  wcscpy(pattern, dir);
  wcscat(pattern, PATH_SEPARATOR_STR L"*");
  return pattern;
}

wchar_t *childPath(const wchar_t *dir, const wchar_t *name) {
  size_t cap = wcslen(dir) + wcslen(name) + 2;
  wchar_t *child = StringAllocOrDie(cap);
  wcscpy(child, dir);
  PathJoinChild(child, cap, name);
  return child;
}

void eraseZeroSizeFile(const wchar_t *dir, const wchar_t *name) {
  wchar_t *path = childPath(dir, name);
  if (options.Verbose) PrintW(L"REM Erase zero size file\n");
  PrintW(L"del \"%ls\"\n", ShowPath(path, 2).c_str());
  if (options.Delete) EraseFile(path);
  free(path);
}

uint64_t purgeTree(const wchar_t *dir, const DescentStep *up);

// The destinations' directories, which the purge leaves as they are; each
// step's identity is looked up at its first comparison. A deque keeps the
// names where the steps point while more are added.
std::deque<std::wstring> keptNames;
std::vector<DescentStep> keptDirs;

bool isKept(const DescentStep *step) {
  for (const DescentStep &kept : keptDirs) {
    if (SameDirectory(&kept, step)) return true;
  }
  return false;
}

// Purges one subdirectory and removes it when nothing is left under it.
// A directory link back into the current descent path, or a destination's
// directory, is not entered and counts as holding data, so neither it nor
// its ancestors are removed.
uint64_t purgeChild(const wchar_t *dir, const WIN32_FIND_DATAW *fd,
                    const DescentStep *up) {
  wchar_t *child = childPath(dir, fd->cFileName);
  DescentStep step = {child, up, 0, 0, 0, 0};
  uint64_t sub = 1;
  if (isKept(&step)) {
    // A destination: not entered, not removed.
  } else if (!(fd->dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
             !DescentLoopsBack(&step)) {
    sub = purgeTree(child, &step);
  }
  if (sub == 0) {
    PrintW(L"rd  \"%ls\"\n", ShowPath(child, 2).c_str());
    if (options.Delete) RemoveEmptyDir(child, 0);
  }
  free(child);
  return sub;
}

// Once the report is lost the purge ends: what is left counts as data, so
// no directory above is removed either.
uint64_t purgeTree(const wchar_t *dir, const DescentStep *up) {
  if (ReportLost()) return 1;
  uint64_t total = SumDirFileSizes(dir, 0);
  if (total == 0) (void)SumDirFileSizes(dir, 1);  // the erasing pass; 0 known
  wchar_t *pattern = allPattern(dir);
  // On the heap: the recursion is as deep as the directory tree.
  auto *fd =
      static_cast<WIN32_FIND_DATAW *>(calloc(1, sizeof(WIN32_FIND_DATAW)));
  if (fd == nullptr) abort();
  HANDLE find = platformCalls.FindFirstFileW(pattern, fd);
  free(pattern);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      if ((fd->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
          !isDotOrDotDot(fd->cFileName)) {
        total += purgeChild(dir, fd, up);
      }
    } while (platformCalls.FindNextFileW(find, fd));
    (void)platformCalls.FindClose(find);  // nothing to do if it fails
  }
  free(fd);
  return total;
}

}  // namespace

uint64_t SumDirFileSizes(const wchar_t *dir, int erase) {
  uint64_t total = 0;
  wchar_t *pattern = allPattern(dir);
  WIN32_FIND_DATAW fd = {};
  HANDLE find = platformCalls.FindFirstFileW(pattern, &fd);
  free(pattern);
  if (find == INVALID_HANDLE_VALUE) return 0;
  do {
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    uint64_t size = entrySize(&fd);
    total += size;
    if (size == 0 && erase) eraseZeroSizeFile(dir, fd.cFileName);
  } while (platformCalls.FindNextFileW(find, &fd));
  (void)platformCalls.FindClose(find);  // nothing to do if it fails
  return total;
}

uint64_t PurgeEmptyDirs(const wchar_t *dir) {
  DescentStep top = {dir, nullptr, 0, 0, 0, 0};
  if (isKept(&top)) return 1;
  return purgeTree(dir, &top);
}

void PurgeKeepDirectory(const wchar_t *dir) {
  keptNames.emplace_back(dir);
  keptDirs.push_back(
      DescentStep{keptNames.back().c_str(), nullptr, 0, 0, 0, 0});
}

void PurgeKeepNone(void) {
  keptDirs.clear();
  keptNames.clear();
}

void RemoveEmptyDir(const wchar_t *dir, int quiet) {
  // As for an erasure: its "rd" line must have reached the output first.
  if (ReportFlushLost()) return;
  if (platformCalls.RemoveDirectoryW(dir)) {
    cntDirsRemoved++;
    return;
  }
  // The source directory itself may stay: its failure is not said.
  if (!quiet)
    PrintFailure(kFailedRemoveDirectory, platformCalls.GetLastError(), dir);
}
