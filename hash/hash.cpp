// SHA-256 of one whole file, read front to back in 32,768-byte pieces.
#include "hash/hash.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "common/common.h"

volatile LONG memCheckCnt = 0;

namespace {

// A file being hashed may be erased by others meanwhile: only the erasure
// of a copy holds its kept copy against erasure (dups/report.cpp).
const DWORD kHashShare = FILE_SHARE_READ | FILE_SHARE_DELETE;

// The provider context, acquired on first use and kept until
// hashReleaseProvider: acquiring one looks the provider up and loads it,
// which costs more than hashing a small file.
std::atomic<HCRYPTPROV> runProvider{0};

// What one call has acquired, released in reverse order by hashRelease.
struct HashState {
  HCRYPTHASH hash = 0;
  BYTE *buffer = nullptr;
  bool owned = false;  // buffer was allocated by this call
  HANDLE file = INVALID_HANDLE_VALUE;
  // Set for a call made off the main thread: the Debug message is handed
  // back here instead of printed, and the progress is left to the caller.
  const wchar_t **quiet = nullptr;
};

// Prints a step's message under Debug, or hands it back.
void hashSay(HashState *s, const wchar_t *text) {
  if (s->quiet != nullptr)
    *s->quiet = text;
  else
    DebugText(text);
}

// Records the last error of a failed step and says its text.
DWORD hashFail(HashState *s, const wchar_t *text) {
  DWORD code = platformCalls.GetLastError();
  hashSay(s, text);
  return code;
}

// A release that fails leaves nothing to do: its result is not looked at.
void hashRelease(HashState *s) {
  if (s->file != INVALID_HANDLE_VALUE) platformCalls.CloseHandle(s->file);
  if (s->owned) {
    platformCalls.InterlockedDecrement(&memCheckCnt);
    platformCalls.free(s->buffer);
  }
  if (s->hash != 0) platformCalls.CryptDestroyHash(s->hash);
}

// The run's provider, acquired now if no call has done so yet. On failure
// 0, with the failure recorded; the next call tries again.
HCRYPTPROV hashProvider(HashState *s, DWORD *rc) {
  HCRYPTPROV prov = runProvider.load();
  if (prov != 0) return prov;
  if (!platformCalls.CryptAcquireContextW(&prov, nullptr, nullptr, PROV_RSA_AES,
                                          CRYPT_VERIFYCONTEXT)) {
    *rc = hashFail(s, L"hashCalcSHA256 - CryptAcquireContext failed.\n");
    return 0;
  }
  HCRYPTPROV none = 0;
  if (runProvider.compare_exchange_strong(none, prov)) return prov;
  platformCalls.CryptReleaseContext(prov, 0);  // another thread's came first
  return none;
}

// Makes the SHA-256 object and checks its size.
DWORD hashBegin(HashState *s) {
  DWORD rc = 0;
  HCRYPTPROV prov = hashProvider(s, &rc);
  if (prov == 0) return rc;
  if (!platformCalls.CryptCreateHash(prov, CALG_SHA_256, 0, 0, &s->hash)) {
    s->hash = 0;
    return hashFail(s, L"hashCalcSHA256 - CryptCreateHash failed.\n");
  }
  DWORD size = 0;
  DWORD len = sizeof(size);
  if (!platformCalls.CryptGetHashParam(
          s->hash, HP_HASHSIZE, reinterpret_cast<BYTE *>(&size), &len, 0)) {
    return hashFail(s, L"hashCalcSHA256 - CryptGetHashParam failed.\n");
  }
  if (size != SHA256_BYTES) {
    hashSay(s, L"hashCalcSHA256 - CryptGetHashParam size conflict.\n");
    return ERROR_INVALID_PARAMETER;
  }
  return 0;
}

// The sink of the calling thread's own hashing: every read goes into one
// reused buffer and straight into the hash object.
struct DigestSink {
  HashSink sink;
  HashState *s;
};

BYTE *digestBuffer(HashSink *sink) {
  return reinterpret_cast<DigestSink *>(sink)->s->buffer;
}

BOOL digestTake(HashSink *sink, DWORD got) {
  HashState *s = reinterpret_cast<DigestSink *>(sink)->s;
  if (s->quiet == nullptr) ProgressBytesHashed(got);
  return platformCalls.CryptHashData(s->hash, s->buffer, got, 0);
}

// Takes the read buffer (buffer, when the caller lends one) and feeds the
// whole file to the hash object.
DWORD hashFeedFile(HashState *s, const wchar_t *path, FileIdentity *id,
                   BYTE *buffer) {
  if (buffer == nullptr) {
    buffer = static_cast<BYTE *>(platformCalls.malloc(HASH_READ_SIZE));
    if (buffer == nullptr) {
      hashSay(s, L"hashCalcSHA256 - memMalloc failed.\n");
      return ERROR_NOT_ENOUGH_MEMORY;
    }
    platformCalls.InterlockedIncrement(&memCheckCnt);
    s->owned = true;
  }
  s->buffer = buffer;
  DigestSink sink = {{digestBuffer, digestTake}, s};
  const wchar_t *text = nullptr;
  DWORD rc = hashReadWhole(path, id, &sink.sink, &text);
  if (rc != 0) hashSay(s, text);
  return rc;
}

}  // namespace

