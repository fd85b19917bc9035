// bintree: the lock-guarded size index. An ordered index finds a key, and
// the place for a new one, and its ascending walk is the tree's order. A
// tree as bintree_Allocate makes it also links its nodes by the insertion
// rule, a root with two sorted chains (never rebalanced), spliced at the
// place the index gives; the run's own tree drops those links
// (bintree_DropLinks, linksKept 0) and keeps only a root, since nothing in
// a run reads them.
//
// The index holds (key, node) pairs in ascending order, cut into blocks of
// at most kBlockMax pairs, with the first key of every block in an array of
// its own. A look-up searches that small array, then one block; an
// insertion moves at most one block's pairs, and a full block splits in
// two. Pairs lie side by side, 16 bytes each, so a look-up touches a few
// cache lines where a node-per-key tree would touch one per level.
#include <algorithm>
#include <cstdlib>
#include <new>
#include <vector>

#include "common/common.h"
#include "containers/containers.h"
#include "containers/internal.h"

namespace {

const size_t kBlockMax = 128;

struct IndexEntry {
  uint64_t key;
  TreeNode *node;
};

using IndexBlock = std::vector<IndexEntry, ContainerAllocator<IndexEntry>>;

// Where a key is, or would go: a block and a place in it.
struct IndexPos {
  size_t block;
  size_t at;
};

}  // namespace

struct TreeIndex {
  std::vector<IndexBlock, ContainerAllocator<IndexBlock>>
      blocks;  // none empty; keys ascending throughout
  std::vector<uint64_t, ContainerAllocator<uint64_t>>
      starts;  // first key of each block but the first
  // Every node with a smaller key has visited set: where bintree_FindFirst
  // resumes its search.
  uint64_t unvisitedFrom;
  // Raised by every change of the pairs. The last key found absent and its
  // place stay valid while it is unchanged: the insertion that follows a
  // failed look-up of the same key then needs no second search.
  uint64_t version;
  bool missKnown;
  uint64_t missKey;
  uint64_t missVersion;
  IndexPos missAt;
};

// The 64-bit key: high word first, both unsigned. Can't fail.
static uint64_t KeyOf(DWORD keyLow, DWORD keyHigh) {
  return (uint64_t)keyHigh << 32 | (uint64_t)keyLow;
}

// The node's 64-bit key. Can't fail.
static uint64_t NodeKey(const TreeNode *node) {
  return KeyOf(node->keyLow, node->keyHigh);
}

// Returns the new empty tree, or null (with the Debug line) when the header,
// its index or its lock cannot be made.
bintree *bintree_Allocate(void) {
  bintree *tree = (bintree *)ContainerAlloc(sizeof(bintree));
  TreeIndex *index = tree != nullptr ? new (std::nothrow) TreeIndex() : nullptr;
  if (index == nullptr) {
    DebugText(L"bintreeAllocate: memory alloc failed");
    ContainerFree(tree);
    return nullptr;
  }
  tree->root = nullptr;
  tree->count = 0;
  tree->linksKept = 1;
  tree->lastHit = nullptr;
  tree->index = index;
  if (!ContainerInitLock(&tree->lock)) {
    DebugText(L"bintree_Allocate - Mutex allocate failed");
    delete index;
    ContainerFree(tree);
    return nullptr;
  }
  return tree;
}

// Returns 0 when the tree's lock is held; otherwise the wait's value (87
// for a null tree), after the Debug line.
DWORD bintree_AcquireMutex(bintree *tree) {
  DWORD wait = tree != nullptr ? ContainerWait(&tree->lock)
                               : (DWORD)ERROR_INVALID_PARAMETER;
  if (wait != 0) {
    DebugText(L"ERRORbintree_AcquireMutex bintree_AcquireMutex (failed)");
  }
  return wait;
}

