// Directory enumeration and the look-up of one path (FindFirstFileW family).
//
// A listing reads the names of the directory at once and keeps those that
// match the pattern, in the order NTFS lists them ("." and ".." first, then
// by name with ASCII letters compared as upper case), so reports come out
// the same whatever the file system. Each kept name is stat'ed when it is
// handed out, without following a symbolic link; FIFOs, sockets and device
// nodes are left out then.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cwchar>
#include <new>
#include <string>
#include <vector>

#include "platform/posix/internal.h"

struct FindName {
  std::string bytes;
  std::wstring wide;
};

struct FindState {
  DIR *dir = nullptr;           // null for the look-up of one path
  std::vector<FindName> names;  // the matching names, in listing order
  size_t next = 0;              // the next name to hand out
};

namespace {

wchar_t FoldAsciiCase(wchar_t c) {
  return (c >= L'A' && c <= L'Z') ? (wchar_t)(c + (L'a' - L'A')) : c;
}

// '*' and '?' matching of name against the first plen characters of
// pattern. Iterative: on a mismatch only the last '*' is widened, so the
// cost is at most pattern length times name length. Can't fail.
bool MatchPlain(const wchar_t *pattern, size_t plen, const wchar_t *name) {
  size_t p = 0, n = 0;
  size_t star = (size_t)-1, resume = 0;
  while (name[n] != 0) {
    if (p < plen && pattern[p] == L'*') {
      star = p++;
      resume = n;
    } else if (p < plen && (pattern[p] == L'?' || FoldAsciiCase(pattern[p]) ==
                                                      FoldAsciiCase(name[n]))) {
      p++;
      n++;
    } else if (star != (size_t)-1) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < plen && pattern[p] == L'*') p++;
  return p == plen;
}

bool HasWildcard(const std::wstring &s) {
  return s.find_first_of(L"*?") != std::wstring::npos;
}

// Fills data for name (wide) with status st. Returns false for an entry
// that is not reported: a special file, or a name too long. Can't fail.
bool FillFindData(const struct stat &st, const std::string &name,
                  const std::wstring &wname, WIN32_FIND_DATAW *data) {
  if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode) && !S_ISLNK(st.st_mode)) {
    return false;
  }
  if (wname.size() >= MAX_PATH) return false;
  memset(data, 0, sizeof(*data));
  data->dwFileAttributes = AttributesFromStat(st, name);
  const uint64_t size = S_ISREG(st.st_mode) ? (uint64_t)st.st_size : 0;
  data->nFileSizeHigh = (DWORD)(size >> 32);
  data->nFileSizeLow = (DWORD)size;
  wmemcpy(data->cFileName, wname.c_str(), wname.size() + 1);
  return true;
}

// The rank of a name in the listing: "." and ".." come first. Can't fail.
int DotRank(const std::wstring &name) {
  return name == L"." ? 0 : name == L".." ? 1 : 2;
}

wchar_t UpperAscii(wchar_t c) {
  return (c >= L'a' && c <= L'z') ? (wchar_t)(c - (L'a' - L'A')) : c;
}

// NTFS order: ASCII letters compared as upper case, then shorter first;
// names that differ in case only by code point. Can't fail.
bool ListsBefore(const FindName &a, const FindName &b) {
  if (DotRank(a.wide) != DotRank(b.wide)) {
    return DotRank(a.wide) < DotRank(b.wide);
  }
  const size_t n = std::min(a.wide.size(), b.wide.size());
  for (size_t i = 0; i < n; i++) {
    const wchar_t x = UpperAscii(a.wide[i]), y = UpperAscii(b.wide[i]);
    if (x != y) return x < y;
  }
  if (a.wide.size() != b.wide.size()) return a.wide.size() < b.wide.size();
  return a.wide < b.wide;
}

// Reads every name of the open directory that matches pattern and fits a
// record, then sorts them. On error, false is returned with the translated
// errno of readdir().
bool ReadNames(FindState *state, const std::wstring &pattern) {
  for (;;) {
    errno = 0;
    const struct dirent *ent = readdir(state->dir);
    if (ent == nullptr) break;
    FindName name = {ent->d_name, WideFromBytes(ent->d_name)};
    if (name.wide.size() < MAX_PATH &&
        WildcardMatch(pattern.c_str(), name.wide.c_str())) {
      state->names.push_back(std::move(name));
    }
  }
  if (errno != 0) {
    SetLastErrorFromErrno(errno);
    return false;
  }
  std::sort(state->names.begin(), state->names.end(), ListsBefore);
  return true;
}

// The next entry of a listing into data. On error, false is returned with
// the last error 18 at the end.
bool NextEntry(FindState *state, WIN32_FIND_DATAW *data) {
  while (state->next < state->names.size()) {
    const FindName &name = state->names[state->next++];
    struct stat st;
    if (fstatat(dirfd(state->dir), name.bytes.c_str(), &st,
                AT_SYMLINK_NOFOLLOW) != 0) {
      continue;  // gone since it was listed
    }
    if (FillFindData(st, name.bytes, name.wide, data)) return true;
  }
  SetLastError(ERROR_NO_MORE_FILES);
  return false;
}

