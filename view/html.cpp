// Text for the page: UTF-8, HTML escapes, file URLs, the page's name.
#include <cstdint>
#include <string>

#include "view/view.h"

namespace {

const char kHex[] = "0123456789ABCDEF";

void AppendCodePoint(uint32_t cp, std::string *out) {
  if (cp < 0x80) {
    out->push_back((char)cp);
  } else if (cp < 0x800) {
    out->push_back((char)(0xC0 | (cp >> 6)));
    out->push_back((char)(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out->push_back((char)(0xE0 | (cp >> 12)));
    out->push_back((char)(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back((char)(0x80 | (cp & 0x3F)));
  } else {
    out->push_back((char)(0xF0 | (cp >> 18)));
    out->push_back((char)(0x80 | ((cp >> 12) & 0x3F)));
    out->push_back((char)(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back((char)(0x80 | (cp & 0x3F)));
  }
}

// The code point at text[*i], a surrogate pair joined (16-bit wchar_t),
// *i moved past it. A lone surrogate is returned as it is.
uint32_t NextCodePoint(const std::wstring &text, size_t *i) {
  uint32_t cp = (uint32_t)text[(*i)++];
  if (cp >= 0xD800 && cp <= 0xDBFF && *i < text.size()) {
    const uint32_t lo = (uint32_t)text[*i];
    if (lo >= 0xDC00 && lo <= 0xDFFF) {
      (*i)++;
      cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
    }
  }
  return cp;
}

bool IsUnreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
         (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' ||
         c == '~' || c == '/';
}

void AppendPercentEncoded(const std::string &bytes, std::string *url) {
  for (unsigned char c : bytes) {
    if (IsUnreserved(c)) {
      url->push_back((char)c);
    } else {
      url->push_back('%');
      url->push_back(kHex[c >> 4]);
      url->push_back(kHex[c & 15]);
    }
  }
}

bool StartsWith(const std::wstring &s, const wchar_t *prefix) {
  return s.rfind(prefix, 0) == 0;
}

// A Windows path as the URL's path: "\\?\" forms back to the plain ones,
// '\\' as '/'. Returns the path after "file:" ("///C:/x" or "//server/x").
std::string WindowsUrlPath(std::wstring path) {
  if (StartsWith(path, L"\\\\?\\UNC\\"))
    path = L"\\\\" + path.substr(8);
  else if (StartsWith(path, L"\\\\?\\"))
    path = path.substr(4);
  for (wchar_t &c : path) {
    if (c == L'\\') c = L'/';
  }
  std::string url = StartsWith(path, L"//") ? "" : "///";
  const bool drive = path.size() >= 2 && path[1] == L':';
  if (drive) {
    url += (char)path[0];
    url += ':';
    path = path.substr(2);
  }
  AppendPercentEncoded(Utf8(path, 0), &url);
  return url;
}

}  // namespace

std::string Utf8(const std::wstring &text, int raw) {
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    uint32_t cp = NextCodePoint(text, &i);
    if (raw && cp >= 0xDC80 && cp <= 0xDCFF) {
      out.push_back((char)(cp - 0xDC00));
      continue;
    }
    if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = 0xFFFD;
    AppendCodePoint(cp, &out);
  }
  return out;
}

std::string HtmlEscape(const std::wstring &text) {
  const std::string bytes = Utf8(text, 0);
  std::string out;
  out.reserve(bytes.size() + 16);
  for (char c : bytes) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out.push_back(c);
    }
  }
  return out;
}

std::string FileUrl(const std::wstring &path, ReportStyle style) {
  if (style == kStyleWindows) return "file:" + WindowsUrlPath(path);
  std::string url = "file://";
  AppendPercentEncoded(Utf8(path, 1), &url);
  return url;
}

std::wstring PageNameFor(const std::wstring &report) {
  const size_t sep = report.find_last_of(L"\\/");
  const size_t dot = report.find_last_of(L'.');
  const size_t name = sep == std::wstring::npos ? 0 : sep + 1;
  // A name that begins with its only dot (".report") has no extension.
  const bool hasExt = dot != std::wstring::npos && dot > name;
  return (hasExt ? report.substr(0, dot) : report) + L".html";
}
