// End-to-end harness: fixture directories, program runs, expected text.
#include "support/harness.h"

#include <cstdio>
#include <cstdlib>

#include "app/app.h"
#include "containers/containers.h"
#include "platform/platform.h"
#include "scan/scan.h"

std::wstring JoinPath(const std::wstring &a, const std::wstring &b) {
  if (a.empty()) return b;
  return a + kPathSep + b;
}

std::string P(const std::wstring &text) { return OutputBytes(text); }

std::wstring W(const std::string &ascii) {
  return std::wstring(ascii.begin(), ascii.end());
}

// text with each '\n' replaced by the platform's line end.
static std::string WithLineEnds(const std::string &text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') {
      out += kLineEnd;
    } else {
      out += c;
    }
  }
  return out;
}

std::string Lines(const std::vector<std::string> &lines) {
  std::string text;
  for (const std::string &line : lines) text += WithLineEnds(line) + kLineEnd;
  return text;
}

std::string Lines(std::initializer_list<std::string> lines) {
  return Lines(std::vector<std::string>(lines));
}

std::vector<std::string> SplitLines(const std::string &out) {
  std::vector<std::string> lines;
  const std::string eol = kLineEnd;
  size_t start = 0;
  for (size_t p; (p = out.find(eol, start)) != std::string::npos;
       start = p + eol.size())
    lines.push_back(out.substr(start, p - start));
  if (start < out.size()) lines.push_back(out.substr(start));
  return lines;
}

std::wstring ExeBeside(const std::wstring &name) {
  for (const std::wstring &file : {name, name + L".exe"}) {
    std::wstring exe = JoinPath(ExecutableDir(), file);
    if (PathExists(exe)) return exe;
  }
  return L"";
}

std::wstring TwinSiftExe() { return ExeBeside(L"twinsift"); }

// A sanitizer report on the program's standard error (a leak, a bad memory
// access, undefined behaviour) fails the test, whatever the test itself
// checks: most runs look at the output only, not at the exit code.
static void ExpectNoSanitizerReport(const std::string &err) {
  if (err.find("Sanitizer") != std::string::npos ||
      err.find("runtime error:") != std::string::npos) {
    ADD_FAILURE() << "twinsift reported a fault under the sanitizers:\n" << err;
  }
}

RunResult RunTwinSift(const std::vector<std::wstring> &args,
                      const std::wstring &cwd) {
  RunResult result;
  (void)RunTwinSiftTo(OutputSink::kPipe, args, &result, cwd);
  return result;
}

bool RunTwinSiftTo(OutputSink sink, const std::vector<std::wstring> &args,
                   RunResult *result, const std::wstring &cwd) {
  *result = RunResult();
  std::wstring exe = TwinSiftExe();
  if (exe.empty()) {
    ADD_FAILURE() << "broken fixture: no twinsift beside the test";
    return false;
  }
  ProcessResult run;
  if (!RunProcessWith(exe, args, cwd, sink, &run)) {
    if (sink == OutputSink::kFullDevice) return false;  // none here
    ADD_FAILURE() << "broken fixture: twinsift could not be started";
    return false;
  }
  result->exitCode = run.exitCode;
  result->out = run.out;
  result->err = run.err;
  ExpectNoSanitizerReport(run.err);
  return true;
}

RunResult RunTwinSiftView(const std::vector<std::wstring> &args,
                          const std::wstring &cwd) {
  RunResult result;
  const std::wstring exe = ExeBeside(L"twinsift-view");
  ProcessResult run;
  if (exe.empty() || !RunProcessWith(exe, args, cwd, OutputSink::kPipe, &run)) {
    ADD_FAILURE() << "broken fixture: twinsift-view could not be started";
    return result;
  }
  result.exitCode = run.exitCode;
  result.out = run.out;
  result.err = run.err;
  ExpectNoSanitizerReport(run.err);
  return result;
}

std::string CaptureOutput(const std::function<void()> &body) {
  (void)PrintFlush();  // what was printed before belongs to no capture
  fflush(stdout);
  testing::internal::CaptureStdout();
  body();
  PrintFlush();
  fflush(stdout);
  // The capture is read back in text mode, which on Windows turns each line
  // end into a bare '\n': give the lines their written ends back.
  return WithLineEnds(testing::internal::GetCapturedStdout());
}

void DebugTextTest::SetUp() { options.Debug = 0; }

void DebugTextTest::TearDown() { options.Debug = 0; }

std::string DebugTextTest::Output(const std::function<void()> &fn, int debug) {
  options.Debug = debug;
  (void)PrintFlush();
  testing::internal::CaptureStdout();
  fn();
  PrintFlush();
  std::string text = testing::internal::GetCapturedStdout();
  options.Debug = 0;
  return text;
}

void ReleaseScan(bintree *tree, linklist *source) {
  if (tree != nullptr) {
    while (!bintree_IsEmpty(tree)) {
      auto *g = static_cast<SizeGroup *>(bintree_PruneSmallest(tree));
      if (g == nullptr) break;
      SizeGroupRelease(g);
    }
    bintree_DeAllocate(tree);
  }
  if (source != nullptr) linklist_DeAllocate(source);
}

void E2ETest::SetUp() {
  root_ = MakeTempDir();
  ASSERT_FALSE(root_.empty()) << "broken fixture: no temporary directory";
}

void E2ETest::TearDown() {
  if (!root_.empty()) RemoveTree(root_);
}

// The components of a path written with '/' separators, as wide strings.
static std::vector<std::wstring> Components(const std::string &rel) {
  std::vector<std::wstring> parts(1);
  for (char c : rel) {
    if (c == '/') {
      if (!parts.back().empty()) parts.emplace_back();
    } else {
      parts.back() += (wchar_t)(unsigned char)c;
    }
  }
  if (parts.back().empty()) parts.pop_back();
  return parts;
}

std::wstring E2ETest::At(const std::string &rel) const {
  std::wstring path = root_;
  for (const std::wstring &part : Components(rel)) path = JoinPath(path, part);
  return path;
}

std::string RunInProcess(std::vector<std::wstring> args) {
  std::vector<wchar_t *> argv = {const_cast<wchar_t *>(L"twinsift")};
  for (std::wstring &a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  return CaptureOutput(
      [&] { AppMain(static_cast<int>(argv.size() - 1), argv.data()); });
}

size_t CountOf(const std::string &text, const std::string &what) {
  size_t n = 0;
  for (size_t p = text.find(what); p != std::string::npos;
       p = text.find(what, p + 1))
    n++;
  return n;
}

// Makes every missing directory on the way to root/rel, rel included.
static void MakeDirs(const std::wstring &root, const std::string &rel) {
  std::wstring path = root;
  for (const std::wstring &part : Components(rel)) {
    path = JoinPath(path, part);
    if (!PathExists(path) && !MakeDir(path)) {
      ADD_FAILURE() << "broken fixture: cannot make directory "
                    << OutputBytes(path);
      return;
    }
  }
}

std::wstring E2ETest::MakeSubdir(const std::string &rel) {
  MakeDirs(root_, rel);
  return At(rel);
}

std::wstring E2ETest::MakeFile(const std::string &rel,
                               const std::string &bytes) {
  size_t slash = rel.rfind('/');
  if (slash != std::string::npos) MakeDirs(root_, rel.substr(0, slash));
  std::wstring path = At(rel);
  if (!WriteBytes(path, bytes)) {
    ADD_FAILURE() << "broken fixture: cannot write " << OutputBytes(path);
  }
  return path;
}

std::wstring E2ETest::MakeEmptyFile(const std::string &rel) {
  return MakeFile(rel, "");
}
