// How the report shows a path on Windows: cmd expands '%' in a batch file
// even inside double quotes, so a command line doubles it to mean itself.
// No other character of a Windows name is special inside the quotes.
#include <string>

#include "platform/platform.h"

std::wstring ShowPath(const wchar_t *path, int commandLine) {
  std::wstring out;
  for (const wchar_t *p = path; *p != L'\0'; p++) {
    out.push_back(*p);
    if (commandLine && *p == L'%') out.push_back(L'%');
  }
  return out;
}
