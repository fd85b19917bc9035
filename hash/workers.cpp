// Hashing on worker threads: one reader, so that a device is never read in
// two places at once, and one hasher per core for what it has read.
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "hash/hash.h"

namespace {

// A buffer of the pool handed from the reader to a hasher; slab -1 marks
// the end of a file.
struct Piece {
  HashJob *job;
  int slab;
  DWORD used;
};

}  // namespace

struct HashWorkers {
  std::mutex m;
  std::condition_variable jobsCv;                 // the reader: a job queued
  std::condition_variable slabsCv;                // the reader: a slab freed
  std::condition_variable doneCv;                 // the main thread: a job done
  std::vector<std::condition_variable> piecesCv;  // a hasher: a piece
  std::deque<HashJob *> jobs;
  std::vector<std::deque<Piece>> pieces;  // one queue per hasher
  std::vector<BYTE *> slabs;
  std::vector<int> freeSlabs;
  size_t nextHasher = 0;
  bool stopping = false;
  std::thread reader;
  std::vector<std::thread> hashers;
};

namespace {

void finish(HashWorkers *w, HashJob *job) {
  std::lock_guard<std::mutex> lock(w->m);
  job->done = 1;
  w->doneCv.notify_all();
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

int takeSlab(HashWorkers *w) {
  std::unique_lock<std::mutex> lock(w->m);
  w->slabsCv.wait(lock, [w] { return !w->freeSlabs.empty(); });
  int slab = w->freeSlabs.back();
  w->freeSlabs.pop_back();
  return slab;
}

void givePiece(HashWorkers *w, size_t hasher, Piece p) {
  std::lock_guard<std::mutex> lock(w->m);
  w->pieces[hasher].push_back(p);
  w->piecesCv[hasher].notify_one();
}

// The reader's sink: reads fill a slab of the pool, which goes to the
// file's hasher when it is full (and, partly filled, at the end).
struct SlabSink {
  HashSink sink;
  HashWorkers *w;
  HashJob *job;
  size_t hasher;
  int slab;
  DWORD used;
};

BYTE *slabBuffer(HashSink *sink) {
  SlabSink *s = reinterpret_cast<SlabSink *>(sink);
  if (s->slab < 0) {
    s->slab = takeSlab(s->w);
    s->used = 0;
  }
  return s->w->slabs[s->slab] + s->used;
}

BOOL slabTake(HashSink *sink, DWORD got) {
  SlabSink *s = reinterpret_cast<SlabSink *>(sink);
  s->used += got;
  if (s->used + HASH_READ_SIZE > HASH_SLAB_BYTES) {
    givePiece(s->w, s->hasher, {s->job, s->slab, s->used});
    s->slab = -1;
  }
  return TRUE;  // a failed digest is the hasher's to report
}

// Reads one whole file into slabs for one hasher, then marks its end.
void readWhole(HashWorkers *w, HashJob *job) {
  job->rc = hashBeginQuiet(&job->hash, &job->debugText);
  if (job->rc != 0) return finish(w, job);
  const size_t hasher = w->nextHasher++ % w->pieces.size();
  SlabSink sink = {{slabBuffer, slabTake}, w, job, hasher, -1, 0};
  job->rc = hashReadWhole(job->path, &job->id, &sink.sink, &job->debugText);
  if (sink.slab >= 0) givePiece(w, hasher, {job, sink.slab, sink.used});
  givePiece(w, hasher, {job, -1, 0});
}

void readerLoop(HashWorkers *w) {
  BYTE *head = w->slabs.back();  // the last slab is the reader's own
  for (;;) {
    HashJob *job = nullptr;
    {
      std::unique_lock<std::mutex> lock(w->m);
      w->jobsCv.wait(lock, [w] { return w->stopping || !w->jobs.empty(); });
      if (w->jobs.empty()) return;
      job = w->jobs.front();
      w->jobs.pop_front();
    }
    if (job->whole) {
      readWhole(w, job);
    } else {
      runHead(job, head);
      finish(w, job);
    }
  }
}

// The end of a file: its digest, or the first failure in file order (a
// failed feed comes before any later read).
void endWhole(HashJob *job) {
  if (job->hashRc != 0) {
    job->rc = job->hashRc;
    job->debugText = job->hashText;
  } else if (job->rc == 0) {
    DWORD len = SHA256_BYTES;
    if (!platformCalls.CryptGetHashParam(job->hash, HP_HASHVAL, job->digest,
                                         &len, 0)) {
      job->rc = platformCalls.GetLastError();
      job->debugText =
          L"hashCalcSHA256 - CryptGetHashParam failed reading hash.\n";
    }
  }
  if (job->rc != 0) memset(job->digest, 0, SHA256_BYTES);
  platformCalls.CryptDestroyHash(job->hash);
}

void feed(HashWorkers *w, const Piece &p) {
  HashJob *job = p.job;
  if (job->hashRc == 0 && p.used > 0 &&
      !platformCalls.CryptHashData(job->hash, w->slabs[p.slab], p.used, 0)) {
    job->hashRc = platformCalls.GetLastError();
    job->hashText = L"hashCalcSHA256 - CryptHashData failed.\n";
  }
  std::lock_guard<std::mutex> lock(w->m);
  w->freeSlabs.push_back(p.slab);
  w->slabsCv.notify_one();
}

void hasherLoop(HashWorkers *w, size_t me) {
  for (;;) {
    Piece p;
    {
      std::unique_lock<std::mutex> lock(w->m);
      w->piecesCv[me].wait(
          lock, [w, me] { return w->stopping || !w->pieces[me].empty(); });
      if (w->pieces[me].empty()) return;
      p = w->pieces[me].front();
      w->pieces[me].pop_front();
    }
    if (p.slab >= 0) {
      feed(w, p);
      continue;
    }
    endWhole(p.job);
    finish(w, p.job);
  }
}

void releasePool(HashWorkers *w) {
  for (BYTE *slab : w->slabs) {
    platformCalls.InterlockedDecrement(&memCheckCnt);
    free(slab);
  }
  w->slabs.clear();
}

bool takePool(HashWorkers *w) {
  for (int i = 0; i <= HASH_POOL_SLABS; i++) {
    BYTE *slab = static_cast<BYTE *>(malloc(HASH_SLAB_BYTES));
    if (slab == nullptr) return false;
    platformCalls.InterlockedIncrement(&memCheckCnt);
    w->slabs.push_back(slab);
    if (i < HASH_POOL_SLABS) w->freeSlabs.push_back(i);
  }
  return true;
}

}  // namespace

HashWorkers *hashWorkersStart(void) {
  HashWorkers *w = new HashWorkers;
  unsigned cores = std::thread::hardware_concurrency();
  w->pieces.resize(cores > 1 ? cores : 1);
  w->piecesCv = std::vector<std::condition_variable>(w->pieces.size());
  if (!takePool(w)) {
    releasePool(w);
    delete w;
    return nullptr;
  }
  try {
    w->reader = std::thread(readerLoop, w);
    for (size_t i = 0; i < w->pieces.size(); i++)
      w->hashers.emplace_back(hasherLoop, w, i);
  } catch (...) {  // no thread to be had: the caller hashes on its own
    hashWorkersStop(w);
    return nullptr;
  }
  return w;
}

void hashWorkersSubmit(HashWorkers *w, HashJob *job) {
  job->done = 0;
  job->rc = 0;
  job->debugText = nullptr;
  job->hashRc = 0;
  job->hashText = nullptr;
  job->hash = 0;
  job->key = 0;
  job->headKey = 0;
  job->tail = 0;
  memset(job->digest, 0, SHA256_BYTES);
  memset(&job->id, 0, sizeof(job->id));
  std::lock_guard<std::mutex> lock(w->m);
  w->jobs.push_back(job);
  w->jobsCv.notify_one();
}

void hashWorkersWait(HashWorkers *w, HashJob *job) {
  std::unique_lock<std::mutex> lock(w->m);
  w->doneCv.wait(lock, [job] { return job->done != 0; });
}

void hashWorkersStop(HashWorkers *w) {
  {
    std::lock_guard<std::mutex> lock(w->m);
    w->stopping = true;
    w->jobsCv.notify_all();
    for (std::condition_variable &cv : w->piecesCv) cv.notify_all();
  }
  if (w->reader.joinable()) w->reader.join();
  for (std::thread &t : w->hashers) t.join();
  releasePool(w);
  delete w;
}

void hashRunJob(HashJob *job) {
  job->key = 0;
  job->headKey = 0;
  job->tail = 0;
  if (job->whole) {
    job->rc =
        hashCalcSHA256Quiet(job->path, job->digest, &job->id, &job->debugText);
    job->done = 1;
    return;
  }
  BYTE *buffer = static_cast<BYTE *>(malloc(HASH_READ_SIZE));
  memset(&job->id, 0, sizeof(job->id));
  if (buffer == nullptr) {
    job->rc = ERROR_NOT_ENOUGH_MEMORY;
    job->debugText = L"hashCalcSHA256 - memMalloc failed.\n";
  } else {
    platformCalls.InterlockedIncrement(&memCheckCnt);
    runHead(job, buffer);
    platformCalls.InterlockedDecrement(&memCheckCnt);
    free(buffer);
  }
  job->done = 1;
}
