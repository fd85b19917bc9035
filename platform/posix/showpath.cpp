// How the report shows a path on Linux: names may hold any byte but '/' and
// NUL, so characters that could end a line, fake one, or end the quoted
// path are escaped as \xHH per UTF-8 byte.
#include <cwchar>
#include <string>

#include "platform/platform.h"

namespace {

bool NeedsEscape(wchar_t c) {
  return c < 0x20 || c == 0x7F || c == L'"' || c == L'\\' ||
         (c >= 0x80 && c <= 0x9F) || c == 0x2028 || c == 0x2029;
}

void AppendEscaped(std::wstring *out, wchar_t c) {
  static const wchar_t kHex[] = L"0123456789ABCDEF";
  for (unsigned char b : BytesFromWide(std::wstring(1, c))) {
    out->append(L"\\x");
    out->push_back(kHex[b >> 4]);
    out->push_back(kHex[b & 15]);
  }
}

}  // namespace

std::wstring ShowPath(const wchar_t *path, int) {
  std::wstring out;
  for (const wchar_t *p = path; *p != L'\0'; p++) {
    if (NeedsEscape(*p))
      AppendEscaped(&out, *p);
    else
      out.push_back(*p);
  }
  return out;
}
