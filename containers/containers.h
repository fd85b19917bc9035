// Containers: the lock-guarded FIFO `linklist` of FileRecords and the
// size-keyed `bintree`, an ordered index of size groups whose nodes are
// linked as a search tree only where the tree keeps links (not the run's).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/common.h"

// Each container's own lock, taken for the whole of every operation:
// recursive and local to the process.
typedef CRITICAL_SECTION ContainerLock;

struct StoredFolder;
struct StoredName;

// What the hashing pass learnt of a file: its digest, and which file the
// digest was read from.
struct FileHashed {
  uint8_t hash[SHA256_BYTES];
  FileIdentity id;
};

// One per file per list.
struct FileRecord {
  // The file's name and its folder's stored path, shared by the file's
  // records: the full path is built where a call needs it.
  StoredName *name;
  uint64_t size;
  int32_t fInSource;
  int32_t fDisplayed;
  int32_t fHashed;
  // Another record of the group stands for the same file (hard links, a
  // destination inside the source): this one takes no part in matching
  // (kSetAside), or is only shown in its file's set (kAliasShown).
  int32_t fSetAside;
  // Kept only for the records the hashing pass reaches (FileRecordDigest
  // and FileRecordIdentity make it): most records of a large run are never
  // hashed. None: the digest is all zero and the identity unknown.
  FileHashed *hashed;
};

enum { kSetAside = 1, kAliasShown = 2 };

// A list element; its record (the payload) follows it in the same slot.
struct ListElement {
  ListElement *next;
};

struct linklist {
  ListElement *head;
  ListElement *tail;
  ContainerLock lock;
  volatile LONG count;
};

// ---- linklist
// -----------------------------------------------------------------
linklist *linklist_Allocate(void);
// The allocation step of the run sequence and the scan: linklist_Allocate.
linklist *AllocateList(void);
DWORD linklist_Enqueue(linklist *list, const wchar_t *path,
                       const WIN32_FIND_DATAW *findData, int32_t fInSource);
FileRecord *linklist_Dequeue(linklist *list);
int linklist_IsEmpty(linklist *list);
FileRecord *linklist_FindFirst(linklist *list, ListElement **cursor);
FileRecord *linklist_FindNext(linklist *list, ListElement **cursor);
DWORD linklist_GetCount(linklist *list);
void linklist_DeAllocate(linklist *list);
DWORD linklist_AcquireMutex(linklist *list);
// linklist_Enqueue, also giving back (in *stored) the new record's name, or
// null when nothing was appended: what linklist_EnqueueShared takes.
DWORD linklist_EnqueueStored(linklist *list, const wchar_t *path,
                             const WIN32_FIND_DATAW *findData,
                             int32_t fInSource, StoredName **stored);
// linklist_EnqueueStored for the file name in a stored folder (the path is
// the folder's followed by name).
DWORD linklist_EnqueueIn(linklist *list, StoredFolder *folder,
                         const wchar_t *name, const WIN32_FIND_DATAW *findData,
                         int32_t fInSource, StoredName **stored);
// linklist_Enqueue for a file that a record of another list already names:
// the new record refers to that record's name (stored, from
// linklist_EnqueueStored) instead of a copy. The stored name lives until
// the last record naming it is released.
DWORD linklist_EnqueueShared(linklist *list, StoredName *stored,
                             const WIN32_FIND_DATAW *findData,
                             int32_t fInSource);
// The record's identity and digest, made (unknown, all zero) at the first
// call of either. Exhaustion ends the process.
FileIdentity *FileRecordIdentity(FileRecord *record);
uint8_t *FileRecordDigest(FileRecord *record);
// The record's identity, or an unknown one when it has none; its digest,
// or SHA256_BYTES zeros. Can't fail.
const FileIdentity *FileRecordIdentityOf(const FileRecord *record);
const uint8_t *FileRecordDigestOf(const FileRecord *record);
// Gives back the record's digest and identity, if it has them: a record
// that will never be compared keeps neither. Can't fail.
void FileRecordForgetDigest(FileRecord *record);
// Releases a record handed out by linklist_Dequeue. Can't fail.
void FileRecordFree(FileRecord *record);

