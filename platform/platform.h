// The one platform header the core includes: the Win32 subset TwinSift uses.
//
// Every Win32 function, type and error code the program uses is declared in
// platform/posix/posix.h (Linux) or comes from <windows.h> (Windows). The core
// never tests which OS it is on; everything that differs lives below platform/.
//
// The core reaches every one of these calls through one table,
// platformCalls below, never by name. TWINSIFT_PLATFORM_CALLS is the one
// list of its entries: the table's type is generated from it, each
// platform's calls.cpp fills the table from it (on Windows the long-path and
// identity wrappers of platform/win32/, on Linux the stand-ins of
// platform/posix/), and tests/checks/seam_check.cmake reads the names from it
// to fail a core source that calls one of them by name. A test replaces an
// entry for its duration (a file that vanishes when it is opened, a listing
// that changes, an allocation that fails) and puts it back; every build and
// preset has the same table.
//
// Adding a call takes one line of the list and its two implementations: on
// Linux a stand-in of that name (platform/posix/posix.h), on Windows the
// system's function of that name, or one of that name in the namespace of
// platform/win32/calls.cpp when the entry needs a wrapper.
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

// ---- The devices files lie on ----
// Whether reading a volume in two places at once costs seeks.
enum { kSeekNone = 0, kSeekPenalty = 1, kSeekUnknown = 2 };

// The seek penalty of the volume that holds the folder directory (a full or
// relative path, with or without a trailing separator): kSeekNone,
// kSeekPenalty, or kSeekUnknown when it can't be told. Asked of each volume
// once and remembered, so that asking for every folder is cheap; the main
// thread's only. Windows: a network share has none; a drive is asked through
// its device ("\\.\X:"), any other volume through the folder itself.
// Linux: the block layer's rotational flag of the disk behind the folder's
// device; a device with no disk (tmpfs, overlay, a network mount) has none,
// and a folder that can't be reached gives kSeekUnknown. Can't fail.
int GetVolumeSeekPenalty(const wchar_t *directory);

// ---- The one seam: every platform call the core makes ----
// One line per call, X(Name, Type) and what the call is used for. Type is the
// entry's pointer type: that of the call it is named after, except for
// ReadFileCached, ReadFile of only what is in memory (TRUE with *read the
// bytes that were, 0 at the end of the file; FALSE with ERROR_IO_PENDING
// when none were, or ERROR_NOT_SUPPORTED where the system can't tell), and
// WaitCriticalSection, EnterCriticalSection as a wait that reports its
// outcome: WAIT_OBJECT_0 once the lock is held or WAIT_FAILED (then not
// held); the build's own never fails, but a replacement may. The interlocked
// counters are spelled out: on Windows they are compiler intrinsics.
// clang-format off
#define TWINSIFT_PLATFORM_CALLS(X)                                                                        \
  X(FindFirstFileW, decltype(&::FindFirstFileW))                         /* listings, path look-ups */    \
  X(FindFirstFileExW, decltype(&::FindFirstFileExW))                     /* subdirectory listings */      \
  X(FindNextFileW, decltype(&::FindNextFileW))                           /* listings */                   \
  X(FindClose, decltype(&::FindClose))                                   /* listings */                   \
  X(CreateFileW, decltype(&::CreateFileW))                               /* opening files, directories */ \
  X(ReadFile, decltype(&::ReadFile))                                     /* hashing a file */             \
  X(ReadFileCached, BOOL (*)(HANDLE file, void *buf, DWORD toRead, DWORD *read)) /* reads without the device */ \
  X(SetFilePointerEx, decltype(&::SetFilePointerEx))                     /* a file's last block */        \
  X(GetFileInformationByHandle, decltype(&::GetFileInformationByHandle)) /* file, folder identities */    \
  X(CloseHandle, decltype(&::CloseHandle))                               /* what CreateFileW opened */    \
  X(DeleteFileW, decltype(&::DeleteFileW))                               /* erasing a file */             \
  X(RemoveDirectoryW, decltype(&::RemoveDirectoryW))                     /* removing empty directories */ \
  X(GetFullPathNameW, decltype(&::GetFullPathNameW))                     /* absolute parameters */        \
  X(InitializeCriticalSectionAndSpinCount, decltype(&::InitializeCriticalSectionAndSpinCount)) /* container locks */ \
  X(WaitCriticalSection, DWORD (*)(LPCRITICAL_SECTION cs))               /* container locks */            \
  X(LeaveCriticalSection, decltype(&::LeaveCriticalSection))             /* container locks */            \
  X(DeleteCriticalSection, decltype(&::DeleteCriticalSection))           /* container locks */            \
  X(InterlockedIncrement, LONG (*)(LONG volatile *value))                /* counters */                   \
  X(InterlockedDecrement, LONG (*)(LONG volatile *value))                /* counters */                   \
  X(GetLastError, decltype(&::GetLastError))                             /* error codes */                \
  X(SetLastError, decltype(&::SetLastError))                             /* error codes */                \
  X(FormatMessageW, decltype(&::FormatMessageW))                         /* error texts */                \
  X(CryptAcquireContextW, decltype(&::CryptAcquireContextW))             /* SHA-256 */                    \
  X(CryptCreateHash, decltype(&::CryptCreateHash))                       /* SHA-256 */                    \
  X(CryptGetHashParam, decltype(&::CryptGetHashParam))                   /* SHA-256 */                    \
  X(CryptHashData, decltype(&::CryptHashData))                           /* SHA-256 */                    \
  X(CryptDestroyHash, decltype(&::CryptDestroyHash))                     /* SHA-256 */                    \
  X(CryptReleaseContext, decltype(&::CryptReleaseContext))               /* SHA-256 */                    \
  X(wsprintfW, decltype(&::wsprintfW))                                   /* memory notice, hex hashes */  \
  X(MessageBoxW, decltype(&::MessageBoxW))                               /* the memory notice */          \
  X(malloc, void *(*)(size_t size))                                      /* allocations tests may fail */ \
  X(free, void (*)(void *block))                                         /* what malloc gave */           \
  X(GetVolumeSeekPenalty, int (*)(const wchar_t *directory))             /* a volume's seek penalty */    \
  X(GetFinalPathNameByHandleW, decltype(&::GetFinalPathNameByHandleW))   /* two open files told apart */
