// The command line end to end: help screen, options dump, refusals, the
// self-test mode.
#include <cstdlib>
#include <string>
#include <vector>

#include "app/app.h"
#include "paths/paths.h"
#include "support/harness.h"

namespace {

// The help screen, line by line; line 2 carries the build date.
std::vector<std::string> HelpLines() {
  // clang-format off
  return {
      "",
      std::string("TwinSift - Find duplicate files - ") + helpBuildDate,
      "",
      "Locates duplicate files in a directory or a directory tree (-r) basing the",
      "comparison on the file contents and ignoring the file names.",
      "Common usage is importing pictures from camera media and wishing to determine",
      "whether the files have been previously imported and possibly renamed.",
      "",
      "Program output is displayed in the format of a BAT file to support redirection",
      "of stdout and manual inspection of results before conducting actual erase.",
      "Optionally, with (-d) specified, program will perform file erase",
      "",
      "When both source and destination parameters are provided, destination is read-only",
      "and only files in source are considered for erase",
      "",
      "Zero size files are ignored for erase as they are always identical and the file",
      "presence can have meaning outside of their contents (common with .ini files).",
      "",
      "When deleting (-d) with recurse (-r), the program also removes empty directories.",
      "A directory is considered empty when it has no files, or when it has only files",
      "of zero size and in this case, the zero size files are purged with the directory.",
      "",
      "Syntax:",
      "    twinsift [-switches] <Source> [Destination] [Destination] ...",
      "",
      "Where",
      "    Source      Directory path and optionally filenames, wildcards supported",
      "    Destination Directory path and optionally filenames, wildcards supported",
      "",
      "Switches:",
      "    -? Help     Show this help screen",
      "    -a All      Same behavior as DIR /A",
      "    -d Delete   Perform file erase and remove empty directories",
      "    -r Recurse  Process sub-directories",
      "    -v Verbose  Show hashes and include information of matching files only in source",
      "",
      "Examples",
      "    twinsift -r c:\\music\\*.mp3",
      "    twinsift -r e:\\ \"c:\\family pictures\"",
      "    twinsift -r e:\\ \"c:\\family pictures\\*.jpg\" \"c:\\scanned pictures\"",
  };
  // clang-format on
}

// The options dump for flags given as eight digits in record order (All,
// Debug, Delete, Help, ParmError, Recurse, Test, Verbose) and the stored
// parameters.
std::vector<std::string> DumpLines(const std::string &flags,
                                   const std::vector<std::string> &parms) {
  const char *const labels[] = {
      ".All             = ", ".Debug           = ", ".Delete          = ",
      ".Help            = ", ".ParmError       = ", ".Recurse         = ",
      ".Test            = ", ".Verbose         = "};
  std::vector<std::string> lines = {"Options"};
  for (size_t i = 0; i < 8; i++) {
    lines.push_back(labels[i] + flags.substr(i, 1));
  }
  lines.push_back(".uCntParms       = " + std::to_string(parms.size()));
  for (const std::string &p : parms) lines.push_back(".Parm            = " + p);
  return lines;
}

std::vector<std::string> operator+(std::vector<std::string> a,
                                   const std::vector<std::string> &b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// s padded with blanks on the right to width characters, as "%-Nls" does.
std::wstring Pad(const std::wstring &s, size_t width) {
  return s.size() >= width ? s : s + std::wstring(width - s.size(), L' ');
}

// The IsADir table. Rows whose answer the rules fix without the disk are
// spelled out; the others are asked of the same routine in this process,
// which shares the program's current directory.
std::vector<std::string> IsADirLines() {
  struct Row {
    const wchar_t *path;
    int fixed;  // -1: depends on the disk
  };
  const Row rows[] = {
      {L"", 0},
      {L"C:", 1},
      {L"C:\\", 1},
      {L"C:.", -1},
      {L"C:..", -1},
      {L"C:\\code", -1},
      {L"C:\\code\\.", -1},
      {L"C:\\dirnoexist", -1},
      {L"C:\\dirnoexist\\", 0},
      {L"C:\\dirnoexist\\", 0},
      {L"C:\\dirnoexist\\.", -1},
      {L"direxists", -1},
      {L"direxists\\.", -1},
      {L"dirnoexists", -1},
      {L"dirnoexists\\.", -1},
      {L".\\", 0},
      {L"C:.", -1},
      {L"J:.", -1},
      {L"J:..", -1},
      {L"L:.", -1},
      {L"J:\\", 1},
  };
  std::vector<std::string> lines;
  for (const Row &r : rows) {
    int value = r.fixed >= 0 ? r.fixed : IsADir(r.path);
    lines.push_back("IsADir(\"" + P(r.path) + "\") = " + std::to_string(value));
  }
  return lines;
}

// The StringConcat table: the separator it adds is the platform's own.
std::vector<std::string> ConcatLines() {
  const std::wstring sep(1, kPathSep);
  const std::wstring rows[][3] = {
      {L"", L"", L""},
      {L"C:", L"", L"C:"},
      {L"C:\\", L"", L"C:\\"},
      {L"C:\\", L"F", L"C:\\F"},
      {L"C:\\D", L"Filename.ext", L"C:\\D" + sep + L"Filename.ext"},
  };
  std::vector<std::string> lines;
  for (const auto &r : rows) {
    lines.push_back(P(Pad(r[0], 12) + L" + " + Pad(r[1], 12) + L" = " + r[2]));
  }
  return lines;
}

// The full-path table depends on the current directory: "." is checked
// against it, the drive forms against the routine in this process.
std::vector<std::string> FullPathLines() {
  std::vector<std::string> lines;
  for (const wchar_t *path : {L"C:", L"C:.", L".", L"C:\\", L"C:\\code",
                              L"C:\\code\\.", L"C:\\dirnoexist\\."}) {
    std::wstring full;
    if (std::wstring(path) == L".") {
      full = CurrentDir();
    } else {
      wchar_t *resolved = FullPathAlloc(path);
      full = resolved;
      free(resolved);
    }
    lines.push_back(P(Pad(path, 20) + L" split: Dir=" + Pad(full, 20)));
  }
  return lines;
}

std::string SplitLine(const std::wstring &path, const std::wstring &dir,
                      const std::wstring &name, bool err) {
  return P(L"Split " + Pad(path, 30) + L" Dir=" + Pad(dir, 20) + L"  Name=" +
           name + (err ? L"  (Err)" : L""));
}

// The split table. Every row matches its expectation except E:\code where
// that directory is missing.
std::vector<std::string> SplitLines() {
  const wchar_t *const rows[][3] = {
      {L"", L"", L""},
      {L"\\", L"\\", L""},
      {L"C:", L"C:", L""},
      {L"C:\\", L"C:\\", L""},
      {L".", L".", L""},
      {L"C:.", L"C:.", L""},
      {L"C:\\.", L"C:\\.", L""},
      {L".\\", L".", L""},
      {L"C:.\\F.T", L"C:.", L"F.T"},
      {L"C:\\.", L"C:\\.", L""},
      {L".e", L"", L".e"},
      {L"F", L"", L"F"},
      {L"F.", L"", L"F."},
      {L"\\F", L"\\", L"F"},
      {L"C:F", L"C:", L"F"},
      {L"C:\\F", L"C:\\", L"F"},
      {L"C:\\foo\\..\\F", L"C:\\foo\\..", L"F"},
      {L"C:\\foo\\..\\F.TXT", L"C:\\foo\\..", L"F.TXT"},
      {L"C:\\foo\\..\\F.", L"C:\\foo\\..", L"F."},
      {L"F", L"", L"F"},
      {L"C:\\FILE", L"C:\\", L"FILE"},
      {L"C:\\PATH\\", L"C:\\PATH", L""},
      {L"C:\\PATH\\.", L"C:\\PATH\\.", L""},
      {L"C:\\PATH\\..", L"C:\\PATH\\..", L""},
      {L"C:\\PATH\\..\\F", L"C:\\PATH\\..", L"F"},
      {L"C:\\PATH\\F", L"C:\\PATH", L"F"},
      {L"E:\\code", nullptr, nullptr},
      {L"C:\\PATH1\\PATH2\\FILENAME.TXT", L"C:\\PATH1\\PATH2", L"FILENAME.TXT"},
      {L"/etc/.host", L"/etc", L".host"},
      {L"j:.", L"j:.", L""},
  };
  std::vector<std::string> lines = {"", "fsplit_unittest"};
  for (const auto &r : rows) {
    if (r[1] != nullptr) {
      lines.push_back(SplitLine(r[0], r[1], r[2], false));
    } else if (IsADir(r[0])) {
      lines.push_back(SplitLine(r[0], r[0], L"", false));
    } else {
      lines.push_back(SplitLine(r[0], L"E:\\", L"code", true));
    }
  }
  return lines;
}

std::vector<std::string> SelfTestLines() {
  return IsADirLines() + ConcatLines() + FullPathLines() + SplitLines();
}

using CommandLine = E2ETest;

TEST_F(CommandLine, NoArgumentsShowsTheHelpScreen) {
  RunResult r = RunTwinSift({});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, Lines(HelpLines()));
  EXPECT_EQ(r.err, "");
}

TEST_F(CommandLine, DebugAloneShowsTheDumpThenTheHelpScreen) {
  RunResult r = RunTwinSift({L"-debug"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, Lines(DumpLines("01010000", {}) + HelpLines()));
}

TEST_F(CommandLine, UnknownSwitchWithASourceIsRefusedBeforeAnyScan) {
  MakeFile("one.txt", "same");
  MakeFile("two.txt", "same");
  RunResult r = RunTwinSift({L"-x", Root()});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, Lines({"ERR: Unrecognized option 'x'"}));
  EXPECT_EQ(r.err, "");
}

TEST_F(CommandLine, UnknownSwitchWithHelpShowsBothAndSucceeds) {
  RunResult r = RunTwinSift({L"-x", L"-?"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out,
            Lines(std::vector<std::string>{"ERR: Unrecognized option 'x'"} +
                  HelpLines()));
}

TEST_F(CommandLine, DebugWithTwoParametersListsThemInTheDump) {
  RunResult r = RunTwinSift({L"-debug", L"a", L"b"}, Root());
  std::string dump = Lines(DumpLines("01000000", {"a", "b"}));
  EXPECT_EQ(r.out.substr(0, dump.size()), dump);
  EXPECT_EQ(r.exitCode, 0);
}

TEST_F(CommandLine, SelfTestPrintsTheFourTables) {
  RunResult r = RunTwinSift({L"-T"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, Lines(SelfTestLines()));
  EXPECT_EQ(r.err, "");
}

TEST_F(CommandLine, SelfTestWinsOverRefusalAndHelpAndFollowsTheDump) {
  RunResult r = RunTwinSift({L"-debug", L"-t", L"-x", L"-?"});
  EXPECT_EQ(r.exitCode, 0);
  std::vector<std::string> refusal = {"ERR: Unrecognized option 'x'"};
  EXPECT_EQ(r.out,
            Lines(refusal + DumpLines("01011010", {}) + SelfTestLines()));
}

// What a search prints is still being built: for now a source with one
// unique file reports nothing. Update this case as the report arrives.
TEST_F(CommandLine, PendingSearchOfAUniqueFilePrintsNothing) {
  MakeFile("only.txt", "unique contents");
  RunResult r = RunTwinSift({Root()});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
}

}  // namespace
