// The terminal tests and the unbuffered standard error of the status line.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cwchar>
#include <string>

#include "platform/platform.h"
#include "platform/posix/internal.h"

int StderrIsTerminal(void) { return isatty(STDERR_FILENO) ? 1 : 0; }

int StdoutIsTerminal(void) { return isatty(STDOUT_FILENO) ? 1 : 0; }

int StdStreamIdentity(int stream, DWORD *volume, DWORD *indexHigh,
                      DWORD *indexLow) {
  struct stat st;
  const int fd = stream == 2 ? STDERR_FILENO : STDOUT_FILENO;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return 0;
  IdentityFromStat(st, volume, indexHigh, indexLow);
  return 1;
}

// The text goes out as UTF-8, whole or up to a failed write. Can't fail.
void PrintErrW(const wchar_t *text) {
  std::string bytes;
  AppendUtf8(text, wcslen(text), &bytes);
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n =
        write(STDERR_FILENO, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += (size_t)n;
  }
}
