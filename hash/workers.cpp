// Hashing on worker threads: hashers, one per core, that read and hash
// their own files. The files of volumes with a seek penalty are read a
// large piece at a time under one gate, so that such a device is read in
// one place at a time, and hashed outside it. The gate stands open while
// the reads prove the device does not seek.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <queue>
#include <thread>
#include <vector>

#include "hash/hash.h"

namespace {

// The job to run first on top: the lowest (order, index).
struct RunsLater {
  bool operator()(const HashJob *a, const HashJob *b) const {
    if (a->order != b->order) return a->order > b->order;
    return a->index > b->index;
  }
};

using JobQueue =
    std::priority_queue<HashJob *, std::vector<HashJob *>, RunsLater>;

bool startThread(std::thread *thread, void (*body)(HashWorkers *, size_t),
                 HashWorkers *w, size_t index) {
  try {
    *thread = std::thread(body, w, index);
  } catch (...) {  // no thread to be had
    return false;
  }
  return true;
}

}  // namespace

bool (*hashThreadStart)(std::thread *, void (*)(HashWorkers *, size_t),
                        HashWorkers *, size_t) = startThread;

struct HashWorkers {
  std::mutex m;
  std::condition_variable hasherCv;  // the hashers: a job queued
  std::condition_variable doneCv;    // the main thread: a stage ended
  JobQueue jobs;
  std::vector<BYTE *> buffers;  // each hasher's, HASH_PIECE_BYTES
  // Each hasher's time to digest its last gated piece.
  std::vector<std::chrono::steady_clock::duration> lastDigest;
  uint64_t completed = 0;  // stages finished: jobs whose pending hit 0
  bool stopping = false;
  // Held for every read of a file on a volume with a seek penalty, while
  // it is shut: reads that prove the device does not seek open it.
  std::mutex gate;
  std::atomic<bool> gateOpen{false};
  std::atomic<int> quickReads{0};  // gated reads in a row that were quick
  std::vector<std::thread> hashers;
};

