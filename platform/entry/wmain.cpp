// Windows entry point: the arguments already arrive as wide strings
// (linked with -municode).
#include "platform/platform.h"

int wmain(int argc, wchar_t **argv) {
  return AppMain(argc, argv);  // it writes out the report itself
}
