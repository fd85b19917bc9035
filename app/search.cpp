// The search run: scans, the hashing pass and its report, tear-down, the
// empty-directory purge, and the end-of-run checks.
#include <cstdlib>
#include <cwchar>

#include "app/app.h"
#include "dups/dups.h"
#include "hash/hash.h"
#include "paths/paths.h"
#include "scan/scan.h"

namespace {

// The run's tree: nothing in a run reads its nodes' links. Exhaustion ends
// the run.
bintree *AllocateTree(void) {
  bintree *tree = bintree_Allocate();
  if (tree == nullptr) {
    DebugText(L"AllocateTree - allocate failed");
    MemoryExhausted();
  }
  bintree_DropLinks(tree);
  return tree;
}

// Turns a parameter into a directory and a filter. A parameter naming a
// directory scans it with "*"; otherwise its last component is the filter.
// Both strings count in fsplit_leakcheck and go back through fsplit_dealloc.
void resolveParam(const wchar_t *parm, wchar_t **dir, wchar_t **filter) {
  wchar_t *full = FullPathAlloc(parm);
  wchar_t *d = nullptr;
  wchar_t *n = nullptr;
  fsplit_with_allocs(full, &d, &n);
  free(full);
  size_t cap = wcslen(d) + wcslen(n) + 2;
  wchar_t *joined = StringAllocOrDie(cap);
  wcscpy(joined, d);
  StringConcat(joined, cap, n);
  if (IsADir(joined)) {
    free(d);  // the joined path and "*" take over their count
    free(n);
    *dir = joined;
    *filter = StringDupOrDie(L"*");
  } else {
    free(joined);
    *dir = d;
    *filter = n;
  }
}

// Scans each destination into the existing groups. Returns 0, or 1 when a
// destination's directory is the source's and the run must stop.
int scanDestinations(const wchar_t *srcDir, bintree *tree) {
  for (uint32_t i = 1; i < options.uCntParms; i++) {
    wchar_t *dir = nullptr;
    wchar_t *filter = nullptr;
    resolveParam(options.Parm[i], &dir, &filter);
    if (wcscmp(dir, srcDir) == 0) {
      PrintW(L"Err: Source and destination directories are same, stopping");
      fsplit_dealloc(dir, filter);
      return 1;
    }
    // A destination that is no directory, or a file that could not be
    // recorded, has had its message; the other destinations still count.
    destHoldsSource[i] = DirectoryHolds(dir, srcDir) ? 1 : 0;
    (void)ScanDirectory(dir, filter, tree, nullptr, i);
    if (options.Recurse && options.Delete) PurgeKeepDirectory(dir);
    fsplit_dealloc(dir, filter);
  }
  return 0;
}

// Releases every size group and its records, then the tree itself.
void tearDownTree(bintree *tree) {
  while (!bintree_IsEmpty(tree)) {
    SizeGroup *g = static_cast<SizeGroup *>(bintree_PruneSmallest(tree));
    if (g == nullptr) break;
    SizeGroupRelease(g);
  }
  bintree_DeAllocate(tree);
}

// With -r -d: removes the directories below the source left without data,
// then the source itself when it holds none.
void purgeSource(const wchar_t *srcDir) {
  PrintW(L"\n");
  if (!IsADir(srcDir)) return;
  if (PurgeEmptyDirs(srcDir) == 0) {
    PrintW(L"rd  \"%ls\"\n", ShowPath(srcDir, 2).c_str());
    RemoveEmptyDir(srcDir, 1);
  }
}

void releaseParms(void) {
  while (options.uCntParms > 0) {
    options.uCntParms--;
    free(options.Parm[options.uCntParms]);
    options.Parm[options.uCntParms] = nullptr;
  }
}

// The leak checks: a Debug line for split strings, a notice for hash buffers.
void endOfRunChecks(void) {
  if (fsplit_leakcheck != 0) DebugText(L"fsplit_leakcheck is non-zero\n");
  if (memCheckCnt != 0) {
    wchar_t text[1024];
    // At most 1024 characters are written: the text fits.
    (void)platformCalls.wsprintfW(
        text, L"memCheck: All memory was not released. Cnt = %d",
        static_cast<int>(memCheckCnt));
    PrintFlush();
    // A notice with one button: its answer means nothing.
    (void)platformCalls.MessageBoxW(nullptr, text, nullptr, MB_OK);
  }
}

}  // namespace

int RunSearch(void) {
  ProgressStart();
  RunOutputLearn();
  bintree *tree = AllocateTree();
  linklist *sourceList = AllocateList();
  if (sourceList == nullptr) MemoryExhausted();
  wchar_t *srcDir = nullptr;
  wchar_t *srcFilter = nullptr;
  resolveParam(options.Parm[0], &srcDir, &srcFilter);
  // Every failure of the scan has had its message, and what was recorded is
  // still searched: the run goes on whatever the code.
  (void)ScanDirectory(srcDir, srcFilter, tree, sourceList);
  int stop = scanDestinations(srcDir, tree);
  if (!stop) {
    HashGroupsAndCompare(sourceList, tree);
    if (cntFilesInSource == 0) PrintW(L"No files found\n");
  }
  ProgressEnd();
  // After the same-directory stop nothing more is printed; the memory is
  // still given back, quietly.
  tearDownTree(tree);
  linklist_DeAllocate(sourceList);
  hashReleaseProvider();
  if (!stop && options.Recurse && options.Delete && !ReportLost())
    purgeSource(srcDir);
  PurgeKeepNone();
  fsplit_dealloc(srcDir, srcFilter);
  releaseParms();
  (void)ReportFlushLost();  // the summary line tells a lost report
  if (!stop) {
    OnlineOnlyNotice();
    ProgressSummary();
    endOfRunChecks();
  }
  // A lost report is the caller's exit code.
  return progress.foldersUnread != 0 ? EXIT_INCOMPLETE : 0;
}
