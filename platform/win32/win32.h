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

// ---- Every path reached as itself ----
// The path-taking calls of the table of platform calls are the wrappers of
// platform/win32/longpath.cpp, which hand every path to the system in its
// "\\?\" form: no length limit, and every name taken as it is (a reserved
// device name such as CON, aux.txt or COM1.jpg, a name ending in a dot or a
// space). The program keeps, joins and prints every path as the user wrote
// it; only the system sees that form. The fixture calls of the tests use the
// wrappers by their own names. A wrapped open for reading succeeds only for
// a file on a disk: a device, a pipe or a FIFO fails with
// ERROR_NOT_SUPPORTED, so that no read can wait for input.

// The full form of path: made absolute against the current directory ("X:rel"
// against drive X's, "\rel" against the current root), '/' turned into '\',
// repeated separators, "." and ".." components folded, every name kept as
// it is; a trailing separator is kept. Unlike GetFullPathNameW it never
// turns a reserved name into a device or trims a trailing dot or space. An
// empty path, a path in "\\?\", "\\.\" or "\??\" form, or a current
// directory that cannot be had gives an empty string. Exhaustion ends the
// process.
std::wstring FullForm(const wchar_t *path);

// The form of path to hand to a path-taking call: "\\?\" followed by its
// full form ("\\?\UNC\server\share..." for "\\server\share..."). A path
// already in "\\?\", "\\.\" or "\??\" form, or one that has no full form,
// is returned as it is, so the call fails as the plain one would.
// Exhaustion ends the process.
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
// GetFullPathNameW giving FullForm: a parameter such as "photos\aux" or
// "trip." stays that folder. Falls back on the system's call for a path
// FullForm leaves alone.
DWORD WINAPI TsGetFullPathNameW(LPCWSTR path, DWORD capacity, LPWSTR buffer,
                                LPWSTR *filePart);

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
