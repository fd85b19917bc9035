// Directory enumeration and the look-up of one path (FindFirstFileW family).
//
// A listing reads the names of the directory at once and keeps those that
// match the pattern, in the order NTFS lists them ("." and ".." first, then
// by name with ASCII letters compared as upper case), so reports come out
// the same whatever the file system. The names of one listing share two
// buffers (bytes and wide), so a listing costs a few allocations, not a few
// per name. Each kept name is stat'ed when it is handed out, without
// following a symbolic link; FIFOs, sockets and device nodes are left out
// then. A listing of directories only skips, unstat'ed, every name that
// readdir already tells is something else.
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

// One kept name: where its bytes and its wide form lie in the listing's
// buffers.
struct FindName {
  size_t bytes;    // offset in FindState::bytes, terminated
  size_t wide;     // offset in FindState::wide, terminated
  size_t wideLen;  // characters, terminator excluded
  int rank;        // 0 ".", 1 "..", 2 any other name
};

struct FindState {
  DIR *dir = nullptr;           // null for the look-up of one path
  bool dirsOnly = false;        // FindExSearchLimitToDirectories
  std::string bytes;            // every kept name, each terminated
  std::wstring wide;            // the same names decoded, each terminated
  std::vector<FindName> names;  // the kept names, in listing order
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

// Fills data for name (bytes; wide: wlen characters) with status st.
// Returns false for an entry that is not reported: a special file, or a
// name too long. Can't fail.
bool FillFindData(const struct stat &st, const char *name, const wchar_t *wname,
                  size_t wlen, WIN32_FIND_DATAW *data) {
  if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode) && !S_ISLNK(st.st_mode)) {
    return false;
  }
  if (wlen >= MAX_PATH) return false;
  memset(data, 0, sizeof(*data));
  data->dwFileAttributes = AttributesFromStat(st, name);
  const uint64_t size = S_ISREG(st.st_mode) ? (uint64_t)st.st_size : 0;
  data->nFileSizeHigh = (DWORD)(size >> 32);
  data->nFileSizeLow = (DWORD)size;
  data->ftLastWriteTime = FileTimeFromTimespec(st.st_mtim);
  wmemcpy(data->cFileName, wname, wlen + 1);
  return true;
}

// The rank of a name in the listing: "." and ".." come first. Can't fail.
int DotRank(const char *name) {
  if (name[0] != '.') return 2;
  if (name[1] == '\0') return 0;
  return name[1] == '.' && name[2] == '\0' ? 1 : 2;
}

wchar_t UpperAscii(wchar_t c) {
  return (c >= L'a' && c <= L'z') ? (wchar_t)(c - (L'a' - L'A')) : c;
}

// NTFS order of two names whose wide forms lie in wide and, with ASCII
// letters as upper case, in upper: those compared first, then shorter
// first; names that differ in case only by code point. Can't fail.
bool ListsBefore(const wchar_t *wide, const wchar_t *upper, const FindName &a,
                 const FindName &b) {
  if (a.rank != b.rank) return a.rank < b.rank;
  const size_t n = std::min(a.wideLen, b.wideLen);
  const int order = wmemcmp(upper + a.wide, upper + b.wide, n);
  if (order != 0) return order < 0;
  if (a.wideLen != b.wideLen) return a.wideLen < b.wideLen;
  return wmemcmp(wide + a.wide, wide + b.wide, n) < 0;
}

// Keeps name (bytes) when its wide form matches pattern and fits a record.
// Exhaustion ends the process.
void KeepIfMatching(FindState *state, const char *name,
                    const std::wstring &pattern) {
  FindName kept = {state->bytes.size(), state->wide.size(), 0, DotRank(name)};
  const size_t len = strlen(name);
  AppendWide(name, len, &state->wide);
  kept.wideLen = state->wide.size() - kept.wide;
  state->wide.push_back(L'\0');
  if (kept.wideLen >= MAX_PATH ||
      !WildcardMatch(pattern.c_str(), state->wide.c_str() + kept.wide)) {
    state->wide.resize(kept.wide);
    return;
  }
  state->bytes.append(name, len + 1);
  state->names.push_back(kept);
}

// Reads every name of the open directory that matches pattern and fits a
// record, then sorts them. A listing of directories only passes over the
// names readdir knows to be something else. On error, false is returned
// with the translated errno of readdir().
bool ReadNames(FindState *state, const std::wstring &pattern) {
  for (;;) {
    errno = 0;
    const struct dirent *ent = readdir(state->dir);
    if (ent == nullptr) break;
    if (state->dirsOnly && ent->d_type != DT_DIR && ent->d_type != DT_UNKNOWN)
      continue;
    KeepIfMatching(state, ent->d_name, pattern);
  }
  if (errno != 0) {
    SetLastErrorFromErrno(errno);
    return false;
  }
  // Folded once here rather than character by character in every
  // comparison of the sort.
  std::wstring upper(state->wide);
  for (wchar_t &c : upper) c = UpperAscii(c);
  const wchar_t *wide = state->wide.c_str();
  std::sort(state->names.begin(), state->names.end(),
            [wide, &upper](const FindName &a, const FindName &b) {
              return ListsBefore(wide, upper.c_str(), a, b);
            });
  return true;
}

