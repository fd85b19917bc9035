// SHA-256 of one whole file through the platform's CryptoAPI, with one
// provider context for the whole run.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

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

// Read buffers of the hash routine currently held.
extern volatile LONG memCheckCnt;

// Fills digest (32 bytes) with the SHA-256 of the file at path. Returns 0,
// or the Windows code of the first failing step; after a failure the digest
// is all zero (87 for a missing argument leaves it untouched).
DWORD hashCalcSHA256(const wchar_t *path, uint8_t *digest);

// Fills id (size: the file's size) from an open file. Returns 1, or 0 with
// id cleared when the system can't tell.
int FileIdentityFromHandle(HANDLE file, FileIdentity *id);
// 1 when both name their files (FileHasIdentity) and name the same one.
// Can't fail.
int SameFile(const FileIdentity *a, const FileIdentity *b);
// 1 when a and b are known and tell of the same file, unchanged: the same
// size and times, and the same volume and index, or none on either.
// Can't fail.
int SameFileIdentity(const FileIdentity *a, const FileIdentity *b);

// Releases the provider context that the hashing calls share; the next call
// acquires a new one. Called by the run's tear-down. Can't fail.
void hashReleaseProvider(void);

// hashCalcSHA256 that also tells which file it read (id may be null). The
// identity is cleared first and filled from the open file.
DWORD hashCalcSHA256Identify(const wchar_t *path, uint8_t *digest,
                             FileIdentity *id);

// hashCalcSHA256Identify for a call off the main thread: prints nothing and
// leaves the progress to the caller. *debugText is the message the call
// would have printed under Debug, or null. buffer (HASH_READ_SIZE bytes,
// may be null) is the caller's read buffer, lent for the call.
DWORD hashCalcSHA256Quiet(const wchar_t *path, uint8_t *digest,
                          FileIdentity *id, const wchar_t **debugText,
                          BYTE *buffer = nullptr);

// Where the reads of a whole file go, in file order: buffer gives the place
// for the next read (HASH_READ_SIZE bytes), take is handed the bytes read
// there (FALSE when feeding them failed, with the last error set).
struct HashSink {
  BYTE *(*buffer)(HashSink *sink);
  BOOL (*take)(HashSink *sink, DWORD got);
};

// The read loop of every whole-file hashing, on any thread: opens path,
// fills id (may be null; size: the bytes read) and hands every read of
// HASH_READ_SIZE bytes to sink, front to back. Returns 0 at the end of the
// file, or the code of the failing step with *debugText its message.
// Prints nothing; the file is closed before it returns.
DWORD hashReadWhole(const wchar_t *path, FileIdentity *id, HashSink *sink,
                    const wchar_t **debugText);

// The head of a file, to compare same-size files before hashing them whole:
// opens the file as hashCalcSHA256 does and makes its first read, of
// HASH_HEAD_SIZE bytes, into buffer (*got: the bytes read). Prints nothing:
// returns 0, or the code of the failing step with *debugText the message
// hashCalcSHA256 would have printed under Debug. id (may be null) is filled
// from the open file. For a file of HASH_TAIL_FROM bytes or more (by id),
// its last HASH_HEAD_SIZE bytes go to buffer + HASH_HEAD_SIZE (buffer holds
// twice HASH_HEAD_SIZE) and *tail is set to how many were read; 0 when the
// file is smaller or that read failed, which is no failure of the call (a
// whole-file hashing meets it in its place).
DWORD hashReadHead(const wchar_t *path, BYTE *buffer, DWORD *got,
                   FileIdentity *id, const wchar_t **debugText, DWORD *tail);

// A 64-bit key of n bytes: equal bytes give equal keys.
uint64_t hashHeadKey(const BYTE *data, DWORD n);

// The first steps of hashCalcSHA256 for a call off the main thread: the
// run's provider and a new SHA-256 object in *hash, its size checked.
// Returns 0, or the code of the failing step with *debugText its message
// (nothing is then held). Prints nothing.
DWORD hashBeginQuiet(HCRYPTHASH *hash, const wchar_t **debugText);

// ---- Hashing on worker threads ----
// Hasher threads, one per core, take the jobs in pass order (job order,
// then index) and read and hash their files. A file on a volume with a
// seek penalty (oneReader) is read under one gate shared by all such
// files, a piece of HASH_PIECE_BYTES at a time, so that the device is read
// in one place at a time; its hasher digests each piece after letting the
// gate go, while another hasher reads, and holds on to the gate while the
// device is slower than its hashing. Each hasher has one buffer of
// HASH_PIECE_BYTES. Nothing is printed off the main thread: a job's
// results say what the main thread is to print.
#define HASH_PIECE_BYTES (8 * HASH_READ_SIZE)

// A hasher takes files under HASH_BATCH_FILE_BYTES in runs of up to
// HASH_BATCH_JOBS files and HASH_BATCH_BYTES bytes: one hand-off each.
#define HASH_BATCH_FILE_BYTES (128 * 1024)
#define HASH_BATCH_BYTES (1024 * 1024)
#define HASH_BATCH_JOBS 64

struct HashJob {
  const wchar_t *path;
  int32_t whole;      // 1: the SHA-256 of the whole file; 0: its first read
  int32_t oneReader;  // 1: read under the gate (a seek penalty)
  uint64_t order;     // jobs run in (order, index) order
  uint64_t index;
  uint64_t size;  // the file's recorded size, for batching
  // Lowered by one when the job is done (may be null).
  std::atomic<int32_t> *pending;
  // Results, set when the job is done.
  DWORD rc;                  // as hashCalcSHA256 gives it
  const wchar_t *debugText;  // the message to print under Debug, or null
  uint8_t digest[SHA256_BYTES];
  FileIdentity id;   // size: the bytes read (whole) or hashHeadKey's input
  uint64_t key;      // first read: hashHeadKey of its bytes and its tail's
  uint64_t headKey;  // first read: hashHeadKey of its bytes alone
  int32_t tail;      // first read: 1 when the last block was read too
  // Kept by the workers.
  int32_t done;
  HCRYPTHASH hash;
};

struct HashWorkers;

// Starts one worker thread running body(w, index). False when no thread
// can be had. A variable so that a test can make a start fail.
extern bool (*hashThreadStart)(std::thread *thread,
                               void (*body)(HashWorkers *, size_t),
                               HashWorkers *w, size_t index);

// Starts the threads and takes the buffers. Null when any can't be had:
// the caller then runs its jobs with hashRunJob.
HashWorkers *hashWorkersStart(void);
// Queues n jobs in one hand-off (paths stay valid and jobs in place until
// they are done).
void hashWorkersSubmit(HashWorkers *w, HashJob *const *jobs, size_t n);
// Returns once a stage has ended (the last job of a pending count is done,
// or a job without one) that had not when *seen was last set (set it to 0
// first); *seen is then brought up to date.
void hashWorkersWaitAny(HashWorkers *w, uint64_t *seen);
// Ends the threads (every queued job run first) and releases the buffers.
void hashWorkersStop(HashWorkers *w);
// Runs one job on the calling thread, with the same results.
void hashRunJob(HashJob *job);
