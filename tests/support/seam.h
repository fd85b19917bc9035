// Replacing entries of the table of platform calls for the duration of a
// test: files that change or fail under a run, allocations and locks that
// fail inside the containers. Every build has the same table, so these
// tests run on every build.
#pragma once

#include <functional>
#include <string>

#include "platform/platform.h"

// Holds replacement in *entry while alive, then puts back what was there.
template <typename F>
class CallReplaced {
 public:
  CallReplaced(F *entry, F replacement) : entry_(entry), saved_(*entry) {
    *entry = replacement;
  }
  ~CallReplaced() { *entry_ = saved_; }
  CallReplaced(const CallReplaced &) = delete;
  CallReplaced &operator=(const CallReplaced &) = delete;
  // What the entry held before: the call a replacement passes on to.
  F saved() const { return saved_; }

 private:
  F *entry_;
  F saved_;
};

// Failures of the containers' allocator and locks. A field set to n > 0
// makes the n-th next call of its kind fail (it counts down; 0 means no
// fault). alloc: platformCalls.malloc; mutex: the lock's creation; wait: the
// lock wait of any operation. live: blocks from platformCalls.malloc not
// yet given back, counted from the scope's start.
struct ContainerFaults {
  int alloc;
  int mutex;
  int wait;
  long live;
};
extern ContainerFaults containerFaults;

// While alive, the allocator and lock entries obey containerFaults, which
// is cleared at both ends. Unless pooled, every container object is an
// allocation of its own meanwhile; pooled, only the pools' new blocks are.
// One at a time.
class ContainerFaultScope {
 public:
  explicit ContainerFaultScope(bool pooled = false);
  ~ContainerFaultScope();
  ContainerFaultScope(const ContainerFaultScope &) = delete;
  ContainerFaultScope &operator=(const ContainerFaultScope &) = delete;

 private:
  CallReplaced<decltype(PlatformCalls::malloc)> malloc_;
  CallReplaced<decltype(PlatformCalls::free)> free_;
  CallReplaced<decltype(PlatformCalls::InitializeCriticalSectionAndSpinCount)>
      init_;
  CallReplaced<decltype(PlatformCalls::WaitCriticalSection)> wait_;
};

// While alive, the file calls of the table run hooks first, so that a test
// can change the file system at a chosen step of a run: beforeOpen with the
// path and flags of each CreateFileW, beforeList with the pattern of each
// FindFirstFileW and FindFirstFileExW. A hook may return false from
// failOpen to make that open fail with the last error it set. One at a
// time.
class FileCallHooks {
 public:
  FileCallHooks();
  ~FileCallHooks();
  FileCallHooks(const FileCallHooks &) = delete;
  FileCallHooks &operator=(const FileCallHooks &) = delete;

  std::function<void(const std::wstring &path, DWORD flags)> beforeOpen;
  std::function<void(const std::wstring &pattern)> beforeList;
  // Returns true to fail the open (after setting the last error).
  std::function<bool(const std::wstring &path, DWORD flags)> failOpen;
  // Returns true to fail the read (after setting the last error). While it
  // is set, no read comes from memory alone (ReadFileCached finds nothing),
  // so that every read meets it.
  std::function<bool(HANDLE file)> failRead;

 private:
  CallReplaced<decltype(PlatformCalls::CreateFileW)> open_;
  CallReplaced<decltype(PlatformCalls::ReadFile)> read_;
  CallReplaced<decltype(PlatformCalls::ReadFileCached)> cachedRead_;
  CallReplaced<decltype(PlatformCalls::FindFirstFileW)> find_;
  CallReplaced<decltype(PlatformCalls::FindFirstFileExW)> findEx_;
};

// True when a CreateFileW with these flags is the hash routine's open (it
// reads the file front to back); the other opens only look at a file.
bool IsHashingOpen(DWORD flags);
