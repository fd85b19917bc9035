// Names as bytes: UTF-8 with every undecodable byte kept as U+DC80..U+DCFF.
#include <cstdint>
#include <string>

#include "platform/posix/internal.h"

namespace {

const wchar_t kEscapeBase = 0xDC00;

bool IsContinuation(unsigned char b) { return (b & 0xC0u) == 0x80u; }

// The number of bytes of the valid UTF-8 sequence at s[i] (of n bytes), or
// 0 when the byte there does not start one (overlong forms, surrogates,
// values above U+10FFFF and truncated sequences included). Can't fail.
size_t SequenceLength(const char *s, size_t n, size_t i) {
  const unsigned char b = (unsigned char)s[i];
  size_t len = 0;
  unsigned char lo = 0x80, hi = 0xBF;  // bounds of the second byte
  if (b < 0x80) return 1;
  if (b >= 0xC2 && b <= 0xDF) len = 2;
  if (b >= 0xE0 && b <= 0xEF) len = 3;
  if (b >= 0xF0 && b <= 0xF4) len = 4;
  if (b == 0xE0) lo = 0xA0;  // overlong
  if (b == 0xED) hi = 0x9F;  // surrogates
  if (b == 0xF0) lo = 0x90;  // overlong
  if (b == 0xF4) hi = 0x8F;  // above U+10FFFF
  if (len == 0 || i + len > n) return 0;
  const unsigned char second = (unsigned char)s[i + 1];
  if (second < lo || second > hi) return 0;
  for (size_t k = 2; k < len; k++) {
    if (!IsContinuation((unsigned char)s[i + k])) return 0;
  }
  return len;
}

// The code point of a valid sequence of len bytes at s[i]. Can't fail.
wchar_t DecodeSequence(const char *s, size_t i, size_t len) {
  static const unsigned char kLeadMask[5] = {0, 0x7F, 0x1F, 0x0F, 0x07};
  uint32_t cp = (unsigned char)s[i] & kLeadMask[len];
  for (size_t k = 1; k < len; k++) {
    cp = (cp << 6) | ((unsigned char)s[i + k] & 0x3Fu);
  }
  return (wchar_t)cp;
}

}  // namespace

void AppendWide(const char *bytes, size_t n, std::wstring *out) {
  size_t i = 0;
  while (i < n) {
    const size_t len = SequenceLength(bytes, n, i);
    if (len == 0) {
      out->push_back((wchar_t)(kEscapeBase + (unsigned char)bytes[i]));
      i++;
    } else {
      out->push_back(DecodeSequence(bytes, i, len));
      i += len;
    }
  }
}

std::wstring WideFromBytes(const std::string &bytes) {
  std::wstring wide;
  wide.reserve(bytes.size());
  AppendWide(bytes.data(), bytes.size(), &wide);
  return wide;
}

void AppendUtf8(const wchar_t *text, size_t len, std::string *out) {
  for (size_t i = 0; i < len; i++) {
    uint32_t cp = (uint32_t)text[i];
    if (cp >= 0xDC80 && cp <= 0xDCFF) {
      out->push_back((char)(cp - kEscapeBase));
      continue;
    }
    if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = 0xFFFD;
    if (cp < 0x80) {
      out->push_back((char)cp);
    } else if (cp < 0x800) {
      out->push_back((char)(0xC0 | (cp >> 6)));
      out->push_back((char)(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out->push_back((char)(0xE0 | (cp >> 12)));
      out->push_back((char)(0x80 | ((cp >> 6) & 0x3F)));
      out->push_back((char)(0x80 | (cp & 0x3F)));
    } else {
      out->push_back((char)(0xF0 | (cp >> 18)));
      out->push_back((char)(0x80 | ((cp >> 12) & 0x3F)));
      out->push_back((char)(0x80 | ((cp >> 6) & 0x3F)));
      out->push_back((char)(0x80 | (cp & 0x3F)));
    }
  }
}

std::string BytesFromWide(const std::wstring &wide) {
  std::string bytes;
  bytes.reserve(wide.size());
  AppendUtf8(wide.data(), wide.size(), &bytes);
  return bytes;
}

std::string PathBytes(const wchar_t *path) {
  std::string bytes;
  AppendUtf8(path, wcslen(path), &bytes);
  return bytes;
}
