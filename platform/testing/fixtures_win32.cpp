// Fixture builders for the tests, Windows.
#include <aclapi.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/testing/testing.h"

namespace {

// Wine accepts access lists but does not enforce them between processes.
bool RunningUnderWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr &&
         GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// The Unix path Wine keeps for path, or an empty string. Can't fail.
std::string UnixPathUnderWine(const std::wstring &path) {
  using ToUnix = char *(CDECL *)(const wchar_t *path);
  const auto toUnix =
      reinterpret_cast<ToUnix>(reinterpret_cast<void (*)()>(GetProcAddress(
          GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  char *unix = toUnix != nullptr ? toUnix(path.c_str()) : nullptr;
  if (unix == nullptr) return std::string();
  std::string out = unix;
  HeapFree(GetProcessHeap(), 0, unix);
  return out;
}

// Runs the Unix program at exe (a Wine path) with the quoted Unix paths of
// args, which Wine starts without a handle to wait on: until done() holds
// (at most 20 s). Returns done().
bool RunUnixUnderWine(const wchar_t *exe, const wchar_t *flag,
                      const std::vector<std::wstring> &args,
                      const std::function<bool()> &done) {
  std::wstring cmd = std::wstring(L"x ") + flag;
  for (const std::wstring &arg : args) {
    const std::string unix = UnixPathUnderWine(arg);
    if (unix.empty()) return false;
    cmd += L" \"" + std::wstring(unix.begin(), unix.end()) + L"\"";
  }
  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessW(exe, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &si, &pi))
    return false;
  if (pi.hProcess != nullptr) {
    WaitForSingleObject(pi.hProcess, INFINITE);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
  }
  for (int i = 0; i < 1000 && !done(); i++) Sleep(20);
  return done();
}

bool Exists(const std::wstring &path) {
  return TsGetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// text (UTF-8) as a wide string. Can't fail.
std::wstring WideFromUtf8(const std::string &text) {
  const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), (int)text.size(),
                                    nullptr, 0);
  std::wstring wide(n > 0 ? n : 0, L'\0');
  if (n > 0) {
    MultiByteToWideChar(CP_UTF8, 0, text.data(), (int)text.size(), &wide[0], n);
  }
  return wide;
}

}  // namespace

bool MakeFolderLink(const std::wstring &target, const std::wstring &link) {
  if (RunningUnderWine())
    return RunUnixUnderWine(L"Z:\\bin\\ln", L"-s", {target, link},
                            [&] { return Exists(link); });
  return CreateSymbolicLinkW(
             link.c_str(), target.c_str(),
             SYMBOLIC_LINK_FLAG_DIRECTORY |
                 SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) != 0;
}

bool RemoveFolderLink(const std::wstring &link) {
  if (RunningUnderWine())
    return RunUnixUnderWine(L"Z:\\bin\\rm", L"-f", {link},
                            [&] { return !Exists(link); });
  return RemoveDirectoryW(link.c_str()) != 0;
}

bool SetUnreadable(const std::wstring &path) {
  if (RunningUnderWine()) return false;
  // A protected access list with no entry grants nobody anything.
  ACL acl;
  if (!InitializeAcl(&acl, sizeof(acl), ACL_REVISION)) return false;
  return SetNamedSecurityInfoW(
             const_cast<wchar_t *>(path.c_str()), SE_FILE_OBJECT,
             DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
             nullptr, nullptr, &acl, nullptr) == ERROR_SUCCESS;
}

bool SetHidden(const std::wstring &path) {
  DWORD attr = TsGetFileAttributesW(path.c_str());
  if (attr == INVALID_FILE_ATTRIBUTES) return false;
  return TsSetFileAttributesW(path.c_str(), attr | FILE_ATTRIBUTE_HIDDEN) != 0;
}

bool MakeHardLink(const std::wstring &existing, const std::wstring &link) {
  return CreateHardLinkW(link.c_str(), existing.c_str(), nullptr) != 0;
}

bool MakeSymlink(const std::wstring &, const std::wstring &) { return false; }

bool MakeFifo(const std::wstring &path) {
  return RunLinuxShell("mkfifo \"$1\"", {path});
}

// Wine starts a Linux program without a process to wait on: the script
// ends by writing its status to a marker file, which is waited for (at
// most 20 s).
bool RunLinuxShell(const std::string &script,
                   const std::vector<std::wstring> &paths) {
  typedef char *(CDECL * UnixName)(LPCWSTR);
  const auto unixName =
      reinterpret_cast<UnixName>(reinterpret_cast<void *>(GetProcAddress(
          GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (unixName == nullptr) return false;
  static unsigned count = 0;
  wchar_t temp[MAX_PATH + 1];
  const DWORD t = GetTempPathW(MAX_PATH + 1, temp);
  if (t == 0 || t > MAX_PATH) return false;
  const std::wstring marker = std::wstring(temp) + L"twinsift-sh-" +
                              std::to_wstring(GetCurrentProcessId()) + L"-" +
                              std::to_wstring(count++);
  std::vector<std::wstring> all = paths;
  all.push_back(marker);
  const std::string wrapped =
      "(" + script + "); echo $? > \"${" + std::to_string(all.size()) +
      "}.part\" && mv \"${" + std::to_string(all.size()) + "}.part\" \"${" +
      std::to_string(all.size()) + "}\"";
  std::vector<std::wstring> args = {L"-c", WideFromUtf8(wrapped), L"sh"};
  for (const std::wstring &path : all) {
    char *name = unixName(path.c_str());
    if (name == nullptr) return false;
    args.push_back(WideFromUtf8(name));
    HeapFree(GetProcessHeap(), 0, name);
  }
  ProcessResult run;
  if (!RunProcess(L"Z:\\bin\\sh", args, L"", &run)) return false;
  std::string status;
  for (int i = 0; i < 1000 && !ReadBytes(marker, &status); i++) Sleep(20);
  TsDeleteFileW(marker.c_str());
  return status.rfind("0", 0) == 0;
}

void *HoldFileExclusively(const std::wstring &path) {
  HANDLE h = TsCreateFileW(path.c_str(), GENERIC_READ, 0, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  return h == INVALID_HANDLE_VALUE ? nullptr : h;
}

void ReleaseFileHold(void *hold) {
  if (hold != nullptr) CloseHandle(static_cast<HANDLE>(hold));
}
