// Error codes: the thread's last error, errno translated once, and the
// English texts Windows gives for the codes this layer produces.
#include <sys/stat.h>

#include <cerrno>
#include <cwchar>

#include "platform/posix/internal.h"

namespace {

thread_local DWORD lastError = ERROR_SUCCESS;

struct MessageText {
  DWORD code;
  const wchar_t *text;
};

// Windows' own wording, so that a report reads the same on both builds.
const MessageText kMessages[] = {
    {0, L"The operation completed successfully."},
    {1, L"Incorrect function."},
    {2, L"The system cannot find the file specified."},
    {3, L"The system cannot find the path specified."},
    {4, L"The system cannot open the file."},
    {5, L"Access is denied."},
    {6, L"The handle is invalid."},
    {8,
     L"Not enough memory resources are available to process this "
     L"command."},
    {14, L"Not enough storage is available to complete this operation."},
    {17, L"The system cannot move the file to a different disk drive."},
    {18, L"There are no more files."},
    {19, L"The media is write protected."},
    {21, L"The device is not ready."},
    {30, L"The system cannot read from the specified device."},
    {31, L"A device attached to the system is not functioning."},
    {32,
     L"The process cannot access the file because it is being used by "
     L"another process."},
    {50, L"The request is not supported."},
    {87, L"The parameter is incorrect."},
    {109, L"The pipe has been ended."},
    {112, L"There is not enough space on the disk."},
    {120, L"This function is not supported on this system."},
    {122, L"The data area passed to a system call is too small."},
    {123,
     L"The filename, directory name, or volume label syntax is "
     L"incorrect."},
    {145, L"The directory is not empty."},
    {170, L"The requested resource is in use."},
    {183, L"Cannot create a file when that file already exists."},
    {206, L"The filename or extension is too long."},
    {234, L"More data is available."},
    {267, L"The directory name is invalid."},
    {288, L"Attempt to release mutex not owned by caller."},
    {1117,
     L"The request could not be performed because of an I/O device "
     L"error."},
    {1921, L"The name of the file cannot be resolved by the system."},
};

// The text for code, or null when this layer has none. Can't fail.
const wchar_t *MessageFor(DWORD code) {
  for (const MessageText &m : kMessages) {
    if (m.code == code) return m.text;
  }
  return nullptr;
}

}  // namespace

DWORD GetLastError(void) { return lastError; }

void SetLastError(DWORD code) { lastError = code; }

DWORD WinErrorFromErrno(int err) {
  // clang-format off
  switch (err) {
    case 0:            return ERROR_SUCCESS;
    case ENOENT:       return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:      return ERROR_PATH_NOT_FOUND;
    case EACCES:       return ERROR_ACCESS_DENIED;
    case EPERM:        return ERROR_ACCESS_DENIED;
    case EISDIR:       return ERROR_ACCESS_DENIED;
    case ENOMEM:       return ERROR_NOT_ENOUGH_MEMORY;
    case EINVAL:       return ERROR_INVALID_PARAMETER;
    case ENOTEMPTY:    return ERROR_DIR_NOT_EMPTY;
    case EEXIST:       return ERROR_ALREADY_EXISTS;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case EMFILE:       return ERROR_TOO_MANY_OPEN_FILES;
    case ENFILE:       return ERROR_TOO_MANY_OPEN_FILES;
    case EBADF:        return ERROR_INVALID_HANDLE;
    case EROFS:        return ERROR_WRITE_PROTECT;
    case EBUSY:        return ERROR_BUSY;
    case ENOSPC:       return ERROR_DISK_FULL;
    case EPIPE:        return ERROR_BROKEN_PIPE;
    case EDQUOT:       return ERROR_DISK_FULL;
    case EIO:          return ERROR_IO_DEVICE;
    case ELOOP:        return ERROR_CANT_RESOLVE_FILENAME;
    case EXDEV:        return ERROR_NOT_SAME_DEVICE;
    case ETXTBSY:      return ERROR_SHARING_VIOLATION;
    case ENOSYS:       return ERROR_CALL_NOT_IMPLEMENTED;
    case EOPNOTSUPP:   return ERROR_NOT_SUPPORTED;
    case ENXIO:        return ERROR_NOT_READY;
    case ENODEV:       return ERROR_NOT_READY;
    default:           return ERROR_GEN_FAILURE;
  }
  // clang-format on
}

void SetLastErrorFromErrno(int err) { SetLastError(WinErrorFromErrno(err)); }

void SetLastErrorForPath(int err, const std::string &path) {
  SetLastErrorFromErrno(err);
  if (err != ENOENT) return;
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return;  // the current directory exists
  const std::string dir = slash == 0 ? "/" : path.substr(0, slash);
  struct stat st;
  if (PathStat(dir, &st, true) != 0 || !S_ISDIR(st.st_mode)) {
    SetLastError(ERROR_PATH_NOT_FOUND);
  }
}

DWORD FormatMessageW(DWORD flags, const void *source, DWORD code, DWORD lang,
                     LPWSTR buf, DWORD size, va_list *args) {
  (void)source;  // ignored with FORMAT_MESSAGE_FROM_SYSTEM, as on Windows
  (void)args;    // no text of this layer has inserts
  const DWORD supported =
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  if (!(flags & FORMAT_MESSAGE_FROM_SYSTEM) || (flags & ~supported) ||
      lang != 0 || buf == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const wchar_t *text = MessageFor(code);
  if (text == nullptr) {
    SetLastError(ERROR_MR_MID_NOT_FOUND);
    return 0;
  }
  const size_t len = wcslen(text) + 2;  // with "\r\n"
  if (len + 1 > size) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  swprintf(buf, size, L"%ls\r\n", text);
  return (DWORD)len;
}
