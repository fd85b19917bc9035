// Mutexes over recursive pthread mutexes; interlocked counters over the
// compiler's atomic built-ins.
#include <pthread.h>

#include <cerrno>

#include "platform/posix/internal.h"

// Only unnamed mutexes with default security are supported. On error, null
// is returned with the last error 87 (unsupported arguments), 8 (no memory)
// or the translated pthread error.
HANDLE CreateMutexW(SECURITY_ATTRIBUTES *sa, BOOL initialOwner, LPCWSTR name) {
  if (sa != nullptr || name != nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  PosixObject *obj = ObjectNew(kObjectMutex);
  if (obj == nullptr) return nullptr;
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  const int rc = pthread_mutex_init(&obj->mutex, &attr);
  pthread_mutexattr_destroy(&attr);
  if (rc != 0) {
    ObjectFree(obj);
    SetLastErrorFromErrno(rc);
    return nullptr;
  }
  if (initialOwner) pthread_mutex_lock(&obj->mutex);
  return obj;
}

// INFINITE waits until the mutex is taken; 0 only tries (WAIT_TIMEOUT when
// another thread holds it). On error, WAIT_FAILED is returned with the last
// error 6 (not a mutex) or 87 (another timeout, not supported).
DWORD WaitForSingleObject(HANDLE h, DWORD ms) {
  PosixObject *obj = ObjectFromHandle(h, kObjectMutex);
  if (obj == nullptr) return WAIT_FAILED;
  if (ms == INFINITE) {
    const int rc = pthread_mutex_lock(&obj->mutex);
    if (rc == 0) return WAIT_OBJECT_0;
    SetLastErrorFromErrno(rc);
    return WAIT_FAILED;
  }
  if (ms == 0) {
    const int rc = pthread_mutex_trylock(&obj->mutex);
    if (rc == 0) return WAIT_OBJECT_0;
    if (rc == EBUSY) return WAIT_TIMEOUT;
    SetLastErrorFromErrno(rc);
    return WAIT_FAILED;
  }
  SetLastError(ERROR_INVALID_PARAMETER);
  return WAIT_FAILED;
}

// On error, FALSE is returned with the last error 6 (not a mutex) or 288
// (the calling thread does not hold it).
BOOL ReleaseMutex(HANDLE h) {
  PosixObject *obj = ObjectFromHandle(h, kObjectMutex);
  if (obj == nullptr) return FALSE;
  if (pthread_mutex_unlock(&obj->mutex) != 0) {
    SetLastError(ERROR_NOT_OWNER);
    return FALSE;
  }
  return TRUE;
}

void MutexObjectClose(PosixObject *obj) { pthread_mutex_destroy(&obj->mutex); }

// Returns the new value. Can't fail.
LONG InterlockedIncrement(LONG volatile *value) {
  return __atomic_add_fetch(value, 1, __ATOMIC_SEQ_CST);
}

// Returns the new value. Can't fail.
LONG InterlockedDecrement(LONG volatile *value) {
  return __atomic_sub_fetch(value, 1, __ATOMIC_SEQ_CST);
}
