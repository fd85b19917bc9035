// bintree: the mutex-guarded size index. Its links form a root with two
// sorted chains (the insertion rule never rebalances); an ordered index kept
// beside the chains finds a key, and the place to splice a new one in, in
// logarithmic time instead of a walk along a chain.
#include <cstdlib>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <new>

#include "app/app.h"
#include "containers/containers.h"
#include "containers/internal.h"

// The standard allocator, except that test builds can make it fail.
template <typename T>
struct IndexAllocator {
  using value_type = T;
  IndexAllocator() = default;
  template <typename U>
  IndexAllocator(const IndexAllocator<U> &) {}
  // Throws std::bad_alloc when memory runs out.
  T *allocate(size_t n) {
    if (ContainerIndexFault()) throw std::bad_alloc();
    return std::allocator<T>().allocate(n);
  }
  void deallocate(T *p, size_t n) { std::allocator<T>().deallocate(p, n); }
  template <typename U>
  bool operator==(const IndexAllocator<U> &) const {
    return true;
  }
};

using IndexMap =
    std::map<uint64_t, TreeNode *, std::less<uint64_t>,
             IndexAllocator<std::pair<const uint64_t, TreeNode *>>>;

struct TreeIndex {
  IndexMap nodes;  // every node of the tree, by key
  // Every node with a smaller key has visited set: where bintree_FindFirst
  // resumes its search.
  uint64_t unvisitedFrom;
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
// its index or its mutex cannot be made.
bintree *bintree_Allocate(void) {
  bintree *tree = (bintree *)ContainerAlloc(sizeof(bintree));
  TreeIndex *index = tree != nullptr ? new (std::nothrow) TreeIndex() : nullptr;
  if (index == nullptr) {
    DebugText(L"bintreeAllocate: memory alloc failed");
    free(tree);
    return nullptr;
  }
  tree->root = nullptr;
  tree->count = 0;
  tree->lastHit = nullptr;
  tree->index = index;
  tree->mutex = ContainerCreateMutex();
  if (tree->mutex == nullptr) {
    DebugText(L"bintree_Allocate - Mutex allocate failed");
    delete index;
    free(tree);
    return nullptr;
  }
  return tree;
}

// Returns 0 when the tree's mutex is held; otherwise the wait's value (87
// for a null tree), after the Debug line.
DWORD bintree_AcquireMutex(bintree *tree) {
  DWORD wait = tree != nullptr ? ContainerWait(tree->mutex)
                               : (DWORD)ERROR_INVALID_PARAMETER;
  if (wait != 0) {
    DebugText(L"ERRORbintree_AcquireMutex bintree_AcquireMutex (failed)");
  }
  return wait;
}

// The node holding key, lastHit first; a hit becomes lastHit. Null when the
// key is absent; *place (when given) is then where the index would take it.
// Called under the lock.
static TreeNode *TreeLookup(bintree *tree, uint64_t key,
                            IndexMap::iterator *place) {
  if (tree->lastHit != nullptr && NodeKey(tree->lastHit) == key) {
    return tree->lastHit;
  }
  auto it = tree->index->nodes.lower_bound(key);
  if (it == tree->index->nodes.end() || it->first != key) {
    if (place != nullptr) *place = it;
    return nullptr;
  }
  tree->lastHit = it->second;
  return it->second;
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
  ReleaseMutex(tree->mutex);
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

// Links the node at `at` (already in the index) where the insertion rule
// puts it: below its successor in the left chain, or below its predecessor
// in the right chain. Can't fail.
static void TreeLink(bintree *tree, IndexMap::iterator at) {
  TreeNode *node = at->second;
  if (tree->root == nullptr) {
    tree->root = node;
  } else if (at->first < NodeKey(tree->root)) {
    SpliceBelow(std::next(at)->second, node, true);
  } else {
    SpliceBelow(std::prev(at)->second, node, false);
  }
  if (at->first < tree->index->unvisitedFrom) {
    tree->index->unvisitedFrom = at->first;
  }
}

// A new unlinked node, or null when memory runs out.
static TreeNode *NodeMake(DWORD keyLow, DWORD keyHigh, void *payload) {
  TreeNode *node = (TreeNode *)ContainerAlloc(sizeof(TreeNode));
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

// Enters node into the index just before place. Returns an iterator to its
// entry, or end() when the entry cannot be allocated.
static IndexMap::iterator IndexAdd(TreeIndex *index, IndexMap::iterator place,
                                   TreeNode *node) {
  try {
    return index->nodes.emplace_hint(place, NodeKey(node), node);
  } catch (const std::bad_alloc &) {
    return index->nodes.end();
  }
}

// Allocates, indexes (before place) and links a node for a key known
// absent; called under the lock. Returns 0, or 8 when memory runs out
// (nothing is then kept).
static DWORD TreeAddNode(bintree *tree, IndexMap::iterator place, DWORD keyLow,
                         DWORD keyHigh, void *payload) {
  TreeNode *node = NodeMake(keyLow, keyHigh, payload);
  IndexMap::iterator at = tree->index->nodes.end();
  if (node != nullptr) at = IndexAdd(tree->index, place, node);
  if (at == tree->index->nodes.end()) {
    DebugText(L"ERROR: bintree_AddObject memory alloc failed (list element)");
    free(node);
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  TreeLink(tree, at);
  InterlockedIncrement(&tree->count);
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
  IndexMap::iterator place = tree->index->nodes.end();
  if (tree->root != nullptr &&
      TreeLookup(tree, KeyOf(keyLow, keyHigh), &place) != nullptr) {
    DebugText(L"ERROR: bintree_AddObject called for existing key");
    result = ERROR_ALREADY_EXISTS;
  } else {
    result = TreeAddNode(tree, place, keyLow, keyHigh, payload);
  }
  ReleaseMutex(tree->mutex);
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

// Unlinks the node with the smallest key (its right subtree takes its
// place), drops it from the index and from lastHit and returns it. The tree
// must not be empty. Can't fail.
static TreeNode *TreeUnlinkSmallest(bintree *tree) {
  auto first = tree->index->nodes.begin();
  TreeNode *s = first->second;
  tree->index->nodes.erase(first);
  TreeNode *above = s->parent;
  if (s->right != nullptr) s->right->parent = above;
  if (above == nullptr) {
    tree->root = s->right;
  } else {
    above->left = s->right;
  }
  if (tree->lastHit == s) tree->lastHit = nullptr;
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
    free(smallest);
    InterlockedDecrement(&tree->count);
  }
  ReleaseMutex(tree->mutex);
  return payload;
}

// Marks the first unvisited node, in ascending key order, visited and
// returns it; null when every node is visited. Called under the lock.
static TreeNode *NextUnvisited(TreeIndex *index, int restart) {
  if (restart != 0) {
    for (auto &entry : index->nodes) entry.second->visited = 0;
    index->unvisitedFrom = 0;
  }
  auto it = index->nodes.lower_bound(index->unvisitedFrom);
  for (; it != index->nodes.end(); ++it) {
    index->unvisitedFrom = it->first;
    if (it->second->visited == 0) {
      it->second->visited = 1;
      return it->second;
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
  ReleaseMutex(tree->mutex);
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
  ReleaseMutex(tree->mutex);
  return empty;
}

// Frees the tree, its index and its mutex; nodes still present are removed
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
  HANDLE mutex = tree->mutex;
  if (bintree_AcquireMutex(tree) != 0) {
    DebugText(L"ERROR: bintree_DeAllocate Acquire mutex failed");
    return;
  }
  delete tree->index;
  free(tree);
  ReleaseMutex(mutex);
  CloseHandle(mutex);
}
