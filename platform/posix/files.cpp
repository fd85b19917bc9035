// Reading, identifying and erasing files: CreateFileW, ReadFile,
// GetFileInformationByHandle, DeleteFileW, RemoveDirectoryW.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <new>
#include <string>

#include "platform/posix/internal.h"

// Seconds between 1601-01-01 and 1970-01-01.
static const uint64_t kEpochDelta = 11644473600ull;

FILETIME FileTimeFromTimespec(const struct timespec &ts) {
  uint64_t ticks = ((uint64_t)ts.tv_sec + kEpochDelta) * 10000000ull +
                   (uint64_t)ts.tv_nsec / 100;
  return {(DWORD)ticks, (DWORD)(ticks >> 32)};
}

namespace {

// True when the arguments ask for what this layer supports: reading an
// existing file, with the sequential-scan hint at most, or with backup
// semantics a directory (to learn its identity). Can't fail.
bool IsSupportedOpen(DWORD access, DWORD share, SECURITY_ATTRIBUTES *sa,
                     DWORD disposition, DWORD flags, HANDLE templ) {
  const DWORD shares = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  const DWORD hints = FILE_FLAG_SEQUENTIAL_SCAN | FILE_ATTRIBUTE_NORMAL |
                      FILE_FLAG_BACKUP_SEMANTICS;
  return access == GENERIC_READ && disposition == OPEN_EXISTING &&
         (share & ~shares) == 0 && (flags & ~hints) == 0 && sa == nullptr &&
         templ == nullptr;
}

// Files up to this size are read whole by the kernel's first read-ahead:
// for them the sequential hint changes nothing and is not passed on.
const off_t kHintMinSize = 128 * 1024;

// Opens path for reading without blocking on a FIFO, and fills *st with its
// status. O_NONBLOCK stays set: reads of a regular file ignore it. Returns
// the descriptor of a regular file, or of a directory when dirToo; on
// error, -1 is returned with the last error set (5 for anything else).
int OpenRegular(const std::string &path, struct stat *st, bool dirToo) {
  const int fd = PathOpen(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    SetLastErrorForPath(errno, path);
    return -1;
  }
  if (fstat(fd, st) != 0 ||
      !(S_ISREG(st->st_mode) || (dirToo && S_ISDIR(st->st_mode)))) {
    SetLastError(ERROR_ACCESS_DENIED);  // as Windows refuses a directory
    close(fd);
    return -1;
  }
  if (st->st_size > kHintMinSize) {
    posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  }
  return fd;
}

// Windows refuses to erase a file that another handle holds open without
// FILE_SHARE_DELETE. Here a shared lock (flock) on the open stands for such
// a handle, and an erasure first takes an exclusive one: so a run holding a
// kept copy keeps every other run from erasing it. Only programs that take
// these locks see them. Returns false with the last error 32 when another
// open holds the file the other way; a file system without locks holds
// nothing and refuses nothing. Never waits.
bool HoldAgainstErasure(int fd, int how) {
  while (flock(fd, how | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) return true;
    SetLastError(ERROR_SHARING_VIOLATION);
    return false;
  }
  return true;
}

// HoldAgainstErasure for an open of a path: an erasure that held the file
// when it was opened has unlinked it by the time the lock is had, which
// the file's link count then shows (*st is taken anew). False with the
// last error 32, or 2 for a file erased meanwhile.
bool HoldAgainstFreshErasure(int fd, struct stat *st) {
  if (!HoldAgainstErasure(fd, LOCK_SH)) return false;
  if (fstat(fd, st) == 0 && st->st_nlink > 0) return true;
  SetLastError(ERROR_FILE_NOT_FOUND);
  return false;
}

// The erasure's side of HoldAgainstErasure: false with the last error 32
// while another open holds path. A file that cannot be opened here is
// left to unlink to judge.
bool FreeToErase(const std::string &path, int *fd) {
  *fd =
      PathOpen(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW);
  if (*fd < 0) return true;
  struct stat st;
  if (fstat(*fd, &st) != 0 || !S_ISREG(st.st_mode)) return true;
  return HoldAgainstErasure(*fd, LOCK_EX);
}

}  // namespace

