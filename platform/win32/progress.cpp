// The console tests and the unbuffered standard error of the status line.
// On a console the line goes as wide text, so no code page is involved.
#include <cwchar>
#include <string>

#include "platform/platform.h"
#include "platform/shared/output.h"

namespace {

// 1 when the standard handle named by which is a console. Can't fail.
int IsConsole(DWORD which) {
  HANDLE h = GetStdHandle(which);
  DWORD mode = 0;
  if (h == nullptr || h == INVALID_HANDLE_VALUE) return 0;
  return GetConsoleMode(h, &mode) ? 1 : 0;
}

}  // namespace

int StderrIsTerminal(void) { return IsConsole(STD_ERROR_HANDLE); }

int StdoutIsTerminal(void) { return IsConsole(STD_OUTPUT_HANDLE); }

int StdStreamIdentity(int stream, DWORD *volume, DWORD *indexHigh,
                      DWORD *indexLow) {
  HANDLE h = GetStdHandle(stream == 2 ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
  if (h == nullptr || h == INVALID_HANDLE_VALUE) return 0;
  if (GetFileType(h) != FILE_TYPE_DISK) return 0;
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(h, &info)) return 0;
  *volume = info.dwVolumeSerialNumber;
  *indexHigh = info.nFileIndexHigh;
  *indexLow = info.nFileIndexLow;
  return 1;
}

// A console takes the text as it is; a file or a pipe takes it encoded as
// standard output is. Whole or up to a failed write. Can't fail.
void PrintErrW(const wchar_t *text) {
  const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  DWORD written = 0;
  if (IsConsole(STD_ERROR_HANDLE)) {
    WriteConsoleW(err, text, (DWORD)wcslen(text), &written, nullptr);
    return;
  }
  if (err == nullptr || err == INVALID_HANDLE_VALUE) return;
  std::string bytes;
  EncodeStdout(text, wcslen(text), &bytes);
  size_t done = 0;
  while (done < bytes.size() &&
         WriteFile(err, bytes.data() + done, (DWORD)(bytes.size() - done),
                   &written, nullptr) &&
         written != 0) {
    done += written;
  }
}
