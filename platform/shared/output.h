// What both builds' standard output shares: formatting wide text, full
// buffering away from a terminal, and the print calls of platform.h. Each
// platform supplies EncodeStdout, and StdoutIsTerminal of platform.h. Never
// included by the core.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>
#include <vector>

// Formats into *buf, growing it as needed (capped at a few million
// characters). Accepts both answers a too small buffer can get (-1, or the
// length needed). Returns the length without terminator; on error, -1 is
// returned and *buf holds no usable text.
int FormatWide(std::vector<wchar_t> *buf, const wchar_t *fmt, va_list ap);

// Appends the bytes that stand for len characters of text on standard
// output (platform). Can't fail.
void EncodeStdout(const wchar_t *text, size_t len, std::string *out);