void hashReleaseProvider(void) {
  HCRYPTPROV prov = runProvider.exchange(0);
  if (prov != 0) (void)platformCalls.CryptReleaseContext(prov, 0);  // as above
}

DWORD hashCalcSHA256(const wchar_t *path, uint8_t *digest) {
  return hashCalcSHA256Identify(path, digest, nullptr);
}

namespace {

DWORD hashWhole(const wchar_t *path, uint8_t *digest, FileIdentity *id,
                const wchar_t **quiet, BYTE *buffer) {
  if (path == nullptr || digest == nullptr) return ERROR_INVALID_PARAMETER;
  memset(digest, 0, SHA256_BYTES);
  if (id != nullptr) memset(id, 0, sizeof(*id));

  HashState s;
  s.quiet = quiet;
  DWORD rc = hashBegin(&s);
  if (rc == 0) rc = hashFeedFile(&s, path, id, buffer);
  if (rc == 0) {
    DWORD len = SHA256_BYTES;
    if (!platformCalls.CryptGetHashParam(s.hash, HP_HASHVAL, digest, &len, 0)) {
      rc = hashFail(
          &s, L"hashCalcSHA256 - CryptGetHashParam failed reading hash.\n");
      memset(digest, 0, SHA256_BYTES);
    }
  }
  hashRelease(&s);
  return rc;
}

}  // namespace

DWORD hashCalcSHA256Identify(const wchar_t *path, uint8_t *digest,
                             FileIdentity *id) {
  return hashWhole(path, digest, id, nullptr, nullptr);
}

DWORD hashCalcSHA256Quiet(const wchar_t *path, uint8_t *digest,
                          FileIdentity *id, const wchar_t **debugText,
                          BYTE *buffer) {
  *debugText = nullptr;
  return hashWhole(path, digest, id, debugText, buffer);
}

DWORD hashReadWhole(const wchar_t *path, FileIdentity *id, HashSink *sink,
                    const wchar_t **debugText) {
  HANDLE file = platformCalls.CreateFileW(
      path, GENERIC_READ, kHashShare, nullptr, OPEN_EXISTING,
      FILE_FLAG_SEQUENTIAL_SCAN | FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    *debugText = L"Err: Could not open file.\n";
    return platformCalls.GetLastError();
  }
  // An identity the system cannot tell stays cleared: the file then only
  // matches by contents.
  if (id != nullptr) (void)FileIdentityFromHandle(file, id);
  if (id != nullptr) id->size = 0;  // counts the bytes read
  DWORD rc = 0;
  for (;;) {
    BYTE *into = sink->buffer(sink);
    DWORD got = 0;
    if (!platformCalls.ReadFile(file, into, HASH_READ_SIZE, &got, nullptr)) {
      rc = platformCalls.GetLastError();
      *debugText = L"hashCalcSHA256 - ReadFile failed.\n";
      break;
    }
    if (got == 0) break;
    if (id != nullptr) id->size += got;
    if (!sink->take(sink, got)) {
      rc = platformCalls.GetLastError();
      *debugText = L"hashCalcSHA256 - CryptHashData failed.\n";
      break;
    }
  }
  platformCalls.CloseHandle(file);  // nothing to do if it fails
  return rc;
}

