// Hashing on worker threads: hashers, one per core, that read and hash
// their own files, and one reader for the files of volumes with a seek
// penalty, so that such a device is read by one thread, a large piece at
// a time.
#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <queue>
#include <thread>
#include <vector>

#include "hash/hash.h"

namespace {

// What a slab of the pool holds when the reader hands it to a hasher: the
// bytes of one or more files, each run of one file a segment, in file
// order; end marks the last bytes of a file. Small files share a slab, so
// that one hand-off carries many of them.
struct Segment {
  HashJob *job;
  DWORD at;
  DWORD used;
  bool end;
};

// A slab handed to a hasher (its segments are the slab's).
struct Piece {
  int slab;
};

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
  std::condition_variable readerCv;       // the reader: a job queued
  std::condition_variable slabsCv;        // the reader: a slab freed
  std::condition_variable hasherCv;       // the hashers: a job or a piece
  std::condition_variable doneCv;         // the main thread: a job done
  JobQueue own;                           // jobs the hashers read themselves
  JobQueue read;                          // jobs of the one reader
  std::vector<std::deque<Piece>> pieces;  // one queue per hasher
  std::vector<BYTE *> slabs;              // the reader's pool
  std::vector<std::vector<Segment>> segments;  // per slab
  std::vector<int> freeSlabs;
  std::vector<int> inFlight;    // per hasher: slabs given, not yet digested
  size_t readerFiles = 0;       // hashers the reader serves: 0 to n-1
  std::vector<BYTE *> buffers;  // each hasher's read buffer
  uint64_t completed = 0;       // stages finished: jobs whose pending reached 0
  bool readerStopping = false;
  bool hashersStopping = false;
  std::thread reader;
  std::vector<std::thread> hashers;
};

