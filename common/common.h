// What the whole program shares, below every subsystem: the options
// record, the run counters, the Debug and failure texts, a file's identity
// the status-line counters the scan and the pass raise, and the start of a
// thread. It includes nothing but platform/; every folder may include it.
#pragma once

#include <cstdint>
#include <functional>
#include <thread>

#include "platform/platform.h"

#define MAX_PARMS 63

// The process-wide options record, cleared at the start of a run.
struct Options {
  int32_t All;
  int32_t Debug;
  int32_t Delete;
  int32_t Help;
  int32_t ParmError;
  int32_t Recurse;
  int32_t Test;
  int32_t Verbose;
  uint32_t uCntParms;
  wchar_t *Parm[MAX_PARMS + 1];
};

extern Options options;

// Run counters, each raised by the subsystem that does the counted thing.
extern uint32_t cntFilesInSource;
extern uint32_t cntFilesInTree;
extern uint32_t cntFilesHashed;
extern uint32_t cntFilesDuplicates;
extern uint32_t cntFilesErased;
extern uint32_t cntDirsRemoved;

#define SHA256_BYTES 32

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

// 1 when id names its file: known, with a volume serial and a file index
// other than 0 (some network and virtual drives give 0 for every file).
// Can't fail.
int FileHasIdentity(const FileIdentity *id);

// Fills id (size: the file's size) from an open file. Returns 1, or 0 with
// id cleared when the system can't tell.
int FileIdentityFromHandle(HANDLE file, FileIdentity *id);
// 1 when both name their files (FileHasIdentity) and name the same one.
// Can't fail.
int SameFile(const FileIdentity *a, const FileIdentity *b);
// Orders identities by volume and file index: true when a comes before b.
// Those of one file (SameFile) are next to each other. Can't fail.
bool FileIdentityLess(const FileIdentity *a, const FileIdentity *b);
// 1 when a and b are known and tell of the same file, unchanged: the same
// size and times, and the same volume and index, or none on either.
// Can't fail.
int SameFileIdentity(const FileIdentity *a, const FileIdentity *b);

// The files behind standard output and standard error (a report saved
// inside the trees): never recorded, erased or purged. RunOutputLearn reads
// their identities at the start of a search; RunOutputKnown is 1 when
// either stream is a file on disk; IsRunOutput is 1 when id (known) is one
// of them. None can fail.
void RunOutputLearn(void);
int RunOutputKnown(void);
int IsRunOutput(const FileIdentity *id);

// Writes an internal fault text through "%ls" when Debug is set; no line end
// is added.
void DebugText(const wchar_t *text);

#define ERROR_TEXT_CAPACITY 260

// The text of the thread's last-error code, cut at the first line end;
// empty when the system has none.
void SystemErrorText(wchar_t *buf, DWORD capacity);

// The operations whose failure is reported on a line of its own.
enum FailedOperation {
  kFailedHash,             // "ComputeSHA256 failed (0x%x): ..."
  kFailedDelete,           // "DeleteFile failed (%d): ..."
  kFailedRemoveDirectory,  // "RemoveDirectory failed (%d): ..."
};

// Prints the failure line of op on path with code and the system's text for
// code. Leaves code as the last error. Can't fail.
void PrintFailure(FailedOperation op, DWORD code, const wchar_t *path);

// ---- The report's writes ----
// The report is the record of what was erased: once a write of standard
// output has failed, nothing more is erased or removed, the run ends, and
// its exit code is EXIT_REPORT_LOST (used by nothing else).
#define EXIT_REPORT_LOST 2
// The search ran to its end, but at least one folder could not be listed or
// entered: its answer is incomplete.
#define EXIT_INCOMPLETE 3
// Memory ran out: the run stopped there (MemoryExhausted).
#define EXIT_NO_MEMORY 4

// 1 once a write of standard output has failed, else 0. The first call that
// sees the failure clears the status line and prints one line on standard
// error with the code and its text. Can't fail.
int ReportLost(void);
// ReportLost after writing out everything printed so far: 0 means every
// line up to here has reached the output (called before each erasure).
int ReportFlushLost(void);

// ---- Folders that could not be read ----
// Names dir on standard error, one line with code and its text, and counts
// it in progress.foldersUnread: the run's answer is incomplete. A code that
// says memory ran out (8, 14) ends the run through MemoryExhausted instead.
// Called on the main thread only. Can't fail.
void FolderUnread(const wchar_t *dir, DWORD code);

// ---- Online-only files ----
// When the scans met online-only files (progress.onlineUnread), one
// line on standard error that says how many were not read; else nothing.
// Called once, at the end of the search. Can't fail.
void OnlineOnlyNotice(void);

// ---- Threads ----
// Starts a thread running body, held in *thread. Returns false, with
// *thread untouched, when no thread can be had. A variable so that a test
// can make a start fail, or hold the caller back until the thread is done.
extern bool (*ThreadStart)(std::thread *thread, std::function<void()> body);

