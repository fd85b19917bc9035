// Test services on Windows: child processes, fixture trees, temporary folders.
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "platform/testing/testing.h"
// FSCTL_SET_SPARSE (left out by WIN32_LEAN_AND_MEAN).
#include <winioctl.h>

const wchar_t kPathSep = L'\\';
const char *const kLineEnd = "\r\n";

namespace {

// One argument as the C runtime of the child parses it back: quoted when it
// is empty or holds blanks or quotes; a backslash run is doubled before a
// quote (and before the closing quote), a quote is escaped. Can't fail.
std::wstring QuoteArg(const std::wstring &arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    return arg;
  }
  std::wstring quoted = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      backslashes++;
      continue;
    }
    quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    quoted += c;
    backslashes = 0;
  }
  quoted.append(backslashes * 2, L'\\');
  return quoted + L"\"";
}

// Appends everything read from h until the writer closes it. Can't fail.
void ReadAll(HANDLE h, std::string *out) {
  char buf[65536];
  DWORD got = 0;
  while (ReadFile(h, buf, sizeof(buf), &got, nullptr) && got != 0) {
    out->append(buf, got);
  }
}

// A pipe whose write end the child inherits. On error, false is returned.
bool ChildPipe(HANDLE *readEnd, HANDLE *writeEnd) {
  SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
  if (!CreatePipe(readEnd, writeEnd, &sa, 0)) return false;
  SetHandleInformation(*readEnd, HANDLE_FLAG_INHERIT, 0);
  return true;
}

// Starts the command line cmd in cwd (empty: ours) with standard input
// empty and the given output handles. On error, false is returned.
bool StartChild(std::wstring *cmd, const std::wstring &cwd, HANDLE out,
                HANDLE err, PROCESS_INFORMATION *pi) {
  SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
  // The null device by its device name (the wrappers would reach a file).
  HANDLE nul = CreateFileW(L"\\\\.\\NUL", GENERIC_READ, FILE_SHARE_READ, &sa,
                           OPEN_EXISTING, 0, nullptr);
  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = nul;
  si.hStdOutput = out;
  si.hStdError = err;
  const BOOL started =
      CreateProcessW(nullptr, &(*cmd)[0], nullptr, nullptr, TRUE, 0, nullptr,
                     cwd.empty() ? nullptr : cwd.c_str(), &si, pi);
  if (nul != INVALID_HANDLE_VALUE) CloseHandle(nul);
  return started != 0;
}

// Removes path and, for a directory that is not a link, everything below
// it, clearing read-only marks first. Can't fail.
void RemovePath(const std::wstring &path) {
  const DWORD attrs = TsGetFileAttributesW(path.c_str());
  if (attrs == INVALID_FILE_ATTRIBUTES) return;
  TsSetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (!(attrs & FILE_ATTRIBUTE_DIRECTORY)) {
    TsDeleteFileW(path.c_str());
    return;
  }
  WIN32_FIND_DATAW data;
  HANDLE find = (attrs & FILE_ATTRIBUTE_REPARSE_POINT)
                    ? INVALID_HANDLE_VALUE
                    : TsFindFirstFileW((path + L"\\*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = data.cFileName;
      if (name != L"." && name != L"..") RemovePath(path + L"\\" + name);
    } while (FindNextFileW(find, &data));
    FindClose(find);
  }
  TsRemoveDirectoryW(path.c_str());
}

