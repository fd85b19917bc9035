// The containers' allocator and locks, through the table of platform calls
// (where a test can make any of them fail).
#include "containers/containers.h"
#include "containers/internal.h"

// Returns null when memory runs out.
void *ContainerAlloc(size_t size) { return platformCalls.malloc(size); }

void ContainerFree(void *block) { platformCalls.free(block); }

// A critical section: process-local and recursive, it costs no system call
// while nobody else holds it, where a kernel mutex costs one per operation.
int ContainerInitLock(ContainerLock *lock) {
  return platformCalls.InitializeCriticalSectionAndSpinCount(lock, 0) ? 1 : 0;
}

DWORD ContainerWait(ContainerLock *lock) {
  DWORD wait = platformCalls.WaitCriticalSection(lock);
  return wait == WAIT_OBJECT_0 ? 0 : wait;
}

void ContainerRelease(ContainerLock *lock) {
  platformCalls.LeaveCriticalSection(lock);
}

void ContainerDeleteLock(ContainerLock *lock) {
  platformCalls.DeleteCriticalSection(lock);
}
