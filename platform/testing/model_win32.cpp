// The report rules of the Windows build, for models of whole runs: the OEM
// code page (output goes to a pipe), '|' for a character it lacks, no best
// fit, '%' doubled in lines cmd may run, CR LF line ends.
#include <string>

#include "platform/platform.h"
#include "platform/testing/testing.h"

const bool kNamesFoldCase = true;
const bool kLinksAndFifos = false;
const bool kHiddenByName = false;
const bool kCanHoldFiles = true;

std::wstring ModelShownPath(const std::wstring &path, bool commandLine) {
  std::wstring out;
  for (wchar_t c : path) {
    out.push_back(c);
    if (commandLine && c == L'%') out.push_back(L'%');
  }
  return out;
}

std::string ModelLineBytes(const std::wstring &line) {
  const UINT cp = GetOEMCP();
  std::string out;
  for (wchar_t c : line) {
    if (c < 0x80) {
      out.push_back((char)c);
      continue;
    }
    char bytes[8];
    BOOL usedDefault = FALSE;
    const int n = WideCharToMultiByte(cp, WC_NO_BEST_FIT_CHARS, &c, 1, bytes,
                                      sizeof(bytes), "|", &usedDefault);
    if (n <= 0 || usedDefault) {
      out.push_back('|');
    } else {
      out.append(bytes, (size_t)n);
    }
  }
  return out + "\r\n";
}
