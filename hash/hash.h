// Hashing files: the SHA-256 of a whole file through the platform's
// CryptoAPI (one provider context for the run), the head of a file that
// same-size files are compared by first, and the hasher threads of the
// pass.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "common/common.h"

#define HASH_READ_SIZE 32768
// The first read of a file compared with its same-size companions before
// any is hashed whole: a picture or a document differs from another of its
// size within its first few KiB, and a twin reads it twice.
#define HASH_HEAD_SIZE 4096
// From this size on, the last HASH_HEAD_SIZE bytes are compared too: a
// file whose copies differ (a recompressed picture, an edited document's
// trailer) often differs there first.
#define HASH_TAIL_FROM (64 * 1024)

// Read buffers currently held.
extern volatile LONG memCheckCnt;

// A read buffer of bytes through the platform's allocator, counted in
// memCheckCnt until hashBufferFree. Null when memory ran out.
BYTE *hashBufferNew(size_t bytes);
// Gives a buffer of hashBufferNew back (null is ignored). Can't fail.
void hashBufferFree(BYTE *buffer);

// Fills digest (32 bytes) with the SHA-256 of the file at path. Returns 0,
// or the Windows code of the first failing step (its message printed under
// Debug); after a failure the digest is all zero (87 for a missing argument
// leaves it untouched).
DWORD hashCalcSHA256(const wchar_t *path, uint8_t *digest);
// hashCalcSHA256 that also tells which file it read (id may be null; size:
// the bytes read). The identity is cleared first.
DWORD hashCalcSHA256Identify(const wchar_t *path, uint8_t *digest,
                             FileIdentity *id);

// Releases the provider context that the hashing calls share; the next call
// acquires a new one. Called by the run's tear-down. Can't fail.
void hashReleaseProvider(void);

// A 64-bit key of n bytes: equal bytes give equal keys.
uint64_t hashHeadKey(const BYTE *data, DWORD n);

// ---- One file of the pass, on any thread ----
// A job reads one file of a size group: its head (its first HASH_HEAD_SIZE
// bytes, and from HASH_TAIL_FROM bytes on its last ones), or its whole
// digest. A head job may keep its file open, with its head, for the whole
// digest: that job then reads on from the head, once the open file shows
// it has not changed meanwhile (else from its start). Nothing is printed:
// the results say what the main thread is to print.
struct HashJob {
  const wchar_t *path;
  int32_t whole;      // 1: the whole digest; 0: the head
  int32_t oneReader;  // 1: the volume seeks: read it through the gate
  uint64_t order;     // jobs run in (order, index) order
  uint64_t index;
  uint64_t size;  // the file's recorded size, for batching
  // Lowered by one when the job is done; the job that brings it to 0 ends
  // its stage: ended(owner) is called on the thread that ran it (may be
  // null), and true from it wakes the main thread's hashWorkersWaitAny.
  std::atomic<int32_t> *pending;
  bool (*ended)(void *owner);
  void *owner;
  // The file kept open from the head to the whole digest (a head job keeps
  // it when keep is set and it succeeds), with its head bytes.
  BYTE *keep;  // HASH_HEAD_SIZE bytes lent by the caller, or null
  HANDLE file;
  DWORD headGot;
  FileIdentity opened;  // what the file showed when opened
  // Results, set when the job is done.
  DWORD rc;                  // as hashCalcSHA256 gives it
  const wchar_t *debugText;  // the message to print under Debug, or null
  uint8_t digest[SHA256_BYTES];
  FileIdentity id;   // size: the bytes read (whole) or hashHeadKey's input
  uint64_t key;      // head: hashHeadKey of its bytes and its tail's
  uint64_t headKey;  // head: hashHeadKey of its bytes alone
  int32_t tail;      // head: 1 when the last block was read too
};

// Clears a job for path: no file kept, no results.
void hashJobReset(HashJob *job, const wchar_t *path);

// One device read at a time: a file of a volume with a seek penalty whose
// next bytes are not in memory (or when the platform can't tell) is read
// holding the gate, to its end, so that the device reads one place at a
// time. What is in memory is read without it.
struct HashGate {
  std::mutex device;
};

// Runs the job on the calling thread in buffer (2 * HASH_HEAD_SIZE bytes
// for a head, HASH_READ_SIZE for a whole digest); gate: the run's gate, or
// null where no other thread reads.
void hashRunJob(HashJob *job, BYTE *buffer, HashGate *gate);

// ---- Hashing on worker threads ----
// Hasher threads, one per core, take the jobs in (order, index) order and
// run them. A hasher takes files under HASH_BATCH_FILE_BYTES in runs of up
// to HASH_BATCH_JOBS files and HASH_BATCH_BYTES bytes: one hand-off each.
#define HASH_BATCH_FILE_BYTES (128 * 1024)
#define HASH_BATCH_BYTES (1024 * 1024)
#define HASH_BATCH_JOBS 64

struct HashWorkers;

// Starts the threads and takes their buffers. Null when any can't be had:
// the caller then runs its jobs with hashRunJob.
HashWorkers *hashWorkersStart(void);
// Queues n jobs in one hand-off (paths stay valid and jobs in place until
// they are done).
void hashWorkersSubmit(HashWorkers *w, HashJob *const *jobs, size_t n);
// Returns once a stage's ended call has said true that had not when *seen
// was last set (set it to 0 first); *seen is then brought up to date.
void hashWorkersWaitAny(HashWorkers *w, uint64_t *seen);
// Ends the threads (every queued job run first) and releases the buffers.
void hashWorkersStop(HashWorkers *w);
