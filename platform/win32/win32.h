// The Windows build: the real Win32 API. Only glue lives in platform/win32/.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef UNICODE
#define UNICODE
#endif
#include <windows.h>
// wincrypt.h needs windows.h before it.
#include <wincrypt.h>

#include <cstddef>
#include <string>

// ---- Paths longer than the plain calls take ----
// The path-taking calls go through platform/win32/longpath.cpp, which hands a
// path the plain call would refuse (MAX_PATH - 12 characters or more, the
// limit of the strictest of them) to the system in its "\\?\" form. The
// program keeps, joins and prints every path as the user wrote it; only the
// system sees the long form. The fixture calls of the tests are wrapped too.

// The form of path to hand to a path-taking call: the path itself when it
// is short enough for the plain call, else "\\?\" followed by the absolute
// path with '/' turned into '\' ("\\?\UNC\server\share..." for
// "\\server\share..."). A relative path, or one holding "." or ".."
// components or repeated separators, is made absolute by GetFullPathNameW
// first, as the plain call would. A path already in "\\?\" or "\\.\" form
// is left alone. On error (the path cannot be resolved) the path itself is
// returned, so the call fails as the plain one would. Exhaustion ends the
// process.
std::wstring LongPathForm(const wchar_t *path);

HANDLE TsFindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW data);
HANDLE TsFindFirstFileExW(LPCWSTR pattern, FINDEX_INFO_LEVELS level,
                          LPVOID data, FINDEX_SEARCH_OPS search, LPVOID filter,
                          DWORD flags);
HANDLE TsCreateFileW(LPCWSTR path, DWORD access, DWORD share,
                     LPSECURITY_ATTRIBUTES security, DWORD disposition,
                     DWORD flags, HANDLE templateFile);
BOOL TsDeleteFileW(LPCWSTR path);
BOOL TsRemoveDirectoryW(LPCWSTR path);
BOOL TsCreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES security);
DWORD TsGetFileAttributesW(LPCWSTR path);
BOOL TsSetFileAttributesW(LPCWSTR path, DWORD attributes);

// ---- A file's identity (platform/win32/identity.cpp) ----
// GetFileInformationByHandle with the volume serial number asked once per
// directory that files are opened in (see identity.cpp); the full call for
// a handle opened with FILE_FLAG_BACKUP_SEMANTICS or by other means.
BOOL TsGetFileInformationByHandle(HANDLE h, BY_HANDLE_FILE_INFORMATION *info);
// Tells identity.cpp which path and flags the handle h was opened with.
// Can't fail.
void NoteOpenedHandle(HANDLE h, const wchar_t *path, DWORD flags);

// longpath.cpp and identity.cpp themselves call the plain ones.
#if !defined(TWINSIFT_PLAIN_PATH_CALLS)
#define FindFirstFileW TsFindFirstFileW
#define FindFirstFileExW TsFindFirstFileExW
#define CreateFileW TsCreateFileW
#define DeleteFileW TsDeleteFileW
#define RemoveDirectoryW TsRemoveDirectoryW
#define CreateDirectoryW TsCreateDirectoryW
#define GetFileAttributesW TsGetFileAttributesW
#define SetFileAttributesW TsSetFileAttributesW
#define GetFileInformationByHandle TsGetFileInformationByHandle
#endif

// The separator the program adds when it joins a directory and a name.
#define PATH_SEPARATOR L'\\'
#define PATH_SEPARATOR_STR L"\\"

// The bytes PrintW hands to the text-mode stream for len characters of text:
// the console's output code page (the OEM code page without a console), with
// '|' for every character that code page cannot represent. Can't fail.
std::string OutputEncode(const wchar_t *text, size_t len);
