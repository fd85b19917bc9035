// Linux entry point: the arguments arrive as bytes and are decoded as the
// platform layer decodes names, so that every one round-trips exactly.
#include <fcntl.h>
#include <malloc.h>
#include <signal.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace {

// The run frees its records in bulk at the end, in an order unrelated to
// their addresses: freed blocks are merged with their neighbours at once
// instead of in sweeps over every small block freed so far. Can't fail.
void MergeFreedBlocks() { mallopt(M_MXFAST, 0); }

// A reader of the report that goes away is a failed write (EPIPE), seen
// and reported as any other, not a signal that ends the run unannounced.
// A standard stream that is closed is held by /dev/null opened for reading,
// so that no file the run opens takes its number (a report written into a
// file being hashed) and a write to it fails as it should. Can't fail.
void PrepareStandardStreams() {
  signal(SIGPIPE, SIG_IGN);
  for (int fd = 0; fd <= 2; fd++) {
    if (fcntl(fd, F_GETFD) != -1) continue;
    const int held = open("/dev/null", O_RDONLY);
    if (held >= 0 && held != fd) {
      dup2(held, fd);
      close(held);
    }
  }
}

}  // namespace

int main(int argc, char **argv) {
  PrepareStandardStreams();
  MergeFreedBlocks();
  std::vector<std::wstring> args;
  args.reserve((size_t)argc);
  for (int i = 0; i < argc; i++) args.push_back(WideFromBytes(argv[i]));
  std::vector<wchar_t *> wargv;
  for (std::wstring &arg : args) wargv.push_back(arg.data());
  wargv.push_back(nullptr);
  return AppMain(argc, wargv.data());
}