// The next entry of a listing into data (directories only, when asked).
// On error, false is returned with the last error 18 at the end, or the
// translated errno of a name that could not be looked up (a directory that
// may be read but not entered: 5), which ends the listing.
bool NextEntry(FindState *state, WIN32_FIND_DATAW *data) {
  while (state->next < state->names.size()) {
    const FindName &name = state->names[state->next++];
    const char *bytes = state->bytes.c_str() + name.bytes;
    struct stat st;
    if (fstatat(dirfd(state->dir), bytes, &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT) continue;  // gone since it was listed
      SetLastErrorFromErrno(errno);
      state->next = state->names.size();
      return false;
    }
    if (state->dirsOnly && !S_ISDIR(st.st_mode)) continue;
    if (FillFindData(st, bytes, state->wide.c_str() + name.wide, name.wideLen,
                     data)) {
      return true;
    }
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
  if (PathStat(bytes, &st, true) != 0) {
    SetLastErrorForPath(errno, bytes);
    return false;
  }
  if (!FillFindData(st, BytesFromWide(last).c_str(), last.c_str(), last.size(),
                    data)) {
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
  state->dir = PathOpenDir(bytes);
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
// wildcard, else the look-up of that one path. Only '/' ends a component
// here: the paths reaching the file system are the program's own, and a
// Linux name may hold '\' (a directory "e\" is not "e"). On error, false is
// returned with the last error set.
bool StartSearch(const std::wstring &path, FindState *state,
                 WIN32_FIND_DATAW *data) {
  const size_t sep = path.find_last_of(L'/');
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

DWORD AttributesFromStat(const struct stat &st, const char *name) {
  DWORD attrs = 0;
  if (S_ISLNK(st.st_mode)) attrs |= FILE_ATTRIBUTE_REPARSE_POINT;
  if (S_ISDIR(st.st_mode)) attrs |= FILE_ATTRIBUTE_DIRECTORY;
  if (name[0] == '.' && DotRank(name) == 2) {
    attrs |= FILE_ATTRIBUTE_HIDDEN;
  }
  if (!S_ISLNK(st.st_mode) && !(st.st_mode & S_IWUSR)) {
    attrs |= FILE_ATTRIBUTE_READONLY;
  }
  // A file with no other attribute is "normal", as Windows reports it.
  return attrs != 0 ? attrs : FILE_ATTRIBUTE_NORMAL;
}

// Starts a search (of directories only when dirsOnly is set). On error,
// INVALID_HANDLE_VALUE is returned with the last error set.
static HANDLE FindStart(LPCWSTR pattern, WIN32_FIND_DATAW *data,
                        bool dirsOnly) {
  PosixObject *obj = ObjectNew(kObjectFind);
  if (obj == nullptr) return INVALID_HANDLE_VALUE;
  obj->find = new (std::nothrow) FindState();
  if (obj->find == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  } else {
    obj->find->dirsOnly = dirsOnly;
    if (StartSearch(pattern, obj->find, data)) return obj;
  }
  const DWORD err = GetLastError();
  FindFree(obj);
  SetLastError(err);
  return INVALID_HANDLE_VALUE;
}

// On error, INVALID_HANDLE_VALUE is returned with the last error: 2 nothing
// matches (or the path ends in a separator, or names a special file), 3 the
// directory is missing, 87 a null argument, or the translated errno.
HANDLE FindFirstFileW(LPCWSTR pattern, WIN32_FIND_DATAW *data) {
  if (pattern == nullptr || data == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  return FindStart(pattern, data, false);
}

// As FindFirstFileW; FindExSearchLimitToDirectories lists directories only
// (the look-up of one path ignores it, as Windows may). On error,
// INVALID_HANDLE_VALUE is returned with the last error of FindFirstFileW, or
// 87 for an info level, search operation, filter or flag not supported.
HANDLE FindFirstFileExW(LPCWSTR pattern, FINDEX_INFO_LEVELS level, void *data,
                        FINDEX_SEARCH_OPS op, void *filter, DWORD flags) {
  const bool supported =
      (level == FindExInfoStandard || level == FindExInfoBasic) &&
      (op == FindExSearchNameMatch || op == FindExSearchLimitToDirectories) &&
      filter == nullptr && (flags & ~FIND_FIRST_EX_LARGE_FETCH) == 0;
  if (pattern == nullptr || data == nullptr || !supported) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  return FindStart(pattern, static_cast<WIN32_FIND_DATAW *>(data),
                   op == FindExSearchLimitToDirectories);
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
