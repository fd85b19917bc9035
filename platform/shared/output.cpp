// Standard output of both builds: wide text is formatted here, turned into
// bytes by the platform's EncodeStdout, gathered in one buffer and written
// by the platform's WriteStdout. The first write that fails is kept: from
// then on nothing more is written, and PrintFlush and PrintWriteError
// answer with its code, so that the run can stop before it erases a file
// whose line was lost.
#include "platform/shared/output.h"

#include <cstring>
#include <cwchar>

namespace {

const size_t kFirstFormatSize = 1024;
const size_t kMaxFormatSize = size_t(1) << 22;  // no line is this long
const size_t kBufferSize = 64 * 1024;

// Only the main thread prints.
char buffer[kBufferSize];
size_t buffered = 0;
DWORD writeError = 0;

// A terminal shows each line as it is printed; a file or a pipe takes the
// buffer whole. Asked once.
bool ToTerminal() {
  static const bool terminal = StdoutIsTerminal() != 0;
  return terminal;
}

void WriteBuffered() {
  if (buffered != 0 && writeError == 0)
    writeError = WriteStdout(buffer, buffered);
  buffered = 0;
}

// Adds bytes to the buffer, writing it out when full. Can't fail: a failed
// write is kept in writeError.
void Emit(const std::string &bytes) {
  if (writeError != 0) return;
  if (buffered + bytes.size() > kBufferSize) WriteBuffered();
  if (bytes.size() >= kBufferSize) {
    if (writeError == 0) writeError = WriteStdout(bytes.data(), bytes.size());
    return;
  }
  memcpy(buffer + buffered, bytes.data(), bytes.size());
  buffered += bytes.size();
  if (ToTerminal()) WriteBuffered();
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
  Emit(bytes);
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
  std::string bytes;
  EncodeStdoutNarrow(text, strlen(text), &bytes);
  Emit(bytes);
}

DWORD PrintFlush(void) {
  WriteBuffered();
  return writeError;
}

DWORD PrintWriteError(void) { return writeError; }
