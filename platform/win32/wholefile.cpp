// Whole files for twinsift-view: a report read at once, a page written at
// once, standard input and output for "-". The handles are the system's
// own, so no C runtime text mode turns CR LF into LF on the way.
#include <cwchar>
#include <string>

#include "platform/platform.h"
#include "platform/win32/win32.h"

namespace {

bool IsStandardStream(const wchar_t *path) { return wcscmp(path, L"-") == 0; }

// Reads h to its end onto *bytes. A pipe whose writer is gone ends it.
// Returns 0 or the Windows code.
DWORD ReadAll(HANDLE h, std::string *bytes) {
  char chunk[64 * 1024];
  for (;;) {
    DWORD n = 0;
    if (!ReadFile(h, chunk, sizeof(chunk), &n, nullptr)) {
      const DWORD code = GetLastError();
      return code == ERROR_BROKEN_PIPE ? 0 : code;
    }
    if (n == 0) return 0;
    bytes->append(chunk, n);
  }
}

// Writes all of bytes to h. Returns 0 or the Windows code.
DWORD WriteAll(HANDLE h, const std::string &bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const size_t left = bytes.size() - done;
    const DWORD chunk = left > (1u << 30) ? (1u << 30) : (DWORD)left;
    DWORD written = 0;
    if (!WriteFile(h, bytes.data() + done, chunk, &written, nullptr))
      return GetLastError();
    if (written == 0) return ERROR_WRITE_FAULT;
    done += written;
  }
  return 0;
}

bool IsUsable(HANDLE h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }

}  // namespace

std::wstring DecodeOutputText(const char *bytes, size_t len) {
  std::wstring text;
  if (len == 0) return text;
  const UINT cp = OutputCodePage();
  const int n = MultiByteToWideChar(cp, 0, bytes, (int)len, nullptr, 0);
  if (n <= 0) return text;
  text.resize((size_t)n);
  MultiByteToWideChar(cp, 0, bytes, (int)len, &text[0], n);
  return text;
}

DWORD ReadWholeFile(const wchar_t *path, std::string *bytes) {
  bytes->clear();
  if (IsStandardStream(path)) {
    const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    return IsUsable(in) ? ReadAll(in, bytes) : ERROR_INVALID_HANDLE;
  }
  const HANDLE h =
      CreateFileW(LongPathForm(path).c_str(), GENERIC_READ,
                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                  FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (h == INVALID_HANDLE_VALUE) return GetLastError();
  const DWORD code = ReadAll(h, bytes);
  CloseHandle(h);
  return code;
}

DWORD WriteWholeFile(const wchar_t *path, const std::string &bytes) {
  if (IsStandardStream(path)) {
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    return IsUsable(out) ? WriteAll(out, bytes) : ERROR_INVALID_HANDLE;
  }
  const HANDLE h =
      CreateFileW(LongPathForm(path).c_str(), GENERIC_WRITE, 0, nullptr,
                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return GetLastError();
  DWORD code = WriteAll(h, bytes);
  if (!CloseHandle(h) && code == 0) code = GetLastError();
  return code;
}
