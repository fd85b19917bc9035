// The size tree under a scan's load: n distinct sizes met in random order,
// each looked up and inserted when new, then each looked up again.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

#include "bench/bench.h"
#include "containers/containers.h"

namespace {

// n distinct sizes, spread over a wide range, in a fixed random order.
std::vector<uint64_t> Sizes(size_t n) {
  std::vector<uint64_t> sizes(n);
  for (size_t i = 0; i < n; ++i) sizes[i] = (uint64_t)(i + 1) * 40961;
  std::shuffle(sizes.begin(), sizes.end(), std::mt19937_64(n));
  return sizes;
}

template <typename F>
double SecondsOf(F &&work) {
  auto start = std::chrono::steady_clock::now();
  work();
  std::chrono::duration<double> spent =
      std::chrono::steady_clock::now() - start;
  return spent.count();
}

DWORD Low(uint64_t key) { return (DWORD)(key & 0xFFFFFFFFu); }
DWORD High(uint64_t key) { return (DWORD)(key >> 32); }

// Inserts (after a missed look-up) and then looks up every size; returns
// the seconds taken, or a negative number when the tree misbehaved.
double TimeTree(std::vector<uint64_t> &sizes) {
  bintree *tree = bintree_Allocate();
  if (tree == nullptr) return -1;
  size_t wrong = 0;
  double seconds = SecondsOf([&] {
    for (uint64_t &size : sizes) {
      if (bintree_GetObject(tree, Low(size), High(size)) == nullptr &&
          bintree_InsertNode(tree, Low(size), High(size), &size) != 0) {
        ++wrong;
      }
    }
    for (uint64_t &size : sizes) {
      if (bintree_GetObject(tree, Low(size), High(size)) != &size) ++wrong;
    }
  });
  while (bintree_PruneSmallest(tree) != nullptr) {
  }
  bintree_DeAllocate(tree);
  return wrong == 0 ? seconds : -1;
}

// The look-up the tree would do without its index: a walk down the chain.
TreeNode *WalkLookup(TreeNode *root, uint64_t key) {
  TreeNode *node = root;
  while (node != nullptr) {
    uint64_t nodeKey = (uint64_t)node->keyHigh << 32 | node->keyLow;
    if (key == nodeKey) return node;
    node = key < nodeKey ? node->left : node->right;
  }
  return nullptr;
}

// The same work done by the plain insertion rule and chain walks on bare
// nodes; returns the seconds taken, or a negative number on a mismatch.
double TimeChainWalk(const std::vector<uint64_t> &sizes) {
  std::vector<TreeNode> nodes(sizes.size(), TreeNode{});
  size_t wrong = 0;
  double seconds = SecondsOf([&] {
    for (size_t i = 0; i < sizes.size(); ++i) {
      if (i > 0 && WalkLookup(&nodes[0], sizes[i]) != nullptr) ++wrong;
      nodes[i].keyLow = Low(sizes[i]);
      nodes[i].keyHigh = High(sizes[i]);
      if (i > 0 && bintree_AddObjectWorker(&nodes[0], &nodes[i]) != 0) ++wrong;
    }
    for (size_t i = 0; i < sizes.size(); ++i) {
      if (WalkLookup(&nodes[0], sizes[i]) != &nodes[i]) ++wrong;
    }
  });
  return wrong == 0 ? seconds : -1;
}

// The best of runs tries of timer on n sizes.
template <typename F>
double Best(F &&timer, size_t n, int runs) {
  std::vector<uint64_t> sizes = Sizes(n);
  double best = -1;
  for (int i = 0; i < runs; ++i) {
    double seconds = timer(sizes);
    if (seconds < 0) return -1;
    if (best < 0 || seconds < best) best = seconds;
  }
  return best;
}

void PrintRow(size_t n, double seconds) {
  if (seconds < 0) {
    printf("%10zu  FAILED (wrong result)\n", n);
    return;
  }
  printf("%10zu  %9.4f s  %8.1f ns/size\n", n, seconds,
         seconds * 1e9 / (double)n);
}

}  // namespace

void bench_tree(void) {
  printf("tree: insert and look up n distinct sizes in scan order\n");
  double t4 = Best(TimeTree, 10000, 5);
  double t5 = Best(TimeTree, 100000, 3);
  double t6 = Best(TimeTree, 1000000, 1);
  PrintRow(10000, t4);
  PrintRow(100000, t5);
  PrintRow(1000000, t6);
  if (t5 > 0 && t6 > 0) {
    printf(
        "tree: time(10^6)/time(10^5) = %.1f (goal about 10; a chain walk "
        "gives about 100)\n",
        t6 / t5);
  }
  printf("tree: the plain chain walk, for reference\n");
  double w4 = Best(TimeChainWalk, 10000, 1);
  double w42 = Best(TimeChainWalk, 20000, 1);
  PrintRow(10000, w4);
  PrintRow(20000, w42);
  if (w4 > 0 && w42 > 0) {
    printf(
        "tree: chain walk time(2*10^4)/time(10^4) = %.1f (quadratic: "
        "about 4)\n",
        w42 / w4);
  }
}
