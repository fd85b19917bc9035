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

bool MakeFifo(const std::wstring &) { return false; }

void *HoldFileExclusively(const std::wstring &path) {
  HANDLE h = TsCreateFileW(path.c_str(), GENERIC_READ, 0, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  return h == INVALID_HANDLE_VALUE ? nullptr : h;
}

void ReleaseFileHold(void *hold) {
  if (hold != nullptr) CloseHandle(static_cast<HANDLE>(hold));
}