namespace {

using Clock = std::chrono::steady_clock;

// Marks the job done. True when that ends its stage (the last job of its
// pending count): only then has the main thread something to do.
bool completeLocked(HashWorkers *w, HashJob *job) {
  job->done = 1;
  if (job->pending != nullptr && job->pending->fetch_sub(1) != 1) return false;
  w->completed++;
  return true;
}

void runHead(HashJob *job, BYTE *buffer) {
  DWORD got = 0, tail = 0;
  job->rc =
      hashReadHead(job->path, buffer, &got, &job->id, &job->debugText, &tail);
  job->id.size = got;
  job->tail = tail > 0 ? 1 : 0;
  if (job->rc != 0) return;
  job->headKey = hashHeadKey(buffer, got);
  job->key = job->headKey;
  if (tail > 0) {
    const uint64_t t = hashHeadKey(buffer + HASH_HEAD_SIZE, tail);
    job->key =
        (job->headKey ^ (t + 0x9E3779B97F4A7C15ull)) * 0xC2B2AE3D27D4EB4Full;
  }
}

// A read this quick came from the page cache, or from a device with no
// seek penalty whatever it says (a virtual disk may say rotational): a
// spinning disk takes longer for a head, after the seek to it, and for a
// piece (262 MB/s and more, sustained).
const Clock::duration kNoSeekRead = std::chrono::milliseconds(1);
// Quick reads in a row that open the gate; a slower one shuts it.
const int kOpenAfter = 32;

void noteRead(HashWorkers *w, Clock::duration took) {
  if (took >= kNoSeekRead) {
    w->quickReads.store(0, std::memory_order_relaxed);
    w->gateOpen.store(false, std::memory_order_relaxed);
  } else if (w->quickReads.fetch_add(1, std::memory_order_relaxed) + 1 >=
             kOpenAfter) {
    w->gateOpen.store(true, std::memory_order_relaxed);
  }
}

// Takes the gate for a read unless it is open: true when it was taken.
bool gateEnter(HashWorkers *w) {
  if (w->gateOpen.load(std::memory_order_relaxed)) return false;
  w->gate.lock();
  return true;
}

// A device kSlowDevice times slower to read than a piece is to digest
// keeps one hasher busy alone.
const int kSlowDevice = 4;

// The sink of a gated file: reads fill the hasher's piece buffer while it
// holds the gate; a full piece is digested after the gate is let go, so
// that another hasher reads meanwhile. A piece that took much longer to
// read than the last one took to digest keeps the gate: the device is then
// the slower by far, and one file at a time costs it no seeks.
struct PieceSink {
  HashSink sink;
  HashWorkers *w;
  HashJob *job;
  BYTE *piece;
  DWORD used = 0;
  bool held = false;
  Clock::time_point readFrom{};
  Clock::duration *lastDigest;  // the hasher's, from file to file
};

BYTE *pieceBuffer(HashSink *sink) {
  PieceSink *s = reinterpret_cast<PieceSink *>(sink);
  if (s->used == 0) {  // a piece begins
    if (!s->held) s->held = gateEnter(s->w);
    s->readFrom = Clock::now();
  }
  return s->piece + s->used;
}

// Digests the bytes of the piece; FALSE when that fails (the last error
// set). keepGate: the device may be held on for the next piece.
BOOL digestPiece(PieceSink *s, bool keepGate) {
  const Clock::time_point from = Clock::now();
  const Clock::duration read = from - s->readFrom;
  if (s->used > 0) noteRead(s->w, read);
  if (s->held && !(keepGate && read > kSlowDevice * *s->lastDigest)) {
    s->w->gate.unlock();
    s->held = false;
  }
  const BOOL ok = s->used == 0 || platformCalls.CryptHashData(
                                      s->job->hash, s->piece, s->used, 0);
  if (s->used > 0) *s->lastDigest = Clock::now() - from;
  s->used = 0;
  return ok;
}

BOOL pieceTake(HashSink *sink, DWORD got) {
  PieceSink *s = reinterpret_cast<PieceSink *>(sink);
  s->used += got;
  if (s->used + HASH_READ_SIZE <= HASH_PIECE_BYTES) return TRUE;
  return digestPiece(s, true);
}

// The digest of a file read under the gate: the same results, messages
// and codes as hashCalcSHA256Quiet. The bytes read before a failed read
// are digested first, and a failure there comes first in file order.
void runGatedWhole(HashWorkers *w, size_t me, HashJob *job, BYTE *buffer) {
  memset(job->digest, 0, SHA256_BYTES);
  job->rc = hashBeginQuiet(&job->hash, &job->debugText);
  if (job->rc != 0) return;
  PieceSink s = {{pieceBuffer, pieceTake}, w, job, buffer, 0, false, {},
                 &w->lastDigest[me]};
  job->rc = hashReadWhole(job->path, &job->id, &s.sink, &job->debugText);
  if (!digestPiece(&s, false)) {
    job->rc = platformCalls.GetLastError();
    job->debugText = L"hashCalcSHA256 - CryptHashData failed.\n";
  }
  DWORD len = SHA256_BYTES;
  if (job->rc == 0 && !platformCalls.CryptGetHashParam(job->hash, HP_HASHVAL,
                                                       job->digest, &len, 0)) {
    job->rc = platformCalls.GetLastError();
    job->debugText =
        L"hashCalcSHA256 - CryptGetHashParam failed reading hash.\n";
  }
  if (job->rc != 0) memset(job->digest, 0, SHA256_BYTES);
  platformCalls.CryptDestroyHash(job->hash);
  job->hash = 0;
}

// A job run by hasher me, in its buffer.
void runOwn(HashWorkers *w, size_t me, HashJob *job) {
  BYTE *buffer = w->buffers[me];
  if (job->whole && job->oneReader) return runGatedWhole(w, me, job, buffer);
  if (job->whole) {
    job->rc = hashCalcSHA256Quiet(job->path, job->digest, &job->id,
                                  &job->debugText, buffer);
    return;
  }
  if (!job->oneReader) return runHead(job, buffer);
  const bool held = gateEnter(w);
  const Clock::time_point from = Clock::now();
  runHead(job, buffer);
  noteRead(w, Clock::now() - from);
  if (held) w->gate.unlock();
}

// Takes what a hasher does next, under the lock: small files in runs, one
// hand-off for many of them, and still a share of the queue left for each
// other hasher.
void takeWork(HashWorkers *w, std::vector<HashJob *> *batch) {
  const size_t share =
      (w->jobs.size() + w->hashers.size() - 1) / w->hashers.size();
  uint64_t bytes = 0;
  do {
    HashJob *job = w->jobs.top();
    const bool large = job->size >= HASH_BATCH_FILE_BYTES;
    if (large && !batch->empty()) break;
    batch->push_back(job);
    bytes += job->size;
    w->jobs.pop();
    if (large) break;
  } while (!w->jobs.empty() && batch->size() < share &&
           bytes < HASH_BATCH_BYTES && batch->size() < HASH_BATCH_JOBS);
}

// runOwn, with memory that runs out handed back as the job's code: the
// main thread ends the run at its next erasure gate or failure line.
// Memory that runs out inside the routine (a std::bad_alloc, with the gate
// perhaps held) ends the run here.
void runGuarded(HashWorkers *w, size_t me, HashJob *job) {
  try {
    runOwn(w, me, job);
  } catch (const std::bad_alloc &) {
    MemoryExhausted();
  }
  if (IsNoMemoryCode(job->rc)) NoteMemoryExhausted();
}

void hasherLoop(HashWorkers *w, size_t me) {
  std::vector<HashJob *> batch;
  try {
    batch.reserve(HASH_BATCH_JOBS);  // takeWork never takes more
  } catch (const std::bad_alloc &) {
    MemoryExhausted();
  }
  for (;;) {
    batch.clear();
    {
      std::unique_lock<std::mutex> lock(w->m);
      w->hasherCv.wait(lock, [w] { return w->stopping || !w->jobs.empty(); });
      if (w->jobs.empty()) return;
      takeWork(w, &batch);
    }
    for (HashJob *job : batch) runGuarded(w, me, job);
    std::lock_guard<std::mutex> lock(w->m);
    bool ended = false;
    for (HashJob *job : batch) ended |= completeLocked(w, job);
    if (ended) w->doneCv.notify_all();
  }
}

void releaseBuffers(std::vector<BYTE *> *buffers) {
  for (BYTE *b : *buffers) {
    platformCalls.InterlockedDecrement(&memCheckCnt);
    free(b);
  }
  buffers->clear();
}

bool takeBuffers(std::vector<BYTE *> *buffers, size_t n, size_t bytes) {
  for (size_t i = 0; i < n; i++) {
    BYTE *b = static_cast<BYTE *>(malloc(bytes));
    if (b == nullptr) return false;
    platformCalls.InterlockedIncrement(&memCheckCnt);
    buffers->push_back(b);
  }
  return true;
}

bool startThreads(HashWorkers *w, size_t n) {
  w->hashers.resize(n);
  for (size_t i = 0; i < n; i++)
    if (!hashThreadStart(&w->hashers[i], hasherLoop, w, i)) return false;
  return true;
}

}  // namespace

