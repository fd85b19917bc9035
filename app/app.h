// Command-line front end: parsing, the help screen, the options dump and
// the run sequence. The top of the program: nothing below includes it.
#pragma once

#include "common/common.h"

// The day this build was compiled, as line 2 of the help screen shows it.
extern const char helpBuildDate[];

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
