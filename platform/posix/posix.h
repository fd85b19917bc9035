// The POSIX stand-in for the Win32 subset: same names, same meanings.
//
// Built on POSIX and OpenSSL's libcrypto. Records carry only the fields the
// program reads. Names are wide strings; on the way to the OS they are
// encoded as UTF-8, with U+DC80..U+DCFF standing for the bytes 0x80..0xFF
// that are not part of valid UTF-8, so every name round-trips exactly. An
// argument or flag a stand-in does not support fails with code 87.
//
// Where each stand-in lives (platform/posix/), and what it is built on:
//   find.cpp      FindFirstFileW, FindFirstFileExW, FindNextFileW,
//                 FindClose (opendir, readdir, fstatat, stat)
//   files.cpp     CreateFileW, ReadFile, SetFilePointerEx,
//                 GetFileInformationByHandle, DeleteFileW, RemoveDirectoryW
//                 (open, read, lseek, fstat, posix_fadvise, lstat, unlink,
//                 rmdir)
//   handles.cpp   CloseHandle (close)
//   fullpath.cpp  GetFullPathNameW (getcwd)
//   device.cpp    GetVolumeSeekPenalty (from /sys/dev/block)
//   calls.cpp     the table of these calls the core goes through
//   sync.cpp      InitializeCriticalSection(AndSpinCount),
//                 EnterCriticalSection, TryEnterCriticalSection,
//                 LeaveCriticalSection, DeleteCriticalSection,
//                 InterlockedIncrement, InterlockedDecrement
//                 (a futex word, __atomic built-ins)
//   errors.cpp    GetLastError, SetLastError, FormatMessageW
//                 (errno translated in one switch)
//   crypto.cpp    CryptAcquireContextW, CryptCreateHash, CryptGetHashParam,
//                 CryptHashData, CryptDestroyHash, CryptReleaseContext
//                 (OpenSSL SHA256_*)
//   ui.cpp        wsprintfW, MessageBoxW (vswprintf, stderr, /dev/tty)
//   output.cpp    IsSwitchPrefix, and the UTF-8 encoding of standard output
//                 for PrintW, PrintWv, PrintA, PrintFlush
//                 (platform/shared/output.cpp)
//   progress.cpp  StderrIsTerminal, StdoutIsTerminal, PrintErrW (isatty)
//   showpath.cpp  ShowPath
//   encoding.cpp  WideFromBytes, BytesFromWide
//   bins.cpp      IsRecycleBinName (with platform/shared/bins.cpp)
#pragma once

#include <pthread.h>

#include <cstdarg>
#include <cstdint>
#include <cwchar>
#include <string>

// ---- Types ----
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef int BOOL;
typedef unsigned int UINT;
typedef uint8_t BYTE;
typedef wchar_t WCHAR;
typedef const wchar_t *LPCWSTR;
typedef wchar_t *LPWSTR;
typedef void *LPVOID;
typedef void *HANDLE;
typedef void *HWND;
typedef uintptr_t ULONG_PTR;
typedef ULONG_PTR HCRYPTPROV;
typedef ULONG_PTR HCRYPTHASH;
typedef ULONG_PTR HCRYPTKEY;
typedef unsigned int ALG_ID;
typedef struct SECURITY_ATTRIBUTES_ SECURITY_ATTRIBUTES;
typedef struct OVERLAPPED_ OVERLAPPED;

// The calling convention of the Win32 calls: the only one there is here.
#define WINAPI

#define TRUE 1
#define FALSE 0
#define MAX_PATH 260
// The separator the program adds when it joins a directory and a name.
#define PATH_SEPARATOR L'/'
#define PATH_SEPARATOR_STR L"/"
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define WAIT_OBJECT_0 0u
#define WAIT_FAILED 0xFFFFFFFFu

