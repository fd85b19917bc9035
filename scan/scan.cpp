// Directory scan: records every qualifying file in the size group of its
// size, and source files also in the source list.
#include "scan/scan.h"

#include <cstdlib>
#include <cwchar>

#include "common/common.h"
#include "paths/paths.h"

namespace {

// Working storage of one directory, allocated once and reused per entry.
struct ScanBuffers {
  wchar_t *filter;
  wchar_t *pattern;
  size_t patternCap;
  wchar_t *path;
  size_t pathCap;
  WIN32_FIND_DATAW *fd;
};

DWORD scanDir(const wchar_t *dir, const wchar_t *filter, bintree *tree,
              linklist *sourceList, const DescentStep *up);

bool isDotOrDotDot(const wchar_t *name) {
  return wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0;
}

uint64_t findDataSize(const WIN32_FIND_DATAW *fd) {
  return (static_cast<uint64_t>(fd->nFileSizeHigh) << 32) | fd->nFileSizeLow;
}

bool allocBuffers(ScanBuffers *b, const wchar_t *dir, const wchar_t *filter) {
  size_t dirLen = wcslen(dir);
  b->filter = StringDupOrDie(filter[0] != L'\0' ? filter : L"*");
  b->patternCap = dirLen + wcslen(b->filter) + 2;
  b->pattern = StringAllocOrDie(b->patternCap);
  b->pathCap = dirLen + MAX_PATH + 2;
  b->path = StringAllocOrDie(b->pathCap);
  b->fd = static_cast<WIN32_FIND_DATAW *>(calloc(1, sizeof(WIN32_FIND_DATAW)));
  return b->fd != nullptr;
}

void freeBuffers(ScanBuffers *b) {
  free(b->filter);
  free(b->pattern);
  free(b->path);
  free(b->fd);
}

// Builds dir + separator + tail in buf.
void joinInto(wchar_t *buf, size_t cap, const wchar_t *dir,
              const wchar_t *tail) {
  // Not wcsncpy: it would pad the rest of the buffer, for every entry.
  const size_t n = wcsnlen(dir, cap - 1);
  wmemcpy(buf, dir, n);
  buf[n] = L'\0';
  PathJoinChild(buf, cap, tail);
}

// The entry takes part in the comparison: a non-empty regular file, hidden
// and system files only with -a, in destination mode only a known size.
bool takeEntry(const WIN32_FIND_DATAW *fd, bintree *tree, linklist *src) {
  if (fd->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return false;
  uint64_t size = findDataSize(fd);
  if (size == 0) return false;
  if (!options.All &&
      (fd->dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)))
    return false;
  return src != nullptr || bintree_GetObject(tree, fd->nFileSizeLow,
                                             fd->nFileSizeHigh) != nullptr;
}

// The stored path of dir that its files' records share: what the joined
// path of each file holds before the file's name.
StoredFolder *storeFolder(const wchar_t *dir, ScanBuffers *b) {
  joinInto(b->path, b->pathCap, dir, L"");
  return FolderStore(b->path, wcslen(b->path));
}

// First enumeration: the files of dir that match the filter.
DWORD scanFiles(const wchar_t *dir, ScanBuffers *b, bintree *tree,
                linklist *sourceList) {
  DWORD result = 0;
  joinInto(b->pattern, b->patternCap, dir, b->filter);
  HANDLE find = platformCalls.FindFirstFileW(b->pattern, b->fd);
  if (find == INVALID_HANDLE_VALUE) return 0;
  StoredFolder *folder = nullptr;  // stored with the first file recorded
  do {
    if (!(b->fd->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
      ProgressFileScanned();
    if (!takeEntry(b->fd, tree, sourceList)) continue;
    if (folder == nullptr) folder = storeFolder(dir, b);
    DWORD rc =
        bintree_AddObjectIn(folder, b->fd->cFileName, b->fd, tree, sourceList);
    if (rc != 0) result = rc;
  } while (platformCalls.FindNextFileW(find, b->fd));
  (void)platformCalls.FindClose(find);  // nothing to do if it fails
  FolderRelease(folder);                // its names hold it
  return result;
}

// Second enumeration: every subdirectory, whatever the filter says. The
// system is asked for directories only, so that it need not look up the
// files again; the directory bit is still tested, since the request is
// only advisory.
DWORD scanSubdirs(const wchar_t *dir, const wchar_t *filter, ScanBuffers *b,
                  bintree *tree, linklist *sourceList, const DescentStep *up) {
  DWORD result = 0;
  joinInto(b->pattern, b->patternCap, dir, L"*");
  HANDLE find = platformCalls.FindFirstFileExW(
      b->pattern, FindExInfoBasic, b->fd, FindExSearchLimitToDirectories,
      nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (find == INVALID_HANDLE_VALUE) return 0;
  do {
    DWORD attr = b->fd->dwFileAttributes;
    if (!(attr & FILE_ATTRIBUTE_DIRECTORY) || isDotOrDotDot(b->fd->cFileName))
      continue;
    joinInto(b->path, b->pathCap, dir, b->fd->cFileName);
    DescentStep child = {b->path, up, 0, 0, 0, 0};
    if ((attr & FILE_ATTRIBUTE_REPARSE_POINT) && DescentLoopsBack(&child))
      continue;
    DWORD rc = scanDir(b->path, filter, tree, sourceList, &child);
    if (rc != 0) result = rc;
  } while (platformCalls.FindNextFileW(find, b->fd));
  (void)platformCalls.FindClose(find);  // nothing to do if it fails
  return result;
}

DWORD scanDir(const wchar_t *dir, const wchar_t *filter, bintree *tree,
              linklist *sourceList, const DescentStep *up) {
  const wchar_t *shown = filter[0] != L'\0' ? filter : L"*";
  if (options.Debug)
    PrintW(L"*** Processing Dir= \"%ls\"  Filter=\"%ls\"\n",
           ShowPath(dir, 0).c_str(), ShowPath(shown, 0).c_str());
  if (dir[0] != L'\0' && !IsADir(dir)) {
    PrintW(L"Err: \"%ls\" is not a directory.", ShowPath(dir, 0).c_str());
    return ERROR_INVALID_PARAMETER;
  }
  ScanBuffers b = {};
  if (!allocBuffers(&b, dir, filter)) {
    freeBuffers(&b);
    DebugText(L"ScanDirectory - memory alloc failed\n");
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  DWORD result = scanFiles(dir, &b, tree, sourceList);
  if (options.Recurse) {
    DWORD rc = scanSubdirs(dir, filter, &b, tree, sourceList, up);
    if (rc != 0) result = rc;
  }
  freeBuffers(&b);
  return result;
}

// Makes a new size group and places it in the tree. Returns the group the
// file belongs to: the new one, or the one the tree already held; null with
// *rc set when the tree could not take it (its Debug line said why).
SizeGroup *newGroup(bintree *tree, const WIN32_FIND_DATAW *fd, DWORD *rc) {
  SizeGroup *g = static_cast<SizeGroup *>(RecordSlotTake(sizeof(SizeGroup)));
  g->size = findDataSize(fd);
  g->files = AllocateList();
  *rc = bintree_InsertNode(tree, fd->nFileSizeLow, fd->nFileSizeHigh, g);
  if (*rc == 0) return g;
  // In no tree, the new group would never be released.
  SizeGroupRelease(g);
  if (*rc != ERROR_ALREADY_EXISTS) return nullptr;
  SizeGroup *held = static_cast<SizeGroup *>(
      bintree_GetObject(tree, fd->nFileSizeLow, fd->nFileSizeHigh));
  if (held != nullptr) *rc = 0;
  return held;
}

}  // namespace

void SizeGroupRelease(SizeGroup *group) {
  linklist_DeAllocate(group->files);
  group->files = nullptr;
  RecordSlotGive(group, sizeof(SizeGroup));
}

DWORD ScanDirectory(const wchar_t *dir, const wchar_t *filter, bintree *tree,
                    linklist *sourceList) {
  DescentStep top = {dir, nullptr, 0, 0, 0, 0};
  return scanDir(dir, filter, tree, sourceList, &top);
}

DWORD bintree_AddObject(const wchar_t *path, const WIN32_FIND_DATAW *findData,
                        bintree *tree, linklist *sourceList) {
  const size_t cut = FolderPartLength(path);
  StoredFolder *folder = FolderStore(path, cut);
  DWORD rc =
      bintree_AddObjectIn(folder, path + cut, findData, tree, sourceList);
  FolderRelease(folder);  // the records' names hold it
  return rc;
}

DWORD bintree_AddObjectIn(StoredFolder *folder, const wchar_t *name,
                          const WIN32_FIND_DATAW *findData, bintree *tree,
                          linklist *sourceList) {
  SizeGroup *g = static_cast<SizeGroup *>(
      bintree_GetObject(tree, findData->nFileSizeLow, findData->nFileSizeHigh));
  DWORD rc = 0;
  if (g == nullptr) g = newGroup(tree, findData, &rc);
  StoredName *stored = nullptr;
  if (sourceList != nullptr) {
    // Deliberately not acted on: the file still goes into its group, where
    // it can be reported as a copy of another source file; the failure has
    // its Debug line, and the count is of the source files met.
    (void)linklist_EnqueueIn(sourceList, folder, name, findData, 1, &stored);
    cntFilesInSource++;
  }
  if (g == nullptr) return rc;
  // The group's record shares the name the source list's record stored.
  rc = stored != nullptr
           ? linklist_EnqueueShared(g->files, stored, findData, 1)
           : linklist_EnqueueIn(g->files, folder, name, findData,
                                sourceList != nullptr ? 1 : 0, nullptr);
  cntFilesInTree++;
  if (rc == 0) ProgressFileRecorded(g->size, (uint32_t)g->files->count);
  return rc;
}

// Looks up the file-system identity of a step's directory once.
static bool stepIdentity(const DescentStep *s) {
  if (s->known == 0) {
    s->known = -1;
    HANDLE h = platformCalls.CreateFileW(s->dir, GENERIC_READ, FILE_SHARE_READ,
                                         nullptr, OPEN_EXISTING,
                                         FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info;
    if (platformCalls.GetFileInformationByHandle(h, &info)) {
      s->volume = info.dwVolumeSerialNumber;
      s->indexHigh = info.nFileIndexHigh;
      s->indexLow = info.nFileIndexLow;
      s->known = 1;
    }
    (void)platformCalls.CloseHandle(h);  // nothing to do if it fails
  }
  return s->known == 1;
}

bool SameDirectory(const DescentStep *a, const DescentStep *b) {
  return stepIdentity(a) && stepIdentity(b) && a->volume == b->volume &&
         a->indexHigh == b->indexHigh && a->indexLow == b->indexLow;
}

// True when a directory link leads back into the current descent path.
bool DescentLoopsBack(const DescentStep *target) {
  if (!stepIdentity(target)) return false;
  for (const DescentStep *s = target->up; s != nullptr; s = s->up) {
    if (SameDirectory(s, target)) return true;
  }
  return false;
}
