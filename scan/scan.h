// Directory scan and grouping of files by size.
#pragma once

#include <cstdint>

#include "containers/containers.h"

// The payload of a tree node: the files of one size.
struct SizeGroup {
  uint64_t size;
  linklist *files;
};

// Releases the group's list with its records, then the group. Can't fail.
void SizeGroupRelease(SizeGroup *group);

// True when a listing entry is a link: a reparse point whose tag is not one
// of storage (a cloud file's placeholder, a deduplicated or WOF-compressed
// file). Junctions, mounted volumes, symbolic links, an unknown tag and the
// tag 0 (Wine's, and the Linux build's symbolic link) are links. The scan
// and the purge never enter a folder link, and the purge keeps every link.
// Can't fail.
bool IsLink(const WIN32_FIND_DATAW *fd);

// True when the scan and the purge enter the subdirectory entry fd of the
// folder dir: no link, no recycle bin (IsRecycleBinName), not "." or "..".
// Can't fail.
bool EntersSubdirectory(const wchar_t *dir, const WIN32_FIND_DATAW *fd);

// True when a file entry is online-only: its data would be downloaded when
// it is read (a cloud file not kept on this disk). It is never opened or
// recorded. Can't fail.
bool IsOnlineOnly(const WIN32_FIND_DATAW *fd);

// A directory of a scan or a purge, with its identity looked up at its
// first comparison.
struct DescentStep {
  const wchar_t *dir;
  const DescentStep *up;
  mutable int looked;  // the identity was looked up
  mutable FileIdentity id;
};

// True when a and b are the same directory by file-system identity (each
// looked up once). Can't fail; an unknown identity counts as different.
bool SameDirectory(const DescentStep *a, const DescentStep *b);

// True when inner lies below outer (not outer itself): one of inner's
// parents, by its text, is outer by file-system identity. Can't fail; an
// identity that can't be had counts as another directory.
bool DirectoryHolds(const wchar_t *outer, const wchar_t *inner);

// Records every qualifying file of dir matching filter (and, with Recurse,
// of every directory below it). Without a source list only files whose size
// is already in the tree are recorded. A directory that cannot be listed or
// entered is named on standard error (FolderUnread) and the scan goes on;
// memory that runs out ends the run (MemoryExhausted). Returns 87 when dir
// is not a directory, else 0 or the last non-zero code met. parm: which
// parameter is scanned (0 the source, i destination i), kept with the
// records.
DWORD ScanDirectory(const wchar_t *dir, const wchar_t *filter, bintree *tree,
                    linklist *sourceList, uint32_t parm = 0);
// Records one file in its size group (made when new) and, when a source list
// is given, in the source list. Returns the group enqueue's code, or the
// tree's when the file's group could not be placed in it or reached.
DWORD bintree_AddObject(const wchar_t *path, const WIN32_FIND_DATAW *findData,
                        bintree *tree, linklist *sourceList);
// bintree_AddObject for the file name in a stored folder (its path is the
// folder's followed by name).
DWORD bintree_AddObjectIn(StoredFolder *folder, const wchar_t *name,
                          const WIN32_FIND_DATAW *findData, bintree *tree,
                          linklist *sourceList);
