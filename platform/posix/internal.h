// What the POSIX stand-in files share: handle objects, error helpers, the
// attribute rules and the wide formatting buffer. Never included by the core.
#pragma once

#include <dirent.h>
#include <pthread.h>
#include <sys/stat.h>

#include <cstdarg>
#include <cstddef>
#include <string>
#include <vector>

#include "platform/posix/posix.h"

// ---- Handle objects ----
// A HANDLE of this layer points at one PosixObject; kind tells what it is
// and is cleared when the object is released.
enum : uint32_t {
  kObjectFile = 0x454C4946u,  // "FILE"
  kObjectFind = 0x444E4946u,  // "FIND"
};

struct FindState;

// An open file: its status taken when it was opened, and whether a read
// has met its end.
struct FileState {
  struct stat st;  // as of the open, until the first look at it
  bool atEnd;
  bool statSeen;  // st has been handed out: the next look asks again
};

struct PosixObject {
  uint32_t kind;
  int fd;  // kObjectFile
  union {
    FindState *find;  // kObjectFind
    FileState *file;  // kObjectFile
  };
};

// A new object of that kind, other fields cleared. On error, null is
// returned and the last error is 8.
PosixObject *ObjectNew(uint32_t kind);
// Marks the object dead and frees it. Can't fail.
void ObjectFree(PosixObject *obj);
// The object behind h when it is a live object of that kind. On error, null
// is returned and the last error is 6.
PosixObject *ObjectFromHandle(HANDLE h, uint32_t kind);

// ---- Errors ----
// Sets the last error from errno value err. Can't fail.
void SetLastErrorFromErrno(int err);
// Sets the last error for a failed call on path (bytes): as
// SetLastErrorFromErrno, except that a missing file whose directory is
// missing too gives 3, as Windows distinguishes. Can't fail.
void SetLastErrorForPath(int err, const std::string &path);

// ---- Names ----
// Encodes len wide characters as UTF-8 onto out, U+DC80..U+DCFF back to
// their single bytes; a character no UTF-8 can carry becomes U+FFFD. The
// one encoder of names and of output. Can't fail.
void AppendUtf8(const wchar_t *text, size_t len, std::string *out);
// Decodes n bytes as WideFromBytes does, appending to out (no terminator).
// Can't fail.
void AppendWide(const char *bytes, size_t n, std::wstring *out);
// The bytes of a wide path for the OS. Can't fail.
std::string PathBytes(const wchar_t *path);
// A file time (st_mtim and the like) as Windows counts it. Can't fail.
FILETIME FileTimeFromTimespec(const struct timespec &ts);
// Windows attributes of a file with status st whose name is name (bytes; an
// empty name sets no hidden bit). Can't fail.
DWORD AttributesFromStat(const struct stat &st, const char *name);
// Writes len bytes to fd, whole or up to a failed write. Returns 0 or the
// Windows code of the failure (also the last error).
DWORD WriteAllTo(int fd, const char *bytes, size_t len);

// The volume serial and file index GetFileInformationByHandle gives for a
// file of status st (device and inode). Can't fail.
void IdentityFromStat(const struct stat &st, DWORD *volume, DWORD *indexHigh,
                      DWORD *indexLow);

// ---- Paths of any length ----
// The system's calls for a path (bytes) of any length: one of PATH_MAX
// bytes or more is opened a piece at a time (platform/posix/pathat.cpp).
// Each returns as the system call it stands for (open, stat or lstat,
// unlink or rmdir, opendir), with errno set on error.
int PathOpen(const std::string &path, int flags);
int PathStat(const std::string &path, struct stat *st, bool follow);
int PathUnlink(const std::string &path, bool directory);
DIR *PathOpenDir(const std::string &path);

// Formatting wide text: FormatWide in platform/shared/output.h.
