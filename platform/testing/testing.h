// Test-only platform services: running the program, building fixture trees.
//
// Linked into the tests, never into the program. Paths are wide strings in
// the platform's own notation (on Linux encoded as the platform layer does).
#pragma once

#include <string>
#include <vector>

// The separator the program adds when it joins a directory and a name, and
// the line end of its standard output.
extern const wchar_t kPathSep;
extern const char *const kLineEnd;

// The bytes the program's output holds for text (as PrintW encodes it).
std::string OutputBytes(const std::wstring &text);

struct ProcessResult {
  int exitCode = -1;
  std::string out;        // standard output, bytes as written
  std::string err;        // standard error, bytes as written
  bool timedOut = false;  // ended by RunProcessWithin's limit
};

// Runs exe with args (no shell; each argument passed as is) in cwd (empty:
// the caller's), standard input empty. Returns false when it cannot start.
bool RunProcess(const std::wstring &exe, const std::vector<std::wstring> &args,
                const std::wstring &cwd, ProcessResult *result);

// RunProcess, ending the child when it still runs after limitSeconds (then
// timedOut is set), so that a run that hangs fails its test instead of
// stopping the suite. Windows build only.
bool RunProcessWithin(const std::wstring &exe,
                      const std::vector<std::wstring> &args,
                      const std::wstring &cwd, unsigned limitSeconds,
                      ProcessResult *result);

// Where a child's standard output goes.
enum class OutputSink {
  kPipe,        // read to its end into out
  kFullDevice,  // a device that refuses every write for lack of space
  kClosed,      // no standard output at all
  kFirstLine,   // a pipe whose reader takes one line (into out) and leaves
};

// RunProcess with standard output going to sink; standard error is read
// whole. Returns false when the child cannot start, or when this system
// has no such sink (a full device).
bool RunProcessWith(const std::wstring &exe,
                    const std::vector<std::wstring> &args,
                    const std::wstring &cwd, OutputSink sink,
                    ProcessResult *result);

// Starts a child for each entry of argsList at once (exe with those args,
// in cwd), standard output written to the file outPaths[i] (made anew, as
// a command shell's redirection makes it), standard error discarded, and
// waits for all of them. (*exitCodes)[i] is each one's exit code. Returns
// false when one could not start (the others are still waited for).
bool RunProcessesToFiles(const std::wstring &exe,
                         const std::vector<std::vector<std::wstring>> &argsList,
                         const std::vector<std::wstring> &outPaths,
                         const std::wstring &cwd, std::vector<int> *exitCodes);

// The directory holding the running test executable, without a separator.
std::wstring ExecutableDir();

// A new, empty, uniquely named directory under the system's temporary
// directory, as an absolute path without a trailing separator.
std::wstring MakeTempDir();

bool MakeDir(const std::wstring &path);
bool WriteBytes(const std::wstring &path, const std::string &bytes);
bool ReadBytes(const std::wstring &path, std::string *bytes);
bool PathExists(const std::wstring &path);
bool SetReadOnly(const std::wstring &path, bool readOnly);
// Removes a tree, clearing read-only marks first; links are not followed.
void RemoveTree(const std::wstring &path);
// A file of the given size with no data written (sparse where supported).
bool MakeSparseFile(const std::wstring &path, unsigned long long size);
// The current directory, absolute, without a trailing separator.
std::wstring CurrentDir();
// True when the tests run with administrator/root rights (permission
// tests are then skipped).
bool RunningAsRoot();

// More fixture builders (platform/testing/fixtures_*.cpp).
// Takes the owner's read permission away (Windows: denies reading through
// the file's access list). Returns false when that is not possible.
bool SetUnreadable(const std::wstring &path);
// Marks a file or directory hidden (Linux: the name must begin with '.';
// nothing else is needed).
bool SetHidden(const std::wstring &path);
// A second name for an existing file.
bool MakeHardLink(const std::wstring &existing, const std::wstring &link);
// A symbolic link at link pointing to target. Returns false where links
// cannot be made.
bool MakeSymlink(const std::wstring &target, const std::wstring &link);
// A link at link to the folder target, as the system's own tools make one:
// Linux a symbolic link; Windows under Wine a Unix symbolic link (which Wine
// lists as a folder reparse point of tag 0), elsewhere on Windows a folder
// symbolic link. Returns false where none can be made.
bool MakeFolderLink(const std::wstring &target, const std::wstring &link);
// Removes such a link, never its target (RemoveTree cannot remove a Unix
// link to a folder under Wine). Returns false when it stays.
bool RemoveFolderLink(const std::wstring &link);
// A named pipe (FIFO) at path (Windows: under Wine, made by the Linux
// shell). Returns false where there are none.
bool MakeFifo(const std::wstring &path);
// Runs the Linux shell on script, with paths as $1, $2... each given by its
// Linux name (Windows: only under Wine, each path turned into the name
// behind it, so it should hold ordinary names only), so that a script can
// make what Windows cannot name. Returns false where there is no Linux
// shell or the script fails.
bool RunLinuxShell(const std::string &script,
                   const std::vector<std::wstring> &paths);

// The build's documented report rules, computed independently of the
// program's own output code (platform/testing/model_*.cpp), for models of
// whole runs. How a report line shows a path (commandLine: a "del ", "REM ",
// "del" or "rd" line, which cmd may run from a saved report):
std::wstring ModelShownPath(const std::wstring &path, bool commandLine);
// The bytes standard output holds for one line of text, line end included.
std::string ModelLineBytes(const std::wstring &line);
// Names that differ in letter case only are one name (Windows).
extern const bool kNamesFoldCase;
// Symbolic links and FIFOs can be made and are part of the model (Linux).
extern const bool kLinksAndFifos;
// A name that begins with '.' is hidden, and no mark is needed (Linux).
extern const bool kHiddenByName;
// Opens path so that no other process can open it (Windows: no sharing)
// until ReleaseFileHold. Returns null where no such hold exists (Linux).
void *HoldFileExclusively(const std::wstring &path);
void ReleaseFileHold(void *hold);
extern const bool kCanHoldFiles;
