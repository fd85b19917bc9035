// The entry of a run: parse the command line, then pick self-test, help,
// refusal or a search.
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

// Returns the exit code: 0, 1 when an argument was refused, or
// EXIT_REPORT_LOST when standard output could not be written.
int AppMain(int argc, wchar_t **argv) {
  optionsClear();
  for (int i = 1; i < argc; i++) optionsParse(argv[i]);
  if (options.uCntParms == 0) options.Help = 1;
  if (options.Debug) PrintOptionsDump();

  int exitCode = RunChosenMode();
  return ReportFlushLost() ? EXIT_REPORT_LOST : exitCode;
}
