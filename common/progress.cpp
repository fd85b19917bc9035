// The status line of a search on a terminal: counters raised by the scan,
// the hashing pass and the hash routine, drawn on standard error with a
// carriage return so that each drawing overwrites the last.
#include <chrono>
#include <cwchar>

#include "common/common.h"

Progress progress;

namespace {

uint64_t NowMs(void) {
  return (uint64_t)std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Appends n blanks at buf[at]; returns the new end. Can't fail.
size_t Blanks(wchar_t *buf, size_t at, uint32_t n) {
  for (uint32_t i = 0; i < n; i++) buf[at++] = L' ';
  return at;
}

// Draws the line now when it is due. Can't fail.
void Tick(void) {
  if (!progress.enabled) return;
  uint64_t now = NowMs();
  if (!ProgressDue(&progress, now)) return;
  wchar_t text[kProgressTextCap];
  progress.shownWidth = ProgressRedrawText(&progress, text);
  progress.lastDrawMs = now;
  PrintErrW(text);
}

}  // namespace

int ProgressDue(const Progress *p, uint64_t nowMs) {
  return nowMs >= p->lastDrawMs + kProgressRedrawMs ? 1 : 0;
}

// The hashed share never reads above the total, even when a group whose
// first file failed is hashed again.
uint32_t ProgressRedrawText(const Progress *p, wchar_t *buf) {
  uint64_t hashed =
      p->bytesHashed < p->bytesToHash ? p->bytesHashed : p->bytesToHash;
  buf[0] = L'\r';
  int n = swprintf(buf + 1, kProgressLineCap,
                   L"%u files scanned, %u groups hashed (%llu of %llu MiB)",
                   p->filesScanned, p->groupsHashed,
                   (unsigned long long)(hashed >> 20),
                   (unsigned long long)(p->bytesToHash >> 20));
  uint32_t width = n > 0 ? (uint32_t)n : 0;
  size_t end = 1 + width;
  if (p->shownWidth > width) end = Blanks(buf, end, p->shownWidth - width);
  buf[end] = L'\0';
  return width;
}

void ProgressClearText(uint32_t width, wchar_t *buf) {
  if (width > kProgressLineCap) width = kProgressLineCap;
  buf[0] = L'\r';
  size_t end = Blanks(buf, 1, width);
  buf[end++] = L'\r';
  buf[end] = L'\0';
}

// Drawn only where it cannot mix with the report or the Debug lines.
void ProgressStart(void) {
  progress = Progress{};
  progress.enabled =
      StderrIsTerminal() && !StdoutIsTerminal() && !options.Debug ? 1 : 0;
  progress.summary = progress.enabled;
  progress.dirsAtStart = cntDirsRemoved;
  progress.lastDrawMs = NowMs();
}

void ProgressFileScanned(void) {
  progress.filesScanned++;
  Tick();
}

// A group reaching two records brings both to the total; each later record
// brings its own size.
void ProgressFileRecorded(uint64_t size, uint32_t groupCount) {
  if (groupCount == 2) progress.bytesToHash += 2 * size;
  if (groupCount > 2) progress.bytesToHash += size;
}

void ProgressGroupHashed(void) {
  progress.groupsHashed++;
  Tick();
}

void ProgressBytesHashed(uint64_t bytes) {
  progress.bytesHashed += bytes;
  Tick();
}

void ProgressClear(void) {
  if (progress.shownWidth != 0) {
    wchar_t text[kProgressTextCap];
    ProgressClearText(progress.shownWidth, text);
    PrintErrW(text);
    progress.shownWidth = 0;
  }
}

void ProgressEnd(void) {
  ProgressClear();
  progress.enabled = 0;
}
