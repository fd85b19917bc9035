// The match report: one batch-file block per set of identical files, and
// the erasure of the copies it marks "del ".
#include <cstring>
#include <cwchar>
#include <vector>

#include "common/common.h"
#include "dups/dups.h"
#include "hash/hash.h"

namespace {

struct MatchCounts {
  uint32_t all;
  uint32_t source;
  uint32_t dest;
};

// The record holds a digest that may be compared: hashed, and not set
// aside as a second record of the same file.
bool hasDigest(const FileRecord *x) { return x->fHashed && !x->fSetAside; }

// X belongs to R's set and has not been reported in an earlier block.
bool isFreshMatch(const FileRecord *x, const FileRecord *r) {
  return !x->fDisplayed && hasDigest(x) && hasDigest(r) &&
         memcmp(x->hash, r->hash, SHA256_BYTES) == 0;
}

MatchCounts countMatches(const std::vector<FileRecord *> &group,
                         const FileRecord *r) {
  MatchCounts c = {0, 0, 0};
  for (const FileRecord *x : group) {
    if (!isFreshMatch(x, r)) continue;
    c.all++;
    if (x->fInSource)
      c.source++;
    else
      c.dest++;
  }
  return c;
}

void printHeader(const FileRecord *r) {
  wchar_t hex[2 * SHA256_BYTES + 1];
  for (int i = 0; i < SHA256_BYTES; i++)
    // Always two digits, within the buffer.
    (void)platformCalls.wsprintfW(hex + 2 * i, L"%02X", r->hash[i]);
  PrintW(L"\nREM FileSize=%lld Hash=%ls\n", static_cast<long long>(r->size),
         hex);
}

// How one selected record is treated in its block.
enum Verdict { kSkip, kKeep, kErase };

Verdict decide(const FileRecord *x, const MatchCounts &c, uint32_t seen) {
  if (options.uCntParms <= 1) return seen == c.source ? kKeep : kErase;
  if (c.dest > 0) return x->fInSource ? kErase : kKeep;
  return options.Verbose ? kKeep : kSkip;
}

}  // namespace

void EraseFile(const wchar_t *path) {
  // The report shows every line before its erasure happens: a line that
  // could not be written erases nothing, and nothing after it.
  if (ReportFlushLost()) return;
  if (platformCalls.DeleteFileW(path)) {
    cntFilesErased++;
    return;
  }
  PrintFailure(kFailedDelete, platformCalls.GetLastError(), path);
}

namespace {

// True when the file at x's path still is the file whose digest matched:
// the same identity, size and times as when it was hashed (the times catch
// a new file that was given the number of a removed one).
bool stillHashedFile(const FileRecord *x) {
  HANDLE h = platformCalls.CreateFileW(FileRecordPathHere(x), GENERIC_READ,
                                       FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  FileIdentity now;
  bool same = FileIdentityFromHandle(h, &now) &&
              SameFileIdentity(&now, FileRecordIdentityOf(x));
  (void)platformCalls.CloseHandle(h);  // nothing to do if it fails
  return same;
}

// One record of a block and what the block does with it.
struct BlockLine {
  FileRecord *x;
  Verdict verdict;
};

// The second pass: every record of R's set that no earlier block printed.
std::vector<BlockLine> selectBlock(const std::vector<FileRecord *> &group,
                                   const FileRecord *r, const MatchCounts &c) {
  std::vector<BlockLine> lines;
  uint32_t seen = 0;
  for (FileRecord *x : group) {
    if (!isFreshMatch(x, r)) continue;
    if (x->fInSource) seen++;
    Verdict v = decide(x, c, seen);
    if (v != kSkip) lines.push_back({x, v});
  }
  return lines;
}

// Erasing a copy is safe only while a kept copy still holds the contents.
bool keptCopyIntact(const std::vector<BlockLine> &lines) {
  for (const BlockLine &l : lines) {
    if (l.verdict == kKeep && stillHashedFile(l.x)) return true;
  }
  return false;
}

// Erases one "del " copy of a block, unless it or every kept copy changed
// since hashing; then the copy stays and a line says why.
void eraseCopy(const FileRecord *x, const std::vector<BlockLine> &lines,
               int *keptIntact) {
  if (*keptIntact < 0) *keptIntact = keptCopyIntact(lines);
  const wchar_t *why = nullptr;
  if (!*keptIntact)
    why = L"REM Not erased, the kept copy changed since it was hashed: ";
  else if (!stillHashedFile(x))
    why = L"REM Not erased, changed since it was hashed: ";
  if (why == nullptr) {
    EraseFile(FileRecordPathHere(x));
    return;
  }
  PrintW(L"%ls\"%ls\"\n", why, ShowPath(FileRecordPathHere(x), 1).c_str());
}

// Prints a block's lines, erasing its "del " copies with -d, and counts the
// block for the summary line.
void printBlock(const std::vector<BlockLine> &lines) {
  int keptIntact = -1;  // checked at the block's first erasure
  const uint32_t erasedBefore = cntFilesErased;
  uint32_t copies = 0;
  uint64_t bytes = 0;
  for (const BlockLine &l : lines) {
    cntFilesDuplicates++;
    const bool erase = l.verdict == kErase;
    PrintW(L"%ls\"%ls\"\n", erase ? L"del " : L"REM ",
           ShowPath(FileRecordPathHere(l.x), erase ? 2 : 1).c_str());
    l.x->fDisplayed = 1;
    if (l.verdict != kErase) continue;
    copies++;
    bytes += l.x->size;
    if (options.Delete) eraseCopy(l.x, lines, &keptIntact);
  }
  ProgressSetReported(copies, bytes, cntFilesErased - erasedBefore);
}

}  // namespace

// Prints the block of R's set and erases its "del " copies. Only records
// with a valid digest that no earlier block printed are selected, and
// exactly the records printed as "del " are erased, each only while it and
// a kept copy are still the files that were hashed.
void CompareHashesDisplayMatches(const wchar_t *sourcePath, linklist *files) {
  FileRecord *r = nullptr;  // the group's first record of the source path
  std::vector<FileRecord *> group;
  ListElement *cursor = nullptr;
  for (FileRecord *x = linklist_FindFirst(files, &cursor); x != nullptr;
       x = linklist_FindNext(files, &cursor)) {
    if (r == nullptr && FileRecordPathIs(x, sourcePath)) r = x;
    group.push_back(x);
  }
  if (r == nullptr) {
    DebugText(L"ERROR: CompareHashesDisplayMatches source not found");
    return;
  }
  ReportMatchesOf(r, group);
}

void ReportMatchesOf(FileRecord *r, const std::vector<FileRecord *> &group) {
  MatchCounts c = countMatches(group, r);
  if (c.all < 2) return;
  if (options.uCntParms > 1 && c.source == 0) return;
  if (options.Verbose || options.Debug) printHeader(r);
  std::vector<BlockLine> lines = selectBlock(group, r, c);
  if (!(options.Verbose || options.Debug) && !lines.empty()) PrintW(L"\n");

  if (!lines.empty()) printBlock(lines);
}