// ---- Paths of records
// A folder's stored path: the first len characters of prefix, everything
// before its files' names (the separator included), with one reference.
// FolderRelease drops one; each stored name holds one. Exhaustion ends the
// process.
StoredFolder *FolderStore(const wchar_t *prefix, size_t len);
// The length of path's folder part: up to and including its last separator
// (0 when it has none). Can't fail.
size_t FolderPartLength(const wchar_t *path);
void FolderRelease(StoredFolder *folder);
// Which parameter's scan found the folder's files (0: the source, as
// stored; i: destination i). Can't fail.
void FolderSetParameter(StoredFolder *folder, uint32_t parm);
uint32_t FileRecordParameter(const FileRecord *record);
// The record's folder, shared by the records of the files in it. Can't fail.
const StoredFolder *FileRecordFolder(const FileRecord *record);
// The record's full path, built into *out; returns out->c_str().
const wchar_t *FileRecordPath(const FileRecord *record, std::wstring *out);
// The record's full path, built into this thread's buffer: valid until the
// thread's next call.
const wchar_t *FileRecordPathHere(const FileRecord *record);
// 1 when the record's full path is path, else 0. Can't fail.
int FileRecordPathIs(const FileRecord *record, const wchar_t *path);
// 1 when two records have the same full path, else 0. Can't fail.
int FileRecordSamePath(const FileRecord *a, const FileRecord *b);

// ---- bintree
// ------------------------------------------------------------------
struct TreeNode {
  DWORD keyLow;
  DWORD keyHigh;
  // The insertion rule's links: null in a tree that keeps none.
  TreeNode *left;
  TreeNode *right;
  TreeNode *parent;
  void *payload;
  int32_t visited;
  int32_t reserved;
};

struct TreeIndex;  // ordered index of the nodes: every look-up and walk

struct bintree {
  TreeNode *root;
  ContainerLock lock;
  volatile LONG count;
  // 1 (as allocated): every node's left, right and parent follow the
  // insertion rule. 0: only root is kept (some node while the tree is not
  // empty), for a tree whose links nobody reads.
  int32_t linksKept;
  TreeNode *lastHit;
  TreeIndex *index;
};

bintree *bintree_Allocate(void);
int bintree_IsEmpty(bintree *tree);
// Stops keeping the links of an empty tree (the run's own, which reads
// none): each insertion and removal then touches no other node. Can't fail.
void bintree_DropLinks(bintree *tree);
void *bintree_GetObject(bintree *tree, DWORD keyLow, DWORD keyHigh);
// The tree half of bintree_AddObject: links a new node for a key that was
// just found absent. Returns 0 when linked, 183 when the key is present,
// 8 when the node cannot be allocated, 87 for a null tree, or the wait's
// value when the lock cannot be taken.
DWORD bintree_InsertNode(bintree *tree, DWORD keyLow, DWORD keyHigh,
                         void *payload);
DWORD bintree_AddObjectWorker(TreeNode *start, TreeNode *node);
void *bintree_PruneSmallest(bintree *tree);
void *bintree_FindFirst(bintree *tree, int restart);
void bintree_DeAllocate(bintree *tree);
DWORD bintree_AcquireMutex(bintree *tree);

// ---- slots
// -------------------------------------------------------------------
// Small objects of the containers and of their callers, carved from large
// blocks: few allocator calls, no header per object, the blocks given back
// whole once the last slot is. Objects over 128 bytes are allocated singly.
// A slot for a container's own object: null when memory runs out.
void *ContainerSlotTake(size_t size);
void ContainerSlotGive(void *slot, size_t size);
// A zeroed slot for a record (size groups too): exhaustion ends the process.
void *RecordSlotTake(size_t size);
void RecordSlotGive(void *slot, size_t size);
// Slots and stored folders and names handed out and not yet given back.
long ContainerSlotsInUse(void);
// Direct mode: every slot an allocation of its own, as the fault-injection
// tests count them. Slots of either mode may be out when it changes.
void ContainerSlotsDirect(bool on);
