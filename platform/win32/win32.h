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

// The separator the program adds when it joins a directory and a name.
#define PATH_SEPARATOR L'\\'
#define PATH_SEPARATOR_STR L"\\"

// The bytes PrintW hands to the text-mode stream for len characters of text:
// the console's output code page (the OEM code page without a console), with
// '|' for every character that code page cannot represent. Can't fail.
std::string OutputEncode(const wchar_t *text, size_t len);
