// The bytes a size-first, head-first finder must digest on a tree, for the
// SHA-256 limit of bench/compare.sh. Plain POSIX; no TwinSift code.
//
//   twinsift_heads SOURCE [DESTINATION...]   prints "FILES BYTES"
//
// Walks the folders (no link followed, hidden files included) and takes
// every regular, non-empty file. Files of the same size are grouped, and a
// group matters only with two or more files, one of them in SOURCE (the
// destinations are read-only: only a source file can be reported). In such
// a group the files are classed by their first 4,096 bytes (the whole file
// when smaller); a class of two or more files, one of them a source, must
// be hashed whole, since only whole-file digests prove a set. FILES and
// BYTES count the files of those classes and their sizes. Comparisons past
// the first 4 KiB (a last block, say) can spare more: this is the simple,
// honest figure, not the least any finder could read.
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

struct Found {
  uint64_t size;
  std::string path;
  bool source;
};

std::vector<Found> found;
bool walkingSource = false;

int Visit(const char *path, const struct stat *st, int type, struct FTW *) {
  if (type == FTW_F && S_ISREG(st->st_mode) && st->st_size > 0)
    found.push_back({(uint64_t)st->st_size, path, walkingSource});
  return 0;  // unreadable folders are skipped, as a finder skips them
}

// The first 4,096 bytes of a file, or fewer when it is shorter; an
// unreadable file gets a key of its own so that it matches nothing.
std::string Head(const Found &f, size_t index) {
  std::string head(4096, '\0');
  int fd = open(f.path.c_str(), O_RDONLY);
  ssize_t got = fd < 0 ? -1 : read(fd, head.data(), head.size());
  if (fd >= 0) close(fd);
  if (got < 0) return "unreadable " + std::to_string(index);
  head.resize((size_t)got);
  return head;
}

struct Class {
  uint64_t files = 0;
  bool source = false;
};

// Adds the files and bytes of one size group's classes that must be hashed.
void CountGroup(size_t from, size_t to, uint64_t &files, uint64_t &bytes) {
  bool anySource = false;
  for (size_t i = from; i < to; i++) anySource = anySource || found[i].source;
  if (to - from < 2 || !anySource) return;
  std::unordered_map<std::string, Class> classes;
  for (size_t i = from; i < to; i++) {
    Class &c = classes[Head(found[i], i)];
    c.files++;
    c.source = c.source || found[i].source;
  }
  for (const auto &entry : classes) {
    if (entry.second.files < 2 || !entry.second.source) continue;
    files += entry.second.files;
    bytes += entry.second.files * found[from].size;
  }
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: twinsift_heads SOURCE [DESTINATION...]\n");
    return 2;
  }
  for (int i = 1; i < argc; i++) {
    walkingSource = i == 1;
    if (nftw(argv[i], Visit, 64, FTW_PHYS) != 0) {
      perror(argv[i]);
      return 1;
    }
  }
  std::stable_sort(
      found.begin(), found.end(),
      [](const Found &a, const Found &b) { return a.size < b.size; });
  uint64_t files = 0, bytes = 0;
  for (size_t from = 0, to; from < found.size(); from = to) {
    for (to = from + 1;
         to < found.size() && found[to].size == found[from].size;)
      to++;
    CountGroup(from, to, files, bytes);
  }
  printf("%llu %llu\n", (unsigned long long)files, (unsigned long long)bytes);
  return 0;
}