// ---- File attributes and open flags ----
#define FILE_ATTRIBUTE_READONLY 0x1u
#define FILE_ATTRIBUTE_HIDDEN 0x2u
#define FILE_ATTRIBUTE_SYSTEM 0x4u
#define FILE_ATTRIBUTE_DIRECTORY 0x10u
#define FILE_ATTRIBUTE_ARCHIVE 0x20u
#define FILE_ATTRIBUTE_NORMAL 0x80u
#define FILE_ATTRIBUTE_REPARSE_POINT 0x400u
// Never given here: the entries of other file systems' listings that tests
// stand in for (online-only files).
#define FILE_ATTRIBUTE_OFFLINE 0x1000u
#define FILE_ATTRIBUTE_RECALL_ON_OPEN 0x40000u
#define FILE_ATTRIBUTE_RECALL_ON_DATA_ACCESS 0x400000u

// ---- Reparse tags (dwReserved0 of a reparse point's listing entry) ----
// The listings here give 0 for a symbolic link (as Wine does); the others
// are met in tests of other file systems' listings.
#define IO_REPARSE_TAG_MOUNT_POINT 0xA0000003u
#define IO_REPARSE_TAG_SYMLINK 0xA000000Cu
#define IO_REPARSE_TAG_DEDUP 0x80000013u
#define IO_REPARSE_TAG_WOF 0x80000017u
#define IO_REPARSE_TAG_CLOUD 0x9000001Au
#define IO_REPARSE_TAG_CLOUD_MASK 0x0000F000u

#define GENERIC_READ 0x80000000u
#define FILE_SHARE_READ 0x1u
#define FILE_SHARE_WRITE 0x2u
#define FILE_SHARE_DELETE 0x4u
#define OPEN_EXISTING 3u
#define FILE_FLAG_BACKUP_SEMANTICS 0x02000000u
#define FILE_FLAG_SEQUENTIAL_SCAN 0x08000000u

// ---- CryptoAPI ----
#define PROV_RSA_AES 24u
#define CRYPT_VERIFYCONTEXT 0xF0000000u
#define CALG_SHA_256 0x800Cu
#define HP_HASHVAL 0x2u
#define HP_HASHSIZE 0x4u

// ---- Messages ----
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x200u
#define FORMAT_MESSAGE_FROM_SYSTEM 0x1000u
#define MB_OK 0x0u
#define IDOK 1

// ---- Error codes (the Windows values) ----
#define ERROR_SUCCESS 0u
#define ERROR_INVALID_FUNCTION 1u
#define ERROR_FILE_NOT_FOUND 2u
#define ERROR_PATH_NOT_FOUND 3u
#define ERROR_TOO_MANY_OPEN_FILES 4u
#define ERROR_ACCESS_DENIED 5u
#define ERROR_INVALID_HANDLE 6u
#define ERROR_NOT_ENOUGH_MEMORY 8u
#define ERROR_OUTOFMEMORY 14u
#define ERROR_NOT_SAME_DEVICE 17u
#define ERROR_NO_MORE_FILES 18u
#define ERROR_WRITE_PROTECT 19u
#define ERROR_NOT_READY 21u
#define ERROR_READ_FAULT 30u
#define ERROR_GEN_FAILURE 31u
#define ERROR_SHARING_VIOLATION 32u
#define ERROR_NOT_SUPPORTED 50u
#define ERROR_IO_PENDING 997u
#define ERROR_INVALID_PARAMETER 87u
#define ERROR_BROKEN_PIPE 109u
#define ERROR_DISK_FULL 112u
#define ERROR_CALL_NOT_IMPLEMENTED 120u
#define ERROR_INSUFFICIENT_BUFFER 122u
#define ERROR_INVALID_NAME 123u
#define ERROR_DIR_NOT_EMPTY 145u
#define ERROR_BUSY 170u
#define ERROR_ALREADY_EXISTS 183u
#define ERROR_FILENAME_EXCED_RANGE 206u
#define ERROR_MORE_DATA 234u
#define ERROR_DIRECTORY 267u
#define ERROR_NOT_OWNER 288u
#define ERROR_MR_MID_NOT_FOUND 317u
#define ERROR_IO_DEVICE 1117u
#define ERROR_CANT_RESOLVE_FILENAME 1921u

// ---- Records ----
// 100-nanosecond intervals since 1 January 1601, as two halves.
struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};

struct WIN32_FIND_DATAW {
  DWORD dwFileAttributes;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;  // a reparse point's tag; always 0 here
  WCHAR cFileName[MAX_PATH];
};

