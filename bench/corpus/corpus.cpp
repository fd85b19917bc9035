// The corpora of bench/compare.sh, written from fixed seeds so every run
// sees the same files. Plain POSIX; no TwinSift code.
//
//   twinsift_corpus camera DIR     DIR/card (1,000 pictures, half of them
//                                  copies) and DIR/library (10,000 in dated
//                                  folders)
//   twinsift_corpus small [N] DIR  DIR/small: N files (default 100,000) of 1
//                                  to 16 KiB in a three-level tree, a fifth
//                                  of them copies
//   twinsift_corpus large DIR      DIR/large: 40 files of 64 MiB, half of
//                                  them in identical pairs
//   twinsift_corpus sizes N DIR    DIR/sizes: N sparse files, 1,000 to a
//                                  folder, each of another size
//   twinsift_corpus differ WHERE DIR  DIR/differ: 30 sizes of 4 to 8 MiB,
//                                  each with a pair of copies and a file
//                                  that differs from them in one byte at
//                                  the start, middle or end (WHERE)
//
// Each command also writes DIR/hashed.list: the files whose size another
// file of the run shares, that is the files a size-first finder must read.
// File contents come from a counter-based generator: a copy is the same
// content written again, never a link.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

// One file to write: where, how big, and which content (equal content ids
// give equal bytes).
struct Planned {
  std::string path;
  uint64_t size;
  uint64_t content;
  int64_t flipAt = -1;  // a byte changed from the content's, or none
};

using Plan = std::vector<Planned>;

uint64_t Mix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

// A small seeded generator for the shapes of the corpora.
struct Random {
  uint64_t state;
  uint64_t Next() { return Mix(state++); }
  // Uniform in [lo, hi].
  uint64_t Between(uint64_t lo, uint64_t hi) {
    return lo + Next() % (hi - lo + 1);
  }
};

void Die(const std::string &what) {
  fprintf(stderr, "twinsift_corpus: %s: %s\n", what.c_str(), strerror(errno));
  exit(1);
}

void MakeDirs(const std::string &path) {
  for (size_t at = 1; at <= path.size(); at++) {
    if (at < path.size() && path[at] != '/') continue;
    std::string part = path.substr(0, at);
    if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) Die(part);
  }
}

// Writes the file's bytes, 1 MiB at a time; content words depend only on
// the content id and their position.
void WriteContent(const Planned &f) {
  int fd = open(f.path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) Die(f.path);
  static std::vector<uint64_t> block(1 << 17);
  uint64_t word = 0;
  for (uint64_t done = 0; done < f.size;) {
    size_t n = (size_t)std::min<uint64_t>(f.size - done, block.size() * 8);
    for (size_t i = 0; i < (n + 7) / 8; i++)
      block[i] = Mix(f.content * 0x100000001B3ull + word++);
    if (f.flipAt >= 0 && (uint64_t)f.flipAt >= done &&
        (uint64_t)f.flipAt < done + n)
      reinterpret_cast<unsigned char *>(block.data())[f.flipAt - done] ^= 0x5A;
    if (write(fd, block.data(), n) != (ssize_t)n) Die(f.path);
    done += n;
  }
  if (close(fd) != 0) Die(f.path);
}

void WriteSparse(const Planned &f) {
  int fd = open(f.path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0 || ftruncate(fd, (off_t)f.size) != 0 || close(fd) != 0)
    Die(f.path);
}

// hashed.list: the files whose size at least one other file of the plan
// has and one of the first `sources` files has (the rest are read-only
// destinations, looked at only for a source's size), in plan order.
void WriteHashedList(const Plan &plan, size_t sources, const std::string &dir) {
  std::map<uint64_t, int> count;
  for (size_t i = 0; i < sources; i++) count[plan[i].size] = 0;
  for (const Planned &f : plan)
    if (count.count(f.size) != 0) count[f.size]++;
  std::string listPath = dir + "/hashed.list";
  FILE *list = fopen(listPath.c_str(), "w");
  if (list == nullptr) Die(listPath);
  uint64_t files = 0, bytes = 0;
  for (const Planned &f : plan) {
    auto it = count.find(f.size);
    if (it == count.end() || it->second < 2) continue;
    fprintf(list, "%s\n", f.path.c_str());
    files++;
    bytes += f.size;
  }
  if (fclose(list) != 0) Die(listPath);
  uint64_t all = 0;
  for (const Planned &f : plan) all += f.size;
  printf("%zu files, %llu bytes; %llu files (%llu bytes) share a size\n",
         plan.size(), (unsigned long long)all, (unsigned long long)files,
         (unsigned long long)bytes);
}

void WritePlan(const Plan &plan, bool sparse) {
  std::string lastDir;
  for (const Planned &f : plan) {
    std::string dir = f.path.substr(0, f.path.rfind('/'));
    if (dir != lastDir) MakeDirs(dir);
    lastDir = dir;
    if (sparse) {
      WriteSparse(f);
    } else {
      WriteContent(f);
    }
  }
}

std::string Numbered(const char *format, uint64_t n) {
  char name[64];
  snprintf(name, sizeof name, format, (unsigned long long)n);
  return name;
}

