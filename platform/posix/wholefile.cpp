// Whole files for twinsift-view: a report read at once, a page written at
// once, standard input and output for "-".
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cwchar>
#include <string>

#include "platform/platform.h"
#include "platform/posix/internal.h"

namespace {

bool IsStandardStream(const wchar_t *path) { return wcscmp(path, L"-") == 0; }

// Reads fd to its end onto *bytes. Returns 0 or the Windows code.
DWORD ReadAll(int fd, std::string *bytes) {
  char chunk[64 * 1024];
  for (;;) {
    const ssize_t n = read(fd, chunk, sizeof(chunk));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      SetLastErrorFromErrno(errno);
      return GetLastError();
    }
    if (n == 0) return 0;
    bytes->append(chunk, (size_t)n);
  }
}

// Writes all of bytes to fd. Returns 0 or the Windows code.
DWORD WriteAll(int fd, const std::string &bytes) {
  return WriteAllTo(fd, bytes.data(), bytes.size());
}

}  // namespace

std::wstring DecodeOutputText(const char *bytes, size_t len) {
  std::wstring text;
  text.reserve(len);
  AppendWide(bytes, len, &text);
  return text;
}

DWORD ReadWholeFile(const wchar_t *path, std::string *bytes) {
  bytes->clear();
  if (IsStandardStream(path)) return ReadAll(STDIN_FILENO, bytes);
  const std::string name = PathBytes(path);
  const int fd = open(name.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    SetLastErrorForPath(errno, name);
    return GetLastError();
  }
  const DWORD code = ReadAll(fd, bytes);
  close(fd);
  return code;
}

DWORD WriteWholeFile(const wchar_t *path, const std::string &bytes) {
  if (IsStandardStream(path)) return WriteAll(STDOUT_FILENO, bytes);
  const std::string name = PathBytes(path);
  const int fd =
      open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    SetLastErrorForPath(errno, name);
    return GetLastError();
  }
  DWORD code = WriteAll(fd, bytes);
  if (close(fd) != 0 && code == 0) {
    SetLastErrorFromErrno(errno);
    code = GetLastError();
  }
  return code;
}