// The block whose range holds key, and the place of the first pair whose
// key is not below it. Can't fail.
static IndexPos IndexFind(const TreeIndex *index, uint64_t key) {
  if (index->blocks.empty()) return IndexPos{0, 0};
  auto after =
      std::upper_bound(index->starts.begin(), index->starts.end(), key);
  size_t b = (size_t)(after - index->starts.begin());
  const IndexBlock &block = index->blocks[b];
  auto at = std::lower_bound(
      block.begin(), block.end(), key,
      [](const IndexEntry &e, uint64_t k) { return e.key < k; });
  return IndexPos{b, (size_t)(at - block.begin())};
}

// The pair at pos, or null when pos is past its block's end. Can't fail.
static const IndexEntry *IndexAt(const TreeIndex *index, IndexPos pos) {
  if (pos.block >= index->blocks.size()) return nullptr;
  const IndexBlock &block = index->blocks[pos.block];
  return pos.at < block.size() ? &block[pos.at] : nullptr;
}

static void PrefetchNeighbours(const TreeIndex *index, IndexPos pos);

// The node holding key, lastHit first; a hit becomes lastHit. Null when the
// key is absent; *place (when given) is then where the index would take it.
// Called under the lock.
static TreeNode *TreeLookup(bintree *tree, uint64_t key, IndexPos *place) {
  TreeIndex *index = tree->index;
  if (tree->lastHit != nullptr && NodeKey(tree->lastHit) == key) {
    return tree->lastHit;
  }
  if (index->missKnown && index->missKey == key &&
      index->missVersion == index->version) {
    if (place != nullptr) *place = index->missAt;
    return nullptr;
  }
  IndexPos pos = IndexFind(index, key);
  const IndexEntry *e = IndexAt(index, pos);
  if (e == nullptr || e->key != key) {
    index->missKnown = true;
    index->missKey = key;
    index->missVersion = index->version;
    index->missAt = pos;
    if (place != nullptr) *place = pos;
    if (tree->linksKept) PrefetchNeighbours(index, pos);
    return nullptr;
  }
  tree->lastHit = e->node;
  return e->node;
}

// The payload stored under the key; null when absent, for a null tree or a
// failed wait.
void *bintree_GetObject(bintree *tree, DWORD keyLow, DWORD keyHigh) {
  if (tree == nullptr) {
    DebugText(L"ERROR: bintree_GetObject called on NULL bintree");
    return nullptr;
  }
  if (bintree_AcquireMutex(tree) != 0) {
    DebugText(L"bintree_GetObject - Acquire mutex failed");
    return nullptr;
  }
  TreeNode *hit = nullptr;
  if (tree->root != nullptr) {
    hit = TreeLookup(tree, KeyOf(keyLow, keyHigh), nullptr);
  }
  ContainerRelease(&tree->lock);
  return hit != nullptr ? hit->payload : nullptr;
}

// Splices node in as parent's left (or right) child, the child it replaces
// going below node on the same side. Can't fail.
static void SpliceBelow(TreeNode *parent, TreeNode *node, bool onLeft) {
  TreeNode **slot = onLeft ? &parent->left : &parent->right;
  TreeNode *below = *slot;
  if (onLeft) {
    node->left = below;
  } else {
    node->right = below;
  }
  if (below != nullptr) below->parent = node;
  *slot = node;
  node->parent = parent;
}

// The nodes just before and just after pos (null at either end). Can't
// fail.
static TreeNode *IndexPrev(const TreeIndex *index, IndexPos pos) {
  if (pos.at > 0) return index->blocks[pos.block][pos.at - 1].node;
  if (pos.block == 0) return nullptr;
  return index->blocks[pos.block - 1].back().node;
}

static TreeNode *IndexNext(const TreeIndex *index, IndexPos pos) {
  if (pos.at + 1 < index->blocks[pos.block].size())
    return index->blocks[pos.block][pos.at + 1].node;
  if (pos.block + 1 >= index->blocks.size()) return nullptr;
  return index->blocks[pos.block + 1].front().node;
}

