// Paths longer than the plain Win32 calls take: each wrapped call hands the
// system the "\\?\" form of a long path, and the path itself otherwise.
#include <cwchar>
#include <string>

#include "platform/platform.h"

namespace {

// CreateDirectoryW keeps room for an 8.3 name: the strictest plain limit.
const size_t kPlainLimit = MAX_PATH - 12;

bool IsSep(wchar_t c) { return c == L'\\' || c == L'/'; }

// "\\?\", "\\.\" or "\??\": a form the system takes as it stands.
bool IsDeviceForm(const wchar_t *p) {
  if (!IsSep(p[0]) || p[1] == L'\0' || p[2] == L'\0' || !IsSep(p[3])) {
    return false;
  }
  if (p[1] == L'?' && p[2] == L'?') return true;
  return IsSep(p[1]) && (p[2] == L'?' || p[2] == L'.');
}

bool IsUnc(const wchar_t *p) { return IsSep(p[0]) && IsSep(p[1]); }

// "X:\..." or "\\server\share...". Can't fail.
bool IsFullyQualified(const wchar_t *p) {
  if (IsUnc(p)) return true;
  return p[0] != L'\0' && p[1] == L':' && IsSep(p[2]);
}

// "." or ".." as the n characters at c. Can't fail.
bool IsDotName(const wchar_t *c, size_t n) {
  return (n == 1 && c[0] == L'.') || (n == 2 && c[0] == L'.' && c[1] == L'.');
}

// Fully qualified, no component after the root "." or "..", and no empty
// one but a trailing separator's: the system would take the text as it is.
// Can't fail.
bool IsPlainAbsolute(const wchar_t *p) {
  if (!IsFullyQualified(p)) return false;
  const wchar_t *c = IsUnc(p) ? p + 2 : p + 3;
  for (;;) {
    const size_t n = wcscspn(c, L"\\/");
    if (IsDotName(c, n)) return false;
    if (c[n] == L'\0') return true;
    if (n == 0) return false;
    c += n + 1;
  }
}

// The absolute form by GetFullPathNameW, of any length. On error, an empty
// string is returned.
std::wstring ResolvedPath(const wchar_t *path) {
  const DWORD need = GetFullPathNameW(path, 0, nullptr, nullptr);
  if (need == 0) return std::wstring();
  std::wstring full(need, L'\0');
  const DWORD got = GetFullPathNameW(path, need, &full[0], nullptr);
  if (got == 0 || got >= need) return std::wstring();
  full.resize(got);
  return full;
}

// The absolute path with '\' separators. On error, empty. Can't fail
// otherwise.
std::wstring AbsolutePath(const wchar_t *path) {
  if (!IsPlainAbsolute(path)) return ResolvedPath(path);
  std::wstring full = path;
  for (wchar_t &c : full) {
    if (c == L'/') c = L'\\';
  }
  return full;
}

// The path a wrapped call hands on: nullptr stays nullptr. Exhaustion ends
// the process.
const wchar_t *CallForm(const wchar_t *path, std::wstring *holder) {
  if (path == nullptr) return nullptr;
  *holder = LongPathForm(path);
  return holder->c_str();
}

}  // namespace

std::wstring LongPathForm(const wchar_t *path) {
  if (IsDeviceForm(path)) return path;
  if (wcslen(path) < kPlainLimit && IsFullyQualified(path)) return path;
  const std::wstring full = AbsolutePath(path);
  if (full.size() < kPlainLimit || IsDeviceForm(full.c_str())) return path;
  if (IsUnc(full.c_str())) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

HANDLE WINAPI TsFindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW data) {
  std::wstring form;
  return FindFirstFileW(CallForm(pattern, &form), data);
}

HANDLE WINAPI TsFindFirstFileExW(LPCWSTR pattern, FINDEX_INFO_LEVELS level,
                                 LPVOID data, FINDEX_SEARCH_OPS search,
                                 LPVOID filter, DWORD flags) {
  std::wstring form;
  return FindFirstFileExW(CallForm(pattern, &form), level, data, search, filter,
                          flags);
}

HANDLE WINAPI TsCreateFileW(LPCWSTR path, DWORD access, DWORD share,
                            LPSECURITY_ATTRIBUTES security, DWORD disposition,
                            DWORD flags, HANDLE templateFile) {
  std::wstring form;
  HANDLE h = CreateFileW(CallForm(path, &form), access, share, security,
                         disposition, flags, templateFile);
  NoteOpenedHandle(h, path, flags);
  return h;
}

BOOL WINAPI TsDeleteFileW(LPCWSTR path) {
  std::wstring form;
  return DeleteFileW(CallForm(path, &form));
}

BOOL WINAPI TsRemoveDirectoryW(LPCWSTR path) {
  std::wstring form;
  return RemoveDirectoryW(CallForm(path, &form));
}

BOOL WINAPI TsCreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES security) {
  std::wstring form;
  return CreateDirectoryW(CallForm(path, &form), security);
}

DWORD WINAPI TsGetFileAttributesW(LPCWSTR path) {
  std::wstring form;
  return GetFileAttributesW(CallForm(path, &form));
}

BOOL WINAPI TsSetFileAttributesW(LPCWSTR path, DWORD attributes) {
  std::wstring form;
  return SetFileAttributesW(CallForm(path, &form), attributes);
}
