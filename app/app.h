// Command-line front end: options, help screen, options dump, run counters.
#pragma once

#include <cstdint>

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

// Clears every flag, the count and the stored parameters (releasing them).
void optionsClear(void);
// Parses one command-line argument into `options`. Can't fail: faults set
// ParmError and print their message.
void optionsParse(const wchar_t *arg);
// The help screen, with the narrow output.
void PrintHelp(void);
// The "Options" dump, with the wide output.
void PrintOptionsDump(void);

// The search itself, from the containers to the end-of-run checks. Returns
// the exit code.
int RunSearch(void);

// Writes an internal fault text through "%ls" when Debug is set; no line end
// is added.
void DebugText(const wchar_t *text);

#if defined(TWINSIFT_TEST_HOOKS)
// Test builds only: called at named points of a run ("scan-dir" before a
// directory is listed, "hash" before a file is hashed, "erase" before a
// copy is checked and erased, "purge-dir" before a directory is purged), so
// tests can change the file system between the steps.
extern void (*testHook)(const wchar_t *point, const wchar_t *path);
#define TEST_HOOK(point, path)                      \
  do {                                              \
    if (testHook != nullptr) testHook(point, path); \
  } while (0)
#else
#define TEST_HOOK(point, path) \
  do {                         \
  } while (0)
#endif