// Camera import: a library of 10,000 pictures over 400 dated folders, and a
// card of 1,000, 500 of them library pictures under new names. The card
// comes first in the plan: its files are the run's source.
Plan CameraPlan(const std::string &dir) {
  Random rnd{20240601};
  const uint64_t kLibrary = 10000, kCard = 1000, kMin = 100000, kMax = 1000000;
  std::vector<uint64_t> libSize(kLibrary);
  for (uint64_t &s : libSize) s = rnd.Between(kMin, kMax);
  std::vector<uint64_t> order(kLibrary);
  for (uint64_t i = 0; i < kLibrary; i++) order[i] = i;
  for (uint64_t i = kLibrary - 1; i > 0; i--)
    std::swap(order[i], order[rnd.Between(0, i)]);
  Plan plan;
  for (uint64_t i = 0; i < kCard; i++) {
    std::string path =
        dir + "/card/DCIM/100CANON/" + Numbered("IMG_%04llu.JPG", i + 1);
    if (i % 2 == 0) {  // a picture already in the library
      uint64_t from = order[i / 2];
      plan.push_back({path, libSize[from], from});
    } else {
      plan.push_back({path, rnd.Between(kMin, kMax), kLibrary + i});
    }
  }
  for (uint64_t i = 0; i < kLibrary; i++) {
    uint64_t day = i * 400 / kLibrary;
    std::string folder = Numbered("%04llu", 2019 + day / 200) + "-" +
                         Numbered("%02llu", 1 + day % 200 / 20) + "-" +
                         Numbered("%02llu", 1 + day % 20);
    plan.push_back(
        {dir + "/library/" + folder + "/" + Numbered("DSC%05llu.jpg", i + 1),
         libSize[i], i});
  }
  return plan;
}

// Many small files: up to 10 x 10 x 10 folders of 100 files each; every
// fifth file repeats an earlier file's content and size.
Plan SmallPlan(const std::string &dir, uint64_t files) {
  Random rnd{20240602};
  Plan plan;
  for (uint64_t i = 0; i < files; i++) {
    std::string path = dir + "/small/" + Numbered("a%llu/", i / 10000) +
                       Numbered("b%llu/", i / 1000 % 10) +
                       Numbered("c%llu/", i / 100 % 10) +
                       Numbered("f%05llu.dat", i);
    if (i % 5 == 4) {
      const Planned &from = plan[rnd.Between(0, i - 1)];
      plan.push_back({path, from.size, from.content});
    } else {
      plan.push_back({path, rnd.Between(1024, 16384), i});
    }
  }
  return plan;
}

// Large duplicates: 20 distinct files and 10 identical pairs of 64 MiB.
Plan LargePlan(const std::string &dir) {
  const uint64_t kSize = 64ull << 20;
  Plan plan;
  for (uint64_t i = 0; i < 40; i++) {
    uint64_t content = i < 20 ? i : 20 + (i - 20) / 2;
    plan.push_back(
        {dir + "/large/" + Numbered("movie%02llu.mov", i), kSize, content});
  }
  return plan;
}

// Distinct sizes: n sparse files, 1,000 to a folder, sizes a shuffled range
// so the size index sees them in no particular order.
Plan SizesPlan(const std::string &dir, uint64_t n) {
  Random rnd{20240603};
  std::vector<uint64_t> sizes(n);
  for (uint64_t i = 0; i < n; i++) sizes[i] = 4096 + i * 13;
  for (uint64_t i = n - 1; i > 0; i--)
    std::swap(sizes[i], sizes[rnd.Between(0, i)]);
  Plan plan;
  for (uint64_t i = 0; i < n; i++)
    plan.push_back({dir + "/sizes/" + Numbered("d%03llu/", i / 1000) +
                        Numbered("f%07llu", i),
                    sizes[i], 0});
  return plan;
}

// Same-size files that differ in one place: per size a pair of copies and
// a third file with one byte changed at the start, the middle or the end.
Plan DifferPlan(const std::string &dir, const std::string &where) {
  Plan plan;
  for (uint64_t i = 0; i < 30; i++) {
    const uint64_t size = (4ull << 20) + i * ((4ull << 20) / 30);
    const uint64_t at = where == "start"    ? 0
                        : where == "middle" ? size / 2
                                            : size - 1;
    const std::string d = dir + "/differ/" + Numbered("s%02llu/", i);
    plan.push_back({d + "a.bin", size, i});
    plan.push_back({d + "b.bin", size, i});
    plan.push_back({d + "c.bin", size, i, (int64_t)at});
  }
  return plan;
}

int Usage() {
  fprintf(stderr,
          "usage: twinsift_corpus camera|small|large DIR\n"
          "       twinsift_corpus small N DIR\n"
          "       twinsift_corpus sizes N DIR\n"
          "       twinsift_corpus differ start|middle|end DIR\n");
  return 2;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 3) return Usage();
  std::string kind = argv[1];
  Plan plan;
  std::string dir = argv[argc - 1];
  size_t sources = 0;  // all of them, unless a card comes first
  if (kind == "camera" && argc == 3) {
    plan = CameraPlan(dir);
    sources = 1000;
  } else if (kind == "small" && argc == 3) {
    plan = SmallPlan(dir, 100000);
  } else if (kind == "small" && argc == 4 && atoll(argv[2]) > 0) {
    plan = SmallPlan(dir, (uint64_t)atoll(argv[2]));
  } else if (kind == "large" && argc == 3) {
    plan = LargePlan(dir);
  } else if (kind == "differ" && argc == 4 &&
             (strcmp(argv[2], "start") == 0 || strcmp(argv[2], "middle") == 0 ||
              strcmp(argv[2], "end") == 0)) {
    plan = DifferPlan(dir, argv[2]);
  } else if (kind == "sizes" && argc == 4 && atoll(argv[2]) > 0) {
    plan = SizesPlan(dir, (uint64_t)atoll(argv[2]));
  } else {
    return Usage();
  }
  WritePlan(plan, kind == "sizes");
  WriteHashedList(plan, sources != 0 ? sources : plan.size(), dir);
  return 0;
}
