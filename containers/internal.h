// What the two containers share inside containers/: the plain allocator and
// the lock, both through the table of platform calls.
#pragma once

#include <cstddef>
#include <new>

#include "containers/containers.h"
#include "platform/platform.h"

// malloc, or null when memory runs out.
void *ContainerAlloc(size_t size);
// Gives back what ContainerAlloc handed out (null too). Can't fail.
void ContainerFree(void *block);
// Makes lock ready to take: 1, or 0 when it cannot be made.
int ContainerInitLock(ContainerLock *lock);
// Takes lock, waiting as long as another thread holds it: 0 when held, else
// the wait's failure value (WAIT_FAILED).
DWORD ContainerWait(ContainerLock *lock);
// Gives back a lock taken by ContainerWait. Can't fail.
void ContainerRelease(ContainerLock *lock);
// Frees what ContainerInitLock made; the lock must be free. Can't fail.
void ContainerDeleteLock(ContainerLock *lock);

// The standard containers' allocator over ContainerAlloc: std::bad_alloc
// when memory runs out.
template <typename T>
struct ContainerAllocator {
  using value_type = T;
  ContainerAllocator() = default;
  template <typename U>
  ContainerAllocator(const ContainerAllocator<U> &) {}
  T *allocate(size_t n) {
    void *p = ContainerAlloc(n * sizeof(T));
    if (p == nullptr) throw std::bad_alloc();
    return static_cast<T *>(p);
  }
  void deallocate(T *p, size_t) { ContainerFree(p); }
  template <typename U>
  bool operator==(const ContainerAllocator<U> &) const {
    return true;
  }
};
