// Every path reached as itself: each wrapped call hands the system the
// "\\?\" form of the path's full form, whatever its length. The system then
// takes every name as it is: a reserved device name (CON, AUX, NUL, COM1,
// LPT1, with any extension and in any case) or a name ending in a dot or a
// space is an ordinary file, and no path is too long.
//
// The full form is built here, not by GetFullPathNameW, which would turn
// "dir\aux.txt" into "\\.\aux" and trim "x." to "x".
#include <cwchar>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace {

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

bool HasDrive(const wchar_t *p) { return p[0] != L'\0' && p[1] == L':'; }

// The n characters at c up to the next separator or the end.
size_t ComponentLength(const wchar_t *c) { return wcscspn(c, L"\\/"); }

// The root of a full path ("X:" or "\\server\share"), and where the part
// below it starts. Can't fail.
std::wstring RootOf(const std::wstring &full, size_t *rest) {
  if (!IsUnc(full.c_str())) {
    *rest = full.size() < 2 ? full.size() : 2;
    return full.substr(0, *rest);
  }
  size_t at = 2;
  for (int part = 0; part < 2 && at < full.size(); part++) {
    at += ComponentLength(full.c_str() + at);
    if (part == 0 && at < full.size()) at++;
  }
  *rest = at;
  std::wstring root = L"\\\\" + full.substr(2, at - 2);
  for (wchar_t &c : root) {
    if (c == L'/') c = L'\\';
  }
  return root;
}

// A directory the system gave, without a "\\?\" prefix of its own.
std::wstring PlainDirectory(std::wstring dir) {
  if (dir.rfind(L"\\\\?\\UNC\\", 0) == 0) return L"\\\\" + dir.substr(8);
  if (dir.rfind(L"\\\\?\\", 0) == 0) return dir.substr(4);
  return dir;
}

// The current directory, or that of drive X for "X:". On error, empty.
std::wstring CurrentDirectoryOf(const wchar_t *drive) {
  std::vector<wchar_t> buf(MAX_PATH);
  for (int tries = 0; tries < 3; tries++) {
    const DWORD n =
        drive == nullptr
            ? GetCurrentDirectoryW((DWORD)buf.size(), buf.data())
            : GetFullPathNameW(drive, (DWORD)buf.size(), buf.data(), nullptr);
    if (n == 0) return std::wstring();
    if (n < buf.size()) return PlainDirectory(std::wstring(buf.data(), n));
    buf.resize(n + 1);
  }
  return std::wstring();
}

// The base a path is taken against and the part of the path below it:
// a full path is its own base; "X:rel" takes drive X's current directory,
// "\rel" the current directory's root, "rel" the current directory. On
// error, false is returned.
bool BaseOf(const wchar_t *path, std::wstring *base, const wchar_t **below) {
  *below = path;
  if (IsUnc(path) || (HasDrive(path) && IsSep(path[2]))) return true;
  if (HasDrive(path)) {
    const wchar_t drive[] = {path[0], L':', L'\0'};
    *base = CurrentDirectoryOf(drive);
    *below = path + 2;
  } else {
    *base = CurrentDirectoryOf(nullptr);
    if (IsSep(path[0])) {
      size_t rest = 0;
      *base = RootOf(*base, &rest);
    }
  }
  return !base->empty();
}

// Appends the components of text to parts, dropping empty ones and "."
// and taking ".." back one (never past the root). Can't fail.
void Fold(const wchar_t *text, std::vector<std::wstring> *parts) {
  for (const wchar_t *c = text; *c != L'\0';) {
    const size_t n = ComponentLength(c);
    const std::wstring name(c, n);
    if (name == L"..") {
      if (!parts->empty()) parts->pop_back();
    } else if (!name.empty() && name != L".") {
      parts->push_back(name);
    }
    c += n;
    if (*c != L'\0') c++;
  }
}

}  // namespace

std::wstring FullForm(const wchar_t *path) {
  std::wstring base;
  const wchar_t *below = path;
  if (path[0] == L'\0' || IsDeviceForm(path) || !BaseOf(path, &base, &below)) {
    return std::wstring();
  }
  const std::wstring whole = base.empty() ? std::wstring(path) : base;
  size_t rest = 0;
  std::wstring full = RootOf(whole, &rest);
  std::vector<std::wstring> parts;
  Fold(whole.c_str() + rest, &parts);
  if (!base.empty()) Fold(below, &parts);
  for (const std::wstring &part : parts) full += L"\\" + part;
  const size_t len = wcslen(path);
  if (parts.empty() || IsSep(path[len - 1])) full += L"\\";
  return full;
}

std::wstring LongPathForm(const wchar_t *path) {
  if (IsDeviceForm(path)) return path;
  const std::wstring full = FullForm(path);
  if (full.empty()) return path;
  if (IsUnc(full.c_str())) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

namespace {

// The path a wrapped call hands on: nullptr stays nullptr. Exhaustion ends
// the process.
const wchar_t *CallForm(const wchar_t *path, std::wstring *holder) {
  if (path == nullptr) return nullptr;
  *holder = LongPathForm(path);
  return holder->c_str();
}

// A handle opened to read must be a file on a disk: a device, a pipe or a
// Linux FIFO (under Wine) could keep a read waiting for ever, so it is
// closed and the open fails. Can't fail otherwise.
HANDLE DiskFileOnly(HANDLE h, DWORD access) {
  if (h == INVALID_HANDLE_VALUE) return h;
  if ((access & (GENERIC_READ | FILE_READ_DATA)) == 0) return h;
  if (GetFileType(h) == FILE_TYPE_DISK) return h;
  CloseHandle(h);
  SetLastError(ERROR_NOT_SUPPORTED);
  return INVALID_HANDLE_VALUE;
}

}  // namespace

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
  HANDLE h =
      DiskFileOnly(CreateFileW(CallForm(path, &form), access, share, security,
                               disposition, flags, templateFile),
                   access);
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

DWORD WINAPI TsGetFullPathNameW(LPCWSTR path, DWORD capacity, LPWSTR buffer,
                                LPWSTR *filePart) {
  const std::wstring full = path == nullptr ? std::wstring() : FullForm(path);
  if (full.empty()) return GetFullPathNameW(path, capacity, buffer, filePart);
  if (full.size() >= capacity) return (DWORD)full.size() + 1;
  wmemcpy(buffer, full.c_str(), full.size() + 1);
  if (filePart != nullptr) {
    const size_t sep = full.find_last_of(L'\\');
    *filePart = sep + 1 < full.size() ? buffer + sep + 1 : nullptr;
  }
  return (DWORD)full.size();
}