// ftCreationTime stands for the inode's status-change time, which Linux
// sets when the file is made and moves on every write, rename or chmod.
struct BY_HANDLE_FILE_INFORMATION {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastWriteTime;
  DWORD dwVolumeSerialNumber;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD nNumberOfLinks;
  DWORD nFileIndexHigh;
  DWORD nFileIndexLow;
};

// ---- Directory enumeration and look-up ----
// The last component of the pattern is matched with the Windows wildcard
// rules; a pattern without wildcards is the look-up of that one path (a
// symbolic link is followed). Fails for a path ending in a separator. A
// listing comes in NTFS order ("." and ".." first, then by name, ASCII
// letters as upper case); a symbolic link in it is a reparse point of size
// 0, FIFOs, sockets and devices are left out. Attributes: directory, hidden
// (a name starting with '.'), read-only (owner write bit clear), else
// FILE_ATTRIBUTE_NORMAL for a plain file.
HANDLE FindFirstFileW(LPCWSTR pattern, WIN32_FIND_DATAW *data);
// Both info levels fill the same record. FindExSearchLimitToDirectories
// hands out directories only, and costs no status call for the other names
// whose type the directory itself records. Of the flags only
// FIND_FIRST_EX_LARGE_FETCH (no effect here) is supported.
enum FINDEX_INFO_LEVELS {
  FindExInfoStandard = 0,
  FindExInfoBasic = 1,
  FindExInfoMaxInfoLevel = 2
};
enum FINDEX_SEARCH_OPS {
  FindExSearchNameMatch = 0,
  FindExSearchLimitToDirectories = 1,
  FindExSearchLimitToDevices = 2
};
#define FIND_FIRST_EX_LARGE_FETCH 0x2u
HANDLE FindFirstFileExW(LPCWSTR pattern, FINDEX_INFO_LEVELS level, void *data,
                        FINDEX_SEARCH_OPS op, void *filter, DWORD flags);
BOOL FindNextFileW(HANDLE find, WIN32_FIND_DATAW *data);
BOOL FindClose(HANDLE find);

// ---- Files ----
// Opens read-only (only GENERIC_READ and OPEN_EXISTING are supported), never
// blocks on a special file, hints sequential access (for files larger than
// the kernel's first read-ahead). Opens regular files only, and with
// FILE_FLAG_BACKUP_SEMANTICS directories too, as Windows does. A regular
// file opened without FILE_SHARE_DELETE cannot be erased by DeleteFileW
// (here or in another process) while the handle is open: the last error is
// 32, as on Windows; the open itself fails with 32 while an erasure holds
// the file.
HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD share,
                   SECURITY_ATTRIBUTES *sa, DWORD disposition, DWORD flags,
                   HANDLE templ);
// A 64-bit file offset (only the whole value is used here).
typedef struct LARGE_INTEGER_ {
  int64_t QuadPart;
} LARGE_INTEGER, *PLARGE_INTEGER;
#define FILE_BEGIN 0u
// Moves the read position to distance from the start (FILE_BEGIN only;
// anything else fails with 87); *newPos (may be null) gets the position.
BOOL SetFilePointerEx(HANDLE file, LARGE_INTEGER distance,
                      PLARGE_INTEGER newPos, DWORD method);
// After a short read the next one returns 0 without asking the system.
BOOL ReadFile(HANDLE file, LPVOID buf, DWORD toRead, DWORD *read,
              OVERLAPPED *ovl);
// ReadFile of what is in the page cache only (preadv2 with RWF_NOWAIT):
// TRUE with *read the bytes that were there (fewer than asked when only
// some were), 0 at the end of the file; FALSE with ERROR_IO_PENDING when
// none were, or ERROR_NOT_SUPPORTED where the file system can't tell.
BOOL ReadFileCached(HANDLE file, void *buf, DWORD toRead, DWORD *read);
// The first call after CreateFileW takes the status the open checked (no
// new look-up); each later one looks again, and sees a file that changed.
BOOL GetFileInformationByHandle(HANDLE file, BY_HANDLE_FILE_INFORMATION *info);
BOOL CloseHandle(HANDLE h);
// The path of an open file as the system now names it (flags 0 only):
// its length without the terminator, or the capacity needed when path is
// too small, or 0 with the last error set (6 not a file handle, 87 flags,
// or the translated errno).
DWORD GetFinalPathNameByHandleW(HANDLE file, LPWSTR path, DWORD capacity,
                                DWORD flags);
