// Standard output on Windows: text is encoded into the console's code page
// here, each line end as CR LF (what the C runtime's text mode would write),
// and written with WriteFile to the handle of the runtime's standard output.
//
// The C runtime's wide output is not used: it stops at the first character
// the code page lacks and loses the rest of the line. Here such a character
// becomes '|', which no file name and no wildcard can hold, so a "del" line
// can never name another file than the one found; best-fit mappings (an
// accented letter printed as a plain one) are refused for the same reason.
#include "platform/shared/output.h"

#include <io.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>

#include "platform/platform.h"
#include "platform/win32/win32.h"

namespace {

const char kUnrepresentable[] = "|";

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

// Asked once per run: asking the console is a round trip to it on every
// line.
UINT OutputCodePage() {
  static const UINT page = [] {
    const UINT cp = GetConsoleOutputCP();
    return cp != 0 ? cp : GetOEMCP();
  }();
  return page;
}

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

void EncodeStdout(const wchar_t *text, size_t len, std::string *out) {
  const std::string bytes = OutputEncode(text, len);
  EncodeStdoutNarrow(bytes.data(), bytes.size(), out);
}

void EncodeStdoutNarrow(const char *text, size_t len, std::string *out) {
  for (size_t i = 0; i < len; i++) {
    if (text[i] == '\n') out->push_back('\r');
    out->push_back(text[i]);
  }
}

// The handle behind the runtime's descriptor 1 (the one a test's capture
// redirects). A pipe whose reader went away fails with 109 or 232.
DWORD WriteStdout(const char *bytes, size_t len) {
  const HANDLE out = reinterpret_cast<HANDLE>(_get_osfhandle(1));
  size_t done = 0;
  while (done < len) {
    const DWORD chunk = (DWORD)std::min<size_t>(len - done, 1u << 30);
    DWORD written = 0;
    if (out == INVALID_HANDLE_VALUE || out == nullptr ||
        (uintptr_t)out == (uintptr_t)-2) {
      return ERROR_INVALID_HANDLE;
    }
    if (!WriteFile(out, bytes + done, chunk, &written, nullptr))
      return GetLastError();
    if (written == 0) return ERROR_WRITE_FAULT;
    done += written;
  }
  return 0;
}

int IsSwitchPrefix(wchar_t c) { return c == L'-' || c == L'/'; }
