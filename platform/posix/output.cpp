// Standard output as UTF-8 bytes, encoded by this layer (never through the
// C library's locale), written with write(2).
#include "platform/shared/output.h"

#include <unistd.h>

#include <cerrno>

#include "platform/platform.h"
#include "platform/posix/internal.h"

void EncodeStdout(const wchar_t *text, size_t len, std::string *out) {
  AppendUtf8(text, len, out);
}

void EncodeStdoutNarrow(const char *text, size_t len, std::string *out) {
  out->append(text, len);
}

// A reader that went away is EPIPE here: the entry point ignores SIGPIPE.
DWORD WriteStdout(const char *bytes, size_t len) {
  return WriteAllTo(STDOUT_FILENO, bytes, len);
}

DWORD WriteAllTo(int fd, const char *bytes, size_t len) {
  size_t done = 0;
  while (done < len) {
    const ssize_t n = write(fd, bytes + done, len - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      SetLastErrorFromErrno(n < 0 ? errno : EIO);
      return GetLastError();
    }
    done += (size_t)n;
  }
  return 0;
}

int IsSwitchPrefix(wchar_t c) { return c == L'-'; }