// The look-up of one path, following a symbolic link. On error, false is
// returned with the last error set (2 for a special file).
bool LookUpOne(const std::wstring &path, const std::wstring &last,
               WIN32_FIND_DATAW *data) {
  const std::string bytes = BytesFromWide(path);
  struct stat st;
  if (stat(bytes.c_str(), &st) != 0) {
    SetLastErrorForPath(errno, bytes);
    return false;
  }
  if (!FillFindData(st, BytesFromWide(last), last, data)) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return false;
  }
  return true;
}

// Opens the listing of dir for the names matching pattern and hands out the
// first. On error, false is returned with the last error set (3 for a
// missing directory, 2 when nothing matches).
bool ListFirst(const std::wstring &dir, const std::wstring &pattern,
               FindState *state, WIN32_FIND_DATAW *data) {
  const std::string bytes = dir.empty() ? "." : BytesFromWide(dir);
  state->dir = opendir(bytes.c_str());
  if (state->dir == nullptr) {
    const int err = errno;
    SetLastError(err == ENOENT ? ERROR_PATH_NOT_FOUND : WinErrorFromErrno(err));
    return false;
  }
  if (!ReadNames(state, pattern)) return false;
  if (NextEntry(state, data)) return true;
  if (GetLastError() == ERROR_NO_MORE_FILES) {
    SetLastError(ERROR_FILE_NOT_FOUND);
  }
  return false;
}

// Releases a search. Can't fail.
void FindFree(PosixObject *obj) {
  if (obj->find != nullptr && obj->find->dir != nullptr) {
    closedir(obj->find->dir);
  }
  delete obj->find;
  ObjectFree(obj);
}

// Starts a search for pattern: a listing when its last component has a
// wildcard, else the look-up of that one path. On error, false is returned
// with the last error set.
bool StartSearch(const std::wstring &path, FindState *state,
                 WIN32_FIND_DATAW *data) {
  const size_t sep = path.find_last_of(L"/\\");
  const std::wstring last =
      sep == std::wstring::npos ? path : path.substr(sep + 1);
  if (last.empty()) {
    SetLastError(path.empty() ? ERROR_PATH_NOT_FOUND : ERROR_FILE_NOT_FOUND);
    return false;
  }
  if (!HasWildcard(last)) return LookUpOne(path, last, data);
  std::wstring dir;  // empty: the current directory
  if (sep != std::wstring::npos) dir = sep == 0 ? L"/" : path.substr(0, sep);
  return ListFirst(dir, last, state, data);
}

}  // namespace

bool WildcardMatch(const wchar_t *pattern, const wchar_t *name) {
  const size_t plen = wcslen(pattern);
  if (MatchPlain(pattern, plen, name)) return true;
  // Windows lets a trailing ".*" match nothing as well: "*.*" matches every
  // name, "a.*" matches "a".
  return plen >= 2 && pattern[plen - 2] == L'.' && pattern[plen - 1] == L'*' &&
         MatchPlain(pattern, plen - 2, name);
}

DWORD AttributesFromStat(const struct stat &st, const std::string &name) {
  DWORD attrs = 0;
  if (S_ISLNK(st.st_mode)) attrs |= FILE_ATTRIBUTE_REPARSE_POINT;
  if (S_ISDIR(st.st_mode)) attrs |= FILE_ATTRIBUTE_DIRECTORY;
  if (!name.empty() && name[0] == '.' && name != "." && name != "..") {
    attrs |= FILE_ATTRIBUTE_HIDDEN;
  }
  if (!S_ISLNK(st.st_mode) && !(st.st_mode & S_IWUSR)) {
    attrs |= FILE_ATTRIBUTE_READONLY;
  }
  // A file with no other attribute is "normal", as Windows reports it.
  return attrs != 0 ? attrs : FILE_ATTRIBUTE_NORMAL;
}

// On error, INVALID_HANDLE_VALUE is returned with the last error: 2 nothing
// matches (or the path ends in a separator, or names a special file), 3 the
// directory is missing, 87 a null argument, or the translated errno.
HANDLE FindFirstFileW(LPCWSTR pattern, WIN32_FIND_DATAW *data) {
  if (pattern == nullptr || data == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  PosixObject *obj = ObjectNew(kObjectFind);
  if (obj == nullptr) return INVALID_HANDLE_VALUE;
  obj->find = new (std::nothrow) FindState();
  if (obj->find == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  } else if (StartSearch(pattern, obj->find, data)) {
    return obj;
  }
  const DWORD err = GetLastError();
  FindFree(obj);
  SetLastError(err);
  return INVALID_HANDLE_VALUE;
}

// On error, FALSE is returned with the last error 18 at the end of the
// listing, 6 for a handle that is not a search, or the translated errno.
BOOL FindNextFileW(HANDLE find, WIN32_FIND_DATAW *data) {
  PosixObject *obj = ObjectFromHandle(find, kObjectFind);
  if (obj == nullptr) return FALSE;
  if (data == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (obj->find->dir == nullptr) {
    SetLastError(ERROR_NO_MORE_FILES);
    return FALSE;
  }
  return NextEntry(obj->find, data) ? TRUE : FALSE;
}

// On error (not a search handle), FALSE is returned with the last error 6.
BOOL FindClose(HANDLE find) {
  PosixObject *obj = ObjectFromHandle(find, kObjectFind);
  if (obj == nullptr) return FALSE;
  FindFree(obj);
  return TRUE;
}
