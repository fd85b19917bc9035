// Handle objects: one tagged record behind every HANDLE, and CloseHandle.
#include <unistd.h>

#include <cerrno>
#include <new>

#include "platform/posix/internal.h"

PosixObject *ObjectNew(uint32_t kind) {
  PosixObject *obj = new (std::nothrow) PosixObject();
  if (obj == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  obj->kind = kind;
  obj->fd = -1;
  return obj;
}

void ObjectFree(PosixObject *obj) {
  obj->kind = 0;
  delete obj;
}

PosixObject *ObjectFromHandle(HANDLE h, uint32_t kind) {
  PosixObject *obj = static_cast<PosixObject *>(h);
  if (h == nullptr || h == INVALID_HANDLE_VALUE || obj->kind != kind) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return obj;
}

// Closes a file handle; a search handle needs FindClose. On error,
// FALSE is returned with the last error 6 (not a handle CloseHandle takes)
// or the code of the failed close(); the handle is released all the same.
BOOL CloseHandle(HANDLE h) {
  PosixObject *obj = ObjectFromHandle(h, kObjectFile);
  if (obj == nullptr) return FALSE;
  const int rc = close(obj->fd);
  const int err = errno;
  delete obj->file;
  ObjectFree(obj);
  if (rc != 0 && err != EINTR) {
    SetLastErrorFromErrno(err);
    return FALSE;
  }
  return TRUE;
}
