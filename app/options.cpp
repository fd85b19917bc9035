// Command-line options: parsing, the help screen and the options dump.
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "app/app.h"

// Switch arguments and the bare "?" are judged on at most this many
// characters; parameters are stored whole whatever their length.
#define OPTION_SCAN_CHARS 259

// Releases the stored parameters and zeroes every field. Can't fail.
void optionsClear(void) {
  for (uint32_t i = 0; i <= MAX_PARMS; i++) free(options.Parm[i]);
  memset(&options, 0, sizeof options);
}

// Upper-cases a to z only; every other character is returned unchanged.
// Can't fail.
static wchar_t UpperAscii(wchar_t c) {
  return (c >= L'a' && c <= L'z') ? (wchar_t)(c - L'a' + L'A') : c;
}

// Copies at most OPTION_SCAN_CHARS characters of arg into work (room for
// OPTION_SCAN_CHARS + 1), upper-cased and terminated. Returns the number
// copied. Can't fail.
static size_t UpperCopy(const wchar_t *arg, wchar_t *work) {
  size_t n = 0;
  while (n < OPTION_SCAN_CHARS && arg[n] != L'\0') {
    work[n] = UpperAscii(arg[n]);
    n++;
  }
  work[n] = L'\0';
  return n;
}

// The flag a switch letter (upper-cased) sets, or null for an unknown one.
// Can't fail.
static int32_t *SwitchFlag(wchar_t letter) {
  switch (letter) {
    case L'?':
    case L'H':
      return &options.Help;
    case L'A':
      return &options.All;
    case L'D':
      return &options.Delete;
    case L'R':
      return &options.Recurse;
    case L'T':
      return &options.Test;
    case L'V':
      return &options.Verbose;
    default:
      return nullptr;
  }
}

// A switch argument: the prefix alone, the word DEBUG, or a run of letters.
// Faults set ParmError; an unknown letter is reported as typed and the
// scan goes on. Can't fail.
static void ParseSwitches(const wchar_t *arg, const wchar_t *upper, size_t n) {
  if (n == 1) {
    options.ParmError = 1;
    return;
  }
  if (wcscmp(upper + 1, L"DEBUG") == 0) {
    options.Debug = 1;
    return;
  }
  for (size_t i = 1; i < n; i++) {
    int32_t *flag = SwitchFlag(upper[i]);
    if (flag != nullptr) {
      *flag = 1;
      continue;
    }
    PrintW(L"ERR: Unrecognized option '%lc'\n", (wint_t)arg[i]);
    options.ParmError = 1;
  }
}

// Stores a source or destination parameter whole, as typed. On a full
// table or a failed allocation the message is printed and ParmError set.
static void StoreParameter(const wchar_t *arg) {
  if (options.uCntParms >= MAX_PARMS) {
    PrintW(L"ERR: Maximum parameter count exceeded \"%ls\"\n", arg);
    options.ParmError = 1;
    return;
  }
  size_t len = wcslen(arg);
  wchar_t *copy = (wchar_t *)calloc(len + 1, sizeof(wchar_t));
  if (copy == nullptr) {
    PrintW(L"ERR: optionsParse malloc failed.  \"%ls\"\n", arg);
    options.ParmError = 1;
    return;
  }
  wmemcpy(copy, arg, len);
  options.Parm[options.uCntParms++] = copy;
}

// Can't fail: faults set ParmError and print their message.
void optionsParse(const wchar_t *arg) {
  wchar_t upper[OPTION_SCAN_CHARS + 1];
  size_t n = UpperCopy(arg, upper);
  if (IsSwitchPrefix(upper[0])) {
    ParseSwitches(arg, upper, n);
  } else if (n == 1 && upper[0] == L'?') {
    options.Help = 1;
  } else {
    StoreParameter(arg);
  }
}

const char helpBuildDate[] = __DATE__;

// Forty lines, one narrow write each; line 2 carries the build date.
// Can't fail.
void PrintHelp(void) {
  // clang-format off
  static const char *const kLines[] = {
      "\n",
      "TwinSift - Find duplicate files - " __DATE__ "\n",
      "\n",
      "Locates duplicate files in a directory or a directory tree (-r) basing the\n",
      "comparison on the file contents and ignoring the file names.\n",
      "Common usage is importing pictures from camera media and wishing to determine\n",
      "whether the files have been previously imported and possibly renamed.\n",
      "\n",
      "Program output is displayed in the format of a BAT file to support redirection\n",
      "of stdout and manual inspection of results before conducting actual erase.\n",
      "Optionally, with (-d) specified, program will perform file erase\n",
      "\n",
      "When both source and destination parameters are provided, destination is read-only\n",
      "and only files in source are considered for erase\n",
      "\n",
      "Zero size files are ignored for erase as they are always identical and the file\n",
      "presence can have meaning outside of their contents (common with .ini files).\n",
      "\n",
      "When deleting (-d) with recurse (-r), the program also removes empty directories.\n",
      "A directory is considered empty when it has no files, or when it has only files\n",
      "of zero size and in this case, the zero size files are purged with the directory.\n",
      "\n",
      "Syntax:\n",
      "    twinsift [-switches] <Source> [Destination] [Destination] ...\n",
      "\n",
      "Where\n",
      "    Source      Directory path and optionally filenames, wildcards supported\n",
      "    Destination Directory path and optionally filenames, wildcards supported\n",
      "\n",
      "Switches:\n",
      "    -? Help     Show this help screen\n",
      "    -a All      Same behavior as DIR /A\n",
      "    -d Delete   Perform file erase and remove empty directories\n",
      "    -r Recurse  Process sub-directories\n",
      "    -v Verbose  Show hashes and include information of matching files only in source\n",
      "\n",
      "Examples\n",
      "    twinsift -r c:\\music\\*.mp3\n",
      "    twinsift -r e:\\ \"c:\\family pictures\"\n",
      "    twinsift -r e:\\ \"c:\\family pictures\\*.jpg\" \"c:\\scanned pictures\"\n",
  };
  // clang-format on
  for (const char *line : kLines) PrintA(line);
}

// The field values, then one line per stored parameter. Can't fail.
void PrintOptionsDump(void) {
  PrintW(L"Options\n");
  PrintW(L".All             = %d\n", options.All);
  PrintW(L".Debug           = %d\n", options.Debug);
  PrintW(L".Delete          = %d\n", options.Delete);
  PrintW(L".Help            = %d\n", options.Help);
  PrintW(L".ParmError       = %d\n", options.ParmError);
  PrintW(L".Recurse         = %d\n", options.Recurse);
  PrintW(L".Test            = %d\n", options.Test);
  PrintW(L".Verbose         = %d\n", options.Verbose);
  PrintW(L".uCntParms       = %d\n", (int)options.uCntParms);
  for (uint32_t i = 0; i < options.uCntParms; i++) {
    PrintW(L".Parm            = %ls\n", options.Parm[i]);
  }
}
