// The listing of the directories a scan visits, made ahead of the scan on
// a second thread: the directories in the order the scan takes them (each
// one's files, then each subdirectory, depth first), handed over in chunks
// whose memory is bounded. Used by the scan only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/common.h"

// A non-directory entry of a directory's file listing.
struct ListedFile {
  DWORD attributes;
  DWORD sizeHigh;
  DWORD sizeLow;
  uint32_t nameAt;  // where its name begins in the chunk's names
};

// A run of one directory's listing. A directory's first chunk names it and
// tells whether it is one (its files are listed only then); its files come
// in that chunk and the next ones, at most kListedChunkFiles each. A
// directory whose listing could not be made, or failed part-way, is named
// once by a chunk with its code in failed, after the files listed before
// the failure: in that directory's last chunk when its file listing failed,
// in a chunk of its own (no files, not first) when its subdirectory listing
// did.
struct ListedChunk {
  bool first = true;
  bool isDir = true;
  std::wstring dir;  // first chunk, and one that fails: the directory
  std::vector<ListedFile> files;
  std::vector<wchar_t> names;  // each name ends with L'\0'
  DWORD failed = 0;            // the code of dir's failed listing; 0: none
};

const size_t kListedChunkFiles = 1024;

// Where the chunks go, in order: take is handed each one (it may keep its
// contents).
struct ListSink {
  void (*take)(void *ctx, ListedChunk *chunk);
  void *ctx;
};

// Lists dir (every file matching filter; with Recurse, every directory
// below it too) into sink, on the calling thread.
void ListTree(const wchar_t *dir, const wchar_t *filter, ListSink sink);

// The same listing on a second thread, at most kListedAheadFiles files
// and directories ahead of the caller. Null when no thread can be had: the
// caller then lists on its own thread with ListTree. Memory that runs out
// on the listing thread ends the listing there; the caller's ListerNext
// then ends the run (MemoryExhausted) once the chunks before it are taken.
struct Lister;
const size_t kListedAheadFiles = 8 * kListedChunkFiles;
Lister *ListerStart(const wchar_t *dir, const wchar_t *filter);
// Moves the next chunk into *chunk. False at the end of the listing.
bool ListerNext(Lister *l, ListedChunk *chunk);
// Waits for the thread to end (the listing is read to its end first) and
// releases the lister.
void ListerStop(Lister *l);
