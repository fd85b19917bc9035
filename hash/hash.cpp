// SHA-256 of one whole file, read front to back in 32,768-byte pieces, and
// the identity of the file read.
#include "hash/hash.h"

#include <atomic>
#include <cstring>

#include "common/common.h"
#include "hash/internal.h"

volatile LONG memCheckCnt = 0;

namespace {

// A file being hashed may be erased by others meanwhile: only the erasure
// of a copy holds its kept copy against erasure (dups/report.cpp).
const DWORD kHashShare = FILE_SHARE_READ | FILE_SHARE_DELETE;

// The provider context, acquired on first use and kept until
// hashReleaseProvider: acquiring one looks the provider up and loads it,
// which costs more than hashing a small file.
std::atomic<HCRYPTPROV> runProvider{0};

// The run's provider, acquired now if no call has done so yet; 0 on
// failure (the next call tries again).
HCRYPTPROV hashProvider(DWORD *rc, const wchar_t **debugText) {
  HCRYPTPROV prov = runProvider.load();
  if (prov != 0) return prov;
  if (!platformCalls.CryptAcquireContextW(&prov, nullptr, nullptr, PROV_RSA_AES,
                                          CRYPT_VERIFYCONTEXT)) {
    *rc =
        hashFail(debugText, L"hashCalcSHA256 - CryptAcquireContext failed.\n");
    return 0;
  }
  HCRYPTPROV none = 0;
  if (runProvider.compare_exchange_strong(none, prov)) return prov;
  platformCalls.CryptReleaseContext(prov, 0);  // another thread's came first
  return none;
}

BOOL plainRead(HashReader *, HANDLE file, BYTE *into, DWORD want, DWORD *got) {
  return platformCalls.ReadFile(file, into, want, got, nullptr);
}

}  // namespace

HashReader hashPlainReader = {plainRead};

DWORD hashFail(const wchar_t **debugText, const wchar_t *text) {
  const DWORD code = platformCalls.GetLastError();
  *debugText = text;
  return code;
}

BYTE *hashBufferNew(size_t bytes) {
  BYTE *buffer = static_cast<BYTE *>(platformCalls.malloc(bytes));
  if (buffer != nullptr) platformCalls.InterlockedIncrement(&memCheckCnt);
  return buffer;
}

void hashBufferFree(BYTE *buffer) {
  if (buffer == nullptr) return;
  platformCalls.InterlockedDecrement(&memCheckCnt);
  platformCalls.free(buffer);
}

DWORD hashBegin(HCRYPTHASH *hash, const wchar_t **debugText) {
  *hash = 0;
  DWORD rc = 0;
  HCRYPTPROV prov = hashProvider(&rc, debugText);
  if (prov == 0) return rc;
  if (!platformCalls.CryptCreateHash(prov, CALG_SHA_256, 0, 0, hash)) {
    *hash = 0;
    return hashFail(debugText, L"hashCalcSHA256 - CryptCreateHash failed.\n");
  }
  DWORD size = 0;
  DWORD len = sizeof(size);
  if (!platformCalls.CryptGetHashParam(
          *hash, HP_HASHSIZE, reinterpret_cast<BYTE *>(&size), &len, 0)) {
    rc = hashFail(debugText, L"hashCalcSHA256 - CryptGetHashParam failed.\n");
  } else if (size != SHA256_BYTES) {
    *debugText = L"hashCalcSHA256 - CryptGetHashParam size conflict.\n";
    rc = ERROR_INVALID_PARAMETER;
  }
  if (rc != 0) {
    platformCalls.CryptDestroyHash(*hash);
    *hash = 0;
  }
  return rc;
}

DWORD hashOpen(const wchar_t *path, HANDLE *file, FileIdentity *id,
               const wchar_t **debugText) {
  memset(id, 0, sizeof(*id));
  *file = platformCalls.CreateFileW(
      path, GENERIC_READ, kHashShare, nullptr, OPEN_EXISTING,
      FILE_FLAG_SEQUENTIAL_SCAN | FILE_ATTRIBUTE_NORMAL, nullptr);
  if (*file == INVALID_HANDLE_VALUE)
    return hashFail(debugText, L"Err: Could not open file.\n");
  // An identity the system cannot tell stays cleared: the file then only
  // matches by contents.
  (void)FileIdentityFromHandle(*file, id);
  return 0;
}

DWORD hashFeed(HANDLE file, HCRYPTHASH hash, BYTE *buffer, HashReader *reader,
               uint64_t *bytes, const wchar_t **debugText) {
  for (;;) {
    DWORD got = 0;
    if (!reader->read(reader, file, buffer, HASH_READ_SIZE, &got))
      return hashFail(debugText, L"hashCalcSHA256 - ReadFile failed.\n");
    if (got == 0) return 0;
    *bytes += got;
    if (!platformCalls.CryptHashData(hash, buffer, got, 0))
      return hashFail(debugText, L"hashCalcSHA256 - CryptHashData failed.\n");
  }
}

DWORD hashFinish(HCRYPTHASH hash, uint8_t *digest, const wchar_t **debugText) {
  DWORD len = SHA256_BYTES;
  if (platformCalls.CryptGetHashParam(hash, HP_HASHVAL, digest, &len, 0))
    return 0;
  memset(digest, 0, SHA256_BYTES);
  return hashFail(debugText,
                  L"hashCalcSHA256 - CryptGetHashParam failed reading hash.\n");
}

void hashReleaseProvider(void) {
  HCRYPTPROV prov = runProvider.exchange(0);
  if (prov != 0) (void)platformCalls.CryptReleaseContext(prov, 0);  // as above
}

DWORD hashCalcSHA256(const wchar_t *path, uint8_t *digest) {
  return hashCalcSHA256Identify(path, digest, nullptr);
}

DWORD hashCalcSHA256Identify(const wchar_t *path, uint8_t *digest,
                             FileIdentity *id) {
  if (path == nullptr || digest == nullptr) return ERROR_INVALID_PARAMETER;
  memset(digest, 0, SHA256_BYTES);
  if (id != nullptr) memset(id, 0, sizeof(*id));
  const wchar_t *text = nullptr;
  HCRYPTHASH hash = 0;
  HANDLE file = INVALID_HANDLE_VALUE;
  FileIdentity opened;
  uint64_t bytes = 0;
  BYTE *buffer = nullptr;
  DWORD rc = hashBegin(&hash, &text);
  if (rc == 0 && (buffer = hashBufferNew(HASH_READ_SIZE)) == nullptr) {
    text = L"hashCalcSHA256 - memMalloc failed.\n";
    rc = ERROR_NOT_ENOUGH_MEMORY;
  }
  if (rc == 0) rc = hashOpen(path, &file, &opened, &text);
  if (rc == 0)
    rc = hashFeed(file, hash, buffer, &hashPlainReader, &bytes, &text);
  if (rc == 0) rc = hashFinish(hash, digest, &text);
  if (id != nullptr && file != INVALID_HANDLE_VALUE) {
    *id = opened;
    id->size = bytes;
  }
  if (file != INVALID_HANDLE_VALUE) platformCalls.CloseHandle(file);
  hashBufferFree(buffer);
  if (hash != 0) platformCalls.CryptDestroyHash(hash);
  if (rc != 0) {
    memset(digest, 0, SHA256_BYTES);
    if (text != nullptr) DebugText(text);
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
