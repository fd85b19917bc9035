// The console tests and the unbuffered standard error of the status line.
// The line goes to the console as wide text, so no code page is involved.
#include <cwchar>

#include "platform/platform.h"

namespace {

// 1 when the standard handle named by which is a console. Can't fail.
int IsConsole(DWORD which) {
  HANDLE h = GetStdHandle(which);
  DWORD mode = 0;
  if (h == nullptr || h == INVALID_HANDLE_VALUE) return 0;
  return GetConsoleMode(h, &mode) ? 1 : 0;
}

}  // namespace

int StderrIsTerminal(void) { return IsConsole(STD_ERROR_HANDLE); }

int StdoutIsTerminal(void) { return IsConsole(STD_OUTPUT_HANDLE); }

// Nothing is written when standard error is not a console. Can't fail.
void PrintErrW(const wchar_t *text) {
  DWORD written = 0;
  WriteConsoleW(GetStdHandle(STD_ERROR_HANDLE), text, (DWORD)wcslen(text),
                &written, nullptr);
}
