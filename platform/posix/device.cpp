// DeviceIoControl: whether the device that holds an open file incurs a seek
// penalty, from the block layer's rotational flag of its disk.
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/posix/internal.h"
#include "platform/posix/posix.h"

namespace {

// The rotational flag of the disk behind device dev: 1 or 0 in *rotational
// and true, or false with the last error set. A device with no block
// device behind it has no disk and no seek penalty.
bool diskRotational(dev_t dev, bool *rotational) {
  char link[64];
  snprintf(link, sizeof(link), "/sys/dev/block/%u:%u", major(dev), minor(dev));
  char real[PATH_MAX];
  if (realpath(link, real) == nullptr) {
    if (errno != ENOENT) {
      SetLastErrorFromErrno(errno);
      return false;
    }
    *rotational = false;  // tmpfs, overlay, a network mount
    return true;
  }
  std::string disk = real;
  struct stat st;
  // A partition's queue is its parent disk's.
  if (stat((disk + "/partition").c_str(), &st) == 0)
    disk = disk.substr(0, disk.rfind('/'));
  FILE *f = fopen((disk + "/queue/rotational").c_str(), "r");
  if (f == nullptr) {
    SetLastErrorFromErrno(errno);
    return false;
  }
  int c = fgetc(f);
  fclose(f);
  if (c != '0' && c != '1') {
    SetLastError(ERROR_INVALID_FUNCTION);
    return false;
  }
  *rotational = c == '1';
  return true;
}

}  // namespace

BOOL DeviceIoControl(HANDLE device, DWORD code, void *in, DWORD inSize,
                     void *out, DWORD outSize, DWORD *returned,
                     OVERLAPPED *ovl) {
  PosixObject *obj = ObjectFromHandle(device, kObjectFile);
  if (obj == nullptr) return FALSE;
  const STORAGE_PROPERTY_QUERY *query =
      static_cast<const STORAGE_PROPERTY_QUERY *>(in);
  if (in == nullptr || inSize < sizeof(*query) || returned == nullptr ||
      ovl != nullptr || out == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (code != IOCTL_STORAGE_QUERY_PROPERTY ||
      query->PropertyId != StorageDeviceSeekPenaltyProperty ||
      query->QueryType != PropertyStandardQuery) {
    SetLastError(ERROR_INVALID_FUNCTION);
    return FALSE;
  }
  if (outSize < sizeof(DEVICE_SEEK_PENALTY_DESCRIPTOR)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  bool rotational = false;
  if (!diskRotational(obj->file->st.st_dev, &rotational)) return FALSE;
  DEVICE_SEEK_PENALTY_DESCRIPTOR d;
  memset(&d, 0, sizeof(d));
  d.Version = sizeof(d);
  d.Size = sizeof(d);
  d.IncursSeekPenalty = rotational ? TRUE : FALSE;
  memcpy(out, &d, sizeof(d));
  *returned = sizeof(d);
  return TRUE;
}
