// The status line on a real terminal (a pseudo-terminal) and on a pipe:
// drawn and cleared on the first, never a byte on the second.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "app/app.h"

namespace {

// Runs body with standard output on /dev/null and standard error on fd;
// returns what the master side of a terminal (or the read end of a pipe)
// then holds.
std::string WithStderrOn(int fd, int readEnd,
                         const std::function<void()> &body) {
  fflush(stdout);
  const int savedOut = dup(1), savedErr = dup(2);
  const int devNull = open("/dev/null", O_WRONLY);
  dup2(devNull, 1);
  dup2(fd, 2);
  body();
  dup2(savedOut, 1);
  dup2(savedErr, 2);
  close(savedOut);
  close(savedErr);
  close(devNull);
  close(fd);
  std::string got;
  char buf[4096];
  fcntl(readEnd, F_SETFL, O_NONBLOCK);
  ssize_t n;
  while ((n = read(readEnd, buf, sizeof(buf))) > 0) got.append(buf, (size_t)n);
  close(readEnd);
  return got;
}

// A scan step long after the last drawing, then the end of the run.
void OneDueTickThenEnd() {
  optionsClear();
  ProgressStart();
  progress.lastDrawMs = 0;
  ProgressFileScanned();
  ProgressEnd();
}

TEST(ProgressTerminal, DrawnAndClearedOnATerminal) {
  int master = -1, slave = -1;
  ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0)
      << "fixture: no pseudo-terminal";
  std::string got = WithStderrOn(slave, master, OneDueTickThenEnd);
  std::string line = "1 files scanned, 0 groups hashed (0 of 0 MiB)";
  EXPECT_EQ(got, "\r" + line + "\r" + std::string(line.size(), ' ') + "\r");
}

TEST(ProgressTerminal, NothingOnAPipeOrWithDebug) {
  int p[2];
  ASSERT_EQ(pipe(p), 0) << "fixture: no pipe";
  EXPECT_EQ(WithStderrOn(p[1], p[0], OneDueTickThenEnd), "");

  int master = -1, slave = -1;
  ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0)
      << "fixture: no pseudo-terminal";
  std::string got = WithStderrOn(slave, master, [] {
    optionsClear();
    options.Debug = 1;  // its lines would mix with the status line
    ProgressStart();
    progress.lastDrawMs = 0;
    ProgressFileScanned();
    ProgressEnd();
  });
  EXPECT_EQ(got, "");
}

}  // namespace
