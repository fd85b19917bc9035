// Fuzzes the command-line parser over whole argument lists (the input cut at
// zero bytes): any list parses without a fault or a leak, the flags and the
// stored parameters are exactly what the arguments ask for, and
// optionsClear gives everything back.
#include <algorithm>
#include <cstring>

#include "app/app.h"
#include "fuzz/fuzz_support.h"

namespace {

// Enough arguments to overflow the parameter table.
const size_t kMaxArgs = MAX_PARMS + 8;
// A switch argument is judged on this many characters at most.
const size_t kJudged = 259;

// What a list of arguments should leave in the options record.
struct Expected {
  int32_t All, Debug, Delete, Help, ParmError, Recurse, Test, Verbose;
  std::vector<std::wstring> parms;
};

wchar_t UpperAscii(wchar_t c) {
  return (c >= L'a' && c <= L'z') ? (wchar_t)(c - L'a' + L'A') : c;
}

// The flag an (upper-case) switch letter sets in e, or null. Can't fail.
int32_t *LetterFlag(Expected *e, wchar_t letter) {
  switch (letter) {
    case L'?':
    case L'H':
      return &e->Help;
    case L'A':
      return &e->All;
    case L'D':
      return &e->Delete;
    case L'R':
      return &e->Recurse;
    case L'T':
      return &e->Test;
    case L'V':
      return &e->Verbose;
    default:
      return nullptr;
  }
}

// A switch argument: the prefix alone, the word DEBUG, or letters.
void ExpectSwitches(const std::wstring &arg, Expected *e) {
  const size_t n = std::min(arg.size(), kJudged);
  if (n == 1) {
    e->ParmError = 1;
    return;
  }
  std::wstring word;
  for (size_t i = 1; i < n; i++) word += UpperAscii(arg[i]);
  if (word == L"DEBUG") {
    e->Debug = 1;
    return;
  }
  for (wchar_t letter : word) {
    int32_t *flag = LetterFlag(e, letter);
    if (flag != nullptr) {
      *flag = 1;
    } else {
      e->ParmError = 1;
    }
  }
}

void ExpectArgument(const std::wstring &arg, Expected *e) {
  if (!arg.empty() && IsSwitchPrefix(arg[0])) {
    ExpectSwitches(arg, e);
  } else if (arg == L"?") {
    e->Help = 1;
  } else if (e->parms.size() < MAX_PARMS) {
    e->parms.push_back(arg);
  } else {
    e->ParmError = 1;
  }
}

// The record holds exactly the expected flags and parameters, every later
// entry of Parm is null.
void CheckRecord(const Expected &e) {
  FUZZ_CHECK(options.All == e.All && options.Debug == e.Debug);
  FUZZ_CHECK(options.Delete == e.Delete && options.Help == e.Help);
  FUZZ_CHECK(options.ParmError == e.ParmError);
  FUZZ_CHECK(options.Recurse == e.Recurse && options.Test == e.Test);
  FUZZ_CHECK(options.Verbose == e.Verbose);
  FUZZ_CHECK(options.uCntParms == e.parms.size());
  for (size_t i = 0; i <= MAX_PARMS; i++) {
    if (i < e.parms.size()) {
      FUZZ_CHECK(options.Parm[i] != nullptr && e.parms[i] == options.Parm[i]);
    } else {
      FUZZ_CHECK(options.Parm[i] == nullptr);
    }
  }
}

void CheckCleared() {
  static const Options kZero = {};
  FUZZ_CHECK(memcmp(&options, &kZero, sizeof kZero) == 0);
}

}  // namespace

// The parser's messages and the dump are formatted but not kept.
extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  if (freopen("/dev/null", "w", stdout) == nullptr) abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::vector<std::wstring> args = WidePieces(data, size, kMaxArgs);
  optionsClear();
  CheckCleared();
  Expected e = {};
  for (const std::wstring &arg : args) {
    optionsParse(arg.c_str());
    ExpectArgument(arg, &e);
  }
  CheckRecord(e);
  PrintOptionsDump();
  optionsClear();
  CheckCleared();
  return 0;
}
