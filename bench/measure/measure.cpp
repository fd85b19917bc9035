// Runs one command and tells what it cost: wall seconds, peak RSS in KiB
// and the bytes its threads read (the rchar of /proc/PID/io, taken while
// the finished process is still a zombie, so every thread's reads count).
// Plain POSIX; no TwinSift code.
//
//   twinsift_measure OUT CMD [ARG...]   appends "seconds peak-KB rchar" to
//                                       OUT; exits with CMD's status
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

double Now() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (double)ts.tv_sec + (double)ts.tv_nsec / 1e9;
}

// The rchar line of a process's io file, or -1.
long long ReadChars(pid_t pid) {
  char path[64];
  snprintf(path, sizeof path, "/proc/%d/io", (int)pid);
  FILE *io = fopen(path, "r");
  if (io == nullptr) return -1;
  char line[128];
  long long rchar = -1;
  while (fgets(line, sizeof line, io) != nullptr)
    if (strncmp(line, "rchar:", 6) == 0) rchar = atoll(line + 6);
  fclose(io);
  return rchar;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: twinsift_measure OUT CMD [ARG...]\n");
    return 2;
  }
  const double start = Now();
  pid_t pid = fork();
  if (pid < 0) return 127;
  if (pid == 0) {
    execvp(argv[2], argv + 2);
    _exit(127);
  }
  siginfo_t info;
  memset(&info, 0, sizeof info);
  while (waitid(P_PID, (id_t)pid, &info, WEXITED | WNOWAIT) != 0) {
  }
  const double seconds = Now() - start;
  const long long rchar = ReadChars(pid);
  int status = 0;
  struct rusage usage;
  memset(&usage, 0, sizeof usage);
  while (wait4(pid, &status, 0, &usage) < 0) {
  }
  FILE *out = fopen(argv[1], "a");
  if (out == nullptr) return 127;
  fprintf(out, "%.3f %ld %lld\n", seconds, usage.ru_maxrss, rchar);
  fclose(out);
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}
