// SHA-256 of one whole file through the platform's CryptoAPI, with one
// provider context for the whole run.
#pragma once

#include <cstdint>

#include "common/common.h"

#define HASH_READ_SIZE 32768

// Read buffers of the hash routine currently held.
extern volatile LONG memCheckCnt;

// Fills digest (32 bytes) with the SHA-256 of the file at path. Returns 0,
// or the Windows code of the first failing step; after a failure the digest
// is all zero (87 for a missing argument leaves it untouched).
DWORD hashCalcSHA256(const wchar_t *path, uint8_t *digest);

// Fills id (size: the file's size) from an open file. Returns 1, or 0 with
// id cleared when the system can't tell.
int FileIdentityFromHandle(HANDLE file, FileIdentity *id);
// 1 when both identities are known and equal in every field.
int SameFileIdentity(const FileIdentity *a, const FileIdentity *b);

// Releases the provider context that the hashing calls share; the next call
// acquires a new one. Called by the run's tear-down. Can't fail.
void hashReleaseProvider(void);

// hashCalcSHA256 that also tells which file it read (id may be null). The
// identity is cleared first and filled from the open file.
DWORD hashCalcSHA256Identify(const wchar_t *path, uint8_t *digest,
                             FileIdentity *id);