// On error, INVALID_HANDLE_VALUE is returned with the last error: 87 for
// arguments this layer does not support, 2/3 not found, 5 not a regular
// file or no permission, or the translated errno.
HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD share,
                   SECURITY_ATTRIBUTES *sa, DWORD disposition, DWORD flags,
                   HANDLE templ) {
  if (path == nullptr ||
      !IsSupportedOpen(access, share, sa, disposition, flags, templ)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  if (*path == 0) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  FileState *file = new (std::nothrow) FileState();
  if (file == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
  }
  int fd = OpenRegular(PathBytes(path), &file->st,
                       (flags & FILE_FLAG_BACKUP_SEMANTICS) != 0);
  if (fd >= 0 && !(share & FILE_SHARE_DELETE) && S_ISREG(file->st.st_mode) &&
      !HoldAgainstFreshErasure(fd, &file->st)) {
    close(fd);
    fd = -1;
  }
  PosixObject *obj = fd < 0 ? nullptr : ObjectNew(kObjectFile);
  if (obj == nullptr) {
    if (fd >= 0) close(fd);
    delete file;
    return INVALID_HANDLE_VALUE;
  }
  obj->fd = fd;
  obj->file = file;
  return obj;
}

void IdentityFromStat(const struct stat &st, DWORD *volume, DWORD *indexHigh,
                      DWORD *indexLow) {
  const uint64_t dev = (uint64_t)st.st_dev, ino = (uint64_t)st.st_ino;
  *volume = (DWORD)(dev ^ (dev >> 32));
  *indexHigh = (DWORD)(ino >> 32);
  *indexLow = (DWORD)ino;
}

// Reads up to toRead bytes; fewer only at the end of the file (0 there). A
// regular file (the only kind this layer opens) reads short only at its
// end: a short read ends the call, and the next call returns 0 at once, as
// the system would have had the file not grown in between. On error, FALSE
// is returned with the last error 6 (not a file handle), 87 (overlapped or
// no count) or the translated errno; *read holds the bytes read before the
// failure.
BOOL ReadFile(HANDLE file, LPVOID buf, DWORD toRead, DWORD *read,
              OVERLAPPED *ovl) {
  PosixObject *obj = ObjectFromHandle(file, kObjectFile);
  if (obj == nullptr) return FALSE;
  if (read == nullptr || ovl != nullptr || (buf == nullptr && toRead != 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *read = 0;
  while (*read < toRead && !obj->file->atEnd) {
    const size_t wanted = toRead - *read;
    const ssize_t n = ::read(obj->fd, (char *)buf + *read, wanted);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      SetLastErrorFromErrno(errno);
      return FALSE;
    }
    *read += (DWORD)n;
    obj->file->atEnd = (size_t)n < wanted;
  }
  return TRUE;
}

BOOL ReadFileCached(HANDLE file, void *buf, DWORD toRead, DWORD *read) {
  PosixObject *obj = ObjectFromHandle(file, kObjectFile);
  if (obj == nullptr || read == nullptr) return FALSE;
  *read = 0;
  if (obj->file->atEnd) return TRUE;
  struct iovec v = {buf, toRead};
  for (;;) {
    // From the current position (-1), which the read moves on.
    const ssize_t n = preadv2(obj->fd, &v, 1, -1, RWF_NOWAIT);
    if (n < 0 && errno == EINTR) continue;
    if (n >= 0) {
      *read = (DWORD)n;
      obj->file->atEnd = n == 0 && toRead > 0;  // as ReadFile's next read
      return TRUE;
    }
    if (errno == EAGAIN)
      SetLastError(ERROR_IO_PENDING);
    else if (errno == EOPNOTSUPP)
      SetLastError(ERROR_NOT_SUPPORTED);
    else
      SetLastErrorFromErrno(errno);
    return FALSE;
  }
}

BOOL SetFilePointerEx(HANDLE file, LARGE_INTEGER distance,
                      PLARGE_INTEGER newPos, DWORD method) {
  PosixObject *obj = ObjectFromHandle(file, kObjectFile);
  if (obj == nullptr) return FALSE;
  if (method != FILE_BEGIN || distance.QuadPart < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const off_t at = lseek(obj->fd, (off_t)distance.QuadPart, SEEK_SET);
  if (at < 0) {
    SetLastErrorFromErrno(errno);
    return FALSE;
  }
  obj->file->atEnd = false;
  if (newPos != nullptr) newPos->QuadPart = at;
  return TRUE;
}

// The file's status as taken when it was opened: the identity cannot have
// changed since, the size and times only through a writer working on the
// file meanwhile. On error, FALSE is returned with the last error 6 (not a
// file handle) or 87 (no record).
BOOL GetFileInformationByHandle(HANDLE file, BY_HANDLE_FILE_INFORMATION *info) {
  PosixObject *obj = ObjectFromHandle(file, kObjectFile);
  if (obj == nullptr) return FALSE;
  if (info == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  // The first look after the open takes the status the open checked; a
  // later one asks again, as Windows does, to see a file that changed.
  if (obj->file->statSeen && fstat(obj->fd, &obj->file->st) != 0) {
    SetLastErrorFromErrno(errno);
    return FALSE;
  }
  obj->file->statSeen = true;
  const struct stat &st = obj->file->st;
  const uint64_t size = (uint64_t)st.st_size;
  info->dwFileAttributes = AttributesFromStat(st, "");
  IdentityFromStat(st, &info->dwVolumeSerialNumber, &info->nFileIndexHigh,
                   &info->nFileIndexLow);
  info->nFileSizeHigh = (DWORD)(size >> 32);
  info->nFileSizeLow = (DWORD)size;
  info->nNumberOfLinks = (DWORD)st.st_nlink;
  info->ftCreationTime = FileTimeFromTimespec(st.st_ctim);
  info->ftLastWriteTime = FileTimeFromTimespec(st.st_mtim);
  return TRUE;
}

DWORD GetFinalPathNameByHandleW(HANDLE file, LPWSTR path, DWORD capacity,
                                DWORD flags) {
  PosixObject *obj = ObjectFromHandle(file, kObjectFile);
  if (obj == nullptr) return 0;
  if (flags != 0 || (path == nullptr && capacity != 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const std::string link = "/proc/self/fd/" + std::to_string(obj->fd);
  std::string target(256, '\0');
  for (;;) {
    const ssize_t n = readlink(link.c_str(), target.data(), target.size());
    if (n < 0) {
      SetLastErrorFromErrno(errno);
      return 0;
    }
    if ((size_t)n < target.size()) {
      target.resize((size_t)n);
      break;
    }
    target.resize(target.size() * 2);
  }
  std::wstring wide;
  AppendWide(target.data(), target.size(), &wide);
  if (wide.size() + 1 > capacity) return (DWORD)(wide.size() + 1);
  wmemcpy(path, wide.c_str(), wide.size() + 1);
  return (DWORD)wide.size();
}

// Unlinks a file or a symbolic link (never what it points to). On error,
// FALSE is returned and nothing is removed: last error 5 for a directory or
// a read-only file (owner write bit clear), 32 while another open holds it
// against erasure (CreateFileW without FILE_SHARE_DELETE), 2/3 not found,
// 87 no path, or the translated errno.
BOOL DeleteFileW(LPCWSTR path) {
  if (path == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::string bytes = PathBytes(path);
  struct stat st;
  if (PathStat(bytes, &st, false) != 0) {
    SetLastErrorForPath(errno, bytes);
    return FALSE;
  }
  if (S_ISDIR(st.st_mode) ||
      (!S_ISLNK(st.st_mode) && !(st.st_mode & S_IWUSR))) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  int fd = -1;
  const bool unheld = FreeToErase(bytes, &fd);
  const bool gone = unheld && PathUnlink(bytes, false) == 0;
  const int err = errno;
  if (fd >= 0) close(fd);  // lets the lock go once the name is gone
  if (!unheld) return FALSE;
  if (!gone) {
    SetLastErrorForPath(err, bytes);
    return FALSE;
  }
  return TRUE;
}

// On error, FALSE is returned and nothing is removed: last error 145 for a
// directory that is not empty, 267 for something that is not a directory,
// 2/3 not found, 87 no path, or the translated errno.
BOOL RemoveDirectoryW(LPCWSTR path) {
  if (path == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::string bytes = PathBytes(path);
  if (PathUnlink(bytes, true) == 0) return TRUE;
  const int err = errno;
  struct stat st;
  if (err == ENOTEMPTY || err == EEXIST) {
    SetLastError(ERROR_DIR_NOT_EMPTY);
  } else if (err == ENOTDIR && PathStat(bytes, &st, false) == 0) {
    SetLastError(ERROR_DIRECTORY);
  } else {
    SetLastErrorForPath(err, bytes);
  }
  return FALSE;
}
