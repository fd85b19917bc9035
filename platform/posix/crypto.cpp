// CryptoAPI for SHA-256 only, over OpenSSL's SHA256_* routines. They run
// the same assembly as the EVP digests, but without the provider machinery,
// which fetching a digest loads and sets up: 2 MB of resident memory and
// tens of thousands of allocations before the first byte is hashed. OpenSSL
// 3 marks them deprecated, hence the define.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/sha.h>

#include <cstring>
#include <new>

#include "platform/posix/internal.h"

namespace {

const uint32_t kProvider = 0x564F5250u;  // "PROV"
const uint32_t kHash = 0x48534148u;      // "HASH"
const DWORD kSha256Size = 32;

struct CryptProvider {
  uint32_t kind;
};

struct CryptHash {
  uint32_t kind;
  SHA256_CTX ctx;
  bool finished;  // the value has been fetched: no more data
  BYTE value[kSha256Size];
};

// The provider behind prov. On error, null is returned with the last error
// 87 (Windows gives NTE_BAD_UID; this layer keeps to Win32 codes).
CryptProvider *ProviderFrom(HCRYPTPROV prov) {
  CryptProvider *p = reinterpret_cast<CryptProvider *>(prov);
  if (p == nullptr || p->kind != kProvider) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return p;
}

// The hash object behind hash. On error, null is returned with the last
// error 87.
CryptHash *HashFrom(HCRYPTHASH hash) {
  CryptHash *h = reinterpret_cast<CryptHash *>(hash);
  if (h == nullptr || h->kind != kHash) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return h;
}

// Copies a value of size bytes out as CryptGetHashParam does: data null
// asks for the size only. On error, FALSE is returned with the last error
// 234 and *len set to the size needed.
BOOL CopyOut(const void *value, DWORD size, BYTE *data, DWORD *len) {
  if (data != nullptr && *len < size) {
    *len = size;
    SetLastError(ERROR_MORE_DATA);
    return FALSE;
  }
  if (data != nullptr) memcpy(data, value, size);
  *len = size;
  return TRUE;
}

}  // namespace

// Only PROV_RSA_AES with CRYPT_VERIFYCONTEXT and the default provider. On
// error, FALSE is returned with the last error 87 (anything else) or 8.
BOOL CryptAcquireContextW(HCRYPTPROV *prov, LPCWSTR container, LPCWSTR provider,
                          DWORD provType, DWORD flags) {
  if (prov == nullptr || container != nullptr || provider != nullptr ||
      provType != PROV_RSA_AES || flags != CRYPT_VERIFYCONTEXT) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  CryptProvider *p = new (std::nothrow) CryptProvider{kProvider};
  if (p == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  *prov = reinterpret_cast<HCRYPTPROV>(p);
  return TRUE;
}

// Only CALG_SHA_256, no key, no flags. On error, FALSE is returned with the
// last error 87 (anything else) or 8 (no memory, or the digest could not be
// set up).
BOOL CryptCreateHash(HCRYPTPROV prov, ALG_ID alg, HCRYPTKEY key, DWORD flags,
                     HCRYPTHASH *hash) {
  if (ProviderFrom(prov) == nullptr) return FALSE;
  if (alg != CALG_SHA_256 || key != 0 || flags != 0 || hash == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  CryptHash *h = new (std::nothrow) CryptHash{kHash, {}, false, {}};
  if (h == nullptr || SHA256_Init(&h->ctx) != 1) {
    delete h;
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  *hash = reinterpret_cast<HCRYPTHASH>(h);
  return TRUE;
}

// HP_HASHSIZE gives 32 as a DWORD; HP_HASHVAL finishes the digest (once:
// asking again gives the same value). On error, FALSE is returned with the
// last error 87 (bad handle or parameter), 234 (buffer too small, *len set
// to the size needed) or 31 (the digest failed).
BOOL CryptGetHashParam(HCRYPTHASH hash, DWORD param, BYTE *data, DWORD *len,
                       DWORD flags) {
  CryptHash *h = HashFrom(hash);
  if (h == nullptr) return FALSE;
  if (len == nullptr || flags != 0 ||
      (param != HP_HASHSIZE && param != HP_HASHVAL)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (param == HP_HASHSIZE)
    return CopyOut(&kSha256Size, sizeof(DWORD), data, len);
  if (data != nullptr && *len >= kSha256Size && !h->finished) {
    if (SHA256_Final(h->value, &h->ctx) != 1) {
      SetLastError(ERROR_GEN_FAILURE);
      return FALSE;
    }
    h->finished = true;
  }
  return CopyOut(h->value, kSha256Size, data, len);
}

// On error, FALSE is returned with the last error 87 (bad handle, flags, or
// a hash whose value was already fetched) or 31 (the digest failed).
BOOL CryptHashData(HCRYPTHASH hash, const BYTE *data, DWORD len, DWORD flags) {
  CryptHash *h = HashFrom(hash);
  if (h == nullptr) return FALSE;
  if (flags != 0 || h->finished || (data == nullptr && len != 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (len != 0 && SHA256_Update(&h->ctx, data, len) != 1) {
    SetLastError(ERROR_GEN_FAILURE);
    return FALSE;
  }
  return TRUE;
}

// On error (not a hash object), FALSE is returned with the last error 87.
BOOL CryptDestroyHash(HCRYPTHASH hash) {
  CryptHash *h = HashFrom(hash);
  if (h == nullptr) return FALSE;
  h->kind = 0;
  delete h;
  return TRUE;
}

// On error (not a provider, or flags), FALSE is returned with the last
// error 87.
BOOL CryptReleaseContext(HCRYPTPROV prov, DWORD flags) {
  CryptProvider *p = ProviderFrom(prov);
  if (p == nullptr) return FALSE;
  if (flags != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  p->kind = 0;
  delete p;
  return TRUE;
}
