// Directory scan: records every qualifying file in the size group of its
// size, and source files also in the source list.
#include "scan/scan.h"

#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "common/common.h"
#include "paths/paths.h"
#include "scan/lister.h"

namespace {

uint64_t findDataSize(const WIN32_FIND_DATAW *fd) {
  return (static_cast<uint64_t>(fd->nFileSizeHigh) << 32) | fd->nFileSizeLow;
}

// What the scan keeps while it takes the listing's chunks in order.
struct ScanState {
  const wchar_t *shownFilter;  // the filter as the Debug line shows it
  bintree *tree;
  linklist *sourceList;
  uint32_t parm;     // the parameter being scanned
  DWORD result = 0;  // the last non-zero code met
  std::wstring dir;  // the directory whose files are being taken
  std::vector<wchar_t> path;
  // dir's stored path, which its records share: stored with its first
  // file recorded.
  StoredFolder *folder = nullptr;
  WIN32_FIND_DATAW fd = {};
};

// The entry takes part in the comparison: a non-empty regular file kept on
// this disk, hidden and system files only with -a, in destination mode only
// a known size. An online-only file is counted.
bool takeEntry(const WIN32_FIND_DATAW *fd, bintree *tree, linklist *src) {
  if (fd->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return false;
  if (findDataSize(fd) == 0) return false;
  if (IsOnlineOnly(fd)) {
    progress.onlineUnread++;
    return false;
  }
  if (!options.All &&
      (fd->dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)))
    return false;
  return src != nullptr || bintree_GetObject(tree, fd->nFileSizeLow,
                                             fd->nFileSizeHigh) != nullptr;
}

// A directory's first chunk: its Debug line, and whether it is one.
bool beginDir(ScanState *s, const ListedChunk *c) {
  if (options.Debug)
    PrintW(L"*** Processing Dir= \"%ls\"  Filter=\"%ls\"\n",
           ShowPath(c->dir.c_str(), 0).c_str(),
           ShowPath(s->shownFilter, 0).c_str());
  if (!c->isDir) {
    PrintW(L"Err: \"%ls\" is not a directory.",
           ShowPath(c->dir.c_str(), 0).c_str());
    s->result = ERROR_INVALID_PARAMETER;
    return false;
  }
  FolderRelease(s->folder);  // its records' names hold it
  s->folder = nullptr;
  s->dir = c->dir;
  s->path.resize(s->dir.size() + MAX_PATH + 2);
  return true;
}

// The stored path of the directory: what the joined path of each of its
// files holds before the file's name.
StoredFolder *storeFolder(ScanState *s) {
  wmemcpy(s->path.data(), s->dir.c_str(), s->dir.size() + 1);
  PathEntryPrefix(s->path.data(), s->path.size());
  StoredFolder *folder = FolderStore(s->path.data(), wcslen(s->path.data()));
  FolderSetParameter(folder, s->parm);
  return folder;
}

// Records the files of a chunk, in listing order.
void takeChunk(void *ctx, ListedChunk *c) {
  ScanState *s = static_cast<ScanState *>(ctx);
  if (c->first && !beginDir(s, c)) return;
  for (const ListedFile &f : c->files) {
    ProgressFileScanned();
    s->fd.dwFileAttributes = f.attributes;
    s->fd.nFileSizeHigh = f.sizeHigh;
    s->fd.nFileSizeLow = f.sizeLow;
    if (!takeEntry(&s->fd, s->tree, s->sourceList)) continue;
    if (s->folder == nullptr) s->folder = storeFolder(s);
    DWORD rc = bintree_AddObjectIn(s->folder, c->names.data() + f.nameAt,
                                   &s->fd, s->tree, s->sourceList);
    if (IsNoMemoryCode(rc)) MemoryExhausted();
    if (rc != 0) s->result = rc;
  }
  if (c->failed == 0) return;
  FolderUnread(c->dir.c_str(), c->failed);
  s->result = c->failed;
}

// Makes a new size group and places it in the tree. Returns the group the
// file belongs to: the new one, or the one the tree already held; null with
// *rc set when the tree could not take it (its Debug line said why).
SizeGroup *newGroup(bintree *tree, const WIN32_FIND_DATAW *fd, DWORD *rc) {
  SizeGroup *g = static_cast<SizeGroup *>(RecordSlotTake(sizeof(SizeGroup)));
  g->size = findDataSize(fd);
  g->files = AllocateList();
  if (g->files == nullptr) MemoryExhausted();
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
                    linklist *sourceList, uint32_t parm) {
  ScanState s;
  s.parm = parm;
  s.shownFilter = filter[0] != L'\0' ? filter : L"*";
  s.tree = tree;
  s.sourceList = sourceList;
  Lister *l = ListerStart(dir, filter);
  if (l == nullptr) {  // no second thread: list as the scan goes
    ListTree(dir, filter, {takeChunk, &s});
  } else {
    ListedChunk chunk;
    while (ListerNext(l, &chunk)) takeChunk(&s, &chunk);
    ListerStop(l);
  }
  FolderRelease(s.folder);  // its records' names hold it
  return s.result;
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
    // Not acted on unless memory ran out: the file still goes into its
    // group, where it can be reported as a copy of another source file; the
    // failure has its Debug line, and the count is of the source files met.
    const DWORD listed =
        linklist_EnqueueIn(sourceList, folder, name, findData, 1, &stored);
    if (IsNoMemoryCode(listed)) MemoryExhausted();
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
static const FileIdentity *stepIdentity(const DescentStep *s) {
  if (!s->looked) {
    s->looked = 1;
    HANDLE h = platformCalls.CreateFileW(s->dir, GENERIC_READ, FILE_SHARE_READ,
                                         nullptr, OPEN_EXISTING,
                                         FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return &s->id;  // known: 0
    (void)FileIdentityFromHandle(h, &s->id);
    (void)platformCalls.CloseHandle(h);  // nothing to do if it fails
  }
  return &s->id;
}

bool SameDirectory(const DescentStep *a, const DescentStep *b) {
  // A volume that gives 0 for every folder tells none apart (SameFile).
  return SameFile(stepIdentity(a), stepIdentity(b));
}

namespace {

// The parent of a full path by its text (its last component dropped), or
// an empty string for a root. Can't fail.
std::wstring textualParent(const std::wstring &path) {
  auto isSep = [](wchar_t c) { return c == L'\\' || c == L'/'; };
  size_t end = path.size();
  while (end > 0 && isSep(path[end - 1])) end--;
  size_t cut = end;
  while (cut > 0 && !isSep(path[cut - 1])) cut--;
  if (cut == 0) return std::wstring();
  size_t keep = cut;
  while (keep > 1 && isSep(path[keep - 1]) && isSep(path[keep - 2])) keep--;
  // A root keeps its separator ("/", "C:\\"); others lose it.
  if (keep > 1 && path[keep - 2] != L':') keep--;
  return path.substr(0, keep);
}

}  // namespace

bool DirectoryHolds(const wchar_t *outer, const wchar_t *inner) {
  DescentStep out = {outer, nullptr, 0, {}};
  for (std::wstring up = textualParent(inner); !up.empty();) {
    DescentStep step = {up.c_str(), nullptr, 0, {}};
    if (SameDirectory(&out, &step)) return true;
    std::wstring next = textualParent(up);
    if (next == up) break;
    up = next;
  }
  return false;
}

bool IsLink(const WIN32_FIND_DATAW *fd) {
  if (!(fd->dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) return false;
  const DWORD tag = fd->dwReserved0;
  const bool cloud = (tag & ~static_cast<DWORD>(IO_REPARSE_TAG_CLOUD_MASK)) ==
                     static_cast<DWORD>(IO_REPARSE_TAG_CLOUD);
  return !cloud && tag != static_cast<DWORD>(IO_REPARSE_TAG_DEDUP) &&
         tag != static_cast<DWORD>(IO_REPARSE_TAG_WOF);
}

bool EntersSubdirectory(const wchar_t *dir, const WIN32_FIND_DATAW *fd) {
  const wchar_t *name = fd->cFileName;
  if (IsDotOrDotDot(name)) return false;
  return !IsLink(fd) && !IsRecycleBinName(dir, name);
}

bool IsOnlineOnly(const WIN32_FIND_DATAW *fd) {
  const DWORD remote = FILE_ATTRIBUTE_RECALL_ON_DATA_ACCESS |
                       FILE_ATTRIBUTE_RECALL_ON_OPEN | FILE_ATTRIBUTE_OFFLINE;
  return (fd->dwFileAttributes & remote) != 0;
}
