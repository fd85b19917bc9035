// Standard output of both builds: wide text is formatted here, turned into
// bytes by the platform's EncodeStdout and written to the byte stream that
// the narrow help screen shares.
#include "platform/shared/output.h"

#include <cstdio>
#include <cwchar>

#include "platform/platform.h"

namespace {

const size_t kFirstFormatSize = 1024;
const size_t kMaxFormatSize = size_t(1) << 22;  // no line is this long
const size_t kPipeBufferSize = 64 * 1024;

// Full buffering with a large buffer when stdout is a file or a pipe (a
// terminal keeps its line buffering). Done once, before the first output.
// The buffer is static: allocating it at the final flush of a large run
// would make the allocator sweep every block the run has just freed.
// Can't fail.
void SetUpStdout() {
  static char buffer[kPipeBufferSize];
  static const bool ready = [] {
    if (!StdoutIsTerminal()) setvbuf(stdout, buffer, _IOFBF, sizeof(buffer));
    return true;
  }();
  (void)ready;
}

}  // namespace

int FormatWide(std::vector<wchar_t> *buf, const wchar_t *fmt, va_list ap) {
  if (buf->size() < kFirstFormatSize) buf->resize(kFirstFormatSize);
  for (;;) {
    va_list copy;
    va_copy(copy, ap);
    const int n = vswprintf(buf->data(), buf->size(), fmt, copy);
    va_end(copy);
    if (n >= 0 && (size_t)n < buf->size()) return n;
    // -1 means "does not fit" or a bad format; only growing tells apart.
    if (buf->size() >= kMaxFormatSize) return -1;
    buf->resize(n > 0 ? (size_t)n + 1 : buf->size() * 2);
  }
}

int PrintWv(const wchar_t *fmt, va_list ap) {
  thread_local std::vector<wchar_t> wide;
  thread_local std::string bytes;
  const int n = FormatWide(&wide, fmt, ap);
  if (n < 0) return -1;
  bytes.clear();
  EncodeStdout(wide.data(), (size_t)n, &bytes);
  SetUpStdout();
  fwrite(bytes.data(), 1, bytes.size(), stdout);
  return n;
}

int PrintW(const wchar_t *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  const int n = PrintWv(fmt, ap);
  va_end(ap);
  return n;
}

void PrintA(const char *text) {
  SetUpStdout();
  fputs(text, stdout);
}

void PrintFlush(void) {
  SetUpStdout();
  fflush(stdout);
}
