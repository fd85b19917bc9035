// The containers' allocator, lock wait and mutex creation, with fault
// injection in test builds so that every failure path can be exercised.
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

// Returns null when the mutex cannot be created.
HANDLE ContainerCreateMutex(void) {
  if (FAULT(mutex)) return nullptr;
  return CreateMutexW(nullptr, FALSE, nullptr);
}

// Returns 0 when the mutex is held, else the wait's failure value.
DWORD ContainerWait(HANDLE mutex) {
  if (FAULT(wait)) return WAIT_FAILED;
  return WaitForSingleObject(mutex, INFINITE);
}

// Can't fail.
bool ContainerIndexFault(void) { return FAULT(indexEntry); }
