// Folders the scan cannot read, folders deeper than the system's path
// limit, and memory that runs out, on the Linux build: the program runs as
// a process on real trees (as another user when the tests run as root,
// whom permissions do not stop).
#include <fcntl.h>
#include <ftw.h>
#include <limits.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/harness.h"

namespace {

const uid_t kNobody = 65534;

int OpenToAll(const char *path, const struct stat *, int type, FTW *) {
  return chmod(path, type == FTW_D ? 0777 : 0666);
}

class FoldersTest : public E2ETest {
 protected:
  // Lets nobody read and change the tree made so far (its paths within the
  // system's limit).
  void OpenTreeToAll() {
    if (nftw(P(Root()).c_str(), OpenToAll, 16, FTW_PHYS) != 0)
      ADD_FAILURE() << "fixture: the tree could not be opened to all";
  }
  // Runs the program with args, as nobody when the tests run as root, with
  // at most asLimit bytes of address space (0: no limit).
  RunResult Run(const std::vector<std::wstring> &args, rlim_t asLimit = 0) {
    const std::string out = P(Root()) + ".out", err = P(Root()) + ".err";
    std::vector<std::string> argv = {P(TwinSiftExe())};
    for (const std::wstring &a : args) argv.push_back(P(a));
    std::vector<char *> cargv;
    for (std::string &a : argv) cargv.push_back(a.data());
    cargv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
      dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666), 1);
      dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666), 2);
      if (geteuid() == 0 && (setgid(kNobody) != 0 || setuid(kNobody) != 0))
        _exit(126);
      const rlimit limit = {asLimit, asLimit};
      if (asLimit != 0 && setrlimit(RLIMIT_AS, &limit) != 0) _exit(126);
      execv(cargv[0], cargv.data());
      _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    RunResult r;
    r.exitCode =
        WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    ReadBytes(W(out), &r.out);
    ReadBytes(W(err), &r.err);
    unlink(out.c_str());
    unlink(err.c_str());
    return r;
  }
};

// A folder that cannot be listed (0311) and one that can be listed but not
// entered (0600) are each named once with the system's code and text; what
// lies beside them is still found and erased, neither they nor the folder
// holding only one of them is purged, and the run exits 3.
TEST_F(FoldersTest, FolderThatCannotBeReadIsNamedAndTheRunExits3) {
  MakeFile("src/a/x", "same");
  MakeFile("src/b/x", "same");
  MakeFile("src/locked/y", "same");
  MakeFile("src/e/noentry/z", "same");
  OpenTreeToAll();
  ASSERT_EQ(chmod(P(At("src/locked")).c_str(), 0311), 0);
  ASSERT_EQ(chmod(P(At("src/e/noentry")).c_str(), 0600), 0);
  const RunResult r = Run({L"-r", L"-d", At("src")});
  chmod(P(At("src/locked")).c_str(), 0777);
  chmod(P(At("src/e/noentry")).c_str(), 0777);
  EXPECT_EQ(r.exitCode, 3);
  EXPECT_EQ(r.err, "TwinSift: a folder could not be read (5): \"" +
                       P(At("src/e/noentry")) +
                       "\" Access is denied.\n"
                       "TwinSift: a folder could not be read (5): \"" +
                       P(At("src/locked")) + "\" Access is denied.\n");
  EXPECT_NE(PathExists(At("src/a/x")), PathExists(At("src/b/x")));
  EXPECT_TRUE(PathExists(At("src/locked/y")));
  EXPECT_TRUE(PathExists(At("src/e/noentry/z")));
  EXPECT_EQ(r.out.find("locked"), std::string::npos);
  EXPECT_EQ(r.out.find("rd  \"" + P(At("src/e"))), std::string::npos);
}

// Makes dir's chain of levels names below fd, each a directory opened
// relative to the last; returns the deepest one's descriptor (-1 on error).
int MakeChain(int fd, const std::string &name, int levels) {
  for (int i = 0; i < levels && fd >= 0; i++) {
    const std::string n = name + std::to_string(i);
    if (mkdirat(fd, n.c_str(), 0777) != 0) return -1;
    const int next = openat(fd, n.c_str(), O_RDONLY | O_DIRECTORY);
    close(fd);
    fd = next;
    if (fd >= 0) fchmod(fd, 0777);  // whatever the umask
  }
  return fd;
}

bool WriteAt(int dir, const char *name, const std::string &bytes) {
  const int fd = openat(dir, name, O_WRONLY | O_CREAT | O_TRUNC, 0666);
  if (fd < 0) return false;
  fchmod(fd, 0666);
  const bool ok =
      write(fd, bytes.data(), bytes.size()) == (ssize_t)bytes.size();
  return close(fd) == 0 && ok;
}

// Folders whose paths are longer than PATH_MAX are listed, their files
// hashed and erased, and an empty one among them removed by the purge.
TEST_F(FoldersTest, FoldersDeeperThanThePathLimitAreListedAndErased) {
  MakeFile("src/top", "same");
  OpenTreeToAll();
  const int top = open(P(At("src")).c_str(), O_RDONLY | O_DIRECTORY);
  const int deep = MakeChain(top, std::string(200, 'd'), 25);
  ASSERT_GE(deep, 0) << "fixture: the deep chain could not be made";
  ASSERT_TRUE(WriteAt(deep, "a", "same") && WriteAt(deep, "b", "same"));
  ASSERT_EQ(mkdirat(deep, "empty", 0777), 0);
  ASSERT_EQ(fchmodat(deep, "empty", 0777, 0), 0);
  const RunResult r = Run({L"-r", L"-d", At("src")});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out.find("is not a directory"), std::string::npos);
  int left = PathExists(At("src/top")) ? 1 : 0;
  struct stat st;
  for (const char *name : {"a", "b"}) left += fstatat(deep, name, &st, 0) == 0;
  EXPECT_EQ(left, 1);
  EXPECT_NE(fstatat(deep, "empty", &st, 0), 0);
  EXPECT_NE(r.out.find("/empty\"\n"), std::string::npos);
  close(deep);
}

// Memory that runs out under an address-space limit: one line on standard
// error and exit status 4, never an abort; every copy erased before it has
// its line in the saved report.
TEST_F(FoldersTest, MemoryThatRunsOutEndsTheRunWithStatus4) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "a sanitizer's own shadow memory cannot run under a low "
                  "address-space limit; the release build runs this";
#endif
  for (int i = 0; i < 20000; i++)
    MakeFile("src/d" + std::to_string(i % 50) + "/f" + std::to_string(i),
             std::to_string(i % 5000));
  OpenTreeToAll();
  const RunResult r = Run({L"-r", L"-d", At("src")}, 24u << 20);
  EXPECT_EQ(r.exitCode, 4);
  EXPECT_EQ(r.err, "TwinSift: out of memory; the run stopped.\n");
  for (int i = 0; i < 20000; i++) {
    const std::wstring f =
        At("src/d" + std::to_string(i % 50) + "/f" + std::to_string(i));
    if (!PathExists(f)) {
      EXPECT_NE(r.out.find("del \"" + P(f) + "\"\n"), std::string::npos);
    }
  }
}

}  // namespace
