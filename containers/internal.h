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
// The head of every stored folder and name: the reference count, and the
// bytes of the whole entry (0 for one allocated directly), whose low bits
// (kEntryFlags) are free for the entry's own flags.
struct EntryHead {
  std::atomic<uint32_t> refs;
  uint32_t bytes;
};
const uint32_t kEntryFlags = 7;

// An entry of bytes bytes from the record slots' blocks (directly in direct
// mode), its head set with one reference. Exhaustion ends the process.
void *EntryTake(size_t bytes);
void EntryShare(void *entry);
// Drops one reference; true when it was the last and the entry went back.
bool EntryRelease(void *entry);

// A folder's path up to where its files' names begin (the separator
// included), followed by its characters and a terminator.
struct StoredFolder {
  EntryHead head;
  uint32_t len;
  uint32_t reserved;
};

// Linux stores names in 2-byte code units too (UTF-16); a name that would
// not come back the same from them (a lone high surrogate, a value above
// U+10FFFF) keeps its wide characters, marked kNameWide.
#if WCHAR_MAX > 0xFFFF
typedef char16_t NameUnit;
#else
typedef wchar_t NameUnit;
#endif
const uint32_t kNameWide = 1;

// A file's name in its folder, followed by its units and a terminator.
struct StoredName {
  EntryHead head;
  StoredFolder *folder;
};

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
