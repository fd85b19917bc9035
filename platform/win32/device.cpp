// GetVolumeSeekPenalty: whether a folder's volume incurs a seek penalty,
// asked of each volume once: a drive through its device "\\.\X:", a network
// share never (it has none), any other volume through the folder itself.
#include <cwchar>
#include <cwctype>
#include <string>
#include <unordered_map>

#include "platform/platform.h"

namespace {

// The volume's answer to the storage query through the open handle h.
int AskSeekPenalty(HANDLE h) {
  STORAGE_PROPERTY_QUERY query = {};
  query.PropertyId = StorageDeviceSeekPenaltyProperty;
  query.QueryType = PropertyStandardQuery;
  DEVICE_SEEK_PENALTY_DESCRIPTOR answer = {};
  DWORD got = 0;
  if (!DeviceIoControl(h, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof(query),
                       &answer, sizeof(answer), &got, nullptr) ||
      got < sizeof(answer)) {
    return kSeekUnknown;
  }
  return answer.IncursSeekPenalty ? kSeekPenalty : kSeekNone;
}

// A drive's volume, opened as the device "\\.\X:".
int AskDrive(wchar_t letter) {
  const wchar_t volume[] = {L'\\', L'\\', L'.', L'\\', letter, L':', 0};
  HANDLE h = CreateFileW(volume, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return kSeekUnknown;
  const int answer = AskSeekPenalty(h);
  CloseHandle(h);  // nothing to do if it fails
  return answer;
}

// Any other volume, found through the folder form (a "\\?\" form) itself
// and remembered by its serial number.
int AskFolder(const std::wstring &form) {
  static std::unordered_map<DWORD, int> bySerial;
  HANDLE h = CreateFileW(form.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return kSeekUnknown;
  BY_HANDLE_FILE_INFORMATION info;
  int answer = kSeekUnknown;
  if (!GetFileInformationByHandle(h, &info)) {
    answer = AskSeekPenalty(h);
  } else {
    auto known = bySerial.find(info.dwVolumeSerialNumber);
    answer = known != bySerial.end() ? known->second : AskSeekPenalty(h);
    bySerial[info.dwVolumeSerialNumber] = answer;
  }
  CloseHandle(h);  // nothing to do if it fails
  return answer;
}

int AskLetter(wchar_t letter) {
  static std::unordered_map<wchar_t, int> byLetter;
  letter = static_cast<wchar_t>(towupper(letter));
  auto known = byLetter.find(letter);
  if (known != byLetter.end()) return known->second;
  return byLetter[letter] = AskDrive(letter);
}

bool IsSep(wchar_t c) { return c == L'\\' || c == L'/'; }

}  // namespace

int GetVolumeSeekPenalty(const wchar_t *directory) {
  // "\\?\X:\...", "\\?\UNC\server\share\...", or a device form as given.
  const std::wstring form = LongPathForm(directory);
  const bool prefixed = form.size() >= 4 && IsSep(form[0]) && IsSep(form[3]);
  if (!prefixed) return AskFolder(form);
  const wchar_t *rest = form.c_str() + 4;
  if (_wcsnicmp(rest, L"UNC", 3) == 0 && IsSep(rest[3])) return kSeekNone;
  if (iswalpha(rest[0]) && rest[1] == L':') return AskLetter(rest[0]);
  return AskFolder(form);
}
