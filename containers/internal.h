// What the two containers share inside containers/: the plain allocator,
// the lock wait and the mutex creation, each with the test builds' fault
// injection (see ContainerFaults in containers.h).
#pragma once

#include <cstddef>

#include "platform/platform.h"

// malloc, or null when memory runs out (or a fault is injected).
void *ContainerAlloc(size_t size);
// An unnamed, unowned mutex with default security, or null on failure.
HANDLE ContainerCreateMutex(void);
// An infinite wait on mutex: 0 when held, else the wait's failure value.
DWORD ContainerWait(HANDLE mutex);
// true when the next index entry allocation is to fail (tests only).
bool ContainerIndexFault(void);
