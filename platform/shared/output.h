// What both builds' standard output shares: formatting wide text, the
// output buffer, and the print calls of platform.h. Each platform supplies
// the encoding and the write of a piece of bytes, and StdoutIsTerminal of
// platform.h. Never included by the core.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>
#include <vector>

#include "platform/platform.h"

// Formats into *buf, growing it as needed (capped at a few million
// characters). Accepts both answers a too small buffer can get (-1, or the
// length needed). Returns the length without terminator; on error, -1 is
// returned and *buf holds no usable text.
int FormatWide(std::vector<wchar_t> *buf, const wchar_t *fmt, va_list ap);

// Appends the bytes that stand for len characters of text on standard
// output, line ends as the platform writes them (platform). Can't fail.
void EncodeStdout(const wchar_t *text, size_t len, std::string *out);
// The same for plain ASCII text (the help screen). Can't fail.
void EncodeStdoutNarrow(const char *text, size_t len, std::string *out);

// Writes all len bytes to standard output (platform). Returns 0, or the
// Windows code of the failed write: 112 disk full, 109 or 232 a reader
// gone, 6 no standard output.
DWORD WriteStdout(const char *bytes, size_t len);
