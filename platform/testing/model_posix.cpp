// The report rules of the Linux build, for models of whole runs: UTF-8
// output, and every character that could break or fake a line written as
// \xHH per UTF-8 byte.
#include <cstdint>
#include <string>

#include "platform/testing/testing.h"

const bool kNamesFoldCase = false;
const bool kLinksAndFifos = true;
const bool kHiddenByName = true;
const bool kCanHoldFiles = false;

namespace {

void AppendUtf8(uint32_t c, std::string *out) {
  if (c < 0x80) {
    out->push_back((char)c);
  } else if (c < 0x800) {
    out->push_back((char)(0xC0 | (c >> 6)));
    out->push_back((char)(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back((char)(0xE0 | (c >> 12)));
    out->push_back((char)(0x80 | ((c >> 6) & 0x3F)));
    out->push_back((char)(0x80 | (c & 0x3F)));
  } else {
    out->push_back((char)(0xF0 | (c >> 18)));
    out->push_back((char)(0x80 | ((c >> 12) & 0x3F)));
    out->push_back((char)(0x80 | ((c >> 6) & 0x3F)));
    out->push_back((char)(0x80 | (c & 0x3F)));
  }
}

bool Escaped(uint32_t c) {
  return c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F) || c == '"' ||
         c == '\\' || c == 0x2028 || c == 0x2029;
}

}  // namespace

std::wstring ModelShownPath(const std::wstring &path, bool) {
  static const char kHex[] = "0123456789ABCDEF";
  std::wstring out;
  for (wchar_t w : path) {
    const uint32_t c = (uint32_t)w;
    if (!Escaped(c)) {
      out.push_back(w);
      continue;
    }
    std::string bytes;
    AppendUtf8(c, &bytes);
    for (unsigned char b : bytes) {
      out += L"\\x";
      out.push_back((wchar_t)kHex[b >> 4]);
      out.push_back((wchar_t)kHex[b & 15]);
    }
  }
  return out;
}

std::string ModelLineBytes(const std::wstring &line) {
  std::string out;
  for (wchar_t w : line) AppendUtf8((uint32_t)w, &out);
  return out + "\n";
}
