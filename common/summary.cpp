// The summary line of a search on a terminal: what was scanned, reported
// and erased, written on standard error once the search is over.
#include <cwchar>

#include "common/common.h"

namespace {

// Appends text at buf[*at], never past kSummaryTextCap - 1. Can't fail.
void Append(wchar_t *buf, size_t *at, const wchar_t *text) {
  while (*text != L'\0' && *at + 1 < kSummaryTextCap) buf[(*at)++] = *text++;
  buf[*at] = L'\0';
}

// n with a comma between groups of three digits: 12,345. Can't fail.
void AppendCount(wchar_t *buf, size_t *at, uint64_t n) {
  wchar_t digits[32];
  int len = swprintf(digits, 32, L"%llu", (unsigned long long)n);
  wchar_t grouped[48];
  size_t g = 0;
  for (int i = 0; i < len; i++) {
    if (i > 0 && (len - i) % 3 == 0) grouped[g++] = L',';
    grouped[g++] = digits[i];
  }
  grouped[g] = L'\0';
  Append(buf, at, grouped);
}

// n, a blank and the singular or plural noun: "1 set", "12 sets".
void AppendCounted(wchar_t *buf, size_t *at, uint64_t n, const wchar_t *one,
                   const wchar_t *many) {
  AppendCount(buf, at, n);
  Append(buf, at, L" ");
  Append(buf, at, n == 1 ? one : many);
}

// Bytes below 1 KiB as they are, else in the largest binary unit reached,
// to a tenth: "512 bytes", "34.5 MiB". Can't fail.
void AppendBytes(wchar_t *buf, size_t *at, uint64_t bytes) {
  static const wchar_t *const kUnits[] = {L"KiB", L"MiB", L"GiB", L"TiB"};
  if (bytes < 1024) {
    AppendCounted(buf, at, bytes, L"byte", L"bytes");
    return;
  }
  int k = 0;
  uint64_t unit = 1024;
  while (k < 3 && bytes >= unit * 1024) {
    unit *= 1024;
    k++;
  }
  uint64_t tenths = bytes / unit * 10 + (bytes % unit * 10 + unit / 2) / unit;
  if (tenths >= 10240 && k < 3) {  // rounded up into the next unit
    unit *= 1024;
    k++;
    tenths = bytes / unit * 10 + (bytes % unit * 10 + unit / 2) / unit;
  }
  wchar_t text[48];
  swprintf(text, 48, L"%llu.%llu %ls", (unsigned long long)(tenths / 10),
           (unsigned long long)(tenths % 10), kUnits[k]);
  Append(buf, at, text);
}

}  // namespace

void ProgressSetReported(uint32_t copies, uint64_t bytes, uint32_t erased) {
  progress.setsReported++;
  progress.copiesToErase += copies;
  progress.bytesToErase += bytes;
  progress.copiesErased += erased;
}

void ProgressSummaryText(const Progress *p, int erasing, uint32_t dirsRemoved,
                         wchar_t *buf) {
  size_t at = 0;
  buf[0] = L'\0';
  Append(buf, &at, L"TwinSift: ");
  AppendCounted(buf, &at, p->filesScanned, L"file scanned", L"files scanned");
  Append(buf, &at, L", ");
  AppendCounted(buf, &at, p->setsReported, L"set", L"sets");
  Append(buf, &at, L", ");
  AppendCounted(buf, &at, p->copiesToErase, L"copy to erase",
                L"copies to erase");
  Append(buf, &at, L" (");
  AppendBytes(buf, &at, p->bytesToErase);
  Append(buf, &at, L")");
  if (erasing) {
    Append(buf, &at, L", ");
    AppendCount(buf, &at, p->copiesErased);
    Append(buf, &at, L" erased, ");
    AppendCounted(buf, &at, dirsRemoved, L"directory removed",
                  L"directories removed");
  }
  if (p->foldersUnread != 0) {
    Append(buf, &at, L", ");
    AppendCounted(buf, &at, p->foldersUnread, L"folder", L"folders");
    Append(buf, &at, L" could not be read");
  }
  if (p->onlineUnread != 0) {
    Append(buf, &at, L", ");
    AppendCounted(buf, &at, p->onlineUnread, L"online-only file",
                  L"online-only files");
    Append(buf, &at, L" not read");
  }
  if (p->reportLost)
    Append(buf, &at, L", stopped: the report could not be written");
  Append(buf, &at, L"\n");
}

void ProgressSummary(void) {
  if (!progress.summary) return;
  wchar_t text[kSummaryTextCap];
  progress.reportLost = ReportLost();
  ProgressSummaryText(&progress, options.Delete,
                      cntDirsRemoved - progress.dirsAtStart, text);
  PrintErrW(text);
  progress.summary = 0;
}