// clang-format on

// The table's type: one member per line of the list, in its order, each
// with its pointer type named (FindFirstFileWType for FindFirstFileW).
#define TWINSIFT_PLATFORM_MEMBER(Name, ...) \
  using Name##Type = __VA_ARGS__;           \
  Name##Type Name;
struct PlatformCalls {
  TWINSIFT_PLATFORM_CALLS(TWINSIFT_PLATFORM_MEMBER)
};
#undef TWINSIFT_PLATFORM_MEMBER

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
// Returns 0 when everything printed so far has been written, else the
// Windows code of the first write that failed (112 disk full, 109 or 232
// the reader went away, 6 no standard output); after a failure nothing
// more is written.
DWORD PrintFlush(void);
// That code without writing anything: 0 while no write has failed.
DWORD PrintWriteError(void);

// How the report shows a path, so that no name can break the report.
// commandLine: 0 for other lines; 1 for a "REM " line and 2 for a "del " or
// "rd " line, which cmd may run from a saved report. Windows: '%' is doubled
// in such lines (cmd expands it even inside quotes); a line cmd runs shows
// the "\\?\" form of a path that has a reserved device name (CON, aux.txt,
// COM1.jpg...) or a name ending in a dot or a space in any component, so
// that cmd reaches the file itself; nothing else changes. Linux: every
// character that could end or fake a line or the quoted path (control
// characters, '"', '\\', U+0085, U+2028, U+2029) is written as \\xHH per
// UTF-8 byte, in every line. Ordinary names come out unchanged. Can't fail.
std::wstring ShowPath(const wchar_t *path, int commandLine);

// The status line of a long run (common/progress.cpp). StderrIsTerminal and
// StdoutIsTerminal: 1 when that stream is an interactive terminal (a
// console on Windows), else 0 (a file, a pipe, the null device). PrintErrW
// writes text to standard error at once, unformatted and unbuffered,
// whatever standard error is. None of them can fail.
int StderrIsTerminal(void);
int StdoutIsTerminal(void);
void PrintErrW(const wchar_t *text);

// The file-system identity of the file behind standard output (stream 1)
// or standard error (stream 2): 1 with *volume, *indexHigh and *indexLow
// set (as GetFileInformationByHandle gives them) when that stream is a file
// on disk, else 0 (a console, a pipe, the null device, none). Can't fail.
int StdStreamIdentity(int stream, DWORD *volume, DWORD *indexHigh,
                      DWORD *indexLow);

// 1 when name, an entry of the folder parentPath, is a folder where the
// system or the desktop keeps deleted files or its own records: the scan and
// the purge never enter it. Both builds: "$RECYCLE.BIN", "RECYCLER" and
// "System Volume Information" in any letter case. Linux also: ".Trash",
// ".Trash-<digits>", and "Trash" in a folder "share" whose parent is
// ".local". Can't fail.
int IsRecycleBinName(const wchar_t *parentPath, const wchar_t *name);

// 1 when c introduces a switch argument: '-' on both builds, '/' on Windows
// only (on Linux a leading '/' starts an absolute path). Can't fail.
int IsSwitchPrefix(wchar_t c);

// The program's own entry point, called by the platform's main/wmain with
// the arguments as wide strings. Returns the process exit code.
int AppMain(int argc, wchar_t **argv);

// ---- What twinsift-view reads and writes ----
// Text as this build's standard output writes it, read back as wide
// characters (the inverse of PrintW's encoding). Linux: UTF-8, every byte
// that is not part of valid UTF-8 as U+DC80 + byte. Windows: the console's
// output code page, the OEM code page without a console. Can't fail.
std::wstring DecodeOutputText(const char *bytes, size_t len);

// The whole contents of the file at path, or of standard input for "-",
// into *bytes. Returns 0, or the Windows code of the failure (2 not found,
// 5 access denied, ...).
DWORD ReadWholeFile(const wchar_t *path, std::string *bytes);

// Writes bytes as the new contents of the file at path (made, or emptied
// first), or to standard output for "-". Returns 0, or the Windows code of
// the failure (3 no such folder, 112 disk full, ...).
DWORD WriteWholeFile(const wchar_t *path, const std::string &bytes);
