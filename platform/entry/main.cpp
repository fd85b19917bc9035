// Linux entry point: the arguments arrive as bytes and are decoded as the
// platform layer decodes names, so that every one round-trips exactly.
#include <string>
#include <vector>

#include "platform/platform.h"

int main(int argc, char **argv) {
  std::vector<std::wstring> args;
  args.reserve((size_t)argc);
  for (int i = 0; i < argc; i++) args.push_back(WideFromBytes(argv[i]));
  std::vector<wchar_t *> wargv;
  for (std::wstring &arg : args) wargv.push_back(arg.data());
  wargv.push_back(nullptr);
  const int code = AppMain(argc, wargv.data());
  PrintFlush();
  return code;
}
