// The size tree under a scan's load: n distinct sizes met in random order,
// each looked up and inserted when new, then each looked up again. For
// scale, the same work on a bare std::map (the memory hierarchy's share of
// the growth) and on the plain chain walk (what the index saves). Times are
// the thread's processor time.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <map>
#include <random>
#include <vector>

#include "bench/bench.h"
#include "containers/containers.h"

namespace {

using Sizes = std::vector<uint64_t>;
using Timer = double (*)(Sizes &);

// n distinct sizes, spread over a wide range, in a fixed random order or
// ascending.
Sizes MakeSizes(size_t n, bool shuffled) {
  Sizes sizes(n);
  for (size_t i = 0; i < n; ++i) sizes[i] = (uint64_t)(i + 1) * 40961;
  if (shuffled) std::shuffle(sizes.begin(), sizes.end(), std::mt19937_64(n));
  return sizes;
}

double ThreadSeconds() {
  timespec now;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return (double)now.tv_sec + (double)now.tv_nsec * 1e-9;
}

// The processor time the work takes on this thread: on a shared machine
// that varies far less than the wall time.
template <typename F>
double SecondsOf(F &&work) {
  double start = ThreadSeconds();
  work();
  return ThreadSeconds() - start;
}

DWORD Low(uint64_t key) { return (DWORD)(key & 0xFFFFFFFFu); }
DWORD High(uint64_t key) { return (DWORD)(key >> 32); }

// Inserts (after a missed look-up) and then looks up every size; returns
// the seconds taken, or -1 when the tree misbehaved.
double TimeTree(Sizes &sizes) {
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

// The same look-ups and insertions on a bare std::map.
double TimeMap(Sizes &sizes) {
  std::map<uint64_t, uint64_t *> map;
  size_t wrong = 0;
  double seconds = SecondsOf([&] {
    for (uint64_t &size : sizes) {
      if (map.find(size) == map.end()) map.emplace(size, &size);
    }
    for (uint64_t &size : sizes) {
      if (map.find(size)->second != &size) ++wrong;
    }
  });
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
// nodes; returns the seconds taken, or -1 on a wrong result.
double TimeChainWalk(Sizes &sizes) {
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

// The best of runs tries of timer on n sizes; -1 when one went wrong.
double Best(Timer timer, size_t n, int runs, bool shuffled) {
  Sizes sizes = MakeSizes(n, shuffled);
  double best = -1;
  for (int i = 0; i < runs; ++i) {
    double seconds = timer(sizes);
    if (seconds < 0) return -1;
    if (best < 0 || seconds < best) best = seconds;
  }
  return best;
}

void PrintCell(size_t n, double seconds) {
  if (seconds < 0) {
    printf("   FAILED (wrong result)");
  } else {
    printf("  %8.4f s %7.0f ns", seconds, seconds * 1e9 / (double)n);
  }
}

// One row per n for each timer, then the growth of the last step: the
// time of the last n over the time of the one before.
void Table(const char *title, const Timer *timers, int count, const size_t *ns,
           int rows, bool shuffled) {
  printf("%s\n", title);
  double before[2] = {-1, -1}, last[2] = {-1, -1};
  for (int row = 0; row < rows; ++row) {
    printf("%10zu", ns[row]);
    for (int t = 0; t < count; ++t) {
      // Big sizes are slow and steadier: fewer tries.
      int runs = ns[row] >= 1000000 ? 2 : 3;
      before[t] = last[t];
      last[t] = Best(timers[t], ns[row], runs, shuffled);
      PrintCell(ns[row], last[t]);
    }
    printf("\n");
  }
  printf("%10s", "growth");
  for (int t = 0; t < count; ++t) {
    if (before[t] > 0 && last[t] > 0) printf("  %19.1f x", last[t] / before[t]);
  }
  printf("\n");
}

}  // namespace

void bench_tree(void) {
  const Timer both[] = {TimeTree, TimeMap};
  const size_t ns[] = {10000, 100000, 1000000};
  printf(
      "tree: insert, then look up, n distinct sizes; columns: bintree, "
      "a bare std::map doing the same work\n");
  Table("tree: scan (random) order; growth 10^5 -> 10^6 (goal about 10)", both,
        2, ns, 3, true);
  Table("tree: ascending order; growth 10^5 -> 10^6", both, 2, ns + 1, 2,
        false);
  const Timer walk[] = {TimeChainWalk};
  const size_t small[] = {10000, 20000};
  Table(
      "tree: the plain chain walk, scan order; growth 10^4 -> 2*10^4 "
      "(quadratic: about 4)",
      walk, 1, small, 2, true);
}
