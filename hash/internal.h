// The steps of hashing one file, shared by the routines of hash/. None
// prints: a step that fails returns the Windows code of its cause, with
// *debugText the message to print under Debug.
#pragma once

#include "hash/hash.h"

// A new SHA-256 object in *hash (0 on failure), from the run's provider.
DWORD hashBegin(HCRYPTHASH *hash, const wchar_t **debugText);
// Opens path for hashing in *file (INVALID_HANDLE_VALUE on failure); id is
// filled from the open file (size: the file's size), or cleared.
DWORD hashOpen(const wchar_t *path, HANDLE *file, FileIdentity *id,
               const wchar_t **debugText);

// How the bytes of a file are read: ReadFile's meaning (TRUE with *got 0 at
// the end of the file; FALSE with the last error set).
struct HashReader {
  BOOL(*read)
  (HashReader *reader, HANDLE file, BYTE *into, DWORD want, DWORD *got);
};
extern HashReader hashPlainReader;

// Digests the open file from where it stands to its end, in reads of
// HASH_READ_SIZE bytes into buffer; *bytes grows by the bytes digested.
DWORD hashFeed(HANDLE file, HCRYPTHASH hash, BYTE *buffer, HashReader *reader,
               uint64_t *bytes, const wchar_t **debugText);
// The digest's value into digest (all zero on failure).
DWORD hashFinish(HCRYPTHASH hash, uint8_t *digest, const wchar_t **debugText);
// Records the last error of a failed step and its message.
DWORD hashFail(const wchar_t **debugText, const wchar_t *text);
