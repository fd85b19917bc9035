// The size tree under the scan's own call pattern: a look-up that misses,
// then the insertion of that key, with other insertions and removals in
// between, checked against a plain ordered set and the chain shape.
#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <random>
#include <set>
#include <vector>

#include "containers/containers.h"

namespace {

DWORD Low(uint64_t key) { return (DWORD)(key & 0xFFFFFFFFu); }
DWORD High(uint64_t key) { return (DWORD)(key >> 32); }
uint64_t KeyOf(const TreeNode *n) {
  return (uint64_t)n->keyHigh << 32 | n->keyLow;
}

void *Lookup(bintree *tree, uint64_t key) {
  return bintree_GetObject(tree, Low(key), High(key));
}

// Every chain holds its keys in order: decreasing down the left chain,
// increasing down the right one, all on the right side of the root.
bool ChainsInOrder(const bintree *tree) {
  const TreeNode *root = tree->root;
  if (root == nullptr) return true;
  uint64_t last = KeyOf(root);
  for (const TreeNode *n = root->left; n != nullptr; n = n->left) {
    if (KeyOf(n) >= last || n->right != nullptr) return false;
    last = KeyOf(n);
  }
  last = KeyOf(root);
  for (const TreeNode *n = root->right; n != nullptr; n = n->right) {
    if (KeyOf(n) <= last || n->left != nullptr) return false;
    last = KeyOf(n);
  }
  return true;
}

// Ascending keys through the tree's own enumeration.
std::vector<uint64_t> Enumerate(bintree *tree) {
  std::vector<uint64_t> keys;
  for (void *p = bintree_FindFirst(tree, 1); p != nullptr;
       p = bintree_FindFirst(tree, 0))
    keys.push_back(*(uint64_t *)p);
  return keys;
}

TEST(SizeIndex, MissedLookUpThenInsertionKeepsOrderAcrossChanges) {
  std::mt19937_64 random(20261207);
  std::deque<uint64_t> payloads;  // stable addresses
  std::set<uint64_t> present;
  bintree *tree = bintree_Allocate();
  ASSERT_NE(tree, nullptr);
  // Enough keys for the index to split its blocks many times.
  for (int i = 0; i < 20000; ++i) {
    uint64_t key = random() % 50000 + (random() % 3) * 0x100000000ull;
    void *found = Lookup(tree, key);
    EXPECT_EQ(found != nullptr, present.count(key) == 1) << key;
    if (found == nullptr) {
      // What the scan may meet between its look-up and its insertion:
      // another size added, or the smallest removed.
      if (i % 7 == 0) {
        uint64_t other = key + 1;
        payloads.push_back(other);
        DWORD rc =
            bintree_InsertNode(tree, Low(other), High(other), &payloads.back());
        EXPECT_EQ(rc, present.insert(other).second ? 0u : 183u);
      }
      if (i % 11 == 0 && !present.empty()) {
        void *p = bintree_PruneSmallest(tree);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(*(uint64_t *)p, *present.begin());
        present.erase(present.begin());
      }
      payloads.push_back(key);
      DWORD rc =
          bintree_InsertNode(tree, Low(key), High(key), &payloads.back());
      EXPECT_EQ(rc, present.insert(key).second ? 0u : 183u) << key;
    }
  }
  EXPECT_TRUE(ChainsInOrder(tree));
  EXPECT_EQ((size_t)tree->count, present.size());
  EXPECT_EQ(Enumerate(tree),
            std::vector<uint64_t>(present.begin(), present.end()));
  for (uint64_t key : present) {
    void *p = Lookup(tree, key);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(*(uint64_t *)p, key);
  }
  while (bintree_PruneSmallest(tree) != nullptr) {
  }
  bintree_DeAllocate(tree);
}

}  // namespace
