// TwinSift benchmarks.
//
// Build and run (release build; the benchmarks are built only with
// TWINSIFT_BENCH=ON, which the linux-release preset sets):
//
//   cmake --preset linux-release && ninja -C build/linux-release twinsift_bench
//   build/linux-release/twinsift_bench [SECTION...]
//
// SECTION is one of the names below (tree, hash); without one, every
// section runs in turn. The hash section writes a scratch file under
// $TMPDIR (default /tmp). To add a section, put its function in a file of
// its own here, declare it in bench.h and add it to kSections.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/bench.h"

namespace {

std::string TempDir() {
  const char *dir = getenv("TMPDIR");
  return dir != nullptr && *dir != '\0' ? dir : "/tmp";
}

void RunTree() { bench_tree(); }
void RunHash() { bench_hash(TempDir()); }

struct Section {
  const char *name;
  void (*run)();
};

const Section kSections[] = {
    {"tree", RunTree},
    {"hash", RunHash},
};

// The section called name, or null.
const Section *FindSection(const char *name) {
  for (const Section &section : kSections) {
    if (strcmp(section.name, name) == 0) return &section;
  }
  return nullptr;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc == 1) {
    for (const Section &section : kSections) section.run();
    return 0;
  }
  for (int i = 1; i < argc; ++i) {
    if (FindSection(argv[i]) == nullptr) {
      fprintf(stderr, "unknown section '%s' (tree, hash)\n", argv[i]);
      return 1;
    }
  }
  for (int i = 1; i < argc; ++i) FindSection(argv[i])->run();
  return 0;
}
