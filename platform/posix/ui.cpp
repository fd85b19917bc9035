// User interface: wsprintfW and the message box (standard error, and a wait
// for Enter when a terminal is attached).
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "platform/posix/internal.h"
#include "platform/shared/output.h"

namespace {

const size_t kWsprintfMax = 1024;  // characters, terminator included

// Waits for a line on the controlling terminal when standard input is one.
// Returns at once when there is no terminal. Can't fail.
void WaitForEnter() {
  if (!isatty(STDIN_FILENO)) return;
  const int tty = open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
  if (tty < 0) return;
  static const char kPrompt[] = "Press Enter to continue.\n";
  if (write(tty, kPrompt, sizeof(kPrompt) - 1) < 0) {
    close(tty);
    return;
  }
  char c = 0;
  while (read(tty, &c, 1) == 1 && c != '\n') {
  }
  close(tty);
}

}  // namespace

// Writes at most 1023 characters and a terminator, cutting longer text, as
// Windows does. Returns the characters written without the terminator; on
// error (a bad format), 0 is returned and buf holds an empty string.
int wsprintfW(LPWSTR buf, LPCWSTR fmt, ...) {
  std::vector<wchar_t> wide;
  va_list ap;
  va_start(ap, fmt);
  const int n = FormatWide(&wide, fmt, ap);
  va_end(ap);
  const size_t len = n < 0 ? 0 : std::min((size_t)n, kWsprintfMax - 1);
  wmemcpy(buf, wide.data(), len);
  buf[len] = 0;
  return (int)len;
}

// Only MB_OK. Returns IDOK; on error (another type), 0 is returned with the
// last error 87.
int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
  (void)owner;
  (void)caption;  // a line on standard error has no title
  if (type != MB_OK || text == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const std::string bytes = PathBytes(text) + "\n";
  fwrite(bytes.data(), 1, bytes.size(), stderr);
  fflush(stderr);
  WaitForEnter();
  return IDOK;
}
