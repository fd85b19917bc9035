// Windows entry point: the arguments already arrive as wide strings
// (linked with -municode).
#include "platform/platform.h"

int wmain(int argc, wchar_t **argv) {
  const int code = AppMain(argc, argv);
  PrintFlush();
  return code;
}
