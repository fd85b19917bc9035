// Linux entry point: the arguments arrive as bytes and are decoded as the
// platform layer decodes names, so that every one round-trips exactly.
#include <fcntl.h>
#include <malloc.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace {

const size_t kHeapReserve = size_t(1) << 30;
const size_t kDefaultTopPad = 128 * 1024;
// Small runs stay on small pages: huge ones would only add to their size.
const uintptr_t kSmallHeap = uintptr_t(8) << 20;
const uintptr_t kHugePage = uintptr_t(2) << 20;

// Grows the heap by kHeapReserve now. Returns the range gained, or an empty
// one (start == end) when the system refused. Can't fail.
void ReserveHeap(char **start, char **end) {
  *start = *end = static_cast<char *>(sbrk(0));
  if (*start == (char *)-1 || mallopt(M_TOP_PAD, (int)kHeapReserve) == 0)
    return;
  // Blocks below the threshold of mmap, until the heap has to grow.
  std::vector<void *> probes;
  while (probes.size() < 16 && static_cast<char *>(sbrk(0)) == *start)
    probes.push_back(malloc(120 * 1024));
  *end = static_cast<char *>(sbrk(0));
  for (void *p : probes) free(p);
  if (*end - *start < (ptrdiff_t)kHeapReserve) {
    mallopt(M_TOP_PAD, (int)kDefaultTopPad);
    *end = *start;
  }
}

// A large run keeps two records per file on the heap and walks them in
// every pass: on 4 KiB pages that costs a page fault per page and a TLB
// miss on almost every record. The heap is therefore grown once by a large
// reserve (address space only: memory is taken as it is touched), and the
// reserve beyond its first few megabytes is offered to transparent huge
// pages, for systems that leave them to the program ("madvise" mode).
// Without that support nothing changes. Can't fail.
void OfferHeapToHugePages() {
  // The run frees its records in bulk at the end, in an order unrelated to
  // their addresses: freed blocks are merged with their neighbours at once
  // instead of in sweeps over every small block freed so far.
  mallopt(M_MXFAST, 0);
  char *start = nullptr, *end = nullptr;
  ReserveHeap(&start, &end);
  uintptr_t from =
      ((uintptr_t)start + kSmallHeap + kHugePage - 1) & ~(kHugePage - 1);
  if ((uintptr_t)end <= from) return;
  madvise(reinterpret_cast<void *>(from), (uintptr_t)end - from, MADV_HUGEPAGE);
}

// A reader of the report that goes away is a failed write (EPIPE), seen
// and reported as any other, not a signal that ends the run unannounced.
// A standard stream that is closed is held by /dev/null opened for reading,
// so that no file the run opens takes its number (a report written into a
// file being hashed) and a write to it fails as it should. Can't fail.
void PrepareStandardStreams() {
  signal(SIGPIPE, SIG_IGN);
  for (int fd = 0; fd <= 2; fd++) {
    if (fcntl(fd, F_GETFD) != -1) continue;
    const int held = open("/dev/null", O_RDONLY);
    if (held >= 0 && held != fd) {
      dup2(held, fd);
      close(held);
    }
  }
}

}  // namespace

int main(int argc, char **argv) {
  PrepareStandardStreams();
  OfferHeapToHugePages();
  std::vector<std::wstring> args;
  args.reserve((size_t)argc);
  for (int i = 0; i < argc; i++) args.push_back(WideFromBytes(argv[i]));
  std::vector<wchar_t *> wargv;
  for (std::wstring &arg : args) wargv.push_back(arg.data());
  wargv.push_back(nullptr);
  return AppMain(argc, wargv.data());
}
