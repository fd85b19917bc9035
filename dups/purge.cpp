// The empty-directory purge: removes, children first, every directory below
// the source that holds no byte of file data, with its zero-size files.
#include <cstdlib>
#include <cwchar>
#include <deque>
#include <string>
#include <vector>

#include "common/common.h"
#include "dups/dups.h"
#include "hash/hash.h"
#include "paths/paths.h"

namespace {

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
  StringConcat(child, cap, name);
  return child;
}

// A listing that ended with code did not see the whole directory: it
// could not be made or failed part-way. The end, no match and a directory
// gone since (it holds nothing) are no failure. Can't fail.
bool listingFailed(DWORD code) {
  return code != ERROR_NO_MORE_FILES && code != ERROR_FILE_NOT_FOUND &&
         code != ERROR_PATH_NOT_FOUND;
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
// A destination's directory is not entered and counts as holding data, so
// neither it nor its ancestors are removed.
uint64_t purgeChild(const wchar_t *dir, const WIN32_FIND_DATAW *fd,
                    const DescentStep *up) {
  wchar_t *child = childPath(dir, fd->cFileName);
  DescentStep step = {child, up, 0, {}};
  const uint64_t sub = isKept(&step) ? 1 : purgeTree(child, &step);
  if (sub == 0) {
    PrintW(L"rd  \"%ls\"\n", ShowPath(child, 2).c_str());
    if (options.Delete) RemoveEmptyDir(child, 0);
  }
  free(child);
  return sub;
}

// What a directory entry of dir holds for the purge: a folder link or a
// recycle bin is not entered and counts as data (it and its folder stay);
// "." and ".." hold nothing.
uint64_t subdirectoryData(const wchar_t *dir, const WIN32_FIND_DATAW *fd,
                          const DescentStep *up) {
  if (EntersSubdirectory(dir, fd)) return purgeChild(dir, fd, up);
  return IsDotOrDotDot(fd->cFileName) ? 0 : 1;
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
  if (fd == nullptr) MemoryExhausted();
  HANDLE find = platformCalls.FindFirstFileW(pattern, fd);
  DWORD code = platformCalls.GetLastError();
  free(pattern);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      if (fd->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        total += subdirectoryData(dir, fd, up);
    } while (platformCalls.FindNextFileW(find, fd));
    code = platformCalls.GetLastError();
    (void)platformCalls.FindClose(find);  // nothing to do if it fails
  }
  free(fd);
  // A directory not seen whole may hold data: neither it nor its
  // ancestors are removed.
  return listingFailed(code) ? total + 1 : total;
}

}  // namespace

namespace {

// The run's own output (a report saved in the tree) is never erased, and
// its folder holds data: asked only of zero-size files, and only when the
// output is a file. A file held by another program counts as such too.
bool isRunOutputFile(const wchar_t *dir, const wchar_t *name) {
  if (!RunOutputKnown()) return false;
  wchar_t *path = childPath(dir, name);
  HANDLE h = platformCalls.CreateFileW(
      path, GENERIC_READ,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  free(path);
  if (h == INVALID_HANDLE_VALUE)
    return platformCalls.GetLastError() == ERROR_SHARING_VIOLATION;
  FileIdentity id;
  const bool output = FileIdentityFromHandle(h, &id) && IsRunOutput(&id);
  (void)platformCalls.CloseHandle(h);  // nothing to do if it fails
  return output;
}

}  // namespace

uint64_t SumDirFileSizes(const wchar_t *dir, int erase) {
  uint64_t total = 0;
  wchar_t *pattern = allPattern(dir);
  WIN32_FIND_DATAW fd = {};
  HANDLE find = platformCalls.FindFirstFileW(pattern, &fd);
  const DWORD code = platformCalls.GetLastError();
  free(pattern);
  if (find == INVALID_HANDLE_VALUE) return listingFailed(code) ? 1 : 0;
  do {
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    uint64_t size = entrySize(&fd);
    // A link is kept: never erased, and its folder stays.
    if (size == 0 && (IsLink(&fd) || isRunOutputFile(dir, fd.cFileName)))
      size = 1;
    total += size;
    if (size == 0 && erase) eraseZeroSizeFile(dir, fd.cFileName);
  } while (platformCalls.FindNextFileW(find, &fd));
  const bool failed = listingFailed(platformCalls.GetLastError());
  (void)platformCalls.FindClose(find);  // nothing to do if it fails
  // Not seen whole: it counts as holding data.
  return failed && total == 0 ? 1 : total;
}

uint64_t PurgeEmptyDirs(const wchar_t *dir) {
  DescentStep top = {dir, nullptr, 0, {}};
  if (isKept(&top)) return 1;
  return purgeTree(dir, &top);
}

void PurgeKeepDirectory(const wchar_t *dir) {
  keptNames.emplace_back(dir);
  keptDirs.push_back(DescentStep{keptNames.back().c_str(), nullptr, 0, {}});
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
