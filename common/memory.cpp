// Memory exhausted: the one way a run ends when memory runs out, whatever
// ran out of it (operator new, the containers' allocator, a system call).
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <new>
#include <thread>

#include "common/common.h"

namespace {

std::atomic<bool> exhausted{false};  // NoteMemoryExhausted was called
std::atomic<bool> ending{false};     // MemoryExhausted has begun
thread_local bool mainThread = false;

// Given back by MemoryExhausted: its last steps (the report's last lines,
// the failure line) may allocate a little.
void *reserve = nullptr;
const size_t kReserveBytes = 256 * 1024;

// operator new's failures. On the main thread the run ends here; another
// thread's failure goes back to it as std::bad_alloc, which that thread
// hands over to the main one.
void NewFailed() {
  if (mainThread) MemoryExhausted();
  NoteMemoryExhausted();
  throw std::bad_alloc();
}

}  // namespace

void MemoryExhaustedSetUp(void) {
  mainThread = true;
  if (reserve == nullptr) reserve = std::malloc(kReserveBytes);
  std::set_new_handler(NewFailed);
}

void NoteMemoryExhausted(void) { exhausted.store(true); }

int IsNoMemoryCode(DWORD code) {
  return code == ERROR_NOT_ENOUGH_MEMORY || code == ERROR_OUTOFMEMORY;
}

void EndIfMemoryExhausted(void) {
  if (mainThread && exhausted.load() && !ending.load()) MemoryExhausted();
}

void MemoryExhausted(void) {
  if (ending.exchange(true)) {  // another thread is ending the run
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
  }
  exhausted.store(true);
  std::free(reserve);
  reserve = nullptr;
  int code = EXIT_NO_MEMORY;
  if (mainThread) {
    ProgressEnd();
    (void)PrintFlush();  // its code is the one ReportLost reads
    if (ReportLost()) code = EXIT_REPORT_LOST;
  }
  PrintErrW(L"TwinSift: out of memory; the run stopped.\n");
  // No destructor or exit handler runs: other threads may still be at work.
  memoryExhaustedExit(code);
  std::_Exit(code);
}

void (*memoryExhaustedExit)(int code) = std::_Exit;
