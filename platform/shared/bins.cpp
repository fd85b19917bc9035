// The Windows names of recycle bins, which both builds never enter: a
// Windows disk may be read from Linux too.
#include "platform/shared/bins.h"

#include <cwchar>

namespace {

wchar_t AsciiUpper(wchar_t c) { return c >= L'a' && c <= L'z' ? c - 32 : c; }

bool SameIgnoringCase(const wchar_t *a, const wchar_t *b) {
  while (*a != L'\0' && AsciiUpper(*a) == AsciiUpper(*b)) a++, b++;
  return *a == L'\0' && *b == L'\0';
}

}  // namespace

int IsWindowsBinName(const wchar_t *name) {
  static const wchar_t *const kBins[] = {L"$RECYCLE.BIN", L"RECYCLER",
                                         L"System Volume Information"};
  for (const wchar_t *bin : kBins)
    if (SameIgnoringCase(name, bin)) return 1;
  return 0;
}
