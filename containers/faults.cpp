// The containers' allocator and locks, with fault injection in test builds
// so that every failure path can be exercised.
#include <cstdlib>

#include "containers/containers.h"
#include "containers/internal.h"

#if defined(TWINSIFT_TEST_HOOKS)
ContainerFaults containerFaults;

// Counts a pending fault down; true when this step is the one to fail.
// Can't fail.
static bool TakeFault(int *pending) {
  if (*pending <= 0) return false;
  return --*pending == 0;
}
#define FAULT(kind) TakeFault(&containerFaults.kind)
#else
#define FAULT(kind) false
#endif

// Returns null when memory runs out.
void *ContainerAlloc(size_t size) {
  if (FAULT(alloc)) return nullptr;
  return malloc(size);
}

// A critical section: process-local and recursive, it costs no system call
// while nobody else holds it, where a kernel mutex costs one per operation.
int ContainerInitLock(ContainerLock *lock) {
  if (FAULT(mutex)) return 0;
  InitializeCriticalSection(lock);
  return 1;
}

DWORD ContainerWait(ContainerLock *lock) {
  if (FAULT(wait)) return WAIT_FAILED;
  EnterCriticalSection(lock);
  return 0;
}

void ContainerRelease(ContainerLock *lock) { LeaveCriticalSection(lock); }

void ContainerDeleteLock(ContainerLock *lock) { DeleteCriticalSection(lock); }

// Can't fail.
bool ContainerIndexFault(void) { return FAULT(indexEntry); }
