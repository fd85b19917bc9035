// The one platform header the core includes: the Win32 subset TwinSift uses.
//
// Every Win32 function, type and error code the program calls is listed here
// (Linux) or comes from <windows.h> (Windows). The core never tests which OS
// it is on; everything that differs lives below platform/.
//
//   Function                     Used for
//   FindFirstFileW/Next/Close    directory enumeration, look-up of one path
//   FindFirstFileExW             the enumeration of subdirectories
//   CreateFileW/ReadFile         reading a file to hash it
//   SetFilePointerEx             the last block of a file, to compare it
//   GetFileInformationByHandle   a file's identity (volume serial, file index)
//   CloseHandle                  files
//   DeleteFileW                  erasing a file
//   RemoveDirectoryW             removing an empty directory
//   GetFullPathNameW             the absolute form of a parameter
//   InitializeCriticalSectionAndSpinCount, EnterCriticalSection,
//   LeaveCriticalSection, DeleteCriticalSection      container locks
//   InterlockedIncrement/Decrement                    counters
//   GetLastError/SetLastError, FormatMessageW         error codes and texts
//   CryptAcquireContextW, CryptCreateHash, CryptGetHashParam,
//   CryptHashData, CryptDestroyHash, CryptReleaseContext   SHA-256
//   wsprintfW, MessageBoxW       the end-of-run memory notice
//   malloc, free                 the allocations whose failure is reported
//   DeviceIoControl              whether a file's volume has a seek penalty
//
// The core reaches every one of them through one table, platformCalls
// below, never by name: each entry holds the call's current
// implementation (on Windows the long-path and identity wrappers of
// platform/win32/, on Linux the stand-ins of platform/posix/). A test
// replaces an entry for its duration (a file that vanishes when it is
// opened, a listing that changes, an allocation that fails) and puts it
// back; every build and preset has the same table.
//
// Besides the Win32 names, both builds provide the glue declared at the end
// of this file: the wide formatted output and the entry point.
#pragma once

#if defined(_WIN32)
#include "platform/win32/win32.h"
#else
#include "platform/posix/posix.h"
#endif

#include <cstdarg>
#include <cstddef>
#include <string>

// ---- The one seam: every platform call the core makes ----
// Each entry has the type of the call it is named after, except
// WaitCriticalSection: EnterCriticalSection as a wait that reports its
// outcome, WAIT_OBJECT_0 once the lock is held or WAIT_FAILED (then not
// held); the build's own never fails, but a replacement may.
struct PlatformCalls {
  decltype(&::FindFirstFileW) FindFirstFileW;
  decltype(&::FindFirstFileExW) FindFirstFileExW;
  decltype(&::FindNextFileW) FindNextFileW;
  decltype(&::FindClose) FindClose;
  decltype(&::CreateFileW) CreateFileW;
  decltype(&::ReadFile) ReadFile;
  decltype(&::SetFilePointerEx) SetFilePointerEx;
  decltype(&::GetFileInformationByHandle) GetFileInformationByHandle;
  decltype(&::CloseHandle) CloseHandle;
  decltype(&::DeleteFileW) DeleteFileW;
  decltype(&::RemoveDirectoryW) RemoveDirectoryW;
  decltype(&::GetFullPathNameW) GetFullPathNameW;
  decltype(&::InitializeCriticalSectionAndSpinCount)
      InitializeCriticalSectionAndSpinCount;
  DWORD (*WaitCriticalSection)(LPCRITICAL_SECTION cs);
  decltype(&::LeaveCriticalSection) LeaveCriticalSection;
  decltype(&::DeleteCriticalSection) DeleteCriticalSection;
  LONG (*InterlockedIncrement)(LONG volatile *value);
  LONG (*InterlockedDecrement)(LONG volatile *value);
  decltype(&::GetLastError) GetLastError;
  decltype(&::SetLastError) SetLastError;
  decltype(&::FormatMessageW) FormatMessageW;
  decltype(&::CryptAcquireContextW) CryptAcquireContextW;
  decltype(&::CryptCreateHash) CryptCreateHash;
  decltype(&::CryptGetHashParam) CryptGetHashParam;
  decltype(&::CryptHashData) CryptHashData;
  decltype(&::CryptDestroyHash) CryptDestroyHash;
  decltype(&::CryptReleaseContext) CryptReleaseContext;
  decltype(&::wsprintfW) wsprintfW;
  decltype(&::MessageBoxW) MessageBoxW;
  void *(*malloc)(size_t size);
  void (*free)(void *block);
  decltype(&::DeviceIoControl) DeviceIoControl;
};

// The table the core calls through. Starts with the build's own
// implementations; only tests change it.
extern PlatformCalls platformCalls;

// Wide formatted output to standard output (formats use %ls for wide
// strings). Every line is written whole: a character the output encoding
// cannot represent is replaced, never the end of the line. Returns the
// number of wide characters formatted, or -1 when formatting failed.
int PrintW(const wchar_t *fmt, ...);
int PrintWv(const wchar_t *fmt, va_list ap);

// Narrow output of plain ASCII text (the help screen).
void PrintA(const char *text);

// Writes everything buffered so far to standard output. Called before an
// erasure, before the message box and at exit, so lines keep their order.
void PrintFlush(void);

// How the report shows a path, so that no name can break the report.
// commandLine: the path stands in a "del ", "REM ", "del" or "rd" line that
// cmd may run from a saved report. Windows: '%' is doubled in such lines
// (cmd expands it even inside quotes), nothing else changes. Linux: every
// character that could end or fake a line or the quoted path (control
// characters, '"', '\\', U+0085, U+2028, U+2029) is written as \\xHH per
// UTF-8 byte, in every line. Ordinary names come out unchanged. Can't fail.
std::wstring ShowPath(const wchar_t *path, int commandLine);

// The status line of a long run (app/progress.cpp). StderrIsTerminal and
// StdoutIsTerminal: 1 when that stream is an interactive terminal (a
// console on Windows), else 0 (a file, a pipe, the null device). PrintErrW
// writes text to standard error at once, unformatted and unbuffered; it is
// meant for a terminal only. None of them can fail.
int StderrIsTerminal(void);
int StdoutIsTerminal(void);
void PrintErrW(const wchar_t *text);

// 1 when c introduces a switch argument: '-' on both builds, '/' on Windows
// only (on Linux a leading '/' starts an absolute path). Can't fail.
int IsSwitchPrefix(wchar_t c);

// The program's own entry point, called by the platform's main/wmain with
// the arguments as wide strings. Returns the process exit code.
int AppMain(int argc, wchar_t **argv);
