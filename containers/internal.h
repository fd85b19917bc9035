// What the two containers share inside containers/: the plain allocator and
// the lock, both through the table of platform calls.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cwchar>
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

// ---- Stored folders and names
// An entry of bytes bytes from the record slots' blocks (directly in direct
// mode); StoredGive takes it back, given the same size. Exhaustion ends the
// process.
void *StoredTake(size_t bytes);
void StoredGive(void *entry, size_t bytes);

// A folder's path up to where its files' names begin (the separator
// included): the reference count and the length, then the characters and
// a terminator.
struct StoredFolder {
  std::atomic<uint32_t> refs;
  uint32_t len;
  uint32_t parm;  // the parameter whose scan found the folder's files
};

// Names are stored in 2-byte code units (UTF-16) whatever the width of
// wchar_t. Where wchar_t is wider (Linux), a name that would not come back
// the same from them (a lone high surrogate, a value above U+10FFFF) keeps
// its wide characters, marked by kNameWide in refs.
typedef char16_t NameUnit;
const uint32_t kNameWide = 0x80000000u;

// A file's name in its folder: the folder and the reference count, then,
// from kNameUnitsAt, the name's units and a terminator.
struct StoredName {
  StoredFolder *folder;
  std::atomic<uint32_t> refs;
};
const size_t kNameUnitsAt = sizeof(StoredFolder *) + sizeof(uint32_t);

// A stored name for name in folder (one more reference to the folder), with
// one reference. NameRelease drops one and, with the last, the name's
// reference to its folder (null is ignored). Exhaustion ends the process.
StoredName *NameStore(StoredFolder *folder, const wchar_t *name);
void NameShare(StoredName *stored);
void NameRelease(StoredName *stored);

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