// A file opened for writing: created anew (emptied when it exists).
HANDLE CreateForWriting(const std::wstring &path) {
  return TsCreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

std::string OutputBytes(const std::wstring &text) {
  const std::string bytes = OutputEncode(text.data(), text.size());
  std::string out;  // the text-mode stream writes each LF as CR LF
  for (char c : bytes) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

bool RunProcess(const std::wstring &exe, const std::vector<std::wstring> &args,
                const std::wstring &cwd, ProcessResult *result) {
  return RunProcessWith(exe, args, cwd, OutputSink::kPipe, result);
}

namespace {

// The write end the child gets for sink, and for a pipe its read end (null
// otherwise). On error, false is returned. Under Wine the Linux full device
// is reached through drive Z:.
bool OutputFor(OutputSink sink, HANDLE *readEnd, HANDLE *writeEnd) {
  *readEnd = *writeEnd = nullptr;
  if (sink == OutputSink::kClosed) return true;
  if (sink != OutputSink::kFullDevice) return ChildPipe(readEnd, writeEnd);
  SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
  *writeEnd = CreateFileW(L"Z:\\dev\\full", GENERIC_WRITE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                          OPEN_EXISTING, 0, nullptr);
  if (*writeEnd != INVALID_HANDLE_VALUE) return true;
  *writeEnd = nullptr;
  return false;
}

// Reads h until a line end has come, then closes it. Can't fail.
void ReadFirstLine(HANDLE h, std::string *out) {
  char buf[4096];
  DWORD got = 0;
  while (out->find('\n') == std::string::npos &&
         ReadFile(h, buf, sizeof(buf), &got, nullptr) && got != 0) {
    out->append(buf, got);
  }
}

// Ends the child when it still runs after limitMs. Can't fail.
void EndAfter(HANDLE process, DWORD limitMs, bool *timedOut) {
  if (WaitForSingleObject(process, limitMs) != WAIT_TIMEOUT) return;
  *timedOut = true;
  TerminateProcess(process, 1);
}

// RunProcessWith, the child ended after limitMs (INFINITE: never).
bool RunChild(const std::wstring &exe, const std::vector<std::wstring> &args,
              const std::wstring &cwd, OutputSink sink, DWORD limitMs,
              ProcessResult *result) {
  HANDLE outRead, outWrite, errRead, errWrite;
  if (!OutputFor(sink, &outRead, &outWrite)) return false;
  if (!ChildPipe(&errRead, &errWrite)) {
    if (outRead != nullptr) CloseHandle(outRead);
    if (outWrite != nullptr) CloseHandle(outWrite);
    return false;
  }
  std::wstring cmd = QuoteArg(exe);
  for (const std::wstring &arg : args) cmd += L" " + QuoteArg(arg);
  PROCESS_INFORMATION pi = {};
  const bool started = StartChild(&cmd, cwd, outWrite, errWrite, &pi);
  if (outWrite != nullptr) CloseHandle(outWrite);
  CloseHandle(errWrite);
  *result = ProcessResult();
  std::thread errReader(ReadAll, errRead, &result->err);
  std::thread watchdog;
  if (started && limitMs != INFINITE) {
    watchdog = std::thread(EndAfter, pi.hProcess, limitMs, &result->timedOut);
  }
  if (sink == OutputSink::kFirstLine)
    ReadFirstLine(outRead, &result->out);
  else if (outRead != nullptr)
    ReadAll(outRead, &result->out);
  if (outRead != nullptr) CloseHandle(outRead);
  errReader.join();
  if (watchdog.joinable()) watchdog.join();
  CloseHandle(errRead);
  if (!started) return false;
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  result->exitCode = (int)code;
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return true;
}

}  // namespace

bool RunProcessesToFiles(const std::wstring &exe,
                         const std::vector<std::vector<std::wstring>> &argsList,
                         const std::vector<std::wstring> &outPaths,
                         const std::wstring &cwd, std::vector<int> *exitCodes) {
  SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
  std::vector<PROCESS_INFORMATION> pis(argsList.size());
  std::vector<bool> started(argsList.size(), false);
  for (size_t i = 0; i < argsList.size(); i++) {
    // As cmd's redirection opens it: others may read and write it.
    HANDLE out = TsCreateFileW(outPaths[i].c_str(), GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                               CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    HANDLE err = TsCreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_WRITE, &sa,
                               OPEN_EXISTING, 0, nullptr);
    std::wstring cmd = QuoteArg(exe);
    for (const std::wstring &arg : argsList[i]) cmd += L" " + QuoteArg(arg);
    started[i] =
        out != INVALID_HANDLE_VALUE && StartChild(&cmd, cwd, out, err, &pis[i]);
    if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
    if (err != INVALID_HANDLE_VALUE) CloseHandle(err);
  }
  exitCodes->assign(argsList.size(), -1);
  bool all = true;
  for (size_t i = 0; i < pis.size(); i++) {
    all = all && started[i];
    if (!started[i]) continue;
    WaitForSingleObject(pis[i].hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(pis[i].hProcess, &code);
    (*exitCodes)[i] = (int)code;
    CloseHandle(pis[i].hThread);
    CloseHandle(pis[i].hProcess);
  }
  return all;
}

bool RunProcessWith(const std::wstring &exe,
                    const std::vector<std::wstring> &args,
                    const std::wstring &cwd, OutputSink sink,
                    ProcessResult *result) {
  return RunChild(exe, args, cwd, sink, INFINITE, result);
}

bool RunProcessWithin(const std::wstring &exe,
                      const std::vector<std::wstring> &args,
                      const std::wstring &cwd, unsigned limitSeconds,
                      ProcessResult *result) {
  return RunChild(exe, args, cwd, OutputSink::kPipe, limitSeconds * 1000,
                  result);
}

std::wstring ExecutableDir() {
  std::vector<wchar_t> buf(32768);
  const DWORD n = GetModuleFileNameW(nullptr, buf.data(), (DWORD)buf.size());
  std::wstring path(buf.data(), n);
  const size_t sep = path.find_last_of(L"\\/");
  return sep == std::wstring::npos ? L"." : path.substr(0, sep);
}

std::wstring MakeTempDir() {
  wchar_t tmp[MAX_PATH + 1];
  const DWORD n = GetTempPathW(MAX_PATH + 1, tmp);
  if (n == 0 || n > MAX_PATH) return std::wstring();
  static unsigned counter = 0;
  for (int attempt = 0; attempt < 100; attempt++) {
    const std::wstring dir = std::wstring(tmp) + L"twinsift-test-" +
                             std::to_wstring(GetCurrentProcessId()) + L"-" +
                             std::to_wstring(counter++) + L"-" +
                             std::to_wstring(GetTickCount());
    if (TsCreateDirectoryW(dir.c_str(), nullptr)) return dir;
    if (GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  return std::wstring();
}

bool MakeDir(const std::wstring &path) {
  return TsCreateDirectoryW(path.c_str(), nullptr) != 0;
}

bool WriteBytes(const std::wstring &path, const std::string &bytes) {
  HANDLE h = CreateForWriting(path);
  if (h == INVALID_HANDLE_VALUE) return false;
  size_t done = 0;
  DWORD wrote = 0;
  while (done < bytes.size() &&
         WriteFile(h, bytes.data() + done, (DWORD)(bytes.size() - done), &wrote,
                   nullptr) &&
         wrote != 0) {
    done += wrote;
  }
  return CloseHandle(h) && done == bytes.size();
}

bool ReadBytes(const std::wstring &path, std::string *bytes) {
  HANDLE h = TsCreateFileW(path.c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  bytes->clear();
  ReadAll(h, bytes);
  CloseHandle(h);
  return true;
}

bool PathExists(const std::wstring &path) {
  return TsGetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool SetReadOnly(const std::wstring &path, bool readOnly) {
  const DWORD attrs = TsGetFileAttributesW(path.c_str());
  if (attrs == INVALID_FILE_ATTRIBUTES) return false;
  DWORD next = readOnly ? (attrs | FILE_ATTRIBUTE_READONLY)
                        : (attrs & ~(DWORD)FILE_ATTRIBUTE_READONLY);
  if (next == 0) next = FILE_ATTRIBUTE_NORMAL;
  return TsSetFileAttributesW(path.c_str(), next) != 0;
}

void RemoveTree(const std::wstring &path) { RemovePath(path); }

bool MakeSparseFile(const std::wstring &path, unsigned long long size) {
  HANDLE h = CreateForWriting(path);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD unused = 0;  // plain file where sparse files are not supported
  DeviceIoControl(h, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &unused,
                  nullptr);
  LARGE_INTEGER end;
  end.QuadPart = (LONGLONG)size;
  const bool ok =
      SetFilePointerEx(h, end, nullptr, FILE_BEGIN) && SetEndOfFile(h);
  return CloseHandle(h) && ok;
}

std::wstring CurrentDir() {
  const DWORD need = GetCurrentDirectoryW(0, nullptr);
  if (need == 0) return std::wstring();
  std::vector<wchar_t> buf(need);
  const DWORD n = GetCurrentDirectoryW(need, buf.data());
  std::wstring dir(buf.data(), n);
  if (dir.size() > 3 && (dir.back() == L'\\' || dir.back() == L'/')) {
    dir.pop_back();
  }
  return dir;
}

bool RunningAsRoot() { return false; }
