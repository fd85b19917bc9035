// Standard output on Windows: wide text formatted here, encoded into the
// console's code page by this layer and written as bytes to the text-mode
// stream (which turns each line end into CR LF).
//
// The C runtime's wide output is not used: it stops at the first character
// the code page lacks and loses the rest of the line. Here such a character
// becomes '|', which no file name and no wildcard can hold, so a "del" line
// can never name another file than the one found; best-fit mappings (an
// accented letter printed as a plain one) are refused for the same reason.
#include <io.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace {

const size_t kFirstFormatSize = 1024;
const size_t kMaxFormatSize = size_t(1) << 22;  // no line is this long
const size_t kPipeBufferSize = 64 * 1024;
const char kUnrepresentable[] = "|";

// Full buffering with a large buffer when stdout is a file or a pipe. Done
// once, before the first output. Can't fail.
void SetUpStdout() {
  static const bool ready = [] {
    if (!_isatty(_fileno(stdout))) {
      setvbuf(stdout, nullptr, _IOFBF, kPipeBufferSize);
    }
    return true;
  }();
  (void)ready;
}

// Formats into *buf, growing it as needed. Accepts both answers a too small
// buffer can get (-1, or the length needed). Returns the length; on error,
// -1 is returned.
int FormatWide(std::vector<wchar_t> *buf, const wchar_t *fmt, va_list ap) {
  if (buf->size() < kFirstFormatSize) buf->resize(kFirstFormatSize);
  for (;;) {
    va_list copy;
    va_copy(copy, ap);
    const int n = vswprintf(buf->data(), buf->size(), fmt, copy);
    va_end(copy);
    if (n >= 0 && (size_t)n < buf->size()) return n;
    if (buf->size() >= kMaxFormatSize) return -1;
    buf->resize(n > 0 ? (size_t)n + 1 : buf->size() * 2);
  }
}

// The code page of the console's output, or the OEM code page when the
// process has no console (output to a file or a pipe). Can't fail.
UINT OutputCodePage() {
  const UINT cp = GetConsoleOutputCP();
  return cp != 0 ? cp : GetOEMCP();
}

// The length of the character at text[i]: 2 for a surrogate pair, 1 for
// anything else, 0 for a lone surrogate. Can't fail.
int CharUnits(const wchar_t *text, size_t len, size_t i) {
  const wchar_t c = text[i];
  if (c >= 0xD800 && c <= 0xDBFF && i + 1 < len && text[i + 1] >= 0xDC00 &&
      text[i + 1] <= 0xDFFF) {
    return 2;
  }
  return (c >= 0xD800 && c <= 0xDFFF) ? 0 : 1;
}

// One character converted alone, kept only when it converts back to itself.
// Returns false when the code page cannot represent it. Can't fail.
bool EncodeOneChar(UINT cp, const wchar_t *c, int units, std::string *out) {
  char bytes[16];
  wchar_t back[4];
  const int n = WideCharToMultiByte(cp, 0, c, units, bytes, sizeof(bytes),
                                    nullptr, nullptr);
  if (n <= 0) return false;
  const int m = MultiByteToWideChar(cp, 0, bytes, n, back, 4);
  if (m != units || wmemcmp(back, c, (size_t)units) != 0) return false;
  out->append(bytes, (size_t)n);
  return true;
}

// Character by character, for code pages that refuse WC_NO_BEST_FIT_CHARS.
// Can't fail.
void EncodeByChar(UINT cp, const wchar_t *text, size_t len, std::string *out) {
  size_t i = 0;
  while (i < len) {
    const int units = CharUnits(text, len, i);
    if (units == 0 || !EncodeOneChar(cp, text + i, units, out)) {
      out->append(kUnrepresentable);
    }
    i += units == 0 ? 1 : (size_t)units;
  }
}

// The whole text at once, best fit off, '|' for what the code page lacks.
// On error (a code page that refuses these flags), false is returned.
bool EncodeWhole(UINT cp, const wchar_t *text, size_t len, std::string *out) {
  const int n = WideCharToMultiByte(cp, WC_NO_BEST_FIT_CHARS, text, (int)len,
                                    nullptr, 0, kUnrepresentable, nullptr);
  if (n <= 0) return false;
  const size_t start = out->size();
  out->resize(start + (size_t)n);
  return WideCharToMultiByte(cp, WC_NO_BEST_FIT_CHARS, text, (int)len,
                             &(*out)[start], n, kUnrepresentable, nullptr) == n;
}

// UTF-8 represents every character; only a lone surrogate has no form (and
// UTF-8 takes no default character), so it becomes '|' first. Can't fail.
void EncodeUtf8(const wchar_t *text, size_t len, std::string *out) {
  std::wstring clean(text, len);
  for (size_t i = 0; i < len; i++) {
    const int units = CharUnits(text, len, i);
    if (units == 0) clean[i] = L'|';
    if (units == 2) i++;
  }
  const int n = WideCharToMultiByte(CP_UTF8, 0, clean.data(), (int)len, nullptr,
                                    0, nullptr, nullptr);
  if (n <= 0) return;
  out->resize((size_t)n);
  WideCharToMultiByte(CP_UTF8, 0, clean.data(), (int)len, &(*out)[0], n,
                      nullptr, nullptr);
}

}  // namespace

std::string OutputEncode(const wchar_t *text, size_t len) {
  std::string out;
  if (len == 0) return out;
  const UINT cp = OutputCodePage();
  if (cp == CP_UTF8) {
    EncodeUtf8(text, len, &out);
  } else if (!EncodeWhole(cp, text, len, &out)) {
    out.clear();
    EncodeByChar(cp, text, len, &out);
  }
  return out;
}

int PrintWv(const wchar_t *fmt, va_list ap) {
  thread_local std::vector<wchar_t> wide;
  const int n = FormatWide(&wide, fmt, ap);
  if (n < 0) return -1;
  const std::string bytes = OutputEncode(wide.data(), (size_t)n);
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

int IsSwitchPrefix(wchar_t c) { return c == L'-' || c == L'/'; }