HashWorkers *hashWorkersStart(void) {
  HashWorkers *w = new HashWorkers;
  const unsigned cores = std::thread::hardware_concurrency();
  const size_t n = cores > 1 ? cores : 1;
  w->lastDigest.resize(n);
  if (!takeBuffers(&w->buffers, n, HASH_PIECE_BYTES) ||
      !startThreads(w, n)) {  // the caller hashes on its own
    hashWorkersStop(w);
    return nullptr;
  }
  return w;
}

void hashWorkersSubmit(HashWorkers *w, HashJob *const *jobs, size_t n) {
  std::lock_guard<std::mutex> lock(w->m);
  for (size_t i = 0; i < n; i++) {
    HashJob *job = jobs[i];
    job->done = 0;
    job->hash = 0;
    w->jobs.push(job);
  }
  if (n > 0) w->hasherCv.notify_all();
}

void hashWorkersWaitAny(HashWorkers *w, uint64_t *seen) {
  std::unique_lock<std::mutex> lock(w->m);
  w->doneCv.wait(lock, [w, seen] { return w->completed != *seen; });
  *seen = w->completed;
}

void hashWorkersStop(HashWorkers *w) {
  {
    std::lock_guard<std::mutex> lock(w->m);
    w->stopping = true;
    w->hasherCv.notify_all();
  }
  for (std::thread &t : w->hashers)
    if (t.joinable()) t.join();
  releaseBuffers(&w->buffers);
  delete w;
}

void hashRunJob(HashJob *job) {
  if (job->whole) {
    job->rc =
        hashCalcSHA256Quiet(job->path, job->digest, &job->id, &job->debugText);
  } else {
    BYTE *buffer = static_cast<BYTE *>(malloc(HASH_READ_SIZE));
    if (buffer == nullptr) {
      job->rc = ERROR_NOT_ENOUGH_MEMORY;
      job->debugText = L"hashCalcSHA256 - memMalloc failed.\n";
    } else {
      platformCalls.InterlockedIncrement(&memCheckCnt);
      runHead(job, buffer);
      platformCalls.InterlockedDecrement(&memCheckCnt);
      free(buffer);
    }
  }
  job->done = 1;
  if (job->pending != nullptr) job->pending->fetch_sub(1);
}