// Refuses a read-only file (owner write bit clear) with code 5.
BOOL DeleteFileW(LPCWSTR path);
// Removes an empty directory only.
BOOL RemoveDirectoryW(LPCWSTR path);
// Absolute form against the current directory, ".", ".." and repeated
// separators folded textually; no symbolic link is resolved.
DWORD GetFullPathNameW(LPCWSTR path, DWORD size, LPWSTR buf, LPWSTR *filePart);

// ---- Synchronisation ----
// A process-local recursive lock, as on Windows: the thread that holds it
// may enter it again and leaves it as often as it entered. 16 bytes (every
// size group's list has one): a word taken with one atomic operation while
// free, waited on with a futex while held.
typedef struct CRITICAL_SECTION_ {
  uint32_t state;   // 0 free, 1 held, 2 held and waited for
  uint32_t depth;   // entries of the holder
  pthread_t owner;  // the holder, 0 when free
} CRITICAL_SECTION, *LPCRITICAL_SECTION;
void InitializeCriticalSection(LPCRITICAL_SECTION cs);
// InitializeCriticalSection; the spin count has no meaning here. Returns
// TRUE.
BOOL InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION cs, DWORD spin);
void EnterCriticalSection(LPCRITICAL_SECTION cs);
// TRUE when the lock was free or is already held by this thread.
BOOL TryEnterCriticalSection(LPCRITICAL_SECTION cs);
void LeaveCriticalSection(LPCRITICAL_SECTION cs);
void DeleteCriticalSection(LPCRITICAL_SECTION cs);
LONG InterlockedIncrement(LONG volatile *value);
LONG InterlockedDecrement(LONG volatile *value);

// ---- Errors ----
DWORD GetLastError(void);
void SetLastError(DWORD code);
// Only FORMAT_MESSAGE_FROM_SYSTEM (with or without IGNORE_INSERTS) is
// supported; the text ends in "\r\n" as on Windows. Returns its length, or 0.
DWORD FormatMessageW(DWORD flags, const void *source, DWORD code, DWORD lang,
                     LPWSTR buf, DWORD size, va_list *args);

// ---- CryptoAPI (SHA-256 only) ----
BOOL CryptAcquireContextW(HCRYPTPROV *prov, LPCWSTR container, LPCWSTR provider,
                          DWORD provType, DWORD flags);
BOOL CryptCreateHash(HCRYPTPROV prov, ALG_ID alg, HCRYPTKEY key, DWORD flags,
                     HCRYPTHASH *hash);
BOOL CryptGetHashParam(HCRYPTHASH hash, DWORD param, BYTE *data, DWORD *len,
                       DWORD flags);
BOOL CryptHashData(HCRYPTHASH hash, const BYTE *data, DWORD len, DWORD flags);
BOOL CryptDestroyHash(HCRYPTHASH hash);
BOOL CryptReleaseContext(HCRYPTPROV prov, DWORD flags);

// ---- User interface ----
// At most 1024 characters (terminator included) are written, as on Windows.
int wsprintfW(LPWSTR buf, LPCWSTR fmt, ...);
// The text goes to standard error; with a terminal attached the run waits
// for Enter there.
int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);

// ---- Linux-only helpers (names as bytes) ----
// UTF-8 decoding with every byte b that is not part of valid UTF-8 mapped to
// U+DC00 + b (so 0x80..0xFF become U+DC80..U+DCFF). Can't fail.
std::wstring WideFromBytes(const std::string &bytes);
// The exact inverse of WideFromBytes.
std::string BytesFromWide(const std::wstring &wide);
// The Windows code for an errno value.
DWORD WinErrorFromErrno(int err);
// The Windows wildcard match of one name against one pattern component.
bool WildcardMatch(const wchar_t *pattern, const wchar_t *name);
