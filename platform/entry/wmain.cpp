// Windows entry point: the arguments already arrive as wide strings
// (linked with -municode).
#include "platform/platform.h"

namespace {

// Makes cloud files' placeholders show what they are (a reparse point, the
// recall and offline attributes) in this process's listings, whatever
// default Windows chose for it: an online-only file is then never read,
// which would download it. Windows 10 1803 and later have the call; where
// it is absent (older systems, Wine) nothing changes. Can't fail.
void ExposePlaceholders() {
  const char kExposePlaceholders = 2;  // PHCM_EXPOSE_PLACEHOLDERS
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  if (ntdll == nullptr) return;
  using SetMode = char(WINAPI *)(char mode);
  const auto set = reinterpret_cast<SetMode>(reinterpret_cast<void (*)(void)>(
      GetProcAddress(ntdll, "RtlSetProcessPlaceholderCompatibilityMode")));
  if (set != nullptr) (void)set(kExposePlaceholders);  // else: as it was
}

}  // namespace

int wmain(int argc, wchar_t **argv) {
  ExposePlaceholders();
  return AppMain(argc, argv);  // it writes out the report itself
}