namespace {

// Marks the job done. True when that ends its stage (the last job of its
// pending count): only then has the main thread something to do.
bool completeLocked(HashWorkers *w, HashJob *job) {
  job->done = 1;
  if (job->pending != nullptr && job->pending->fetch_sub(1) != 1) return false;
  w->completed++;
  return true;
}

void complete(HashWorkers *w, HashJob *job) {
  std::lock_guard<std::mutex> lock(w->m);
  if (completeLocked(w, job)) w->doneCv.notify_all();
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

// A job run where it is taken, with buffer (HASH_READ_SIZE bytes) lent.
void runOwn(HashJob *job, BYTE *buffer) {
  if (job->whole)
    job->rc = hashCalcSHA256Quiet(job->path, job->digest, &job->id,
                                  &job->debugText, buffer);
  else
    runHead(job, buffer);
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
  w->inFlight[hasher]++;
  w->hasherCv.notify_all();
}

// The slab the reader is filling for one hasher: a file's next bytes, or
// the small files it has read for it so far.
struct OpenSlab {
  int slab = -1;
  DWORD used = 0;
};

// A file the reader has open, read in turns for its hasher.
struct Stream {
  HashJob *job = nullptr;  // null: the hasher has no file open
  HANDLE file = INVALID_HANDLE_VALUE;
  DWORD at = 0;  // where the file's bytes in the open slab begin
};

// The reader's sink: reads fill the hasher's open slab, which goes to the
// hasher when the next read would not fit; the reader then takes its turn
// to choose the next file.
struct SlabSink {
  HashSink sink;
  HashWorkers *w;
  Stream *stream;
  OpenSlab *open;
  size_t hasher;
};

// Hands the open slab, if any, to its hasher.
void handOver(SlabSink *s) {
  if (s->open->slab < 0) return;
  givePiece(s->w, s->hasher, {s->open->slab});
  s->open->slab = -1;
}

BYTE *slabBuffer(HashSink *sink) {
  SlabSink *s = reinterpret_cast<SlabSink *>(sink);
  OpenSlab *o = s->open;
  if (o->slab < 0) {
    o->slab = takeSlab(s->w);
    o->used = 0;
    s->w->segments[o->slab].clear();
    s->stream->at = 0;
  }
  return s->w->slabs[o->slab] + o->used;
}

void endSegment(SlabSink *s, bool end) {
  OpenSlab *o = s->open;
  s->w->segments[o->slab].push_back(
      {s->stream->job, s->stream->at, o->used - s->stream->at, end});
  s->stream->at = o->used;
}

BOOL slabTake(HashSink *sink, DWORD got) {
  SlabSink *s = reinterpret_cast<SlabSink *>(sink);
  OpenSlab *o = s->open;
  o->used += got;
  if (o->used + HASH_READ_SIZE <= HASH_SLAB_BYTES) return TRUE;
  endSegment(s, false);
  handOver(s);
  return HASH_TAKE_PAUSE;  // a failed digest is the hasher's to report
}

// What the one reader keeps: a stream and an open slab per hasher it
// serves, and the stream it read last.
struct Reader {
  HashWorkers *w;
  std::vector<Stream> streams;
  std::vector<OpenSlab> open;
  std::vector<SlabSink> sinks;
  size_t current = 0;
  BYTE *head = nullptr;             // the reader's own buffer for first reads
  std::vector<HashJob *> finished;  // first reads done, to be marked so
};

void initReader(Reader *r, HashWorkers *w) {
  const size_t n = w->readerFiles;
  r->w = w;
  r->streams.resize(n);
  r->open.resize(n);
  for (size_t h = 0; h < n; h++)
    r->sinks.push_back(
        {{slabBuffer, slabTake}, w, &r->streams[h], &r->open[h], h});
  r->head = w->slabs.back();  // the last slab is the reader's own
}

// Ends the stream's file: marks its end for the hasher (a failure is the
// hasher's to report, after the bytes before it) and closes it.
void endStream(Reader *r, size_t h) {
  SlabSink *s = &r->sinks[h];
  (void)slabBuffer(&s->sink);  // the end needs a slab to be marked in
  endSegment(s, true);
  if (s->stream->file != INVALID_HANDLE_VALUE)
    (void)platformCalls.CloseHandle(s->stream->file);  // nothing to do
  s->stream->file = INVALID_HANDLE_VALUE;
  s->stream->job = nullptr;
  // Files in a slab: at most HASH_BATCH_JOBS per hand-off.
  if (r->w->segments[s->open->slab].size() >= HASH_BATCH_JOBS) handOver(s);
}

// Opens a whole-file job as hasher h's stream.
void beginStream(Reader *r, size_t h, HashJob *job) {
  HashWorkers *w = r->w;
  job->rc = hashBeginQuiet(&job->hash, &job->debugText);
  if (job->rc != 0) return complete(w, job);
  Stream *st = &r->streams[h];
  st->job = job;
  st->at = r->open[h].used;
  job->rc = hashReadOpen(job->path, &job->id, &st->file, &job->debugText);
  if (job->rc != 0) endStream(r, h);
}

// Reads hasher h's file on for one turn: until a slab is full or the file
// ends.
void serveStream(Reader *r, size_t h) {
  Stream *st = &r->streams[h];
  bool ended = false;
  st->job->rc = hashReadOn(st->file, &st->job->id, &r->sinks[h].sink, &ended,
                           &st->job->debugText);
  if (ended || st->job->rc != 0) endStream(r, h);
}

// The stream to read next: the one read last while its hasher has fewer
// than two slabs in flight (one place at a time), else the one whose
// hasher has the fewest. SIZE_MAX when none is open.
size_t nextStream(Reader *r) {
  std::lock_guard<std::mutex> lock(r->w->m);
  const std::vector<int> &busy = r->w->inFlight;
  if (r->streams[r->current].job != nullptr && busy[r->current] < 2)
    return r->current;
  size_t best = SIZE_MAX;
  for (size_t h = 0; h < r->streams.size(); h++)
    if (r->streams[h].job != nullptr &&
        (best == SIZE_MAX || busy[h] < busy[best]))
      best = h;
  return best;
}

// The hasher with no file open and the fewest slabs in flight, or
// SIZE_MAX when every one has a file open. Under the lock.
size_t freeStreamLocked(Reader *r) {
  size_t best = SIZE_MAX;
  for (size_t h = 0; h < r->streams.size(); h++)
    if (r->streams[h].job == nullptr &&
        (best == SIZE_MAX || r->w->inFlight[h] < r->w->inFlight[best]))
      best = h;
  return best;
}

// Marks the first reads read since the last call done, and takes the next
// queued job when it can be started now, under one lock: a first read at
// any time, a whole file when a hasher has no file open (*h,
// the one it goes to). *empty: nothing is left queued.
HashJob *nextJob(Reader *r, size_t *h, bool *empty) {
  std::lock_guard<std::mutex> lock(r->w->m);
  bool ended = false;
  for (HashJob *job : r->finished) ended |= completeLocked(r->w, job);
  r->finished.clear();
  if (ended) r->w->doneCv.notify_all();
  *empty = r->w->read.empty();
  if (*empty) return nullptr;
  HashJob *job = r->w->read.top();
  *h = freeStreamLocked(r);
  if (job->whole && *h == SIZE_MAX) return nullptr;
  r->w->read.pop();
  return job;
}

// Starts the queued jobs that can be started. When nothing more is
// queued, the hashers with no file open get the small files read for
// them so far.
void admit(Reader *r) {
  for (;;) {
    size_t h = SIZE_MAX;
    bool empty = false;
    HashJob *job = nextJob(r, &h, &empty);
    if (job == nullptr) {
      for (size_t i = 0; empty && i < r->streams.size(); i++)
        if (r->streams[i].job == nullptr) handOver(&r->sinks[i]);
      return;
    }
    if (job->whole) {
      beginStream(r, h, job);
      continue;
    }
    runHead(job, r->head);
    r->finished.push_back(job);
  }
}

void readerLoop(HashWorkers *w, size_t) {
  Reader r;
  initReader(&r, w);
  for (;;) {
    admit(&r);
    const size_t h = nextStream(&r);
    if (h != SIZE_MAX) {
      r.current = h;
      serveStream(&r, h);
      continue;
    }
    std::unique_lock<std::mutex> lock(w->m);
    w->readerCv.wait(lock,
                     [w] { return w->readerStopping || !w->read.empty(); });
    if (w->read.empty()) return;
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

// Digests a slab's segments, then gives the slab back and ends the files
// that ended in it, under one lock.
void digestPiece(HashWorkers *w, size_t me, const Piece &p) {
  std::vector<Segment> &segs = w->segments[p.slab];
  for (const Segment &g : segs) {
    HashJob *job = g.job;
    if (job->hashRc == 0 && g.used > 0 &&
        !platformCalls.CryptHashData(job->hash, w->slabs[p.slab] + g.at, g.used,
                                     0)) {
      job->hashRc = platformCalls.GetLastError();
      job->hashText = L"hashCalcSHA256 - CryptHashData failed.\n";
    }
    if (g.end) endWhole(job);
  }
  std::lock_guard<std::mutex> lock(w->m);
  bool ended = false;
  for (const Segment &g : segs)
    if (g.end) ended |= completeLocked(w, g.job);
  segs.clear();
  w->inFlight[me]--;
  w->freeSlabs.push_back(p.slab);
  w->slabsCv.notify_one();
  if (ended) w->doneCv.notify_all();
}

// Takes what a hasher does next, under the lock: a piece of the reader's
// before any job (the reader waits for its slabs), else the next jobs.
bool takeWork(HashWorkers *w, size_t me, Piece *piece,
              std::vector<HashJob *> *batch) {
  std::deque<Piece> &mine = w->pieces[me];
  if (!mine.empty()) {
    *piece = mine.front();
    mine.pop_front();
    return true;
  }
  // Small files go in runs: one hand-off for many of them, and still a
  // share of the queue left for each other hasher.
  const size_t share = (w->own.size() + w->hashers.size() - 1) /
                       (w->hashers.empty() ? 1 : w->hashers.size());
  uint64_t bytes = 0;
  do {
    HashJob *job = w->own.top();
    const bool large = job->size >= HASH_BATCH_FILE_BYTES;
    if (large && !batch->empty()) break;
    batch->push_back(job);
    bytes += job->size;
    w->own.pop();
    if (large) break;
  } while (!w->own.empty() && batch->size() < share &&
           bytes < HASH_BATCH_BYTES && batch->size() < HASH_BATCH_JOBS);
  return false;
}

void hasherLoop(HashWorkers *w, size_t me) {
  std::vector<HashJob *> batch;
  for (;;) {
    Piece p = {-1};
    bool isPiece = false;
    batch.clear();
    {
      std::unique_lock<std::mutex> lock(w->m);
      w->hasherCv.wait(lock, [w, me] {
        return w->hashersStopping || !w->pieces[me].empty() || !w->own.empty();
      });
      if (w->pieces[me].empty() && w->own.empty()) return;
      isPiece = takeWork(w, me, &p, &batch);
    }
    if (isPiece) {
      digestPiece(w, me, p);
      continue;
    }
    for (HashJob *job : batch) runOwn(job, w->buffers[me]);
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

bool startThreads(HashWorkers *w) {
  if (!hashThreadStart(&w->reader, readerLoop, w, 0)) return false;
  w->hashers.resize(w->pieces.size());
  for (size_t i = 0; i < w->hashers.size(); i++)
    if (!hashThreadStart(&w->hashers[i], hasherLoop, w, i)) return false;
  return true;
}

}  // namespace

HashWorkers *hashWorkersStart(void) {
  HashWorkers *w = new HashWorkers;
  unsigned cores = std::thread::hardware_concurrency();
  w->pieces.resize(cores > 1 ? cores : 1);
  w->inFlight.resize(w->pieces.size());
  w->readerFiles = std::min<size_t>(w->pieces.size(), HASH_READER_FILES);
  // The pool's slabs, then the reader's own, then the hashers' buffers.
  const size_t pool = w->readerFiles * HASH_SLABS_PER_FILE;
  w->segments.resize(pool);
  bool ok = takeBuffers(&w->slabs, pool + 1, HASH_SLAB_BYTES) &&
            takeBuffers(&w->buffers, w->pieces.size(), HASH_READ_SIZE);
  for (size_t i = 0; ok && i < pool; i++)
    w->freeSlabs.push_back(static_cast<int>(i));
  if (!ok || !startThreads(w)) {  // the caller hashes on its own
    hashWorkersStop(w);
    return nullptr;
  }
  return w;
}

void hashWorkersSubmit(HashWorkers *w, HashJob *const *jobs, size_t n) {
  std::lock_guard<std::mutex> lock(w->m);
  bool reads = false, owns = false;
  for (size_t i = 0; i < n; i++) {
    HashJob *job = jobs[i];
    job->done = 0;
    job->hashRc = 0;
    job->hashText = nullptr;
    job->hash = 0;
    (job->oneReader ? w->read : w->own).push(job);
    (job->oneReader ? reads : owns) = true;
  }
  if (reads) w->readerCv.notify_one();
  if (owns) w->hasherCv.notify_all();
}

void hashWorkersWaitAny(HashWorkers *w, uint64_t *seen) {
  std::unique_lock<std::mutex> lock(w->m);
  w->doneCv.wait(lock, [w, seen] { return w->completed != *seen; });
  *seen = w->completed;
}

void hashWorkersStop(HashWorkers *w) {
  // The reader first: its files still need the hashers.
  {
    std::lock_guard<std::mutex> lock(w->m);
    w->readerStopping = true;
    w->readerCv.notify_all();
  }
  if (w->reader.joinable()) w->reader.join();
  {
    std::lock_guard<std::mutex> lock(w->m);
    w->hashersStopping = true;
    w->hasherCv.notify_all();
  }
  for (std::thread &t : w->hashers)
    if (t.joinable()) t.join();
  releaseBuffers(&w->slabs);
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
