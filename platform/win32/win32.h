// The Windows build: the real Win32 API. Only glue lives in platform/win32/.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef UNICODE
#define UNICODE
#endif
#include <windows.h>
#include <wincrypt.h>

// The separator the program adds when it joins a directory and a name.
#define PATH_SEPARATOR L'\\'
#define PATH_SEPARATOR_STR L"\\"
