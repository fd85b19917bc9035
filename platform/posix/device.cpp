// GetVolumeSeekPenalty: whether the disk that holds a directory incurs a
// seek penalty, from the block layer's rotational flag, asked once per
// device.
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unordered_map>

#include "platform/platform.h"
#include "platform/posix/internal.h"

namespace {

// The rotational flag of the disk behind device dev: kSeekPenalty or
// kSeekNone, or kSeekUnknown when it can't be read. A device with no block
// device behind it (tmpfs, overlay, a network mount) has no disk and no
// seek penalty.
int diskAnswer(dev_t dev) {
  char link[64];
  snprintf(link, sizeof(link), "/sys/dev/block/%u:%u", major(dev), minor(dev));
  char real[PATH_MAX];
  if (realpath(link, real) == nullptr)
    return errno == ENOENT ? kSeekNone : kSeekUnknown;
  std::string disk = real;
  struct stat st;
  // A partition's queue is its parent disk's.
  if (stat((disk + "/partition").c_str(), &st) == 0)
    disk = disk.substr(0, disk.rfind('/'));
  FILE *f = fopen((disk + "/queue/rotational").c_str(), "r");
  if (f == nullptr) return kSeekUnknown;
  const int c = fgetc(f);
  fclose(f);
  if (c != '0' && c != '1') return kSeekUnknown;
  return c == '1' ? kSeekPenalty : kSeekNone;
}

}  // namespace

int GetVolumeSeekPenalty(const wchar_t *directory) {
  static std::unordered_map<dev_t, int> byDevice;
  struct stat st;
  if (PathStat(PathBytes(directory), &st, true) != 0) return kSeekUnknown;
  auto known = byDevice.find(st.st_dev);
  if (known != byDevice.end()) return known->second;
  return byDevice[st.st_dev] = diskAnswer(st.st_dev);
}
