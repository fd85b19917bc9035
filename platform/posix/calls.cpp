// The Linux build's table of platform calls: the stand-ins themselves.
#include <cstdlib>

#include "platform/platform.h"

namespace {

DWORD WaitCriticalSection(LPCRITICAL_SECTION cs) {
  EnterCriticalSection(cs);
  return WAIT_OBJECT_0;
}

}  // namespace

PlatformCalls platformCalls = {
    .FindFirstFileW = FindFirstFileW,
    .FindFirstFileExW = FindFirstFileExW,
    .FindNextFileW = FindNextFileW,
    .FindClose = FindClose,
    .CreateFileW = CreateFileW,
    .ReadFile = ReadFile,
    .SetFilePointerEx = SetFilePointerEx,
    .GetFileInformationByHandle = GetFileInformationByHandle,
    .CloseHandle = CloseHandle,
    .DeleteFileW = DeleteFileW,
    .RemoveDirectoryW = RemoveDirectoryW,
    .GetFullPathNameW = GetFullPathNameW,
    .InitializeCriticalSectionAndSpinCount =
        InitializeCriticalSectionAndSpinCount,
    .WaitCriticalSection = WaitCriticalSection,
    .LeaveCriticalSection = LeaveCriticalSection,
    .DeleteCriticalSection = DeleteCriticalSection,
    .InterlockedIncrement = InterlockedIncrement,
    .InterlockedDecrement = InterlockedDecrement,
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
