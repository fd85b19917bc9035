// The Windows build: the real Win32 API. Only glue lives in platform/win32/.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef UNICODE
#define UNICODE
#endif
#include <windows.h>
// The storage queries (not in the lean set).
#include <winioctl.h>
// wincrypt.h needs windows.h before it.
#include <wincrypt.h>

#include <cstddef>
#include <string>

// Attributes of online-only files that the headers may not name yet.
#ifndef FILE_ATTRIBUTE_RECALL_ON_OPEN
#define FILE_ATTRIBUTE_RECALL_ON_OPEN 0x40000
#endif
#ifndef FILE_ATTRIBUTE_RECALL_ON_DATA_ACCESS
#define FILE_ATTRIBUTE_RECALL_ON_DATA_ACCESS 0x400000
#endif

// ---- Paths longer than the plain calls take ----
// The path-taking calls of the table of platform calls are the wrappers of
// platform/win32/longpath.cpp, which hand a path the plain call would refuse
// (MAX_PATH - 12 characters or more, the limit of the strictest of them) to
// the system in its "\\?\" form. The program keeps, joins and prints every
// path as the user wrote it; only the system sees the long form. The
// fixture calls of the tests use the wrappers by their own names.

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

HANDLE WINAPI TsFindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW data);
HANDLE WINAPI TsFindFirstFileExW(LPCWSTR pattern, FINDEX_INFO_LEVELS level,
                                 LPVOID data, FINDEX_SEARCH_OPS search,
                                 LPVOID filter, DWORD flags);
HANDLE WINAPI TsCreateFileW(LPCWSTR path, DWORD access, DWORD share,
                            LPSECURITY_ATTRIBUTES security, DWORD disposition,
                            DWORD flags, HANDLE templateFile);
BOOL WINAPI TsDeleteFileW(LPCWSTR path);
BOOL WINAPI TsRemoveDirectoryW(LPCWSTR path);
BOOL WINAPI TsCreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES security);
DWORD WINAPI TsGetFileAttributesW(LPCWSTR path);
BOOL WINAPI TsSetFileAttributesW(LPCWSTR path, DWORD attributes);

// ---- A file's identity (platform/win32/identity.cpp) ----
// GetFileInformationByHandle with the volume serial number asked once per
// directory that files are opened in (see identity.cpp); the full call for
// a handle opened with FILE_FLAG_BACKUP_SEMANTICS or by other means.
BOOL WINAPI TsGetFileInformationByHandle(HANDLE h,
                                         BY_HANDLE_FILE_INFORMATION *info);
// Tells identity.cpp which path and flags the handle h was opened with.
// Can't fail.
void NoteOpenedHandle(HANDLE h, const wchar_t *path, DWORD flags);

// The separator the program adds when it joins a directory and a name.
#define PATH_SEPARATOR L'\\'
#define PATH_SEPARATOR_STR L"\\"

// The code page of the console's output, or the OEM code page when the
// process has no console (output to a file or a pipe). Can't fail.
UINT OutputCodePage();

// The bytes PrintW hands to the text-mode stream for len characters of text:
// the console's output code page (the OEM code page without a console), with
// '|' for every character that code page cannot represent. Can't fail.
std::string OutputEncode(const wchar_t *text, size_t len);
