// Fuzzes the path helpers. The input's first byte picks the capacity given
// to StringConcat; the rest is a path and, after a zero byte, a tail. The
// helpers run in a scratch directory holding a few directories and files,
// so that IsADir and the split also meet paths that exist.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "app/app.h"
#include "fuzz/fuzz_support.h"
#include "paths/paths.h"

namespace {

// Characters of guard after each StringConcat buffer.
const size_t kGuards = 8;

std::string gScratch;

bool IsSep(wchar_t c) { return c == L'\\' || c == L'/'; }

bool IsRootText(const std::wstring &p) {
  if (p.size() == 1) return IsSep(p[0]);
  return p.size() == 3 && p[1] == L':' && IsSep(p[2]);
}

// A join's end: '/', the platform's separator, or the '\' of a root (on
// Linux a '\' below the root ends a name).
bool EndsInSepText(const std::wstring &p) {
  const wchar_t c = p.back();
  return c == L'/' || c == PATH_SEPARATOR || (c == L'\\' && IsRootText(p));
}

bool IsBareDriveText(const std::wstring &p) {
  const bool letter = !p.empty() && ((p[0] >= L'A' && p[0] <= L'Z') ||
                                     (p[0] >= L'a' && p[0] <= L'z'));
  return p.size() == 2 && letter && p[1] == L':';
}

bool HasWildcard(const std::wstring &p) {
  return p.find_first_of(L"*?") != std::wstring::npos;
}

// Position i of path may end a directory part: a separator, ':', or a '.'
// after '.', '\' or ':'.
bool EndsDirPart(const std::wstring &path, size_t i) {
  const wchar_t c = path[i];
  if (IsSep(c) || c == L':') return true;
  if (c != L'.' || i == 0) return false;
  const wchar_t before = path[i - 1];
  return before == L'.' || before == L'\\' || before == L':';
}

// dir and name put back together give the path: either side by side, or
// with the one separator the split took off a directory part that is no
// root. The cut is at the last place that may end a directory part.
void CheckRejoin(const std::wstring &path, const std::wstring &d,
                 const std::wstring &n) {
  const bool sideBySide = d + n == path;
  const bool sepRemoved = path.size() == d.size() + 1 + n.size() &&
                          path.compare(0, d.size(), d) == 0 &&
                          IsSep(path[d.size()]) &&
                          path.compare(d.size() + 1, n.size(), n) == 0;
  FUZZ_CHECK(sideBySide || sepRemoved);
  if (sepRemoved) FUZZ_CHECK(!IsRootText(path.substr(0, d.size() + 1)));
  if (sideBySide && !d.empty() && IsSep(d.back())) FUZZ_CHECK(IsRootText(d));
  const size_t start = path.size() - n.size();
  for (size_t i = start; i < path.size(); i++) {
    FUZZ_CHECK(!EndsDirPart(path, i));
  }
  if (!d.empty()) FUZZ_CHECK(EndsDirPart(path, start - 1));
}

// A split hands out two counted strings; a second call with an output
// already set changes nothing; the release brings the count back.
void CheckSplit(const std::wstring &path) {
  const int32_t before = fsplit_leakcheck;
  wchar_t *dir = nullptr, *name = nullptr;
  fsplit_with_allocs(path.c_str(), &dir, &name);
  FUZZ_CHECK(dir != nullptr && name != nullptr);
  FUZZ_CHECK(fsplit_leakcheck == before + 2);
  if (IsADir(path.c_str())) {
    FUZZ_CHECK(dir == path && name[0] == L'\0');
  } else {
    CheckRejoin(path, dir, name);
  }
  wchar_t *again = nullptr, *held = name;
  fsplit_with_allocs(path.c_str(), &again, &held);
  FUZZ_CHECK(again == nullptr && held == name);
  FUZZ_CHECK(fsplit_leakcheck == before + 2);
  fsplit_dealloc(dir, name);
  FUZZ_CHECK(fsplit_leakcheck == before);
}

// Wildcards never, roots and bare drives always, a trailing separator never;
// otherwise exactly when the file system has a directory there.
void CheckIsADir(const std::wstring &path) {
  const int found = IsADir(path.c_str());
  int expected = 0;
  if (HasWildcard(path)) {
    expected = 0;
  } else if (IsRootText(path) || IsBareDriveText(path)) {
    expected = 1;
  } else if (!path.empty() && !IsSep(path.back())) {
    struct stat st;
    expected =
        stat(BytesFromWide(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  }
  FUZZ_CHECK(found == expected);
}

// The components of an absolute Linux path: no empty, "." or ".." one
// (an empty last one only after a trailing separator).
bool IsFolded(const std::wstring &full) {
  if (full.empty() || full[0] != L'/') return false;
  if (full.find(L'\\') != std::wstring::npos) return false;
  size_t start = 1;
  while (start < full.size()) {
    size_t end = full.find(L'/', start);
    if (end == std::wstring::npos) end = full.size();
    const std::wstring part = full.substr(start, end - start);
    if (part.empty() || part == L"." || part == L"..") return false;
    start = end + 1;
  }
  return true;
}

// The resolved form is absolute and folded, within the length allowed,
// keeps a trailing separator, and resolving it again changes nothing.
void CheckFullPath(const std::wstring &path) {
  wchar_t *first = FullPathAlloc(path.c_str());
  FUZZ_CHECK(first != nullptr);
  const std::wstring full = first;
  free(first);
  FUZZ_CHECK(full.size() <= path.size() + 262);
  FUZZ_CHECK(IsFolded(full));
  const bool trailing = !path.empty() && IsSep(path.back());
  FUZZ_CHECK((full.back() == L'/') == (trailing || full == L"/"));
  wchar_t *second = FullPathAlloc(full.c_str());
  FUZZ_CHECK(full == second);
  free(second);
}

// A value that appears in neither string, to fill the guard area.
wchar_t GuardValue(const std::wstring &a, const std::wstring &b) {
  wchar_t g = 0xFFFF;
  while (a.find(g) != std::wstring::npos || b.find(g) != std::wstring::npos)
    g--;
  return g;
}

// The capacity the callers use (length of both + 2), sometimes a little
// less; or with the top bit set a small one of its own.
size_t PickCapacity(uint8_t pick, const std::wstring &path,
                    const std::wstring &tail) {
  const size_t needed = path.size() + tail.size() + 2;
  if (pick & 0x80) return 1 + (pick & 0x3F);
  return needed - std::min(needed - 1, (size_t)(pick % 8));
}

// StringConcat never writes past the capacity, always terminates, and
// leaves the caller's join cut to capacity - 1 characters. A buffer with no
// terminator inside the capacity is only checked for writes past it.
void CheckConcat(const std::wstring &path, const std::wstring &tail,
                 uint8_t pick) {
  const size_t cap = PickCapacity(pick, path, tail);
  const wchar_t guard = GuardValue(path, tail);
  std::vector<wchar_t> buf(cap + kGuards, guard);
  const size_t copied = std::min(path.size(), cap);
  wmemcpy(buf.data(), path.data(), copied);
  if (copied < cap) buf[copied] = L'\0';
  StringConcat(buf.data(), cap, tail.c_str());
  for (size_t i = cap; i < cap + kGuards; i++) FUZZ_CHECK(buf[i] == guard);
  if (copied == cap) return;
  std::wstring join = path;
  if (!tail.empty()) {
    if (!path.empty() && !IsBareDriveText(path) && !EndsInSepText(path)) {
      join += PATH_SEPARATOR;
    }
    join += tail;
  }
  const size_t len = wcsnlen(buf.data(), cap);
  FUZZ_CHECK(len < cap);
  FUZZ_CHECK(join.compare(0, std::min(join.size(), cap - 1), buf.data(), len) ==
             0);
  FUZZ_CHECK(len == std::min(join.size(), cap - 1));
}

void RemoveScratch() {
  std::error_code ec;
  std::filesystem::remove_all(gScratch, ec);
}

// A few directories (one named like a drive) and files to look up.
void MakeScratch() {
  char templ[] = "/tmp/twinsift-fuzz-XXXXXX";
  if (mkdtemp(templ) == nullptr || chdir(templ) != 0) abort();
  gScratch = templ;
  atexit(RemoveScratch);
  for (const char *dir : {"d", "d/e", "d/e/f", "d/.h", "C:", "a.b", "x y"}) {
    if (mkdir(dir, 0755) != 0) abort();
  }
  for (const char *file : {"f", "d/g", "d/e/h.txt"}) {
    FILE *fp = fopen(file, "w");
    if (fp == nullptr) abort();
    fclose(fp);
  }
}

// value made absolute against cwd.
std::string Absolute(const std::string &cwd, const std::string &value) {
  return value.empty() || value[0] == '/' ? value : cwd + "/" + value;
}

// libFuzzer reads the arguments after the scratch directory has become the
// current one: corpus paths, the artifact prefix and the exact artifact
// path are made absolute before, and artifacts go by default where the
// run was started.
void AbsoluteArguments(int *argc, char ***argv) {
  // Never destroyed: libFuzzer keeps using the strings to the end.
  static std::vector<char *> &args = *new std::vector<char *>;
  char *cwd = getcwd(nullptr, 0);
  if (cwd == nullptr) abort();
  const std::string here = cwd;
  free(cwd);
  const std::string kPrefix = "-artifact_prefix=",
                    kExact = "-exact_artifact_path=";
  bool prefixGiven = false;
  args.push_back((*argv)[0]);
  for (int i = 1; i < *argc; i++) {
    const std::string arg = (*argv)[i];
    if (arg[0] != '-') {
      args.push_back(strdup(Absolute(here, arg).c_str()));
    } else if (arg.rfind(kPrefix, 0) == 0 || arg.rfind(kExact, 0) == 0) {
      const size_t eq = arg.find('=') + 1;
      prefixGiven = prefixGiven || arg.rfind(kPrefix, 0) == 0;
      const std::string value = Absolute(here, arg.substr(eq));
      args.push_back(strdup((arg.substr(0, eq) + value).c_str()));
    } else {
      args.push_back((*argv)[i]);
    }
  }
  if (!prefixGiven) args.push_back(strdup((kPrefix + here + "/").c_str()));
  *argc = (int)args.size();
  args.push_back(nullptr);
  *argv = args.data();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
  AbsoluteArguments(argc, argv);
  MakeScratch();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  const std::vector<std::wstring> parts = WidePieces(data + 1, size - 1, 2);
  const std::wstring &path = parts[0];
  const std::wstring tail = parts.size() > 1 ? parts[1] : L"";
  CheckSplit(path);
  CheckIsADir(path);
  CheckFullPath(path);
  CheckConcat(path, tail, data[0]);
  return 0;
}
