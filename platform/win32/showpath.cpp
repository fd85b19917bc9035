// How the report shows a path on Windows: cmd expands '%' in a batch file
// even inside double quotes, so a command line doubles it to mean itself.
// No other character of a Windows name is special inside the quotes, but
// cmd would send "del "/"rd " of a reserved device name to the device and
// trim a name's trailing dot or space: such a line names the "\\?\" form of
// the path, which cmd takes as it is.
#include <cwctype>
#include <string>

#include "platform/platform.h"

namespace {

bool IsSep(wchar_t c) { return c == L'\\' || c == L'/'; }

// CON, PRN, AUX, NUL, COM0-9, LPT0-9 (with the superscript digits 1 to 3),
// CONIN$, CONOUT$, in any case. Can't fail.
bool IsDeviceWord(const std::wstring &w) {
  std::wstring up;
  for (wchar_t c : w) up.push_back((wchar_t)towupper(c));
  if (up == L"CON" || up == L"PRN" || up == L"AUX" || up == L"NUL" ||
      up == L"CONIN$" || up == L"CONOUT$") {
    return true;
  }
  if (up.size() != 4 || (up.compare(0, 3, L"COM") && up.compare(0, 3, L"LPT")))
    return false;
  const wchar_t d = up[3];
  return (d >= L'0' && d <= L'9') || d == 0xB9 || d == 0xB2 || d == 0xB3;
}

// A name the system would not take as it is: a device word before the
// first dot (trailing spaces aside), or a last character that is a dot or a
// space ("." and ".." aside). Can't fail.
bool IsAlteredName(const std::wstring &name) {
  if (name.empty() || name == L"." || name == L"..") return false;
  if (name.back() == L'.' || name.back() == L' ') return true;
  std::wstring word = name.substr(0, name.find(L'.'));
  while (!word.empty() && word.back() == L' ') word.pop_back();
  return IsDeviceWord(word);
}

// True when some component of path below its root is such a name. A path
// already in "\\?\" or "\\.\" form is taken as it is. Can't fail.
bool NeedsVerbatimForm(const wchar_t *path) {
  const std::wstring p = path;
  if (p.size() >= 4 && IsSep(p[0]) && IsSep(p[1]) && IsSep(p[3]) &&
      (p[2] == L'?' || p[2] == L'.')) {
    return false;
  }
  size_t at = 0;
  int skip = 0;  // a share's server and share name are no file names
  if (p.size() >= 2 && IsSep(p[0]) && IsSep(p[1])) {
    at = 2;
    skip = 2;
  } else if (p.size() >= 2 && p[1] == L':') {
    at = 2;
  }
  while (at <= p.size()) {
    size_t end = at;
    while (end < p.size() && !IsSep(p[end])) end++;
    if (skip > 0) {
      skip--;
    } else if (IsAlteredName(p.substr(at, end - at))) {
      return true;
    }
    at = end + 1;
  }
  return false;
}

}  // namespace

std::wstring ShowPath(const wchar_t *path, int commandLine) {
  std::wstring form = path;
  if (commandLine == 2 && NeedsVerbatimForm(path)) form = LongPathForm(path);
  std::wstring out;
  for (wchar_t c : form) {
    out.push_back(c);
    if (commandLine && c == L'%') out.push_back(L'%');
  }
  return out;
}
