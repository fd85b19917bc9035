// Fixture builders for the tests, Windows.
#include <aclapi.h>

#include "platform/platform.h"
#include "platform/testing/testing.h"

namespace {

// Wine accepts access lists but does not enforce them between processes.
bool RunningUnderWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr &&
         GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

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

bool RunLinuxShell(const std::string &script,
                   const std::vector<std::wstring> &paths) {
  typedef char *(CDECL * UnixName)(LPCWSTR);
  const auto unixName =
      reinterpret_cast<UnixName>(reinterpret_cast<void *>(GetProcAddress(
          GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (unixName == nullptr) return false;
  std::vector<std::wstring> args = {L"-c", WideFromUtf8(script), L"sh"};
  for (const std::wstring &path : paths) {
    char *name = unixName(path.c_str());
    if (name == nullptr) return false;
    args.push_back(WideFromUtf8(name));
    HeapFree(GetProcessHeap(), 0, name);
  }
  ProcessResult run;
  return RunProcess(L"Z:\\bin\\sh", args, L"", &run) && run.exitCode == 0;
}

void *HoldFileExclusively(const std::wstring &path) {
  HANDLE h = TsCreateFileW(path.c_str(), GENERIC_READ, 0, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  return h == INVALID_HANDLE_VALUE ? nullptr : h;
}

void ReleaseFileHold(void *hold) {
  if (hold != nullptr) CloseHandle(static_cast<HANDLE>(hold));
}