namespace {

// The last HASH_HEAD_SIZE bytes of an open file of size bytes, into buffer.
// Returns the bytes read; 0 when the seek or the read fails.
DWORD hashReadTail(HANDLE file, uint64_t size, BYTE *buffer) {
  LARGE_INTEGER at;
  at.QuadPart = static_cast<int64_t>(size - HASH_HEAD_SIZE);
  DWORD got = 0;
  if (!platformCalls.SetFilePointerEx(file, at, nullptr, FILE_BEGIN) ||
      !platformCalls.ReadFile(file, buffer, HASH_HEAD_SIZE, &got, nullptr)) {
    return 0;
  }
  return got;
}

}  // namespace

DWORD hashReadHead(const wchar_t *path, BYTE *buffer, DWORD *got,
                   FileIdentity *id, const wchar_t **debugText, DWORD *tail) {
  *got = 0;
  *tail = 0;
  *debugText = nullptr;
  if (id != nullptr) memset(id, 0, sizeof(*id));
  HashState s;
  s.quiet = debugText;
  DWORD rc = 0;
  s.file = platformCalls.CreateFileW(
      path, GENERIC_READ, kHashShare, nullptr, OPEN_EXISTING,
      FILE_FLAG_SEQUENTIAL_SCAN | FILE_ATTRIBUTE_NORMAL, nullptr);
  if (s.file == INVALID_HANDLE_VALUE) {
    rc = hashFail(&s, L"Err: Could not open file.\n");
  } else {
    if (id != nullptr) FileIdentityFromHandle(s.file, id);
    if (!platformCalls.ReadFile(s.file, buffer, HASH_HEAD_SIZE, got, nullptr))
      rc = hashFail(&s, L"hashCalcSHA256 - ReadFile failed.\n");
    else if (id != nullptr && id->known && id->size >= HASH_TAIL_FROM)
      *tail = hashReadTail(s.file, id->size, buffer + HASH_HEAD_SIZE);
  }
  hashRelease(&s);
  return rc;
}

DWORD hashBeginQuiet(HCRYPTHASH *hash, const wchar_t **debugText) {
  *debugText = nullptr;
  HashState s;
  s.quiet = debugText;
  DWORD rc = hashBegin(&s);
  *hash = s.hash;
  if (rc != 0) {
    if (s.hash != 0) platformCalls.CryptDestroyHash(s.hash);
    *hash = 0;
  }
  return rc;
}

uint64_t hashHeadKey(const BYTE *data, DWORD n) {
  // A multiply-rotate mix over 8-byte words: fast, and a collision costs
  // only a whole-file hash that was not needed.
  uint64_t h = 0x9E3779B97F4A7C15ull ^ n;
  DWORD i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t w;
    memcpy(&w, data + i, 8);
    h = (h ^ w) * 0xFF51AFD7ED558CCDull;
    h ^= h >> 29;
  }
  for (; i < n; i++) h = (h ^ data[i]) * 0x100000001B3ull;
  return h ^ (h >> 32);
}

namespace {

uint64_t fileTimeTicks(const FILETIME &t) {
  return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

}  // namespace

int FileIdentityFromHandle(HANDLE file, FileIdentity *id) {
  BY_HANDLE_FILE_INFORMATION info;
  memset(id, 0, sizeof(*id));
  if (!platformCalls.GetFileInformationByHandle(file, &info)) return 0;
  id->known = 1;
  id->volume = info.dwVolumeSerialNumber;
  id->indexHigh = info.nFileIndexHigh;
  id->indexLow = info.nFileIndexLow;
  id->size =
      (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  id->createTime = fileTimeTicks(info.ftCreationTime);
  id->writeTime = fileTimeTicks(info.ftLastWriteTime);
  return 1;
}

int SameFile(const FileIdentity *a, const FileIdentity *b) {
  return FileHasIdentity(a) && FileHasIdentity(b) && a->volume == b->volume &&
         a->indexHigh == b->indexHigh && a->indexLow == b->indexLow;
}

int SameFileIdentity(const FileIdentity *a, const FileIdentity *b) {
  const bool named = FileHasIdentity(a) || FileHasIdentity(b);
  return a->known && b->known && (named ? SameFile(a, b) : true) &&
         a->size == b->size && a->createTime == b->createTime &&
         a->writeTime == b->writeTime;
}
