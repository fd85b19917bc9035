// The Windows build's table of platform calls: the system's own, but for the
// path-taking calls (the wrappers of longpath.cpp, which reach every path as
// itself) and the identity of an open file (identity.cpp).
#include <cstdlib>

#include "platform/platform.h"

namespace {

// Each entry is the function of its name as seen from here: the one in this
// namespace when there is one, else the system's.

// The path-taking calls: the wrappers of longpath.cpp.
const auto FindFirstFileW = TsFindFirstFileW;
const auto FindFirstFileExW = TsFindFirstFileExW;
const auto CreateFileW = TsCreateFileW;
const auto DeleteFileW = TsDeleteFileW;
const auto RemoveDirectoryW = TsRemoveDirectoryW;
const auto GetFullPathNameW = TsGetFullPathNameW;
// An open file's identity (identity.cpp).
const auto GetFileInformationByHandle = TsGetFileInformationByHandle;

// Without the debug record the system would otherwise allocate for every
// critical section: one heap block per size group saved.
BOOL WINAPI InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION cs,
                                                  DWORD spin) {
  return InitializeCriticalSectionEx(cs, spin, CRITICAL_SECTION_NO_DEBUG_INFO);
}

DWORD WaitCriticalSection(LPCRITICAL_SECTION cs) {
  EnterCriticalSection(cs);
  return WAIT_OBJECT_0;
}

// Windows has no read of what is in memory alone: every read may need
// the device.
BOOL ReadFileCached(HANDLE, void *, DWORD, DWORD *read) {
  *read = 0;
  SetLastError(ERROR_NOT_SUPPORTED);
  return FALSE;
}

// Compiler intrinsics on this build: given an address of their own here.
LONG InterlockedIncrement(LONG volatile *value) {
  return ::InterlockedIncrement(value);
}
LONG InterlockedDecrement(LONG volatile *value) {
  return ::InterlockedDecrement(value);
}

#define TWINSIFT_OWN_CALL(Name, ...) .Name = Name,
const PlatformCalls own = {TWINSIFT_PLATFORM_CALLS(TWINSIFT_OWN_CALL)};
#undef TWINSIFT_OWN_CALL

}  // namespace

PlatformCalls platformCalls = own;
