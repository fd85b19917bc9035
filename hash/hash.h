// SHA-256 of one whole file through the platform's CryptoAPI.
#pragma once

#include <cstdint>

#include "platform/platform.h"

#define HASH_READ_SIZE 32768

// Read buffers of the hash routine currently held.
extern volatile LONG memCheckCnt;

// Fills digest (32 bytes) with the SHA-256 of the file at path. Returns 0,
// or the Windows code of the first failing step; after a failure the digest
// is all zero (87 for a missing argument leaves it untouched).
DWORD hashCalcSHA256(const wchar_t *path, uint8_t *digest);
