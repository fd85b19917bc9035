// Paths of any length: the system refuses a path of PATH_MAX bytes or more
// (ENAMETOOLONG), so the directory part of such a path is opened a piece at
// a time, each piece relative to the directory opened before it, and the
// call is made relative to that directory (the *at calls). Shorter paths go
// to the plain calls. Symbolic links in the directory part are followed, as
// the system follows them in any path.
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/posix/internal.h"

namespace {

bool IsLong(const std::string &path) { return path.size() >= PATH_MAX; }

// Closes fd (unless it is AT_FDCWD) keeping errno. Can't fail.
void CloseKeepingErrno(int fd) {
  if (fd == AT_FDCWD) return;
  const int err = errno;
  close(fd);
  errno = err;
}

// The descriptor of the directory that holds the last component of path
// (AT_FDCWD for a relative path without one), opened a piece shorter than
// PATH_MAX at a time; *name: where that last component begins. On error,
// -1 is returned with errno set.
int OpenParent(const std::string &path, size_t *name) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) {
    *name = 0;
    return AT_FDCWD;
  }
  *name = slash + 1;
  int fd = AT_FDCWD;
  size_t start = 0;
  if (path[0] == '/') {
    fd = open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return -1;
    start = 1;
  }
  while (start < slash) {
    size_t end = slash;
    if (end - start >= PATH_MAX) {
      end = path.rfind('/', start + PATH_MAX - 1);
      if (end == std::string::npos || end <= start) {
        CloseKeepingErrno(fd);
        errno = ENAMETOOLONG;  // one component longer than the system takes
        return -1;
      }
    }
    const std::string piece = path.substr(start, end - start);
    const int next =
        openat(fd, piece.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    CloseKeepingErrno(fd);
    if (next < 0) return -1;
    fd = next;
    start = end + 1;
  }
  return fd;
}

}  // namespace

int PathOpen(const std::string &path, int flags) {
  if (!IsLong(path)) return open(path.c_str(), flags);
  size_t name = 0;
  const int dir = OpenParent(path, &name);
  if (dir == -1) return -1;
  const int fd = openat(dir, path.c_str() + name, flags);
  CloseKeepingErrno(dir);
  return fd;
}

int PathStat(const std::string &path, struct stat *st, bool follow) {
  if (!IsLong(path))
    return follow ? stat(path.c_str(), st) : lstat(path.c_str(), st);
  size_t name = 0;
  const int dir = OpenParent(path, &name);
  if (dir == -1) return -1;
  const int rc =
      fstatat(dir, path.c_str() + name, st, follow ? 0 : AT_SYMLINK_NOFOLLOW);
  CloseKeepingErrno(dir);
  return rc;
}

int PathUnlink(const std::string &path, bool directory) {
  if (!IsLong(path))
    return directory ? rmdir(path.c_str()) : unlink(path.c_str());
  size_t name = 0;
  const int dir = OpenParent(path, &name);
  if (dir == -1) return -1;
  const int rc =
      unlinkat(dir, path.c_str() + name, directory ? AT_REMOVEDIR : 0);
  CloseKeepingErrno(dir);
  return rc;
}

DIR *PathOpenDir(const std::string &path) {
  if (!IsLong(path)) return opendir(path.c_str());
  const int fd = PathOpen(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  DIR *dir = fdopendir(fd);
  if (dir == nullptr) CloseKeepingErrno(fd);
  return dir;
}
