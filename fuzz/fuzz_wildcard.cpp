// Fuzzes the wildcard matcher of the Linux directory listing. The input is a
// pattern and, after a zero byte, a name. On inputs short enough the answer
// must agree with a plain recursive matcher; on all of them it must not
// change when the name's ASCII letters change case, and a name always
// matches itself (without wildcards), "*" and "*.*". The per-input time
// limit of the fuzz run catches a matcher that backtracks without bound.
#include "fuzz/fuzz_support.h"

namespace {

// Longest pattern and name handed to the reference matcher.
const size_t kReferenceLength = 256;

wchar_t FoldCase(wchar_t c) {
  return (c >= L'A' && c <= L'Z') ? (wchar_t)(c - L'A' + L'a') : c;
}

wchar_t SwapCase(wchar_t c) {
  if (c >= L'A' && c <= L'Z') return (wchar_t)(c - L'A' + L'a');
  if (c >= L'a' && c <= L'z') return (wchar_t)(c - L'a' + L'A');
  return c;
}

// '*' any run, '?' any one character, other characters equal but for ASCII
// case; memo holds 0 unknown, 1 no, 2 yes for each (pattern, name) position.
bool Plain(const std::wstring &p, size_t i, const std::wstring &n, size_t j,
           std::vector<uint8_t> *memo) {
  uint8_t &known = (*memo)[i * (n.size() + 1) + j];
  if (known != 0) return known == 2;
  bool match;
  if (i == p.size()) {
    match = j == n.size();
  } else if (p[i] == L'*') {
    match = Plain(p, i + 1, n, j, memo) ||
            (j < n.size() && Plain(p, i, n, j + 1, memo));
  } else {
    match = j < n.size() &&
            (p[i] == L'?' || FoldCase(p[i]) == FoldCase(n[j])) &&
            Plain(p, i + 1, n, j + 1, memo);
  }
  known = match ? 2 : 1;
  return match;
}

bool PlainMatch(const std::wstring &p, const std::wstring &n) {
  std::vector<uint8_t> memo((p.size() + 1) * (n.size() + 1), 0);
  return Plain(p, 0, n, 0, &memo);
}

// A trailing ".*" may also match nothing at all.
bool ReferenceMatch(const std::wstring &p, const std::wstring &n) {
  if (PlainMatch(p, n)) return true;
  const size_t len = p.size();
  return len >= 2 && p[len - 2] == L'.' && p[len - 1] == L'*' &&
         PlainMatch(p.substr(0, len - 2), n);
}

bool HasWildcard(const std::wstring &s) {
  return s.find_first_of(L"*?") != std::wstring::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::vector<std::wstring> parts = WidePieces(data, size, 2);
  const std::wstring &pattern = parts[0];
  const std::wstring name = parts.size() > 1 ? parts[1] : L"";
  const bool found = WildcardMatch(pattern.c_str(), name.c_str());
  if (pattern.size() <= kReferenceLength && name.size() <= kReferenceLength) {
    FUZZ_CHECK(found == ReferenceMatch(pattern, name));
  }
  std::wstring swapped = name;
  for (wchar_t &c : swapped) c = SwapCase(c);
  FUZZ_CHECK(WildcardMatch(pattern.c_str(), swapped.c_str()) == found);
  FUZZ_CHECK(WildcardMatch(L"*", name.c_str()));
  FUZZ_CHECK(WildcardMatch(L"*.*", name.c_str()));
  if (!HasWildcard(name)) FUZZ_CHECK(WildcardMatch(name.c_str(), name.c_str()));
  return 0;
}
