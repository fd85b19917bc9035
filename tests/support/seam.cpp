#include "support/seam.h"

#include <mutex>

#include "containers/containers.h"

ContainerFaults containerFaults;

namespace {

FileCallHooks *fileHooks = nullptr;
// The hashing pass opens and reads files on several threads: the hooks run
// one at a time, so that a test's own records need no lock.
std::mutex hooksLock;
// The entries as they were when the scopes began.
PlatformCalls saved;

// Counts a pending fault down; true when this step is the one to fail.
bool TakeFault(int *pending) {
  if (*pending <= 0) return false;
  return --*pending == 0;
}

void *FaultyMalloc(size_t size) {
  if (TakeFault(&containerFaults.alloc)) return nullptr;
  void *p = saved.malloc(size);
  if (p != nullptr) containerFaults.live++;
  return p;
}

void CountedFree(void *block) {
  if (block != nullptr) containerFaults.live--;
  saved.free(block);
}

BOOL WINAPI FaultyInit(LPCRITICAL_SECTION cs, DWORD spin) {
  if (TakeFault(&containerFaults.mutex)) return FALSE;
  return saved.InitializeCriticalSectionAndSpinCount(cs, spin);
}

DWORD FaultyWait(LPCRITICAL_SECTION cs) {
  if (TakeFault(&containerFaults.wait)) return WAIT_FAILED;
  return saved.WaitCriticalSection(cs);
}

HANDLE WINAPI HookedOpen(LPCWSTR path, DWORD access, DWORD share,
                         SECURITY_ATTRIBUTES *sa, DWORD disposition,
                         DWORD flags, HANDLE templ) {
  {
    std::lock_guard<std::mutex> lock(hooksLock);
    if (fileHooks->beforeOpen) fileHooks->beforeOpen(path, flags);
    if (fileHooks->failOpen && fileHooks->failOpen(path, flags))
      return INVALID_HANDLE_VALUE;
  }
  return saved.CreateFileW(path, access, share, sa, disposition, flags, templ);
}

BOOL WINAPI HookedRead(HANDLE file, LPVOID buf, DWORD toRead, DWORD *read,
                       OVERLAPPED *ovl) {
  {
    std::lock_guard<std::mutex> lock(hooksLock);
    if (fileHooks->failRead && fileHooks->failRead(file)) {
      if (read != nullptr) *read = 0;
      return FALSE;
    }
  }
  return saved.ReadFile(file, buf, toRead, read, ovl);
}

// While reads may be failed, none comes from memory alone: each meets the
// hook once, through ReadFile.
BOOL HookedCachedRead(HANDLE file, void *buf, DWORD toRead, DWORD *read) {
  {
    std::lock_guard<std::mutex> lock(hooksLock);
    if (fileHooks->failRead) {
      *read = 0;
      platformCalls.SetLastError(ERROR_IO_PENDING);
      return FALSE;
    }
  }
  return saved.ReadFileCached(file, buf, toRead, read);
}

HANDLE WINAPI HookedFind(LPCWSTR pattern, WIN32_FIND_DATAW *data) {
  if (fileHooks->beforeList) fileHooks->beforeList(pattern);
  return saved.FindFirstFileW(pattern, data);
}

HANDLE WINAPI HookedFindEx(LPCWSTR pattern, FINDEX_INFO_LEVELS level,
                           LPVOID data, FINDEX_SEARCH_OPS op, LPVOID filter,
                           DWORD flags) {
  if (fileHooks->beforeList) fileHooks->beforeList(pattern);
  return saved.FindFirstFileExW(pattern, level, data, op, filter, flags);
}

}  // namespace

ContainerFaultScope::ContainerFaultScope(bool pooled)
    : malloc_(&platformCalls.malloc, FaultyMalloc),
      free_(&platformCalls.free, CountedFree),
      init_(&platformCalls.InitializeCriticalSectionAndSpinCount, FaultyInit),
      wait_(&platformCalls.WaitCriticalSection, FaultyWait) {
  saved.malloc = malloc_.saved();
  saved.free = free_.saved();
  saved.InitializeCriticalSectionAndSpinCount = init_.saved();
  saved.WaitCriticalSection = wait_.saved();
  containerFaults = ContainerFaults{};
  // Every container object its own allocation, so that the n-th allocation
  // is the n-th object; pooled, only new blocks reach the allocator.
  ContainerSlotsDirect(!pooled);
}

ContainerFaultScope::~ContainerFaultScope() {
  containerFaults = ContainerFaults{};
  ContainerSlotsDirect(false);
}

FileCallHooks::FileCallHooks()
    : open_(&platformCalls.CreateFileW, HookedOpen),
      read_(&platformCalls.ReadFile, HookedRead),
      cachedRead_(&platformCalls.ReadFileCached, HookedCachedRead),
      find_(&platformCalls.FindFirstFileW, HookedFind),
      findEx_(&platformCalls.FindFirstFileExW, HookedFindEx) {
  saved.CreateFileW = open_.saved();
  saved.ReadFile = read_.saved();
  saved.ReadFileCached = cachedRead_.saved();
  saved.FindFirstFileW = find_.saved();
  saved.FindFirstFileExW = findEx_.saved();
  fileHooks = this;
}

FileCallHooks::~FileCallHooks() { fileHooks = nullptr; }

bool IsHashingOpen(DWORD flags) {
  return (flags & FILE_FLAG_SEQUENTIAL_SCAN) != 0;
}
