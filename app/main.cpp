// The entry of a run: parse the command line, then pick self-test, help,
// refusal or a search.
#include <new>

#include "app/app.h"
#include "paths/paths.h"

// The mode the parsed options ask for; returns the exit code. Test wins over
// Help, and Help over a refused argument.
static int RunChosenMode(void) {
  if (options.Test) {
    RunSelfTest();
    return 0;
  }
  if (options.Help) {
    PrintHelp();
    return 0;
  }
  if (options.ParmError) return 1;
  return RunSearch();
}

// The run itself; returns its exit code before the last flush.
static int RunArguments(int argc, wchar_t **argv) {
  optionsClear();
  for (int i = 1; i < argc; i++) optionsParse(argv[i]);
  if (options.uCntParms == 0) options.Help = 1;
  if (options.Debug) PrintOptionsDump();
  return RunChosenMode();
}

// Returns the exit code: 0, 1 when an argument was refused,
// EXIT_INCOMPLETE when a folder could not be read, or EXIT_REPORT_LOST when
// standard output could not be written (which wins). Memory that runs out
// ends the process with EXIT_NO_MEMORY (MemoryExhausted) instead.
int AppMain(int argc, wchar_t **argv) {
  MemoryExhaustedSetUp();
  int exitCode = 0;
  try {
    exitCode = RunArguments(argc, argv);
  } catch (const std::bad_alloc &) {  // a standard container's, not new's
    MemoryExhausted();
  }
  return ReportFlushLost() ? EXIT_REPORT_LOST : exitCode;
}