// A key found absent is usually inserted next, which links it to the nodes
// just before and after its place: asks for them now, so that they are in
// the cache by then (the nodes were made in scan order, not key order).
// Can't fail.
static void PrefetchNeighbours(const TreeIndex *index, IndexPos pos) {
  if (index->blocks.empty()) return;
  if (TreeNode *before = IndexPrev(index, pos)) __builtin_prefetch(before);
  if (const IndexEntry *after = IndexAt(index, pos)) {
    __builtin_prefetch(after->node);
  } else if (pos.block + 1 < index->blocks.size()) {
    __builtin_prefetch(index->blocks[pos.block + 1].front().node);
  }
}

// Links the node at pos (already in the index) where the insertion rule
// puts it: below its successor in the left chain, or below its predecessor
// in the right chain. A tree that keeps no links only gets its first root.
// Can't fail.
static void TreeLink(bintree *tree, IndexPos pos) {
  TreeNode *node = tree->index->blocks[pos.block][pos.at].node;
  uint64_t key = NodeKey(node);
  if (tree->root == nullptr) {
    tree->root = node;
  } else if (tree->linksKept) {
    if (key < NodeKey(tree->root)) {
      SpliceBelow(IndexNext(tree->index, pos), node, true);
    } else {
      SpliceBelow(IndexPrev(tree->index, pos), node, false);
    }
  }
  if (key < tree->index->unvisitedFrom) tree->index->unvisitedFrom = key;
}

// A new unlinked node, or null when memory runs out.
static TreeNode *NodeMake(DWORD keyLow, DWORD keyHigh, void *payload) {
  TreeNode *node = (TreeNode *)ContainerSlotTake(sizeof(TreeNode));
  if (node == nullptr) return nullptr;
  node->keyLow = keyLow;
  node->keyHigh = keyHigh;
  node->left = nullptr;
  node->right = nullptr;
  node->parent = nullptr;
  node->payload = payload;
  node->visited = 0;
  node->reserved = 0;
  return node;
}

// Makes room for one more element, doubling the capacity when it is
// reached (an exact reserve would copy the whole array at every split).
// Throws std::bad_alloc when memory runs out.
template <typename V>
static void ReserveOneMore(V *v) {
  if (v->size() == v->capacity())
    v->reserve(std::max<size_t>(16, 2 * v->size()));
}

// Splits the full block b in halves; pos, a place in it, follows its pair.
// Throws std::bad_alloc when memory runs out; the index is then unchanged.
static void IndexSplit(TreeIndex *index, size_t b, IndexPos *pos) {
  ReserveOneMore(&index->blocks);
  ReserveOneMore(&index->starts);
  IndexBlock &full = index->blocks[b];
  size_t half = full.size() / 2;
  IndexBlock upper(full.begin() + (ptrdiff_t)half, full.end());
  upper.reserve(kBlockMax);
  uint64_t upperStart = upper.front().key;
  // Nothing below allocates: the capacities are there.
  index->blocks[b].resize(half);
  index->blocks.insert(index->blocks.begin() + (ptrdiff_t)b + 1,
                       std::move(upper));
  index->starts.insert(index->starts.begin() + (ptrdiff_t)b, upperStart);
  if (pos->at > half) *pos = IndexPos{b + 1, pos->at - half};
}

// Enters node into the index at place (from IndexFind). Returns true with
// *place at its pair, or false when memory runs out (the index then holds
// the same pairs as before).
static bool IndexAdd(TreeIndex *index, IndexPos *place, TreeNode *node) {
  index->version++;
  try {
    if (index->blocks.empty()) {
      IndexBlock first;
      first.reserve(kBlockMax);
      index->blocks.push_back(std::move(first));
    }
    if (index->blocks[place->block].size() >= kBlockMax) {
      IndexSplit(index, place->block, place);
    }
    IndexBlock &block = index->blocks[place->block];
    block.insert(block.begin() + (ptrdiff_t)place->at,
                 IndexEntry{NodeKey(node), node});
    return true;
  } catch (const std::bad_alloc &) {
    return false;
  }
}

