// Test services on Linux: child processes, fixture trees, temporary folders.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/testing/testing.h"

extern char **environ;

const wchar_t kPathSep = L'/';
const char *const kLineEnd = "\n";

namespace {

// Appends what is readable on fd to *out; closes it and sets it to -1 at
// the end of the stream or on a read error. Can't fail.
void DrainOnce(int *fd, std::string *out) {
  char buf[65536];
  const ssize_t n = read(*fd, buf, sizeof(buf));
  if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
  if (n <= 0) {
    close(*fd);
    *fd = -1;
    return;
  }
  out->append(buf, (size_t)n);
}

// Reads both pipes to their ends together, so that neither child stream
// can fill up and stall the child. With firstLine, the output pipe is
// closed once a line end has been read from it. Can't fail.
void DrainPipes(int outFd, int errFd, ProcessResult *result,
                bool firstLine = false) {
  int fds[2] = {outFd, errFd};
  std::string *sinks[2] = {&result->out, &result->err};
  while (fds[0] >= 0 || fds[1] >= 0) {
    struct pollfd pfd[2] = {{fds[0], POLLIN, 0}, {fds[1], POLLIN, 0}};
    if (poll(pfd, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; i++) {
      if (fds[i] >= 0 && pfd[i].revents != 0) DrainOnce(&fds[i], sinks[i]);
    }
    if (firstLine && fds[0] >= 0 &&
        result->out.find('\n') != std::string::npos) {
      close(fds[0]);
      fds[0] = -1;
    }
  }
  for (int fd : fds) {
    if (fd >= 0) close(fd);
  }
}

// Waits for the child; its exit code, or 128 + the signal that ended it.
int WaitExit(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

// Removes path, its contents first when it is a directory (not a link to
// one), giving back write and search permission on the way. Can't fail.
void RemoveBytes(const std::string &path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return;
  if (!S_ISDIR(st.st_mode)) {
    unlink(path.c_str());
    return;
  }
  chmod(path.c_str(), st.st_mode | S_IRWXU);
  if (DIR *dir = opendir(path.c_str())) {
    while (const struct dirent *ent = readdir(dir)) {
      const std::string name = ent->d_name;
      if (name != "." && name != "..") RemoveBytes(path + "/" + name);
    }
    closedir(dir);
  }
  rmdir(path.c_str());
}

// Starts exe with argv (bytes, exe first), standard input empty, standard
// output and error into the given write ends (outFd -1: output closed), in
// cwd (empty: ours). On
// error, the posix_spawn code is returned and *pid is unset.
int SpawnChild(std::vector<std::string> &argBytes, const std::string &cwd,
               int outFd, int errFd, pid_t *pid) {
  std::vector<char *> argv;
  for (std::string &arg : argBytes) argv.push_back(arg.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (outFd >= 0)
    posix_spawn_file_actions_adddup2(&actions, outFd, 1);
  else
    posix_spawn_file_actions_addclose(&actions, 1);
  posix_spawn_file_actions_adddup2(&actions, errFd, 2);
  if (!cwd.empty()) {
    posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  }
  const int rc =
      posix_spawn(pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return rc;
}

}  // namespace

std::string OutputBytes(const std::wstring &text) {
  return BytesFromWide(text);
}

// A relative exe is taken from cwd, as the child sees it.
bool RunProcess(const std::wstring &exe, const std::vector<std::wstring> &args,
                const std::wstring &cwd, ProcessResult *result) {
  return RunProcessWith(exe, args, cwd, OutputSink::kPipe, result);
}

bool RunProcessWith(const std::wstring &exe,
                    const std::vector<std::wstring> &args,
                    const std::wstring &cwd, OutputSink sink,
                    ProcessResult *result) {
  int outPipe[2] = {-1, -1}, errPipe[2];
  if (sink == OutputSink::kFullDevice) {
    outPipe[1] = open("/dev/full", O_WRONLY | O_CLOEXEC);
    if (outPipe[1] < 0) return false;
  } else if (sink != OutputSink::kClosed && pipe2(outPipe, O_CLOEXEC) != 0) {
    return false;
  }
  if (pipe2(errPipe, O_CLOEXEC) != 0) {
    for (int fd : outPipe)
      if (fd >= 0) close(fd);
    return false;
  }
  std::vector<std::string> argv = {BytesFromWide(exe)};
  for (const std::wstring &arg : args) argv.push_back(BytesFromWide(arg));
  pid_t pid = 0;
  const int rc =
      SpawnChild(argv, BytesFromWide(cwd), outPipe[1], errPipe[1], &pid);
  if (outPipe[1] >= 0) close(outPipe[1]);
  close(errPipe[1]);
  *result = ProcessResult();
  DrainPipes(outPipe[0], errPipe[0], result, sink == OutputSink::kFirstLine);
  if (rc != 0) return false;
  result->exitCode = WaitExit(pid);
  return true;
}

bool RunProcessesToFiles(const std::wstring &exe,
                         const std::vector<std::vector<std::wstring>> &argsList,
                         const std::vector<std::wstring> &outPaths,
                         const std::wstring &cwd, std::vector<int> *exitCodes) {
  std::vector<pid_t> pids(argsList.size(), 0);
  bool all = true;
  for (size_t i = 0; i < argsList.size(); i++) {
    const int out = open(BytesFromWide(outPaths[i]).c_str(),
                         O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int err = open("/dev/null", O_WRONLY | O_CLOEXEC);
    std::vector<std::string> argv = {BytesFromWide(exe)};
    for (const std::wstring &arg : argsList[i])
      argv.push_back(BytesFromWide(arg));
    if (out < 0 || err < 0 ||
        SpawnChild(argv, BytesFromWide(cwd), out, err, &pids[i]) != 0) {
      pids[i] = 0;
      all = false;
    }
    if (out >= 0) close(out);
    if (err >= 0) close(err);
  }
  exitCodes->assign(argsList.size(), -1);
  for (size_t i = 0; i < pids.size(); i++)
    if (pids[i] != 0) (*exitCodes)[i] = WaitExit(pids[i]);
  return all;
}

std::wstring ExecutableDir() {
  char buf[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
  if (n <= 0) return L".";
  std::string path(buf, (size_t)n);
  const size_t slash = path.find_last_of('/');
  path.resize(slash == 0 ? 1 : slash);
  return WideFromBytes(path);
}

std::wstring MakeTempDir() {
  const char *tmp = getenv("TMPDIR");
  std::string templ = (tmp != nullptr && *tmp != 0) ? tmp : "/tmp";
  while (templ.size() > 1 && templ.back() == '/') templ.pop_back();
  templ += "/twinsift-test-XXXXXX";
  if (mkdtemp(templ.data()) == nullptr) return std::wstring();
  return WideFromBytes(templ);
}

bool MakeDir(const std::wstring &path) {
  return mkdir(BytesFromWide(path).c_str(), 0755) == 0;
}

bool WriteBytes(const std::wstring &path, const std::string &bytes) {
  const int fd = open(BytesFromWide(path).c_str(),
                      O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += (size_t)n;
  }
  return close(fd) == 0 && done == bytes.size();
}

bool ReadBytes(const std::wstring &path, std::string *bytes) {
  const int fd = open(BytesFromWide(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bytes->clear();
  char buf[65536];
  ssize_t n;
  while ((n = read(fd, buf, sizeof(buf))) != 0) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    bytes->append(buf, (size_t)n);
  }
  close(fd);
  return n == 0;
}

bool PathExists(const std::wstring &path) {
  struct stat st;
  return lstat(BytesFromWide(path).c_str(), &st) == 0;
}

bool SetReadOnly(const std::wstring &path, bool readOnly) {
  const std::string bytes = BytesFromWide(path);
  struct stat st;
  if (stat(bytes.c_str(), &st) != 0) return false;
  const mode_t mode =
      readOnly ? (st.st_mode & ~S_IWUSR) : (st.st_mode | S_IWUSR);
  return chmod(bytes.c_str(), mode & 07777) == 0;
}

void RemoveTree(const std::wstring &path) { RemoveBytes(BytesFromWide(path)); }

bool MakeSparseFile(const std::wstring &path, unsigned long long size) {
  const int fd = open(BytesFromWide(path).c_str(),
                      O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  const bool ok = ftruncate(fd, (off_t)size) == 0;
  return close(fd) == 0 && ok;
}

std::wstring CurrentDir() {
  char *cwd = getcwd(nullptr, 0);
  if (cwd == nullptr) return std::wstring();
  const std::wstring dir = WideFromBytes(cwd);
  free(cwd);
  return dir;
}

bool RunningAsRoot() { return geteuid() == 0; }
