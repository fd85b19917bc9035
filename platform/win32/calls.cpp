// The Windows build's table of platform calls: the system's own, but for the
// path-taking calls (the long-path wrappers of longpath.cpp) and the
// identity of an open file (identity.cpp).
#include <cstdlib>

#include "platform/platform.h"

namespace {

// Without the debug record the system would otherwise allocate for every
// critical section: one heap block per size group saved.
BOOL WINAPI InitLock(LPCRITICAL_SECTION cs, DWORD spin) {
  return InitializeCriticalSectionEx(cs, spin, CRITICAL_SECTION_NO_DEBUG_INFO);
}

DWORD WaitCriticalSection(LPCRITICAL_SECTION cs) {
  EnterCriticalSection(cs);
  return WAIT_OBJECT_0;
}

// Compiler intrinsics on this build: given an address of their own here.
LONG Increment(LONG volatile *value) { return InterlockedIncrement(value); }
LONG Decrement(LONG volatile *value) { return InterlockedDecrement(value); }

}  // namespace

PlatformCalls platformCalls = {
    .FindFirstFileW = TsFindFirstFileW,
    .FindFirstFileExW = TsFindFirstFileExW,
    .FindNextFileW = FindNextFileW,
    .FindClose = FindClose,
    .CreateFileW = TsCreateFileW,
    .ReadFile = ReadFile,
    .SetFilePointerEx = SetFilePointerEx,
    .GetFileInformationByHandle = TsGetFileInformationByHandle,
    .CloseHandle = CloseHandle,
    .DeleteFileW = TsDeleteFileW,
    .RemoveDirectoryW = TsRemoveDirectoryW,
    .GetFullPathNameW = GetFullPathNameW,
    .InitializeCriticalSectionAndSpinCount = InitLock,
    .WaitCriticalSection = WaitCriticalSection,
    .LeaveCriticalSection = LeaveCriticalSection,
    .DeleteCriticalSection = DeleteCriticalSection,
    .InterlockedIncrement = Increment,
    .InterlockedDecrement = Decrement,
    .GetLastError = GetLastError,
    .SetLastError = SetLastError,
    .FormatMessageW = FormatMessageW,
    .CryptAcquireContextW = CryptAcquireContextW,
    .CryptCreateHash = CryptCreateHash,
    .CryptGetHashParam = CryptGetHashParam,
    .CryptHashData = CryptHashData,
    .CryptDestroyHash = CryptDestroyHash,
    .CryptReleaseContext = CryptReleaseContext,
    .wsprintfW = wsprintfW,
    .MessageBoxW = MessageBoxW,
    .malloc = malloc,
    .free = free,
    .DeviceIoControl = DeviceIoControl,
};
