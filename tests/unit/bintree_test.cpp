// The size tree: the exact links of the insertion rule, key order, the
// last-hit cache, enumeration, removal, deep chains and diagnostic texts.
#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "app/app.h"
#include "containers/containers.h"
#include "platform/testing/testing.h"
#include "support/harness.h"
#include "support/seam.h"

namespace {

class BintreeTest : public DebugTextTest {};

DWORD Low(uint64_t key) { return (DWORD)(key & 0xFFFFFFFFu); }
DWORD High(uint64_t key) { return (DWORD)(key >> 32); }
uint64_t KeyOf(const TreeNode *node) {
  return (uint64_t)node->keyHigh << 32 | node->keyLow;
}
// Payloads are the keys themselves, kept where the tree can point at them.
uint64_t KeyOfPayload(void *payload) { return *(uint64_t *)payload; }

DWORD Insert(bintree *tree, uint64_t *key) {
  return bintree_InsertNode(tree, Low(*key), High(*key), key);
}
void *Lookup(bintree *tree, uint64_t key) {
  return bintree_GetObject(tree, Low(key), High(key));
}

// A node's links, as the keys of its neighbours.
using Links = std::tuple<std::optional<uint64_t>, std::optional<uint64_t>,
                         std::optional<uint64_t>>;
using Shape = std::map<uint64_t, Links>;

std::optional<uint64_t> KeyOrNone(const TreeNode *node) {
  if (node == nullptr) return std::nullopt;
  return KeyOf(node);
}

// Every node reachable from root, found without recursion. Fails the test
// when a child does not point back at its parent.
std::vector<const TreeNode *> NodesOf(const TreeNode *root) {
  std::vector<const TreeNode *> nodes;
  if (root != nullptr) nodes.push_back(root);
  for (size_t i = 0; i < nodes.size(); ++i) {
    for (const TreeNode *child : {nodes[i]->left, nodes[i]->right}) {
      if (child == nullptr) continue;
      EXPECT_EQ(child->parent, nodes[i]) << "child " << KeyOf(child);
      nodes.push_back(child);
    }
  }
  return nodes;
}

// Every node reachable from root with its left, right and parent keys.
Shape ShapeOf(const TreeNode *root) {
  Shape shape;
  for (const TreeNode *node : NodesOf(root)) {
    shape[KeyOf(node)] = Links(KeyOrNone(node->left), KeyOrNone(node->right),
                               KeyOrNone(node->parent));
  }
  return shape;
}

// The payload keys in the order bintree_FindFirst gives them.
std::vector<uint64_t> Enumerate(bintree *tree) {
  std::vector<uint64_t> keys;
  for (void *p = bintree_FindFirst(tree, 1); p != nullptr;
       p = bintree_FindFirst(tree, 0)) {
    keys.push_back(KeyOfPayload(p));
  }
  return keys;
}

// The removal rule on a tree of bare nodes: follow left links from the root,
// the smallest's right subtree takes its place.
TreeNode *ReferencePrune(TreeNode **root) {
  TreeNode *above = nullptr;
  TreeNode *smallest = *root;
  while (smallest->left != nullptr) {
    above = smallest;
    smallest = smallest->left;
  }
  if (smallest->right != nullptr) smallest->right->parent = above;
  if (above == nullptr) {
    *root = smallest->right;
  } else {
    above->left = smallest->right;
  }
  return smallest;
}

TEST_F(BintreeTest, EmptyTreeIsSilent) {
  bintree *tree = bintree_Allocate();
  ASSERT_NE(tree, nullptr);
  out = Output([&] {
    EXPECT_EQ(bintree_IsEmpty(tree), 1);
    EXPECT_EQ(Lookup(tree, 0), nullptr);
    EXPECT_EQ(bintree_PruneSmallest(tree), nullptr);
    EXPECT_EQ(bintree_FindFirst(tree, 1), nullptr);
    EXPECT_EQ(bintree_FindFirst(tree, 0), nullptr);
    bintree_DeAllocate(tree);
  });
  EXPECT_EQ(out, "");
}

class SixSizes : public BintreeTest {
 protected:
  void SetUp() override {
    BintreeTest::SetUp();
    tree = bintree_Allocate();
    ASSERT_NE(tree, nullptr);
    for (uint64_t &key : keys) ASSERT_EQ(Insert(tree, &key), 0u);
  }
  void TearDown() override {
    bintree_DeAllocate(tree);
    BintreeTest::TearDown();
  }
  bintree *tree = nullptr;
  uint64_t keys[6] = {10, 5, 7, 6, 12, 11};
};

TEST_F(SixSizes, RootAndTwoSortedChains) {
  EXPECT_EQ(tree->count, 6);
  EXPECT_EQ(KeyOf(tree->root), 10u);
  Shape expected = {
      {10, Links(7, 11, std::nullopt)},
      {7, Links(6, std::nullopt, 10)},
      {6, Links(5, std::nullopt, 7)},
      {5, Links(std::nullopt, std::nullopt, 6)},
      {11, Links(std::nullopt, 12, 10)},
      {12, Links(std::nullopt, std::nullopt, 11)},
  };
  EXPECT_EQ(ShapeOf(tree->root), expected);
  for (const TreeNode *node : NodesOf(tree->root)) {
    EXPECT_EQ(node->visited, 0);
    EXPECT_EQ(node->reserved, 0);
  }
}

TEST_F(SixSizes, FindFirstAscendsAndRestarts) {
  std::vector<uint64_t> ascending = {5, 6, 7, 10, 11, 12};
  EXPECT_EQ(Enumerate(tree), ascending);
  EXPECT_EQ(bintree_FindFirst(tree, 0), nullptr);
  EXPECT_EQ(Enumerate(tree), ascending);
}

TEST_F(SixSizes, PruneSmallestInAscendingOrder) {
  for (uint64_t want : {5, 6, 7, 10, 11, 12}) {
    void *payload = bintree_PruneSmallest(tree);
    ASSERT_NE(payload, nullptr);
    EXPECT_EQ(KeyOfPayload(payload), want);
    // What is left keeps its links consistent (checked inside ShapeOf).
    EXPECT_EQ(ShapeOf(tree->root).size(), (size_t)tree->count);
  }
  EXPECT_EQ(bintree_IsEmpty(tree), 1);
  EXPECT_EQ(tree->root, nullptr);
  EXPECT_EQ(tree->count, 0);
  EXPECT_EQ(bintree_PruneSmallest(tree), nullptr);
}

TEST_F(SixSizes, RemovingTheRootPromotesItsRightChain) {
  for (int i = 0; i < 4; ++i) bintree_PruneSmallest(tree);
  Shape expected = {
      {11, Links(std::nullopt, 12, std::nullopt)},
      {12, Links(std::nullopt, std::nullopt, 11)},
  };
  EXPECT_EQ(ShapeOf(tree->root), expected);
  // New keys below the new root start its left chain.
  uint64_t more[] = {3, 8, 4};
  for (uint64_t &key : more) ASSERT_EQ(Insert(tree, &key), 0u);
  expected = {
      {11, Links(8, 12, std::nullopt)},
      {12, Links(std::nullopt, std::nullopt, 11)},
      {8, Links(4, std::nullopt, 11)},
      {4, Links(3, std::nullopt, 8)},
      {3, Links(std::nullopt, std::nullopt, 4)},
  };
  EXPECT_EQ(ShapeOf(tree->root), expected);
}

TEST_F(SixSizes, LookupFindsEachPayload) {
  for (uint64_t &key : keys) EXPECT_EQ(Lookup(tree, key), &key);
  for (uint64_t absent : {0ull, 4ull, 8ull, 9ull, 13ull, 10ull << 32}) {
    EXPECT_EQ(Lookup(tree, absent), nullptr) << absent;
  }
}

TEST_F(SixSizes, InsertingAnExistingKey) {
  uint64_t again = 7;
  out = Output([&] { EXPECT_EQ(Insert(tree, &again), 183u); });
  EXPECT_EQ(out, "ERROR: bintree_AddObject called for existing key");
  EXPECT_EQ(tree->count, 6);
  EXPECT_EQ(Lookup(tree, 7), &keys[2]);
}

TEST_F(SixSizes, WorkerRefusesAnEqualKey) {
  Shape before = ShapeOf(tree->root);
  TreeNode node{};
  node.keyLow = 6;
  out = Output(
      [&] { EXPECT_EQ(bintree_AddObjectWorker(tree->root, &node), 183u); });
  EXPECT_EQ(out, "ERROR: bintree_AddObjectWorker keys are equal");
  EXPECT_EQ(node.parent, nullptr);
  EXPECT_EQ(ShapeOf(tree->root), before);
}

TEST_F(SixSizes, DeAllocateOfNonEmptyTreeSaysSoOnce) {
  out = Output([&] { bintree_DeAllocate(tree); });
  EXPECT_EQ(out, "bintreeDeAlloc - Not empty! Memory leak!");
  tree = bintree_Allocate();  // for TearDown
}

TEST_F(BintreeTest, KeysCompareHighWordFirst) {
  bintree *tree = bintree_Allocate();
  ASSERT_NE(tree, nullptr);
  uint64_t keys[] = {1ull << 32, 0xFFFFFFFFull, (1ull << 32) | 5, 5,
                     0xFFFFFFFF00000000ull};
  for (uint64_t &key : keys) ASSERT_EQ(Insert(tree, &key), 0u);
  // Equal low words with different high words are distinct keys.
  EXPECT_EQ(tree->count, 5);
  for (uint64_t &key : keys) EXPECT_EQ(Lookup(tree, key), &key);
  EXPECT_EQ(Enumerate(tree),
            (std::vector<uint64_t>{5, 0xFFFFFFFFull, 1ull << 32,
                                   (1ull << 32) | 5, 0xFFFFFFFF00000000ull}));
  // high 0 / low 2^32-1 lies left of the root high 1 / low 0.
  EXPECT_EQ(KeyOf(tree->root), 1ull << 32);
  EXPECT_EQ(KeyOf(tree->root->left), 0xFFFFFFFFull);
  while (bintree_PruneSmallest(tree) != nullptr) {
  }
  bintree_DeAllocate(tree);
}

TEST_F(BintreeTest, LastHitFollowsSuccessfulLookupsOnly) {
  bintree *tree = bintree_Allocate();
  ASSERT_NE(tree, nullptr);
  uint64_t keys[] = {10, 7};
  for (uint64_t &key : keys) ASSERT_EQ(Insert(tree, &key), 0u);
  EXPECT_EQ(tree->lastHit, nullptr);  // insertion does not set it
  EXPECT_EQ(Lookup(tree, 7), &keys[1]);
  TreeNode *seven = tree->lastHit;
  ASSERT_NE(seven, nullptr);
  EXPECT_EQ(KeyOf(seven), 7u);
  EXPECT_EQ(Lookup(tree, 8), nullptr);  // a miss keeps it
  EXPECT_EQ(tree->lastHit, seven);
  EXPECT_EQ(Lookup(tree, 7), &keys[1]);  // answered from the cache

  EXPECT_EQ(bintree_PruneSmallest(tree), &keys[1]);
  EXPECT_EQ(tree->lastHit, nullptr);
  EXPECT_EQ(Lookup(tree, 7), nullptr);
  EXPECT_EQ(Lookup(tree, 10), &keys[0]);
  EXPECT_EQ(bintree_PruneSmallest(tree), &keys[0]);
  EXPECT_EQ(tree->lastHit, nullptr);
  bintree_DeAllocate(tree);
}

TEST_F(BintreeTest, PruningAnotherNodeKeepsLastHit) {
  bintree *tree = bintree_Allocate();
  ASSERT_NE(tree, nullptr);
  uint64_t keys[] = {10, 7, 12};
  for (uint64_t &key : keys) ASSERT_EQ(Insert(tree, &key), 0u);
  ASSERT_EQ(Lookup(tree, 12), &keys[2]);
  TreeNode *twelve = tree->lastHit;
  EXPECT_EQ(bintree_PruneSmallest(tree), &keys[1]);
  EXPECT_EQ(tree->lastHit, twelve);
  // A duplicate insertion finds the key under the lock: a hit, too.
  uint64_t again = 10;
  EXPECT_EQ(Insert(tree, &again), 183u);
  EXPECT_EQ(KeyOf(tree->lastHit), 10u);
  while (bintree_PruneSmallest(tree) != nullptr) {
  }
  bintree_DeAllocate(tree);
}

TEST_F(BintreeTest, NodeInsertedDuringEnumerationIsReturnedLater) {
  bintree *tree = bintree_Allocate();
  ASSERT_NE(tree, nullptr);
  uint64_t keys[] = {20, 30, 40, 5, 25, 50};
  for (int i = 0; i < 3; ++i) ASSERT_EQ(Insert(tree, &keys[i]), 0u);
  EXPECT_EQ(bintree_FindFirst(tree, 1), &keys[0]);  // 20
  EXPECT_EQ(bintree_FindFirst(tree, 0), &keys[1]);  // 30
  ASSERT_EQ(Insert(tree, &keys[3]), 0u);            // 5, below 20
  ASSERT_EQ(Insert(tree, &keys[4]), 0u);            // 25, below 30
  EXPECT_EQ(bintree_FindFirst(tree, 0), &keys[3]);
  EXPECT_EQ(bintree_FindFirst(tree, 0), &keys[4]);
  EXPECT_EQ(bintree_FindFirst(tree, 0), &keys[2]);  // 40
  EXPECT_EQ(bintree_FindFirst(tree, 0), nullptr);
  ASSERT_EQ(Insert(tree, &keys[5]), 0u);  // 50, after the end was reached
  EXPECT_EQ(bintree_FindFirst(tree, 0), &keys[5]);
  EXPECT_EQ(bintree_FindFirst(tree, 0), nullptr);
  // Pruning the node the search would resume from loses nothing.
  EXPECT_EQ(bintree_FindFirst(tree, 1), &keys[3]);
  EXPECT_EQ(bintree_PruneSmallest(tree), &keys[3]);
  EXPECT_EQ(bintree_FindFirst(tree, 0), &keys[0]);
  while (bintree_PruneSmallest(tree) != nullptr) {
  }
  bintree_DeAllocate(tree);
}

TEST_F(BintreeTest, NullTreeTextsRunTogether) {
  uint64_t key = 1;
  out = Output([&] {
    EXPECT_EQ(bintree_IsEmpty(nullptr), 1);
    EXPECT_EQ(Lookup(nullptr, 1), nullptr);
    EXPECT_EQ(Insert(nullptr, &key), 87u);
    EXPECT_EQ(bintree_PruneSmallest(nullptr), nullptr);
    EXPECT_EQ(bintree_FindFirst(nullptr, 1), nullptr);
    bintree_DeAllocate(nullptr);
  });
  EXPECT_EQ(out,
            "ERROR: bintree_IsEmpty called on NULL bintree"
            "ERROR: bintree_GetObject called on NULL bintree"
            "ERROR: bintree_AddObject called on NULL bintree"
            "ERROR: bintree_PruneSmallest called on NULL bintree"
            "ERROR: bintree_FindFirst called on NULL bintree"
            "ERROR: bintree_DeAllocate called on NULL bintree");
  out = Output([&] { Insert(nullptr, &key); }, 0);
  EXPECT_EQ(out, "");
}

// Builds the same tree twice, once through the tree's own insertion and
// once by the plain worker walk on bare nodes, with removals in between,
// and compares them link by link.
TEST_F(BintreeTest, IndexedInsertionLinksLikeTheWorker) {
  std::mt19937_64 random(20240611);
  std::deque<uint64_t> keys;  // payloads; stable addresses
  std::deque<TreeNode> bare;
  std::set<uint64_t> present;
  bintree *tree = bintree_Allocate();
  ASSERT_NE(tree, nullptr);
  TreeNode *bareRoot = nullptr;

  auto add = [&](uint64_t key) {
    keys.push_back(key);
    DWORD indexed = Insert(tree, &keys.back());
    bare.push_back(TreeNode{});
    TreeNode *node = &bare.back();
    node->keyLow = Low(key);
    node->keyHigh = High(key);
    DWORD walked =
        bareRoot == nullptr ? 0 : bintree_AddObjectWorker(bareRoot, node);
    if (bareRoot == nullptr) bareRoot = node;
    EXPECT_EQ(indexed, walked) << key;
    EXPECT_EQ(indexed, present.insert(key).second ? 0u : 183u) << key;
  };
  auto randomKey = [&]() -> uint64_t {
    // One key in ten was seen before (present, or pruned since); the others
    // spread over four high words, so both halves of a key decide the order.
    if (!keys.empty() && random() % 10 == 0) {
      return keys[random() % keys.size()];
    }
    return random() & 0x3FFFFFFFFull;
  };
  for (int i = 0; i < 2000; ++i) add(randomKey());

  // Remove the whole left chain and the root, and a few more.
  size_t leftChain = 0;
  for (TreeNode *n = tree->root->left; n != nullptr; n = n->left) ++leftChain;
  for (size_t i = 0; i < leftChain + 1 + 50; ++i) {
    void *payload = bintree_PruneSmallest(tree);
    ASSERT_NE(payload, nullptr);
    EXPECT_EQ(KeyOfPayload(payload), KeyOf(ReferencePrune(&bareRoot)));
    EXPECT_EQ(KeyOfPayload(payload), *present.begin());
    present.erase(present.begin());
  }
  for (int i = 0; i < 2000; ++i) add(randomKey());

  EXPECT_EQ(ShapeOf(tree->root), ShapeOf(bareRoot));
  EXPECT_EQ((size_t)tree->count, present.size());
  EXPECT_EQ(Enumerate(tree),
            std::vector<uint64_t>(present.begin(), present.end()));
  for (uint64_t key : present) {
    void *payload = Lookup(tree, key);
    ASSERT_NE(payload, nullptr);
    EXPECT_EQ(KeyOfPayload(payload), key);
  }
  while (bintree_PruneSmallest(tree) != nullptr) {
  }
  bintree_DeAllocate(tree);
}

// The run's tree keeps no links: with the same insertions, look-ups,
// enumerations and removals (the root among them) it answers exactly as a
// tree that keeps them, and it is empty exactly when that one is.
TEST_F(BintreeTest, TreeWithoutLinksAnswersAsOneWithThem) {
  std::mt19937_64 random(20261209);
  std::deque<uint64_t> keys;  // payloads; stable addresses
  bintree *linked = bintree_Allocate();
  bintree *bare = bintree_Allocate();
  ASSERT_NE(linked, nullptr);
  ASSERT_NE(bare, nullptr);
  bintree_DropLinks(bare);
  auto same = [&] {
    EXPECT_EQ(bintree_IsEmpty(bare), bintree_IsEmpty(linked));
    EXPECT_EQ(bare->count, linked->count);
    EXPECT_EQ(Enumerate(bare), Enumerate(linked));
  };
  for (int round = 0; round < 3; ++round) {
    for (int i = 0; i < 500; ++i) {
      keys.push_back(random() % 5000);
      EXPECT_EQ(Insert(bare, &keys.back()), Insert(linked, &keys.back()));
    }
    same();
    for (int i = 0; i < 40; ++i) {
      uint64_t key = random() % 5000;
      EXPECT_EQ(Lookup(bare, key), Lookup(linked, key)) << key;
    }
    // Most of the tree goes, its root with it, then it grows again.
    for (int i = 0; i < 300; ++i) {
      EXPECT_EQ(bintree_PruneSmallest(bare), bintree_PruneSmallest(linked));
    }
    same();
  }
  while (bintree_IsEmpty(linked) == 0) {
    EXPECT_EQ(bintree_PruneSmallest(bare), bintree_PruneSmallest(linked));
  }
  same();
  EXPECT_EQ(bintree_PruneSmallest(bare), nullptr);
  out = Output([&] {
    bintree_DeAllocate(bare);
    bintree_DeAllocate(linked);
  });
  EXPECT_EQ(out, "");
}

// A chain of n nodes: every operation must stay iterative (no deep
// recursion) and far below quadratic time.
void RunLongChain(bool ascending, uint64_t n) {
  bintree *tree = bintree_Allocate();
  ASSERT_NE(tree, nullptr);
  // Payloads are opaque to the tree: the key itself, never zero, serves.
  auto payloadOf = [](uint64_t key) { return (void *)(uintptr_t)key; };
  for (uint64_t i = 1; i <= n; ++i) {
    uint64_t key = ascending ? i : n + 1 - i;
    ASSERT_EQ(bintree_InsertNode(tree, Low(key), High(key), payloadOf(key)),
              0u);
  }
  EXPECT_EQ((uint64_t)tree->count, n);
  EXPECT_EQ(ascending ? tree->root->left : tree->root->right, nullptr);
  uint64_t wrong = 0;
  for (uint64_t key = 1; key <= n; ++key) {
    if (bintree_GetObject(tree, Low(key), High(key)) != payloadOf(key)) ++wrong;
  }
  EXPECT_EQ(wrong, 0u);
  uint64_t expected = 1;
  for (void *p = bintree_FindFirst(tree, 1); p != nullptr;
       p = bintree_FindFirst(tree, 0)) {
    if (p != payloadOf(expected++)) ++wrong;
  }
  EXPECT_EQ(wrong, 0u);
  EXPECT_EQ(expected, n + 1);
  for (uint64_t key = 1; key <= n; ++key) {
    if (bintree_PruneSmallest(tree) != payloadOf(key)) ++wrong;
  }
  EXPECT_EQ(wrong, 0u);
  EXPECT_EQ(bintree_IsEmpty(tree), 1);
  bintree_DeAllocate(tree);
}

// The Windows build runs its tests under Wine, where every lock wait and
// release is a round trip to the Wine server (tens of microseconds): there
// the chains are shorter, still far deeper than its 1-2 MB stack would let
// a recursive walk go.
const bool kLocksAreSlow = kPathSep == L'\\';

TEST_F(BintreeTest, LongAscendingChain) {
  RunLongChain(true, kLocksAreSlow ? 100000 : 1000000);
}
// Removal works at the deep end of this one; a shorter chain keeps the
// sanitizer build quick and is still far deeper than any stack would take.
TEST_F(BintreeTest, DeepDescendingChain) {
  RunLongChain(false, kLocksAreSlow ? 50000 : 200000);
}

// Failure paths, reached through failing allocator and lock calls.
class BintreeFaultTest : public BintreeTest {
 protected:
  ContainerFaultScope faults;
  const std::string failed =
      "ERRORbintree_AcquireMutex bintree_AcquireMutex (failed)";
};

TEST_F(BintreeFaultTest, AllocateFailures) {
  bintree sentinel{};
  bintree *tree = &sentinel;
  containerFaults.alloc = 1;
  out = Output([&] { tree = bintree_Allocate(); });
  EXPECT_EQ(out, "bintreeAllocate: memory alloc failed");
  EXPECT_EQ(tree, nullptr);
  tree = &sentinel;
  containerFaults.mutex = 1;
  out = Output([&] { tree = bintree_Allocate(); });
  EXPECT_EQ(out, "bintree_Allocate - Mutex allocate failed");
  EXPECT_EQ(tree, nullptr);
}

TEST_F(BintreeFaultTest, FailedInsertionLeavesTreeUnchanged) {
  bintree *tree = bintree_Allocate();
  ASSERT_NE(tree, nullptr);
  uint64_t keys[] = {10, 5, 7, 12};
  const std::string noMemory =
      "ERROR: bintree_AddObject memory alloc failed (list element)";
  // The node itself, then the index's first block, for the root; then a
  // chain node: each is reported as no memory and nothing is kept.
  const long live = containerFaults.live;
  containerFaults.alloc = 1;
  out = Output([&] { EXPECT_EQ(Insert(tree, &keys[0]), 8u); });
  EXPECT_EQ(out, noMemory);
  containerFaults.alloc = 2;
  out = Output([&] { EXPECT_EQ(Insert(tree, &keys[0]), 8u); });
  EXPECT_EQ(out, noMemory);
  EXPECT_EQ(containerFaults.live, live);
  EXPECT_EQ(tree->root, nullptr);
  EXPECT_EQ(tree->count, 0);
  for (uint64_t &key : keys) ASSERT_EQ(Insert(tree, &key), 0u);
  Shape before = ShapeOf(tree->root);
  uint64_t six = 6;
  containerFaults.alloc = 1;
  out = Output([&] { EXPECT_EQ(Insert(tree, &six), 8u); });
  EXPECT_EQ(out, noMemory);
  containerFaults.wait = 1;
  out = Output([&] { EXPECT_EQ(Insert(tree, &six), WAIT_FAILED); });
  EXPECT_EQ(out, failed + "bintree_AddObject - Acquire mutex failed");
  EXPECT_EQ(ShapeOf(tree->root), before);
  EXPECT_EQ(tree->count, 4);
  EXPECT_EQ(Lookup(tree, 6), nullptr);
  EXPECT_EQ(Enumerate(tree), (std::vector<uint64_t>{5, 7, 10, 12}));
  // The same key goes in once memory is back.
  ASSERT_EQ(Insert(tree, &six), 0u);
  EXPECT_EQ(KeyOf(tree->root->left->left), 6u);
  while (bintree_PruneSmallest(tree) != nullptr) {
  }
  bintree_DeAllocate(tree);
}

// A full block of the index (128 pairs) splits when one more key comes;
// when the split's memory runs out, the key is refused and the index keeps
// every pair it had.
TEST_F(BintreeFaultTest, FailedIndexSplitLeavesTreeUnchanged) {
  bintree *tree = bintree_Allocate();
  ASSERT_NE(tree, nullptr);
  std::vector<uint64_t> keys(129);
  for (size_t i = 0; i < keys.size(); i++) keys[i] = i + 1;
  for (size_t i = 0; i < 128; i++) ASSERT_EQ(Insert(tree, &keys[i]), 0u);
  const long live = containerFaults.live;
  containerFaults.alloc = 2;  // the node goes through, the split does not
  out = Output([&] { EXPECT_EQ(Insert(tree, &keys[128]), 8u); });
  EXPECT_EQ(out, "ERROR: bintree_AddObject memory alloc failed (list element)");
  EXPECT_EQ(containerFaults.live, live);
  EXPECT_EQ(tree->count, 128);
  EXPECT_EQ(Lookup(tree, 129), nullptr);
  EXPECT_EQ(Lookup(tree, 128), &keys[127]);
  ASSERT_EQ(Insert(tree, &keys[128]), 0u);
  EXPECT_EQ(Lookup(tree, 129), &keys[128]);
  while (bintree_PruneSmallest(tree) != nullptr) {
  }
  bintree_DeAllocate(tree);
}

TEST_F(BintreeFaultTest, FailedWaitGivesUpWithoutTouchingTheTree) {
  bintree *tree = bintree_Allocate();
  ASSERT_NE(tree, nullptr);
  uint64_t key = 3;
  ASSERT_EQ(Insert(tree, &key), 0u);
  containerFaults.wait = 1;
  out = Output([&] { EXPECT_EQ(Lookup(tree, 3), nullptr); });
  EXPECT_EQ(out, failed + "bintree_GetObject - Acquire mutex failed");
  containerFaults.wait = 1;
  out = Output([&] { EXPECT_EQ(bintree_IsEmpty(tree), 1); });
  EXPECT_EQ(out, failed + "bintree_IsEmpty - Acquire mutex failed");
  containerFaults.wait = 1;
  out = Output([&] { EXPECT_EQ(bintree_FindFirst(tree, 1), nullptr); });
  EXPECT_EQ(out, failed + "ERROR: bintree_FindFirst Acquire mutex failed");
  containerFaults.wait = 1;
  out = Output([&] { EXPECT_EQ(bintree_PruneSmallest(tree), nullptr); });
  EXPECT_EQ(out, failed + "ERROR: bintree_PruneSmallest Acquire mutex failed");
  EXPECT_EQ(tree->count, 1);
  EXPECT_EQ(bintree_FindFirst(tree, 1), &key);
  EXPECT_EQ(bintree_PruneSmallest(tree), &key);
  // Empty tree: the emptiness test, then the final lock fails.
  containerFaults.wait = 2;
  out = Output([&] { bintree_DeAllocate(tree); });
  EXPECT_EQ(out, failed + "ERROR: bintree_DeAllocate Acquire mutex failed");
  EXPECT_EQ(bintree_IsEmpty(tree), 1);  // the header stayed
  bintree_DeAllocate(tree);
}

}  // namespace
