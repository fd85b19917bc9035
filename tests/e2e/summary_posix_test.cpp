// The summary line on a real terminal: the program runs with standard
// error on a pseudo-terminal and its report going to a file, as when a
// report is saved from a shell.
#include <fcntl.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "support/harness.h"

namespace {

class SummaryTerminal : public E2ETest {
 protected:
  // Runs the program with args, standard error on a terminal that passes
  // bytes through unchanged and standard output into a file; sets err to
  // what the terminal received after the last carriage return (the status
  // line, if one was drawn, ends with one) and returns the report.
  std::string RunOnTerminal(const std::vector<std::wstring> &args,
                            std::string *err) {
    int master = -1, slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
      ADD_FAILURE() << "fixture: no pseudo-terminal";
      return "";
    }
    termios mode;
    tcgetattr(slave, &mode);
    cfmakeraw(&mode);  // no "\r\n" for "\n"
    tcsetattr(slave, TCSANOW, &mode);
    const std::string outPath = P(Root()) + "/report.txt";
    std::vector<std::string> argv = {P(TwinSiftExe())};
    for (const std::wstring &a : args) argv.push_back(P(a));
    std::vector<char *> cargv;
    for (std::string &a : argv) cargv.push_back(a.data());
    cargv.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
      int in = open("/dev/null", O_RDONLY);
      int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(in, 0);
      dup2(out, 1);
      dup2(slave, 2);
      close(master);
      execv(cargv[0], cargv.data());
      _exit(127);
    }
    close(slave);
    std::string got;
    char buf[4096];
    ssize_t n;
    while ((n = read(master, buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
      if (n > 0) got.append(buf, (size_t)n);
    close(master);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    const size_t cr = got.rfind('\r');
    *err = cr == std::string::npos ? got : got.substr(cr + 1);
    std::string report;
    ReadBytes(W(outPath), &report);
    return report;
  }
};

TEST_F(SummaryTerminal, SearchEndsWithTheSummaryAndAnUnchangedReport) {
  MakeFile("src/a.jpg", std::string(3000, 'a'));
  MakeFile("src/sub/b.jpg", std::string(3000, 'a'));
  MakeFile("src/c.jpg", "single");
  MakeFile("dst/d.jpg", std::string(3000, 'a'));
  MakeFile("dst/e.jpg", "other!");
  const std::vector<std::wstring> args = {L"-r", At("src"), At("dst")};
  std::string err;
  const std::string report = RunOnTerminal(args, &err);
  EXPECT_EQ(err,
            "TwinSift: 5 files scanned, 1 set, 2 copies to erase (5.9 KiB)\n");
  EXPECT_EQ(report, RunTwinSift(args).out);
}

// Erased counts the "del " copies that went: not one that could not be
// erased, nor the zero-size file the purge erases.
TEST_F(SummaryTerminal, WithEraseItCountsErasuresAndRemovedDirectories) {
  MakeFile("src/a/x.jpg", "same");
  MakeFile("src/b/x.jpg", "same");
  MakeEmptyFile("src/c/empty.jpg");
  MakeFile("src/only.jpg", "alone");
  ASSERT_TRUE(SetReadOnly(MakeFile("src/ro1.jpg", "read-only"), true));
  ASSERT_TRUE(SetReadOnly(MakeFile("src/ro2.jpg", "read-only"), true));
  std::string err;
  const std::string report = RunOnTerminal({L"-r", L"-d", At("src")}, &err);
  EXPECT_EQ(err,
            "TwinSift: 6 files scanned, 2 sets, 2 copies to erase (13 bytes), "
            "1 erased, 2 directories removed\n");
  EXPECT_NE(report.find("DeleteFile failed (5)"), std::string::npos);
  EXPECT_NE(PathExists(At("src/a")), PathExists(At("src/b")));
  EXPECT_FALSE(PathExists(At("src/c")));
  EXPECT_TRUE(PathExists(At("src/only.jpg")));
  EXPECT_NE(report.find("rd  "), std::string::npos);
}

TEST_F(SummaryTerminal, NothingFoundIsSummarisedToo) {
  MakeSubdir("empty");
  std::string err;
  RunOnTerminal({At("empty")}, &err);
  EXPECT_EQ(err,
            "TwinSift: 0 files scanned, 0 sets, 0 copies to erase (0 bytes)\n");
}

TEST_F(SummaryTerminal, NoneForDebugHelpOrSelfTest) {
  MakeFile("src/a", "x");
  MakeFile("src/b", "x");
  for (const auto &args : std::vector<std::vector<std::wstring>>{
           {L"-debug", At("src")}, {L"-?"}, {L"-t"}}) {
    std::string err;
    RunOnTerminal(args, &err);
    EXPECT_EQ(err, "") << P(args[0]);
  }
}

}  // namespace
