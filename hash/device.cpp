// Whether a file's volume incurs a seek penalty, asked of the volume once.
#include <cwctype>
#include <string>
#include <unordered_map>

#include "hash/hash.h"

struct DeviceAnswers {
  std::unordered_map<wchar_t, int> byLetter;
  std::unordered_map<std::wstring, int> byDirectory;
  std::unordered_map<DWORD, int> byVolume;
};

namespace {

// The volume's answer to the storage query through the open handle h.
int askSeekPenalty(HANDLE h) {
  STORAGE_PROPERTY_QUERY query = {};
  query.PropertyId = StorageDeviceSeekPenaltyProperty;
  query.QueryType = PropertyStandardQuery;
  DEVICE_SEEK_PENALTY_DESCRIPTOR answer = {};
  DWORD got = 0;
  if (!platformCalls.DeviceIoControl(h, IOCTL_STORAGE_QUERY_PROPERTY, &query,
                                     sizeof(query), &answer, sizeof(answer),
                                     &got, nullptr) ||
      got < sizeof(answer)) {
    return kSeekUnknown;
  }
  return answer.IncursSeekPenalty ? kSeekPenalty : kSeekNone;
}

// A drive's volume, opened as the device "\\.\X:".
int askDrive(wchar_t letter) {
  const wchar_t volume[] = {L'\\', L'\\', L'.', L'\\', letter, L':', 0};
  HANDLE h =
      platformCalls.CreateFileW(volume, 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return kSeekUnknown;
  const int answer = askSeekPenalty(h);
  (void)platformCalls.CloseHandle(h);  // nothing to do if it fails
  return answer;
}

// The volume of a directory, found through the directory itself.
int askDirectory(DeviceAnswers *d, const std::wstring &dir) {
  HANDLE h = platformCalls.CreateFileW(dir.c_str(), GENERIC_READ,
                                       FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return kSeekUnknown;
  BY_HANDLE_FILE_INFORMATION info;
  int answer = kSeekUnknown;
  if (!platformCalls.GetFileInformationByHandle(h, &info)) {
    answer = askSeekPenalty(h);
  } else {
    auto known = d->byVolume.find(info.dwVolumeSerialNumber);
    answer = known != d->byVolume.end() ? known->second : askSeekPenalty(h);
    d->byVolume[info.dwVolumeSerialNumber] = answer;
  }
  (void)platformCalls.CloseHandle(h);  // nothing to do if it fails
  return answer;
}

bool isSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

}  // namespace

DeviceAnswers *hashDevicesNew(void) { return new DeviceAnswers; }

void hashDevicesFree(DeviceAnswers *d) { delete d; }

namespace {

// The answer for a path that names its volume: a share, or a drive.
// kSeekUnknown + 1 when it names neither.
const int kNoVolumeNamed = kSeekUnknown + 1;

int askNamedVolume(DeviceAnswers *d, const std::wstring &p) {
  size_t at = p.rfind(L"\\\\?\\", 0) == 0 ? 4 : 0;
  if (at == 0 && p.size() > 2 && isSeparator(p[0]) && isSeparator(p[1]))
    return kSeekNone;  // a network share
  if (at == 4 && p.compare(4, 4, L"UNC\\") == 0) return kSeekNone;
  if (p.size() > at + 1 && p[at + 1] == L':' && iswalpha(p[at])) {
    const wchar_t letter = static_cast<wchar_t>(towupper(p[at]));
    auto known = d->byLetter.find(letter);
    if (known != d->byLetter.end()) return known->second;
    return d->byLetter[letter] = askDrive(letter);
  }
  return kNoVolumeNamed;
}

// The full form of a relative directory, or an empty string.
std::wstring fullPath(const std::wstring &dir) {
  wchar_t small[MAX_PATH];
  DWORD n =
      platformCalls.GetFullPathNameW(dir.c_str(), MAX_PATH, small, nullptr);
  if (n > 0 && n < MAX_PATH) return small;
  if (n == 0) return L"";
  std::wstring big(n, L'\0');
  DWORD m = platformCalls.GetFullPathNameW(dir.c_str(), n, big.data(), nullptr);
  if (m == 0 || m >= n) return L"";
  big.resize(m);
  return big;
}

}  // namespace

int hashSeekPenalty(DeviceAnswers *d, const wchar_t *path) {
  const std::wstring p = path;
  const int named = askNamedVolume(d, p);
  if (named != kNoVolumeNamed) return named;
  size_t end = p.size();
  while (end > 0 && !isSeparator(p[end - 1])) end--;
  std::wstring dir = p.substr(0, end > 1 ? end - 1 : end);
  if (dir.empty()) dir = L".";
  auto known = d->byDirectory.find(dir);
  if (known != d->byDirectory.end()) return known->second;
  // A relative path: the drive or share its full form names, if any.
  int answer = askNamedVolume(d, fullPath(dir));
  if (answer == kNoVolumeNamed) answer = askDirectory(d, dir);
  return d->byDirectory[dir] = answer;
}
