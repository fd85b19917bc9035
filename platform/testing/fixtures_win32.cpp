// Fixture builders for the tests, Windows.
#include <aclapi.h>

#include <string>

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

// Runs the Unix "ln -s target link" from Wine, which starts a Unix program
// without a handle to wait on: the link is awaited (at most 20 s).
bool MakeUnixLinkUnderWine(const std::wstring &target,
                           const std::wstring &link) {
  const std::string from = UnixPathUnderWine(target);
  const std::string to = UnixPathUnderWine(link);
  if (from.empty() || to.empty()) return false;
  std::wstring cmd = L"ln -s \"" + std::wstring(from.begin(), from.end()) +
                     L"\" \"" + std::wstring(to.begin(), to.end()) + L"\"";
  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessW(L"Z:\\bin\\ln", &cmd[0], nullptr, nullptr, FALSE, 0,
                      nullptr, nullptr, &si, &pi))
    return false;
  if (pi.hProcess != nullptr) {
    WaitForSingleObject(pi.hProcess, INFINITE);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
  }
  for (int i = 0; i < 1000; i++) {
    if (TsGetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES)
      return true;
    Sleep(20);
  }
  return false;
}

}  // namespace

bool MakeFolderLink(const std::wstring &target, const std::wstring &link) {
  if (RunningUnderWine()) return MakeUnixLinkUnderWine(target, link);
  return CreateSymbolicLinkW(
             link.c_str(), target.c_str(),
             SYMBOLIC_LINK_FLAG_DIRECTORY |
                 SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) != 0;
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

bool MakeFifo(const std::wstring &) { return false; }

void *HoldFileExclusively(const std::wstring &path) {
  HANDLE h = TsCreateFileW(path.c_str(), GENERIC_READ, 0, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  return h == INVALID_HANDLE_VALUE ? nullptr : h;
}

void ReleaseFileHold(void *hold) {
  if (hold != nullptr) CloseHandle(static_cast<HANDLE>(hold));
}
