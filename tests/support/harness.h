// End-to-end harness: a fresh directory per test, fixture builders, running
// the program and building its expected output.
//
// The two builds differ in two ways, both taken from platform/testing: the
// separator the program adds when it joins a path (kPathSep) and the line end
// of its standard output (kLineEnd). Expected text is built with the helpers
// below, so test cases never spell either out.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "platform/testing/testing.h"

// What one run of the program left behind.
struct RunResult {
  int exitCode = -1;
  std::string out;  // standard output, bytes as written
  std::string err;  // standard error, bytes as written
};

// a, the platform's separator, b. An empty a gives b alone.
std::wstring JoinPath(const std::wstring &a, const std::wstring &b);

// The bytes the program writes for a path or other wide text.
std::string P(const std::wstring &text);

// ASCII text as a wide string (for arguments and paths written in tests).
std::wstring W(const std::string &ascii);

// Each line followed by the platform's line end: Lines({"a", ""}) is
// "a" EOL EOL. A line holding '\n' characters has each one turned into the
// line end too.
std::string Lines(std::initializer_list<std::string> lines);
std::string Lines(const std::vector<std::string> &lines);

// out cut at the platform's line ends; a last line without one is kept.
std::vector<std::string> SplitLines(const std::string &out);

// The program's executable beside the test (twinsift or twinsift.exe), or
// an empty string when neither is there.
std::wstring TwinSiftExe();
// The same for any program built beside the tests (name or name.exe).
std::wstring ExeBeside(const std::wstring &name);

// Runs the program with args in cwd (empty: the test's own directory).
// A program that cannot be started is a broken fixture, reported as such.
RunResult RunTwinSift(const std::vector<std::wstring> &args,
                      const std::wstring &cwd = L"");

// Runs twinsift-view as RunTwinSift runs twinsift.
RunResult RunTwinSiftView(const std::vector<std::wstring> &args,
                          const std::wstring &cwd = L"");

// RunTwinSift with standard output going to sink. Returns false, with
// nothing run, where this system has no such sink (a full device); any
// other failure to start is reported as a broken fixture.
bool RunTwinSiftTo(OutputSink sink, const std::vector<std::wstring> &args,
                   RunResult *result, const std::wstring &cwd = L"");

// Everything body writes to standard output through the program's output
// routines, as bytes.
std::string CaptureOutput(const std::function<void()> &body);

// The whole program run in this process with args (so that replaced
// platform calls hold), its standard output as bytes.
std::string RunInProcess(std::vector<std::wstring> args);

// How many times what stands in text (overlapping ones too).
size_t CountOf(const std::string &text, const std::string &what);

// Tests of one routine's diagnostic texts: Debug is off around each test,
// and Output tells what a step prints with Debug set.
class DebugTextTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // What fn prints with Debug set to debug, as the C runtime reads it back.
  static std::string Output(const std::function<void()> &fn, int debug = 1);

  std::string out;  // the text a step printed
};

// Releases what a scan recorded: every size group with its records, the
// tree, and the source list (either may be null).
struct bintree;
struct linklist;
void ReleaseScan(bintree *tree, linklist *source);

// Each test gets a new empty directory, Root(), removed again afterwards.
// The builders return the full path of what they made; a builder that fails
// reports a broken fixture (not a failed check).
class E2ETest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  const std::wstring &Root() const { return root_; }
  // rel is an ASCII path below Root() written with '/' separators; missing
  // parent directories are made on the way.
  std::wstring At(const std::string &rel) const;
  std::wstring MakeFile(const std::string &rel, const std::string &bytes);
  std::wstring MakeEmptyFile(const std::string &rel);
  std::wstring MakeSubdir(const std::string &rel);

 private:
  std::wstring root_;
};
