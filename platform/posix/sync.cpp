// Critical sections over a futex word; interlocked counters over the
// compiler's atomic built-ins.
#include <linux/futex.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/posix/internal.h"

namespace {

void FutexWait(uint32_t *word, uint32_t expected) {
  (void)syscall(SYS_futex, word, FUTEX_WAIT_PRIVATE, expected, nullptr, nullptr,
                0);
}

void FutexWakeOne(uint32_t *word) {
  (void)syscall(SYS_futex, word, FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

bool HeldBySelf(LPCRITICAL_SECTION cs) {
  return __atomic_load_n(&cs->state, __ATOMIC_RELAXED) != 0 &&
         pthread_equal(__atomic_load_n(&cs->owner, __ATOMIC_RELAXED),
                       pthread_self());
}

void TakeOwnership(LPCRITICAL_SECTION cs) {
  __atomic_store_n(&cs->owner, pthread_self(), __ATOMIC_RELAXED);
  cs->depth = 1;
}

}  // namespace

// Can't fail: the lock is a few words, and Windows' call returns nothing
// either.
void InitializeCriticalSection(LPCRITICAL_SECTION cs) {
  cs->state = 0;
  cs->depth = 0;
  cs->owner = pthread_t();
}

BOOL InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION cs, DWORD) {
  InitializeCriticalSection(cs);
  return TRUE;
}

// Free: one compare-and-swap. Held by another thread: the word is marked
// waited for (2) and the thread sleeps until a release wakes it.
void EnterCriticalSection(LPCRITICAL_SECTION cs) {
  if (HeldBySelf(cs)) {
    cs->depth++;
    return;
  }
  uint32_t expected = 0;
  if (!__atomic_compare_exchange_n(&cs->state, &expected, 1, false,
                                   __ATOMIC_ACQUIRE, __ATOMIC_RELAXED)) {
    while (__atomic_exchange_n(&cs->state, 2, __ATOMIC_ACQUIRE) != 0)
      FutexWait(&cs->state, 2);
  }
  TakeOwnership(cs);
}

BOOL TryEnterCriticalSection(LPCRITICAL_SECTION cs) {
  if (HeldBySelf(cs)) {
    cs->depth++;
    return TRUE;
  }
  uint32_t expected = 0;
  if (!__atomic_compare_exchange_n(&cs->state, &expected, 1, false,
                                   __ATOMIC_ACQUIRE, __ATOMIC_RELAXED))
    return FALSE;
  TakeOwnership(cs);
  return TRUE;
}

// The holder's last leave frees the word and wakes one waiter, if any.
void LeaveCriticalSection(LPCRITICAL_SECTION cs) {
  if (--cs->depth > 0) return;
  __atomic_store_n(&cs->owner, pthread_t(), __ATOMIC_RELAXED);
  if (__atomic_exchange_n(&cs->state, 0, __ATOMIC_RELEASE) == 2)
    FutexWakeOne(&cs->state);
}

void DeleteCriticalSection(LPCRITICAL_SECTION) {}

// Returns the new value. Can't fail.
LONG InterlockedIncrement(LONG volatile *value) {
  return __atomic_add_fetch(value, 1, __ATOMIC_SEQ_CST);
}

// Returns the new value. Can't fail.
LONG InterlockedDecrement(LONG volatile *value) {
  return __atomic_sub_fetch(value, 1, __ATOMIC_SEQ_CST);
}
