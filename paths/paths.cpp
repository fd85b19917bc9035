// Path helpers: join, test, resolve and split wide-character paths.
#include "paths/paths.h"

#include <cstdlib>
#include <cwchar>

#include "common/common.h"

int32_t fsplit_leakcheck;

// Room the resolved form may take beyond the length of the path itself.
#define FULL_PATH_SLACK 263

// Exhaustion ends the run (MemoryExhausted).
wchar_t *StringAllocOrDie(size_t n) {
  wchar_t *s = (wchar_t *)calloc(n > 0 ? n : 1, sizeof(wchar_t));
  if (s == nullptr) MemoryExhausted();
  return s;
}

// Exhaustion ends the run (MemoryExhausted).
wchar_t *StringDupOrDie(const wchar_t *s) {
  size_t len = wcslen(s);
  wchar_t *copy = StringAllocOrDie(len + 1);
  wmemcpy(copy, s, len);
  return copy;
}

// A copy of the first n characters of s, terminated. Exhaustion ends the
// process.
static wchar_t *StringDupPrefix(const wchar_t *s, size_t n) {
  wchar_t *copy = StringAllocOrDie(n + 1);
  wmemcpy(copy, s, n);
  return copy;
}

// Either separator counts when a path is read. Can't fail.
static bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// Two characters: a letter of either case, then ':'. Can't fail.
static bool IsBareDrive(const wchar_t *path) {
  wchar_t c = path[0];
  bool letter = (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
  return letter && path[1] == L':' && path[2] == L'\0';
}

// "\", "/", or any three characters whose second is ':' and third a
// separator. Can't fail.
static bool IsRoot(const wchar_t *path) {
  size_t len = wcslen(path);
  if (len == 1) return IsSeparator(path[0]);
  return len == 3 && path[1] == L':' && IsSeparator(path[2]);
}

// Whether the path of len characters in buf ends in a separator: '/' or
// this platform's own, or the '\' of a root ("\", "C:\"). On Linux a name
// may end in '\', and such a directory still needs its '/'. Can't fail.
static bool EndsInSeparator(const wchar_t *buf, size_t len) {
  const wchar_t last = buf[len - 1];
  return last == L'/' || last == PATH_SEPARATOR ||
         (last == L'\\' && IsRoot(buf));
}

// The separator goes in unless the path is empty, a bare drive or already
// ends in one, and only when it fits. Returns the new length. Can't fail.
static size_t AddJoinSeparator(wchar_t *buf, size_t len, size_t capacity) {
  if (len > 0 && len + 1 < capacity && !IsBareDrive(buf) &&
      !EndsInSeparator(buf, len)) {
    buf[len++] = PATH_SEPARATOR;
    buf[len] = L'\0';
  }
  return len;
}

// The tail is cut so the result always fits. Can't fail.
void StringConcat(wchar_t *buf, size_t capacity, const wchar_t *tail) {
  if (tail == nullptr || tail[0] == L'\0') return;
  if (buf == nullptr) {
    DebugText(L"StringConcat - NULL parameter");
    return;
  }
  size_t len = wcsnlen(buf, capacity);
  if (len >= capacity) return;  // no room even for the terminator
  len = AddJoinSeparator(buf, len, capacity);
  size_t count = wcslen(tail);
  if (len + count + 1 > capacity) count = capacity - len - 1;
  wmemcpy(buf + len, tail, count);
  buf[len + count] = L'\0';
}

void PathEntryPrefix(wchar_t *buf, size_t capacity) {
  const size_t len = wcsnlen(buf, capacity);
  if (len < capacity) AddJoinSeparator(buf, len, capacity);
}

bool IsDotOrDotDot(const wchar_t *name) {
  return wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0;
}

// Wildcards never name a directory, roots and bare drives always do; any
// other path is looked up. A failed look-up means 0. Can't fail.
int IsADir(const wchar_t *path) {
  if (path == nullptr || wcspbrk(path, L"*?") != nullptr) return 0;
  if (IsRoot(path) || IsBareDrive(path)) return 1;
  WIN32_FIND_DATAW found = {};
  HANDLE find = platformCalls.FindFirstFileW(path, &found);
  if (find == INVALID_HANDLE_VALUE) return 0;
  (void)platformCalls.FindClose(find);  // nothing to do if it fails
  return (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? 1 : 0;
}

// The empty path stands for the current directory; a path that cannot be
// resolved, or whose resolved form would not fit, is returned unchanged.
// Exhaustion ends the process.
wchar_t *FullPathAlloc(const wchar_t *path) {
  size_t cap = wcslen(path) + FULL_PATH_SLACK;
  wchar_t *work = StringAllocOrDie(cap);
  const wchar_t *query = (path[0] == L'\0') ? L"." : path;
  DWORD got = platformCalls.GetFullPathNameW(query, (DWORD)cap, work, nullptr);
  if (got == 0 || got >= cap) wcscpy(work, path);
  wchar_t *result = StringDupOrDie(work);
  free(work);
  return result;
}

// The last position that ends a directory part: a separator or ':', or a
// '.' after '.', '\' or ':' (not after '/', and not at position 0).
// Returns -1 when there is none. Can't fail.
static ptrdiff_t SplitPoint(const wchar_t *path) {
  for (ptrdiff_t i = (ptrdiff_t)wcslen(path) - 1; i >= 0; i--) {
    wchar_t c = path[i];
    if (IsSeparator(c) || c == L':') return i;
    if (c == L'.' && i > 0) {
      wchar_t before = path[i - 1];
      if (before == L'.' || before == L'\\' || before == L':') return i;
    }
  }
  return -1;
}

// The two parts of a path that is not itself a directory, cut at its split
// point. A trailing separator leaves the directory part unless it is a root.
// Exhaustion ends the process.
static void SplitAt(const wchar_t *path, ptrdiff_t at, wchar_t **dir,
                    wchar_t **name) {
  size_t dirLen = (size_t)at + 1;
  *dir = StringDupPrefix(path, dirLen);
  if (!IsRoot(*dir) && IsSeparator((*dir)[dirLen - 1])) {
    (*dir)[dirLen - 1] = L'\0';
  }
  *name = StringDupOrDie(path + dirLen);
}

// Refusals print under Debug and leave both outputs untouched. Exhaustion
// ends the process.
void fsplit_with_allocs(const wchar_t *path, wchar_t **dir, wchar_t **name) {
  if (path == nullptr || dir == nullptr || name == nullptr) {
    DebugText(L"fsplit_with_allocs - NULL parameter\n");
    return;
  }
  if (*dir != nullptr || *name != nullptr) {
    DebugText(L"fsplit_with_allocs - Returned strings should be NULL on entry");
    return;
  }
  ptrdiff_t at = SplitPoint(path);
  if (IsADir(path)) {
    *dir = StringDupOrDie(path);
    *name = StringDupOrDie(L"");
  } else if (at < 0) {
    *dir = StringDupOrDie(L"");
    *name = StringDupOrDie(path);
  } else {
    SplitAt(path, at, dir, name);
  }
  fsplit_leakcheck += 2;
}

// A missing string is reported under Debug; each one released lowers the
// count. Can't fail.
void fsplit_dealloc(wchar_t *dir, wchar_t *name) {
  if (dir == nullptr || name == nullptr) {
    DebugText(L"fsplit_dealloc - strings should be non-NULL on entry");
  }
  if (dir != nullptr) {
    free(dir);
    fsplit_leakcheck--;
  }
  if (name != nullptr) {
    free(name);
    fsplit_leakcheck--;
  }
}
