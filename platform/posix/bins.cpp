// The recycle bins the scan and the purge never enter: those of Windows
// volumes, and the desktop's trash folders (".Trash", ".Trash-<uid>" at the
// top of a volume, and ".local/share/Trash" in a home folder).
#include "platform/shared/bins.h"

#include <cwchar>
#include <string>

#include "platform/platform.h"

namespace {

bool IsTopTrashName(const wchar_t *name) {
  if (wcsncmp(name, L".Trash", 6) != 0) return false;
  if (name[6] == L'\0') return true;
  if (name[6] != L'-' || name[7] == L'\0') return false;
  for (const wchar_t *c = name + 7; *c != L'\0'; c++)
    if (*c < L'0' || *c > L'9') return false;
  return true;
}

bool IsSeparator(wchar_t c) { return c == L'/' || c == L'\\'; }

// The last component of path[0, *end), moved past: *end is left where its
// leading separator is. Can't fail.
std::wstring LastComponent(const wchar_t *path, size_t *end) {
  while (*end > 0 && IsSeparator(path[*end - 1])) (*end)--;
  size_t start = *end;
  while (start > 0 && !IsSeparator(path[start - 1])) start--;
  std::wstring name(path + start, *end - start);
  *end = start;
  return name;
}

// The home folder's trash: parentPath ends in ".local/share".
bool IsHomeTrash(const wchar_t *parentPath, const wchar_t *name) {
  if (wcscmp(name, L"Trash") != 0) return false;
  size_t end = wcslen(parentPath);
  if (LastComponent(parentPath, &end) != L"share") return false;
  return LastComponent(parentPath, &end) == L".local";
}

}  // namespace

int IsRecycleBinName(const wchar_t *parentPath, const wchar_t *name) {
  return IsWindowsBinName(name) || IsTopTrashName(name) ||
                 IsHomeTrash(parentPath, name)
             ? 1
             : 0;
}
