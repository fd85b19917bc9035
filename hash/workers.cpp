// Hashing on worker threads: hashers, one per core, that take the pass's
// jobs in order and read and hash their own files, sharing one gate for
// the devices that seek.
#include <condition_variable>
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

}  // namespace

struct HashWorkers {
  std::mutex m;
  std::condition_variable hasherCv;  // the hashers: a job queued
  std::condition_variable doneCv;    // the main thread: a stage ended
  JobQueue jobs;
  std::vector<BYTE *> buffers;  // each hasher's, HASH_READ_SIZE
  uint64_t completed = 0;       // stages whose ended call said true
  bool stopping = false;
  HashGate gate;
  std::vector<std::thread> hashers;
};

namespace {

// Marks the job done, and ends its stage when it was the stage's last.
// True when the main thread has something to do.
bool complete(HashJob *job) {
  if (job->pending == nullptr || job->pending->fetch_sub(1) != 1) return false;
  return job->ended != nullptr && job->ended(job->owner);
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

// A job, with memory that runs out handed back as its code: the main
// thread ends the run at its next erasure gate or failure line. Memory
// that runs out inside the routine (a std::bad_alloc) ends the run here.
void runGuarded(HashWorkers *w, size_t me, HashJob *job) {
  try {
    hashRunJob(job, w->buffers[me], &w->gate);
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
    uint64_t ended = 0;
    for (HashJob *job : batch) {
      runGuarded(w, me, job);
      ended += complete(job) ? 1 : 0;  // may queue the stage after it
    }
    if (ended == 0) continue;
    std::lock_guard<std::mutex> lock(w->m);
    w->completed += ended;
    w->doneCv.notify_all();
  }
}

bool startThreads(HashWorkers *w, size_t n) {
  w->hashers.resize(n);
  for (size_t i = 0; i < n; i++)
    if (!ThreadStart(&w->hashers[i], [w, i] { hasherLoop(w, i); }))
      return false;
  return true;
}

}  // namespace

HashWorkers *hashWorkersStart(void) {
  HashWorkers *w = new HashWorkers;
  const unsigned cores = std::thread::hardware_concurrency();
  const size_t n = cores > 1 ? cores : 1;
  for (size_t i = 0; i < n; i++) {
    BYTE *buffer = hashBufferNew(HASH_READ_SIZE);
    if (buffer == nullptr) break;
    w->buffers.push_back(buffer);
  }
  if (w->buffers.size() < n || !startThreads(w, n)) {  // the caller hashes
    hashWorkersStop(w);
    return nullptr;
  }
  return w;
}

void hashWorkersSubmit(HashWorkers *w, HashJob *const *jobs, size_t n) {
  std::lock_guard<std::mutex> lock(w->m);
  for (size_t i = 0; i < n; i++) w->jobs.push(jobs[i]);
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
  for (BYTE *b : w->buffers) hashBufferFree(b);
  delete w;
}
