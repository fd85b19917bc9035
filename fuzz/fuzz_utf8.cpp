// Fuzzes the Linux name encoding (WideFromBytes, BytesFromWide) against a
// decoder of its own. Read as bytes, the input decodes to code points where
// that decoder finds valid UTF-8 and to U+DC80..U+DCFF escapes elsewhere,
// and encodes back to the very same bytes. Read as a wide string, four bytes
// a character, it encodes and decodes back to itself (characters no UTF-8
// can carry as U+FFFD), unless escapes next to each other spell a valid
// sequence, which then decodes as that character.
#include "fuzz/fuzz_support.h"

namespace {

const uint32_t kEscapeBase = 0xDC00;
const uint32_t kReplacement = 0xFFFD;

bool IsEscape(uint32_t c) { return c >= 0xDC80 && c <= 0xDCFF; }

bool IsScalar(uint32_t c) {
  return c <= 0x10FFFF && !(c >= 0xD800 && c <= 0xDFFF);
}

size_t EncodedLength(uint32_t cp) {
  return cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
}

// Reads the sequence the lead byte s[i] announces, with no judgement on the
// value, and accepts it only as the shortest encoding of a scalar value.
// Returns its length and the value in *cp, or 0 when it is not valid.
size_t ReferenceDecode(const uint8_t *s, size_t n, size_t i, uint32_t *cp) {
  const uint8_t b = s[i];
  const size_t len = b < 0x80           ? 1
                     : (b >> 5) == 0x6  ? 2
                     : (b >> 4) == 0xE  ? 3
                     : (b >> 3) == 0x1E ? 4
                                        : 0;
  if (len == 0 || i + len > n) return 0;
  uint32_t v = len == 1 ? b : (uint32_t)(b & (0x7F >> len));
  for (size_t k = 1; k < len; k++) {
    if ((s[i + k] & 0xC0) != 0x80) return 0;
    v = (v << 6) | (uint32_t)(s[i + k] & 0x3F);
  }
  if (!IsScalar(v) || EncodedLength(v) != len) return 0;
  *cp = v;
  return len;
}

// Every byte position gets the character the reference decoder gives, or
// its escape; the bytes come back unchanged.
void CheckBytes(const uint8_t *data, size_t size) {
  const std::string bytes((const char *)data, size);
  const std::wstring wide = WideFromBytes(bytes);
  size_t k = 0;
  for (size_t i = 0; i < size; k++) {
    uint32_t cp = 0;
    size_t len = ReferenceDecode(data, size, i, &cp);
    if (len == 0) {
      cp = kEscapeBase + data[i];
      len = 1;
    }
    FUZZ_CHECK(k < wide.size() && (uint32_t)wide[k] == cp);
    i += len;
  }
  FUZZ_CHECK(k == wide.size());
  FUZZ_CHECK(BytesFromWide(wide) == bytes);
}

// The next character from four input bytes: ASCII, two-, three- and
// four-byte values, escapes, or a value no UTF-8 can carry.
uint32_t NextChar(const uint8_t *d, size_t n, size_t *i) {
  uint32_t take[4] = {0, 0, 0, 0};
  for (uint32_t &t : take) t = *i < n ? d[(*i)++] : 0;
  const uint32_t x = take[1] | (take[2] << 8) | (take[3] << 16);
  switch (take[0] % 8) {
    case 0:
    case 1:
      return x & 0x7F;
    case 2:
      return 0x80 + x % 0x780;
    case 3: {
      const uint32_t v = 0x800 + x % 0xF000;  // surrogates skipped below
      return v >= 0xD800 ? v + 0x800 : v;
    }
    case 4:
      return 0x10000 + x % 0x100000;
    case 5:
    case 6:
      return 0xDC80 + (x & 0x7F);
    default:
      return (x & 1) ? 0xD800 + (x >> 1) % 0x800 : 0x110000 + (x >> 1);
  }
}

// True when a run of escapes in w holds the bytes of a valid sequence.
bool EscapesSpellASequence(const std::wstring &w) {
  std::vector<uint8_t> run;
  for (size_t k = 0; k <= w.size(); k++) {
    if (k < w.size() && IsEscape((uint32_t)w[k])) {
      run.push_back((uint8_t)(w[k] - kEscapeBase));
      continue;
    }
    for (size_t i = 0; i < run.size(); i++) {
      uint32_t cp = 0;
      if (ReferenceDecode(run.data(), run.size(), i, &cp) != 0) return true;
    }
    run.clear();
  }
  return false;
}

void CheckWide(const uint8_t *data, size_t size) {
  std::wstring wide, expected;
  for (size_t i = 0; i < size;) {
    const uint32_t c = NextChar(data, size, &i);
    wide.push_back((wchar_t)c);
    expected.push_back(
        (wchar_t)(IsScalar(c) || IsEscape(c) ? c : kReplacement));
  }
  const std::string bytes = BytesFromWide(wide);
  FUZZ_CHECK(BytesFromWide(expected) == bytes);
  const std::wstring back = WideFromBytes(bytes);
  FUZZ_CHECK(BytesFromWide(back) == bytes);
  FUZZ_CHECK((back == expected) != EscapesSpellASequence(expected));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  CheckBytes(data, size);
  CheckWide(data, size);
  return 0;
}
