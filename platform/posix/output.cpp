// Standard output as UTF-8 bytes, encoded by this layer (never through the
// C library's locale).
#include "platform/shared/output.h"

#include "platform/platform.h"
#include "platform/posix/internal.h"

void EncodeStdout(const wchar_t *text, size_t len, std::string *out) {
  AppendUtf8(text, len, out);
}

int IsSwitchPrefix(wchar_t c) { return c == L'-'; }
