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
  uint32_t aliases;  // shown second names of a read-only file
};

// The record holds a digest that may be compared: hashed, and not set
// aside as a second record of the same file.
bool hasDigest(const FileRecord *x) { return x->fHashed && !x->fSetAside; }

// X shares R's digest and has not been reported in an earlier block: a
// match, or a shown second name of a read-only file.
bool isFreshInSet(const FileRecord *x, const FileRecord *r) {
  return !x->fDisplayed && x->fHashed && x->fSetAside != kSetAside &&
         r->fHashed && r->fSetAside != kSetAside &&
         memcmp(FileRecordDigestOf(x), FileRecordDigestOf(r), SHA256_BYTES) ==
             0;
}

// X belongs to R's set as a file of its own.
bool isFreshMatch(const FileRecord *x, const FileRecord *r) {
  return hasDigest(x) && isFreshInSet(x, r);
}

bool isShownAlias(const FileRecord *x) { return x->fSetAside == kAliasShown; }

MatchCounts countMatches(const std::vector<FileRecord *> &group,
                         const FileRecord *r) {
  MatchCounts c = {0, 0, 0, 0};
  for (const FileRecord *x : group) {
    if (isShownAlias(x) && isFreshInSet(x, r)) c.aliases++;
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
    (void)platformCalls.wsprintfW(hex + 2 * i, L"%02X",
                                  FileRecordDigestOf(r)[i]);
  PrintW(L"\nREM FileSize=%lld Hash=%ls\n", static_cast<long long>(r->size),
         hex);
}

// How one selected record is treated in its block.
enum Verdict { kSkip, kKeep, kErase };

Verdict decide(const FileRecord *x, const MatchCounts &c, uint32_t seen) {
  if (isShownAlias(x)) return kKeep;
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
  const DWORD code = platformCalls.GetLastError();
  // Held open by another program (another run keeping it as its copy):
  // it stays, which is no failure of this run.
  if (code == ERROR_SHARING_VIOLATION) {
    PrintW(L"REM Not erased, in use by another program: \"%ls\"\n",
           ShowPath(path, 1).c_str());
    return;
  }
  PrintFailure(kFailedDelete, code, path);
}

namespace {

// Opens the file at x's path when it still is the file whose digest
// matched: the same identity, size and times as when it was hashed (the
// times catch a new file that was given the number of a removed one).
// Opened without FILE_SHARE_DELETE, no other run can erase it while the
// handle is open. INVALID_HANDLE_VALUE when it is not (or can't be
// opened); otherwise *now is its identity.
HANDLE openHashedFile(const FileRecord *x, FileIdentity *now) {
  HANDLE h = platformCalls.CreateFileW(FileRecordPathHere(x), GENERIC_READ,
                                       FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return h;
  if (FileIdentityFromHandle(h, now) &&
      SameFileIdentity(now, FileRecordIdentityOf(x)))
    return h;
  (void)platformCalls.CloseHandle(h);  // nothing to do if it fails
  return INVALID_HANDLE_VALUE;
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
    if (!isFreshMatch(x, r) && !(isShownAlias(x) && isFreshInSet(x, r)))
      continue;
    if (x->fInSource && !isShownAlias(x)) seen++;
    Verdict v = decide(x, c, seen);
    if (v != kSkip) lines.push_back({x, v});
  }
  return lines;
}

// The kept copy a block's erasures rely on, held open from the first
// erasure to the end of the block.
struct KeptHold {
  int tried = 0;
  HANDLE h = INVALID_HANDLE_VALUE;
  FileIdentity id = {};
};

// Holds the first kept copy of the block that still holds the contents.
void holdKeptCopy(const std::vector<BlockLine> &lines, KeptHold *hold) {
  hold->tried = 1;
  for (const BlockLine &l : lines) {
    if (l.verdict != kKeep) continue;
    hold->h = openHashedFile(l.x, &hold->id);
    if (hold->h != INVALID_HANDLE_VALUE) return;
  }
}

void releaseKeptCopy(KeptHold *hold) {
  if (hold->h != INVALID_HANDLE_VALUE)
    (void)platformCalls.CloseHandle(hold->h);  // nothing to do if it fails
}

// The path the system now names the open file by, or an empty string
// when it can't tell. Can't fail.
std::wstring finalPath(HANDLE h) {
  std::wstring path(MAX_PATH, L'\0');
  for (int tries = 0; tries < 2; tries++) {
    const DWORD n = platformCalls.GetFinalPathNameByHandleW(
        h, path.data(), static_cast<DWORD>(path.size()), 0);
    if (n == 0) break;
    if (n < path.size()) return path.substr(0, n);
    path.resize(n);
  }
  return std::wstring();
}

// Whether the open copy h (identity now) is shown to be another file than
// the held kept copy: by their identities, or, on a volume that gives
// none, by the paths the system names the two open files by.
enum Apart { kApart, kSameFile, kUnproven };

Apart apartFromKept(HANDLE h, const FileIdentity *now, const KeptHold *hold) {
  if (FileHasIdentity(now) && FileHasIdentity(&hold->id))
    return SameFile(now, &hold->id) ? kSameFile : kApart;
  const std::wstring mine = finalPath(h), kept = finalPath(hold->h);
  if (mine.empty() || kept.empty()) return kUnproven;
  return mine == kept ? kSameFile : kApart;
}

// Why the copy x may not be erased now, or null when it may: it and the
// held kept copy are still the files that were hashed, and two files,
// shown with both open at once.
const wchar_t *notErasedWhy(const FileRecord *x, const KeptHold *hold) {
  if (hold->h == INVALID_HANDLE_VALUE)
    return L"REM Not erased, the kept copy changed since it was hashed: ";
  FileIdentity now;
  HANDLE h = openHashedFile(x, &now);
  if (h == INVALID_HANDLE_VALUE)
    return L"REM Not erased, changed since it was hashed: ";
  const Apart apart = apartFromKept(h, &now, hold);
  (void)platformCalls.CloseHandle(h);  // nothing to do if it fails
  if (apart == kSameFile)
    return L"REM Not erased, the same file as its kept copy: ";
  if (apart == kUnproven)
    return L"REM Not erased, not shown to be another file than its kept "
           L"copy: ";
  return nullptr;
}

// Erases one "del " copy of a block, unless a line says why it stays.
void eraseCopy(const FileRecord *x, const std::vector<BlockLine> &lines,
               KeptHold *hold) {
  if (!hold->tried) holdKeptCopy(lines, hold);
  const wchar_t *why = notErasedWhy(x, hold);
  if (why == nullptr) {
    EraseFile(FileRecordPathHere(x));
    return;
  }
  PrintW(L"%ls\"%ls\"\n", why, ShowPath(FileRecordPathHere(x), 1).c_str());
}

// Prints a block's lines, erasing its "del " copies with -d, and counts the
// block for the summary line.
void printBlock(const std::vector<BlockLine> &lines) {
  KeptHold hold;  // taken at the block's first erasure
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
    if (options.Delete) eraseCopy(l.x, lines, &hold);
  }
  releaseKeptCopy(&hold);
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
  // A set whose read-only file is reached from the source too shows with
  // -v, with that file's names, though it has no source copy to erase.
  const bool showAliases = options.Verbose && c.aliases > 0;
  if (c.all < 2) return;
  if (options.uCntParms > 1 && c.source == 0 && !showAliases) return;
  if (options.Verbose || options.Debug) printHeader(r);
  std::vector<BlockLine> lines = selectBlock(group, r, c);
  if (!(options.Verbose || options.Debug) && !lines.empty()) PrintW(L"\n");

  if (!lines.empty()) printBlock(lines);
}
