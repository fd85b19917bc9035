// Critical sections over recursive pthread mutexes; interlocked counters
// over the compiler's atomic built-ins.
#include <pthread.h>

#include <cstdlib>

#include "platform/posix/internal.h"

// Can't fail: a recursive mutex with default attributes needs no resource
// that can run out on Linux, and Windows' call returns nothing either.
void InitializeCriticalSection(LPCRITICAL_SECTION cs) {
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  if (pthread_mutex_init(&cs->mutex, &attr) != 0) abort();
  pthread_mutexattr_destroy(&attr);
}

BOOL InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION cs, DWORD) {
  InitializeCriticalSection(cs);
  return TRUE;
}

void EnterCriticalSection(LPCRITICAL_SECTION cs) {
  if (pthread_mutex_lock(&cs->mutex) != 0) abort();
}

BOOL TryEnterCriticalSection(LPCRITICAL_SECTION cs) {
  return pthread_mutex_trylock(&cs->mutex) == 0 ? TRUE : FALSE;
}

void LeaveCriticalSection(LPCRITICAL_SECTION cs) {
  pthread_mutex_unlock(&cs->mutex);
}

void DeleteCriticalSection(LPCRITICAL_SECTION cs) {
  pthread_mutex_destroy(&cs->mutex);
}

// Returns the new value. Can't fail.
LONG InterlockedIncrement(LONG volatile *value) {
  return __atomic_add_fetch(value, 1, __ATOMIC_SEQ_CST);
}

// Returns the new value. Can't fail.
LONG InterlockedDecrement(LONG volatile *value) {
  return __atomic_sub_fetch(value, 1, __ATOMIC_SEQ_CST);
}
