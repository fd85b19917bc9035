// GetFullPathNameW: the absolute form of a path, folded textually.
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "platform/posix/internal.h"

namespace {

bool IsSeparator(wchar_t c) { return c == L'/' || c == L'\\'; }

// path made absolute: as is when it starts with a separator, else after
// the current directory. On error, false is returned with the last error
// set from getcwd().
bool AbsoluteText(const wchar_t *path, std::wstring *out) {
  if (IsSeparator(path[0])) {
    *out = path;
    return true;
  }
  char *cwd = getcwd(nullptr, 0);
  if (cwd == nullptr) {
    SetLastErrorFromErrno(errno);
    return false;
  }
  *out = WideFromBytes(cwd) + L"/" + path;
  free(cwd);
  return true;
}

// The components of text (either separator), with empty and "." ones
// dropped and each ".." taking away the one before it (none at the root).
// Can't fail.
std::vector<std::wstring> FoldComponents(const std::wstring &text) {
  std::vector<std::wstring> parts;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = start;
    while (end < text.size() && !IsSeparator(text[end])) end++;
    const std::wstring part = text.substr(start, end - start);
    if (part == L"..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != L".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  return parts;
}

}  // namespace

// Returns the length of the full path written to buf (terminator not
// counted), or when buf is too small the size it needs, terminator counted,
// leaving buf alone. *filePart (when given) points at the last component,
// or is null when the result ends in a separator. On error, 0 is returned
// with the last error 87 (no path), 123 (empty path) or from getcwd().
DWORD GetFullPathNameW(LPCWSTR path, DWORD size, LPWSTR buf, LPWSTR *filePart) {
  if (path == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (*path == 0) {
    SetLastError(ERROR_INVALID_NAME);
    return 0;
  }
  std::wstring text;
  if (!AbsoluteText(path, &text)) return 0;
  std::wstring full;
  for (const std::wstring &part : FoldComponents(text)) full += L"/" + part;
  if (full.empty() || IsSeparator(text.back())) full += L"/";
  if (buf == nullptr || full.size() + 1 > size) return (DWORD)full.size() + 1;
  wmemcpy(buf, full.c_str(), full.size() + 1);
  if (filePart != nullptr) {
    const size_t slash = full.find_last_of(L'/');
    *filePart = slash + 1 == full.size() ? nullptr : buf + slash + 1;
  }
  return (DWORD)full.size();
}
