// Containers: the lock-guarded FIFO `linklist` of FileRecords and the
// size-keyed search tree `bintree`.
#pragma once

#include <cstdint>

#include "common/common.h"

// Each container's own lock, taken for the whole of every operation:
// recursive and local to the process.
typedef CRITICAL_SECTION ContainerLock;

// One per file per list.
struct FileRecord {
  wchar_t *path;
  uint64_t size;
  int32_t fInSource;
  int32_t fDisplayed;
  int32_t fHashed;
  uint8_t hash[SHA256_BYTES];
  // Another record of the group stands for the same file (hard links, a
  // destination inside the source): this one takes no part in matching.
  // Placed here, it fills what would be padding before id.
  int32_t fSetAside;
  // Which file the digest was read from, filled by the hashing pass.
  FileIdentity id;
};

struct ListElement {
  ListElement *next;
  FileRecord *payload;
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

// ---- bintree
// ------------------------------------------------------------------
struct TreeNode {
  DWORD keyLow;
  DWORD keyHigh;
  TreeNode *left;
  TreeNode *right;
  TreeNode *parent;
  void *payload;
  int32_t visited;
  int32_t reserved;
};

struct TreeIndex;  // ordered index of the nodes, kept beside the chains

struct bintree {
  TreeNode *root;
  ContainerLock lock;
  volatile LONG count;
  TreeNode *lastHit;
  TreeIndex *index;
};

bintree *bintree_Allocate(void);
int bintree_IsEmpty(bintree *tree);
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
