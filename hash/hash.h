// SHA-256 of one whole file through the platform's CryptoAPI, with one
// provider context for the whole run.
#pragma once

#include <cstdint>

#include "platform/platform.h"

#define HASH_READ_SIZE 32768
#ifndef SHA256_BYTES
#define SHA256_BYTES 32
#endif

// Read buffers of the hash routine currently held.
extern volatile LONG memCheckCnt;

// Which file was hashed: its file-system identity (volume serial number and
// file index; device and inode on Linux) and how many bytes were hashed.
struct FileIdentity {
  int32_t known;  // 0 when the system could not tell
  DWORD volume;
  DWORD indexHigh;
  DWORD indexLow;
  uint64_t size;
  uint64_t createTime;  // Linux: the status-change time
  uint64_t writeTime;
};

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

// hashCalcSHA256Identify for a call off the main thread: prints nothing and
// leaves the progress to the caller. *debugText is the message the call
// would have printed under Debug, or null.
DWORD hashCalcSHA256Quiet(const wchar_t *path, uint8_t *digest,
                          FileIdentity *id, const wchar_t **debugText);

// The head of a file, to compare same-size files before hashing them whole:
// opens the file as hashCalcSHA256 does and makes its first read, of
// HASH_READ_SIZE bytes, into buffer (*got: the bytes read). Prints nothing:
// returns 0, or the code of the failing step with *debugText the message
// hashCalcSHA256 would have printed under Debug. id (may be null) is filled
// from the open file.
DWORD hashReadHead(const wchar_t *path, BYTE *buffer, DWORD *got,
                   FileIdentity *id, const wchar_t **debugText);

// A 64-bit key of n bytes: equal bytes give equal keys.
uint64_t hashHeadKey(const BYTE *data, DWORD n);