// Allocates, indexes (at place) and links a node for a key known absent;
// called under the lock. Returns 0, or 8 when memory runs out (nothing is
// then kept).
static DWORD TreeAddNode(bintree *tree, IndexPos place, DWORD keyLow,
                         DWORD keyHigh, void *payload) {
  TreeNode *node = NodeMake(keyLow, keyHigh, payload);
  if (node == nullptr || !IndexAdd(tree->index, &place, node)) {
    DebugText(L"ERROR: bintree_AddObject memory alloc failed (list element)");
    ContainerSlotGive(node, sizeof(TreeNode));
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  TreeLink(tree, place);
  platformCalls.InterlockedIncrement(&tree->count);
  return 0;
}

// Links a new node for the key with payload. Returns 0; 183 when the key is
// present, 8 when memory runs out, 87 for a null tree, or the wait's value.
DWORD bintree_InsertNode(bintree *tree, DWORD keyLow, DWORD keyHigh,
                         void *payload) {
  if (tree == nullptr) {
    DebugText(L"ERROR: bintree_AddObject called on NULL bintree");
    return ERROR_INVALID_PARAMETER;
  }
  DWORD wait = bintree_AcquireMutex(tree);
  if (wait != 0) {
    DebugText(L"bintree_AddObject - Acquire mutex failed");
    return wait;
  }
  DWORD result;
  IndexPos place = {0, 0};  // an empty tree's index takes it there
  if (tree->root != nullptr &&
      TreeLookup(tree, KeyOf(keyLow, keyHigh), &place) != nullptr) {
    DebugText(L"ERROR: bintree_AddObject called for existing key");
    result = ERROR_ALREADY_EXISTS;
  } else {
    result = TreeAddNode(tree, place, keyLow, keyHigh, payload);
  }
  ContainerRelease(&tree->lock);
  return result;
}

// The plain insertion rule: walks down from start and links node at its
// sorted place in the chain on its side. Returns 0, or 183 (nothing linked)
// when a key equal to node's is met.
DWORD bintree_AddObjectWorker(TreeNode *start, TreeNode *node) {
  uint64_t key = NodeKey(node);
  TreeNode *current = start;
  for (;;) {
    uint64_t currentKey = NodeKey(current);
    if (key == currentKey) {
      DebugText(L"ERROR: bintree_AddObjectWorker keys are equal");
      return ERROR_ALREADY_EXISTS;
    }
    bool onLeft = key < currentKey;
    TreeNode *next = onLeft ? current->left : current->right;
    bool goOn = next != nullptr &&
                (onLeft ? NodeKey(next) >= key : NodeKey(next) <= key);
    if (!goOn) {
      SpliceBelow(current, node, onLeft);
      return 0;
    }
    current = next;
  }
}

// A tear-down prunes in key order, which is not the order the nodes were
// made in: each prune would wait for memory. Asks for the node two prunes
// ahead and for the payload of the next one (its node asked for by the
// prune before). Can't fail.
static void PrefetchNextSmallest(const TreeIndex *index) {
  if (index->blocks.empty()) return;
  const IndexBlock &first = index->blocks.front();
  __builtin_prefetch(first[0].node->payload);
  if (first.size() > 1) __builtin_prefetch(first[1].node);
}

// Unlinks the node with the smallest key (its right subtree takes its
// place; without links, a root removed gives way to the next smallest),
// drops it from the index and from lastHit and returns it. The tree must
// not be empty. Can't fail.
static TreeNode *TreeUnlinkSmallest(bintree *tree) {
  TreeIndex *index = tree->index;
  IndexBlock &first = index->blocks.front();
  TreeNode *s = first.front().node;
  first.erase(first.begin());
  index->version++;
  if (first.empty()) {
    index->blocks.erase(index->blocks.begin());
    if (!index->starts.empty()) index->starts.erase(index->starts.begin());
  }
  if (!tree->linksKept) {
    if (tree->root == s)
      tree->root =
          index->blocks.empty() ? nullptr : index->blocks.front().front().node;
  } else {
    TreeNode *above = s->parent;
    if (s->right != nullptr) s->right->parent = above;
    if (above == nullptr) {
      tree->root = s->right;
    } else {
      above->left = s->right;
    }
  }
  if (tree->lastHit == s) tree->lastHit = nullptr;
  PrefetchNextSmallest(index);
  return s;
}

// Removes the node with the smallest key and returns its payload; null for
// an empty or null tree or a failed wait.
void *bintree_PruneSmallest(bintree *tree) {
  if (tree == nullptr) {
    DebugText(L"ERROR: bintree_PruneSmallest called on NULL bintree");
    return nullptr;
  }
  if (bintree_AcquireMutex(tree) != 0) {
    DebugText(L"ERROR: bintree_PruneSmallest Acquire mutex failed");
    return nullptr;
  }
  void *payload = nullptr;
  if (tree->root != nullptr) {
    TreeNode *smallest = TreeUnlinkSmallest(tree);
    payload = smallest->payload;
    ContainerSlotGive(smallest, sizeof(TreeNode));
    platformCalls.InterlockedDecrement(&tree->count);
  }
  ContainerRelease(&tree->lock);
  return payload;
}

// Marks the first unvisited node, in ascending key order, visited and
// returns it; null when every node is visited. Called under the lock.
static TreeNode *NextUnvisited(TreeIndex *index, int restart) {
  if (restart != 0) {
    for (IndexBlock &block : index->blocks) {
      for (IndexEntry &e : block) e.node->visited = 0;
    }
    index->unvisitedFrom = 0;
  }
  IndexPos pos = IndexFind(index, index->unvisitedFrom);
  for (size_t b = pos.block; b < index->blocks.size(); b++) {
    IndexBlock &block = index->blocks[b];
    for (size_t at = b == pos.block ? pos.at : 0; at < block.size(); at++) {
      index->unvisitedFrom = block[at].key;
      if (block[at].node->visited == 0) {
        block[at].node->visited = 1;
        return block[at].node;
      }
    }
  }
  return nullptr;
}

// The payload of the first node in ascending order not yet returned since
// the last restart; null when there is none, for a null tree or a failed
// wait.
void *bintree_FindFirst(bintree *tree, int restart) {
  if (tree == nullptr) {
    DebugText(L"ERROR: bintree_FindFirst called on NULL bintree");
    return nullptr;
  }
  if (bintree_AcquireMutex(tree) != 0) {
    DebugText(L"ERROR: bintree_FindFirst Acquire mutex failed");
    return nullptr;
  }
  TreeNode *node = NextUnvisited(tree->index, restart);
  ContainerRelease(&tree->lock);
  return node != nullptr ? node->payload : nullptr;
}

// 1 when the tree has no node, else 0. A null tree or a failed wait also
// gives 1.
int bintree_IsEmpty(bintree *tree) {
  if (tree == nullptr) {
    DebugText(L"ERROR: bintree_IsEmpty called on NULL bintree");
    return 1;
  }
  if (bintree_AcquireMutex(tree) != 0) {
    DebugText(L"bintree_IsEmpty - Acquire mutex failed");
    return 1;
  }
  int empty = tree->root == nullptr ? 1 : 0;
  ContainerRelease(&tree->lock);
  return empty;
}

// Frees the tree, its index and its lock; nodes still present are removed
// and their payloads dropped. A null tree, a non-empty tree and a failed
// wait (the header then stays) are reported under Debug only.
void bintree_DeAllocate(bintree *tree) {
  if (tree == nullptr) {
    DebugText(L"ERROR: bintree_DeAllocate called on NULL bintree");
    return;
  }
  if (bintree_IsEmpty(tree) == 0) {
    DebugText(L"bintreeDeAlloc - Not empty! Memory leak!");
    while (bintree_PruneSmallest(tree) != nullptr) {
    }
  }
  if (bintree_AcquireMutex(tree) != 0) {
    DebugText(L"ERROR: bintree_DeAllocate Acquire mutex failed");
    return;
  }
  delete tree->index;
  ContainerRelease(&tree->lock);
  ContainerDeleteLock(&tree->lock);
  ContainerFree(tree);
}

void bintree_DropLinks(bintree *tree) {
  if (tree != nullptr && tree->root == nullptr) tree->linksKept = 0;
}
