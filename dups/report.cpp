// The match report: one batch-file block per set of identical files, and
// the erasure of the copies it marks "del ".
#include <cstring>
#include <cwchar>

#include "app/app.h"
#include "dups/dups.h"

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

FileRecord *findSource(linklist *files, const wchar_t *path) {
  ListElement *cursor = nullptr;
  for (FileRecord *x = linklist_FindFirst(files, &cursor); x != nullptr;
       x = linklist_FindNext(files, &cursor)) {
    if (wcscmp(x->path, path) == 0) return x;
  }
  DebugText(L"ERROR: CompareHashesDisplayMatches source not found");
  return nullptr;
}

MatchCounts countMatches(linklist *files, const FileRecord *r) {
  MatchCounts c = {0, 0, 0};
  ListElement *cursor = nullptr;
  for (FileRecord *x = linklist_FindFirst(files, &cursor); x != nullptr;
       x = linklist_FindNext(files, &cursor)) {
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
    wsprintfW(hex + 2 * i, L"%02X", r->hash[i]);
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

void SystemErrorText(wchar_t *buf, DWORD capacity) {
  buf[0] = L'\0';
  DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, GetLastError(),
                           0, buf, capacity, nullptr);
  if (n == 0) {
    buf[0] = L'\0';
    return;
  }
  buf[capacity - 1] = L'\0';
  buf[wcscspn(buf, L"\r\n")] = L'\0';
}

void EraseFile(const wchar_t *path) {
  PrintFlush();  // the report shows every line before its erasure happens
  if (DeleteFileW(path)) {
    cntFilesErased++;
    return;
  }
  DWORD code = GetLastError();
  wchar_t text[ERROR_TEXT_CAPACITY];
  SystemErrorText(text, ERROR_TEXT_CAPACITY);
  PrintW(L"DeleteFile failed (%d): \"%ls\" : %ls\n", static_cast<int>(code),
         ShowPath(path, 0).c_str(), text);
}

// Prints the block of R's set and erases its "del " copies. Only records
// with a valid digest that no earlier block printed are selected, and
// exactly the records printed as "del " are erased.
void CompareHashesDisplayMatches(const wchar_t *sourcePath, linklist *files) {
  FileRecord *r = findSource(files, sourcePath);
  if (r == nullptr) return;
  MatchCounts c = countMatches(files, r);
  if (c.all < 2) return;
  if (options.uCntParms > 1 && c.source == 0) return;
  bool blankOwed = !(options.Verbose || options.Debug);
  if (!blankOwed) printHeader(r);

  uint32_t seen = 0;
  ListElement *cursor = nullptr;
  for (FileRecord *x = linklist_FindFirst(files, &cursor); x != nullptr;
       x = linklist_FindNext(files, &cursor)) {
    if (!isFreshMatch(x, r)) continue;
    if (x->fInSource) seen++;
    Verdict v = decide(x, c, seen);
    if (v == kSkip) continue;
    if (blankOwed) PrintW(L"\n");
    blankOwed = false;
    cntFilesDuplicates++;
    PrintW(L"%ls\"%ls\"\n", v == kErase ? L"del " : L"REM ",
           ShowPath(x->path, 1).c_str());
    x->fDisplayed = 1;
    if (options.Delete && v == kErase) EraseFile(x->path);
  }
}