// ---- Memory exhausted ----
// Ends the run: the report written out as far as it goes, one line on
// standard error, and the exit code EXIT_NO_MEMORY (EXIT_REPORT_LOST when
// the report was lost). Nothing is erased after it. On a thread other than
// the main one the report is not written out (only the main thread writes
// it). Any thread; never returns.
[[noreturn]] void MemoryExhausted(void);
// How MemoryExhausted ends the process: std::_Exit. A variable so that a
// test's process can remove its tree first.
extern void (*memoryExhaustedExit)(int code);
// Marks the run as out of memory without ending it, for a thread that hands
// its failure back: the main thread ends the run at its next erasure gate
// (ReportFlushLost) or failure line. Any thread; can't fail.
void NoteMemoryExhausted(void);
// 1 when code is a Windows code for memory that ran out (8, 14). Can't fail.
int IsNoMemoryCode(DWORD code);
// MemoryExhausted when called on the main thread after NoteMemoryExhausted.
// Can't fail.
void EndIfMemoryExhausted(void);
// From here on this thread is the main one, and operator new that fails
// ends the run through MemoryExhausted (on other threads it throws
// std::bad_alloc, after NoteMemoryExhausted). Keeps a reserve of memory
// that MemoryExhausted gives back so that its last steps can run. Can't
// fail.
void MemoryExhaustedSetUp(void);

// ---- The status line of a search on a terminal ----
// While a search runs with standard error on a terminal and standard output
// redirected (the report being saved), one line on standard error shows the
// files scanned, the groups hashed and the bytes hashed of the total to
// hash, redrawn at most every kProgressRedrawMs and cleared at the end. With
// the report on the terminal itself no line is drawn: it would have to be
// erased and redrawn around every report line. The counters are kept in
// every run; only the drawing depends on `enabled`.
#define kProgressRedrawMs 250
#define kProgressLineCap 120
#define kProgressTextCap (2 * kProgressLineCap + 4)

struct Progress {
  int32_t enabled;        // draw the line in this run
  uint32_t filesScanned;  // file entries met by the scans
  uint32_t groupsHashed;  // size groups hashed by the pass
  uint64_t bytesHashed;   // bytes read by the hash routine
  uint64_t bytesToHash;   // size x records of every group of 2+ records
  uint64_t lastDrawMs;    // when the line was last drawn (or the run began)
  uint32_t shownWidth;    // characters of the line now on screen; 0: none
  // The summary line at the end of the search, under the same rule.
  int32_t summary;         // print it in this run
  uint32_t setsReported;   // blocks of the report
  uint32_t copiesToErase;  // their "del " lines
  uint64_t bytesToErase;   // the sizes of those copies
  uint32_t copiesErased;   // of those, erased with -d
  uint32_t dirsAtStart;    // cntDirsRemoved when the run began
  int32_t reportLost;      // a write of the report failed: the run stopped
  uint32_t foldersUnread;  // folders that could not be listed or entered
  uint32_t onlineUnread;   // online-only files, never opened
};

extern Progress progress;

// Clears the counters and decides whether this run draws the line. Can't
// fail.
void ProgressStart(void);
// Counter updates, each followed by a redraw when one is due. Can't fail.
void ProgressFileScanned(void);
void ProgressFileRecorded(uint64_t size, uint32_t groupCount);
void ProgressGroupHashed(void);
void ProgressBytesHashed(uint64_t bytes);
// Erases the line, if one is shown. Can't fail.
void ProgressEnd(void);
// Erases the line, if one is shown, for a line of its own on standard
// error; it is drawn again at its next redraw. Can't fail.
void ProgressClear(void);

// The pieces of the drawing, apart for testing. ProgressDue: 1 when a
// redraw is due at nowMs. ProgressRedrawText: into buf (capacity
// kProgressTextCap), the text that replaces the shown line by the current
// counters' line; returns the new line's width. ProgressClearText: into buf
// (the same capacity), the text that erases a shown line of width
// characters. None can fail.
int ProgressDue(const Progress *p, uint64_t nowMs);
uint32_t ProgressRedrawText(const Progress *p, wchar_t *buf);
void ProgressClearText(uint32_t width, wchar_t *buf);

// ---- The summary line ----
// When the status line's rule holds, one line on standard error after the
// search (its purge included): the files scanned, the sets reported, their
// "del " copies and bytes, with -d the copies erased and the directories
// removed, the folders that could not be read and the online-only files not
// read. Standard output never changes.
#define kSummaryTextCap 320

// Counts one block of the report: its "del " copies, their bytes, and how
// many of them were erased. Can't fail.
void ProgressSetReported(uint32_t copies, uint64_t bytes, uint32_t erased);
// Prints the summary line when this run shows it. Can't fail.
void ProgressSummary(void);
// Into buf (capacity kSummaryTextCap), the summary line with its line end,
// the erasure part only when erasing, the folders that could not be read
// and the online-only files not read when there were any, and the stop when the
// report was lost; dirsRemoved is this run's count. Can't fail.
void ProgressSummaryText(const Progress *p, int erasing, uint32_t dirsRemoved,
                         wchar_t *buf);
