// What the two containers share inside containers/: the plain allocator and
// the lock's creation and wait, each with the test builds' fault injection
// (see ContainerFaults in containers.h), and the lock's release.
#pragma once

#include <cstddef>

#include "containers/containers.h"
#include "platform/platform.h"

// malloc, or null when memory runs out (or a fault is injected).
void *ContainerAlloc(size_t size);
// Makes lock ready to take: 1, or 0 when it cannot be made.
int ContainerInitLock(ContainerLock *lock);
// Takes lock, waiting as long as another thread holds it: 0 when held, else
// the wait's failure value (WAIT_FAILED).
DWORD ContainerWait(ContainerLock *lock);
// Gives back a lock taken by ContainerWait. Can't fail.
void ContainerRelease(ContainerLock *lock);
// Frees what ContainerInitLock made; the lock must be free. Can't fail.
void ContainerDeleteLock(ContainerLock *lock);
// true when the next index entry allocation is to fail (tests only).
bool ContainerIndexFault(void);
