// One job of the hashing pass: a file's head, or its whole digest, read
// freely or, on a volume that seeks, through the run's gate.
#include <cstring>

#include "hash/hash.h"
#include "hash/internal.h"

namespace {

// Reads what is in memory freely; the first read that needs the device
// takes the gate, held until the file is done, so that a device that
// seeks reads one file at a time. Where the platform can't tell what is in
// memory, every read needs the device.
struct GatedReader {
  HashReader base;
  HashGate *gate;  // null: read freely
  bool held;
};

// Reads from memory only, as far as it holds the bytes: true when all of
// want came (or the file ended), with *got the bytes read.
bool readCached(HANDLE file, BYTE *into, DWORD want, DWORD *got) {
  while (*got < want) {
    DWORD n = 0;
    if (!platformCalls.ReadFileCached(file, into + *got, want - *got, &n))
      return false;
    if (n == 0) return true;  // the end of the file
    *got += n;
  }
  return true;
}

BOOL gatedRead(HashReader *reader, HANDLE file, BYTE *into, DWORD want,
               DWORD *got) {
  GatedReader *g = reinterpret_cast<GatedReader *>(reader);
  *got = 0;
  if (g->gate != nullptr && !g->held) {
    if (readCached(file, into, want, got)) return TRUE;
    g->gate->device.lock();
    g->held = true;
  }
  DWORD more = 0;
  const BOOL ok =
      platformCalls.ReadFile(file, into + *got, want - *got, &more, nullptr);
  *got += more;
  return ok;
}

GatedReader readerFor(const HashJob *job, HashGate *gate) {
  return GatedReader{{gatedRead}, job->oneReader ? gate : nullptr, false};
}

void leave(GatedReader *g) {
  if (g->held) g->gate->device.unlock();
  g->held = false;
}

void closeKept(HashJob *job) {
  if (job->file != INVALID_HANDLE_VALUE) platformCalls.CloseHandle(job->file);
  job->file = INVALID_HANDLE_VALUE;
}

// The last HASH_HEAD_SIZE bytes of the open file of size bytes, into
// buffer. Returns the bytes read; 0 when the seek or the read fails (a
// whole digest meets that failure in its place).
DWORD readTail(HANDLE file, uint64_t size, BYTE *buffer, HashReader *reader) {
  LARGE_INTEGER at;
  at.QuadPart = static_cast<int64_t>(size - HASH_HEAD_SIZE);
  DWORD got = 0;
  if (!platformCalls.SetFilePointerEx(file, at, nullptr, FILE_BEGIN) ||
      !reader->read(reader, file, buffer, HASH_HEAD_SIZE, &got))
    return 0;
  return got;
}

void takeKeys(HashJob *job, const BYTE *head, const BYTE *tail, DWORD got,
              DWORD tailGot) {
  job->headKey = hashHeadKey(head, got);
  job->key = job->headKey;
  job->tail = tailGot > 0 ? 1 : 0;
  if (tailGot == 0) return;
  const uint64_t t = hashHeadKey(tail, tailGot);
  job->key =
      (job->headKey ^ (t + 0x9E3779B97F4A7C15ull)) * 0xC2B2AE3D27D4EB4Full;
}

// The head, into the job's keep when it has one (the file then stays
// open), else into buffer; the tail into buffer's second half.
void runHead(HashJob *job, BYTE *buffer, HashGate *gate) {
  GatedReader reader = readerFor(job, gate);
  BYTE *head = job->keep != nullptr ? job->keep : buffer;
  DWORD got = 0, tailGot = 0;
  job->rc = hashOpen(job->path, &job->file, &job->opened, &job->debugText);
  if (job->rc == 0 &&
      !reader.base.read(&reader.base, job->file, head, HASH_HEAD_SIZE, &got)) {
    job->rc = hashFail(&job->debugText, L"hashCalcSHA256 - ReadFile failed.\n");
  } else if (job->rc == 0 && job->opened.known &&
             job->opened.size >= HASH_TAIL_FROM) {
    tailGot = readTail(job->file, job->opened.size, buffer + HASH_HEAD_SIZE,
                       &reader.base);
  }
  leave(&reader);
  job->id = job->opened;
  job->id.size = got;
  job->headGot = got;
  if (job->rc == 0) takeKeys(job, head, buffer + HASH_HEAD_SIZE, got, tailGot);
  if (job->keep == nullptr || job->rc != 0) closeKept(job);
}

// Where the whole digest of a file kept open since its head goes on from:
// past the head, digested from the keep, when the open file shows it has
// not changed since it was opened; else from its start again. A file that
// can't be put back in place is closed, to be opened again.
DWORD readOnFromHead(HashJob *job, HCRYPTHASH hash, uint64_t *bytes) {
  FileIdentity now;
  const bool same = FileIdentityFromHandle(job->file, &now) &&
                    SameFileIdentity(&now, &job->opened);
  LARGE_INTEGER at;
  at.QuadPart = same ? job->headGot : 0;
  if (!platformCalls.SetFilePointerEx(job->file, at, nullptr, FILE_BEGIN)) {
    closeKept(job);
    return 0;
  }
  if (!same) {
    if (now.known) job->opened = now;
    return 0;
  }
  if (job->headGot > 0 &&
      !platformCalls.CryptHashData(hash, job->keep, job->headGot, 0))
    return hashFail(&job->debugText,
                    L"hashCalcSHA256 - CryptHashData failed.\n");
  *bytes = job->headGot;
  return 0;
}

void runWhole(HashJob *job, BYTE *buffer, HashGate *gate) {
  GatedReader reader = readerFor(job, gate);
  HCRYPTHASH hash = 0;
  uint64_t bytes = 0;
  memset(job->digest, 0, SHA256_BYTES);
  job->rc = hashBegin(&hash, &job->debugText);
  if (job->rc == 0 && job->file != INVALID_HANDLE_VALUE)
    job->rc = readOnFromHead(job, hash, &bytes);
  if (job->rc == 0 && job->file == INVALID_HANDLE_VALUE)
    job->rc = hashOpen(job->path, &job->file, &job->opened, &job->debugText);
  if (job->rc == 0)
    job->rc = hashFeed(job->file, hash, buffer, &reader.base, &bytes,
                       &job->debugText);
  leave(&reader);
  if (job->rc == 0) job->rc = hashFinish(hash, job->digest, &job->debugText);
  if (job->rc != 0) memset(job->digest, 0, SHA256_BYTES);
  if (hash != 0) platformCalls.CryptDestroyHash(hash);
  job->id = job->opened;
  job->id.size = bytes;
  closeKept(job);
}

}  // namespace

void hashJobReset(HashJob *job, const wchar_t *path) {
  memset(static_cast<void *>(job), 0, sizeof(*job));
  job->path = path;
  job->file = INVALID_HANDLE_VALUE;
}

void hashRunJob(HashJob *job, BYTE *buffer, HashGate *gate) {
  job->debugText = nullptr;
  if (job->whole)
    runWhole(job, buffer, gate);
  else
    runHead(job, buffer, gate);
}
