// The report as the batch file it is meant to be: saved, run by cmd, it must
// erase exactly what -d erases on an identical tree, whatever the names hold.
//
// Each case builds its tree, lets the program act (-d) and records what is
// left, builds the same tree again at the same place, runs the saved report
// with cmd and records that; the two outcomes are compared file by file.
#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/harness.h"

namespace {

// One thing a fixture tree holds, relative to the tree's root.
struct Entry {
  std::wstring rel;
  std::string bytes;
  bool dir;
};

// What a tree holds: relative path -> contents, directories marked.
typedef std::map<std::wstring, std::string> Snapshot;
const char kDirMark[] = "\x01(directory)";

// Names that mean something to cmd in a batch file, each the name of a
// duplicate. ('*' and '?', so also "%*", cannot occur in a Windows name.)
const std::vector<std::wstring> kSpecialNames = {
    L"100%.jpg",    L"%1.jpg",          L"%0.jpg",       L"%.jpg",
    L"%%.jpg",      L"a%%b.jpg",        L"%%%.jpg",      L"x%~y.jpg",
    L"%~1.jpg",     L"%~dp0x.jpg",      L"n%PATH%m.jpg", L"%PATH%.jpg",
    L"p%q%r.jpg",   L"%CD%.jpg",        L"%=C:%.jpg",    L"e&f.jpg",
    L"c^d.jpg",     L"^.jpg",           L"x!y!z.jpg",    L"a!b.jpg",
    L"!PATH!.jpg",  L"g(h).jpg",        L")(.jpg",       L"a b.jpg",
    L" lead.jpg",   L"-d.jpg",          L"-r",           L"k,l;m=n.jpg",
    L"it's`x`.jpg", L"[x]{y}+#@$~.jpg", L"\u00E9.jpg",   L"\u00FCber%1.jpg",
    L"\u4E2D.jpg",  L"\u20AC.jpg"};

// Other files a misread line would name instead: each must survive.
const std::vector<std::wstring> kTrapNames = {
    L"100.jpg", L".jpg", L"a%b.jpg", L"pr.jpg", L"xz.jpg", L"ab.jpg",
    L"cd.jpg",  L"e",    L"a",       L"k",      L"x.jpg",  L"nm.jpg"};

void Build(const std::wstring &root, const std::vector<Entry> &tree) {
  ASSERT_TRUE(MakeDir(root)) << "broken fixture: " << P(root);
  for (const Entry &e : tree) {
    const std::wstring path = root + L"\\" + e.rel;
    const bool made = e.dir ? MakeDir(path) : WriteBytes(path, e.bytes);
    ASSERT_TRUE(made) << "broken fixture: cannot make " << P(path);
  }
}

void SnapshotInto(const std::wstring &dir, const std::wstring &rel,
                  Snapshot *out) {
  WIN32_FIND_DATAW fd;
  HANDLE find = FindFirstFileW((dir + L"\\*").c_str(), &fd);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring name = fd.cFileName;
    if (name == L"." || name == L"..") continue;
    const std::wstring childRel = rel.empty() ? name : rel + L"\\" + name;
    const std::wstring child = dir + L"\\" + name;
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      (*out)[childRel] = kDirMark;
      SnapshotInto(child, childRel, out);
    } else {
      EXPECT_TRUE(ReadBytes(child, &(*out)[childRel])) << P(child);
    }
  } while (FindNextFileW(find, &fd));
  FindClose(find);
}

Snapshot Take(const std::wstring &root) {
  Snapshot s;
  SnapshotInto(root, L"", &s);
  return s;
}

// True when the report can write every character of rel; a character its
// code page lacks is written as '|', which names no file.
bool Representable(const std::wstring &rel) {
  for (wchar_t c : rel) {
    if (P(std::wstring(1, c)) == "|") return false;
  }
  return true;
}

// Runs report (the program's standard output, byte for byte) as a batch
// file with cmd, in dir.
void RunAsBatch(const std::wstring &dir, const std::string &report) {
  const std::wstring bat = dir + L"\\report.bat";
  ASSERT_TRUE(WriteBytes(bat, report)) << "broken fixture: " << P(bat);
  wchar_t system[MAX_PATH];
  const UINT n = GetSystemDirectoryW(system, MAX_PATH);
  ASSERT_TRUE(n > 0 && n < MAX_PATH) << "broken fixture: no system folder";
  ProcessResult run;
  ASSERT_TRUE(RunProcess(std::wstring(system, n) + L"\\cmd.exe",
                         {L"/c", L"report.bat"}, dir, &run))
      << "broken fixture: cmd could not be started";
}

// cmd must have left what the program left. The only allowed difference:
// an entry whose path holds a character the report could not write (its
// line names no file, so cmd leaves it).
void ExpectSameOutcome(const Snapshot &byProgram, const Snapshot &byCmd) {
  for (const auto &[rel, bytes] : byProgram) {
    const auto it = byCmd.find(rel);
    if (it == byCmd.end()) {
      ADD_FAILURE() << "cmd erased " << P(rel) << ", the program kept it";
    } else {
      EXPECT_EQ(bytes, it->second) << P(rel);
    }
  }
  for (const auto &[rel, bytes] : byCmd) {
    if (byProgram.count(rel) != 0) continue;
    EXPECT_FALSE(Representable(rel))
        << "cmd left " << P(rel) << ", the program erased it";
  }
}

// A path as a command line of the report shows it: '%' doubled.
std::wstring Doubled(const std::wstring &path) {
  std::wstring out;
  for (wchar_t c : path) out += (c == L'%') ? L"%%" : std::wstring(1, c);
  return out;
}

class BatchTest : public E2ETest {
 protected:
  std::wstring Tree() const { return JoinPath(Root(), L"t"); }
  std::wstring In(const std::wstring &rel) const {
    return JoinPath(Tree(), rel);
  }

  // Builds the tree, runs the program with args on it and returns what it
  // printed; the tree is left as the program left it.
  std::string RunOn(const std::vector<Entry> &tree,
                    const std::vector<std::wstring> &args) {
    RemoveTree(Tree());
    Build(Tree(), tree);
    if (HasFatalFailure()) return std::string();
    RunResult r = RunTwinSift(args);
    EXPECT_EQ(0, r.exitCode);
    EXPECT_EQ(std::string::npos, r.out.find("failed")) << r.out;
    return r.out;
  }

  // Builds the tree again and lets cmd run report on it.
  void ReplayOn(const std::vector<Entry> &tree, const std::string &report) {
    RemoveTree(Tree());
    Build(Tree(), tree);
    if (!HasFatalFailure()) RunAsBatch(Root(), report);
  }
};

// Destination mode: every source copy is a "del " line, every destination
// copy a "REM " line, both with the special names.
std::vector<Entry> DestinationTree() {
  std::vector<Entry> t = {{L"src", "", true}, {L"dst", "", true}};
  for (size_t i = 0; i < kSpecialNames.size(); i++) {
    const std::string bytes = "set " + std::to_string(i);
    t.push_back({L"src\\" + kSpecialNames[i], bytes, false});
    t.push_back({L"dst\\" + kSpecialNames[i], bytes, false});
  }
  for (size_t i = 0; i < kTrapNames.size(); i++) {
    t.push_back({L"src\\" + kTrapNames[i], "trap " + std::to_string(i), false});
  }
  return t;
}

TEST_F(BatchTest, SavedReportErasesExactlyWhatDeleteErases) {
  const std::vector<Entry> tree = DestinationTree();
  const std::vector<std::wstring> args = {In(L"src"), In(L"dst")};
  const std::string report = RunOn(tree, args);
  for (const std::wstring &name : kSpecialNames) {
    const std::wstring src = In(L"src\\" + name);
    const std::wstring dst = In(L"dst\\" + name);
    EXPECT_NE(std::string::npos,
              report.find(Lines({"del \"" + P(Doubled(src)) + "\"",
                                 "REM \"" + P(Doubled(dst)) + "\""})))
        << P(name);
  }
  for (const std::wstring &name : kTrapNames) {
    const std::wstring trap = In(L"src\\" + name);
    EXPECT_EQ(std::string::npos, report.find("\"" + P(Doubled(trap)) + "\""))
        << P(name);
  }

  std::vector<std::wstring> withDelete = {L"-d"};
  withDelete.insert(withDelete.end(), args.begin(), args.end());
  EXPECT_EQ(report, RunOn(tree, withDelete));
  const Snapshot byProgram = Take(Tree());
  // The program itself: every source copy gone, everything else intact.
  Snapshot expected;
  for (const Entry &e : tree) {
    const bool erased = !e.dir && e.rel.rfind(L"src\\", 0) == 0 &&
                        e.bytes.rfind("set ", 0) == 0;
    if (!erased) expected[e.rel] = e.dir ? kDirMark : e.bytes;
  }
  EXPECT_EQ(expected, byProgram);

  ReplayOn(tree, report);
  ExpectSameOutcome(byProgram, Take(Tree()));
}

// Single-directory mode with -r -d: duplicates erased, then the purge's
// "del" lines for zero-size files and "rd" lines for directories, all with
// special names. Names the report may not be able to write sit directly
// below the source, which keeps data.
std::vector<Entry> PurgeTree() {
  return {
      {L"keep.dat", "data", false},
      {L"d%1", "", true},
      {L"d%1\\a%%.jpg", "dup 1", false},
      {L"d%1\\b&c.jpg", "dup 1", false},
      {L"d%1\\z%.txt", "", false},
      {L"d.txt", "trap 1", false},
      {L"p%q", "", true},
      {L"p%q\\z%.txt", "", false},
      {L"p.txt", "trap 2", false},
      {L"e%PATH%", "", true},
      {L"e%PATH%\\z%~1.txt", "", false},
      {L"e%PATH%\\(x)", "", true},
      {L"e%PATH%\\a&b", "", true},
      {L"e%PATH%\\a&b\\c^d!", "", true},
      {L"e%PATH%\\a&b\\c^d!\\%%", "", false},
      {L"e%PATH%\\a&b\\c^d!\\x!y!", "", false},
      {L"100%", "", true},
      {L"100%\\dup.jpg", "dup 2", false},
      {L"100", "", true},
      {L"100\\dup.jpg", "dup 2", false},
      {L"100\\keep.jpg", "trap 3", false},
      {L"-r %1 %~", "", true},
      {L" sp ace", "", true},
      {L" sp ace\\%0", "", false},
      {L"\u00E9%", "", true},
      {L"\u00E9%\\z\u00FC.txt", "", false},
      {L"\u4E2D", "", true},
      {L"\u4E2D\\z.txt", "", false},
      {L"\u20AC%1", "", true},
  };
}

TEST_F(BatchTest, PurgeLinesRunByCmdRemoveWhatThePurgeRemoves) {
  const std::vector<Entry> tree = PurgeTree();
  const std::string report = RunOn(tree, {L"-r", L"-d", Tree()});
  const Snapshot byProgram = Take(Tree());
  // The program itself: one copy of each set, the data and the traps kept;
  // the special directories all gone, which shows in the report.
  EXPECT_NE(
      std::string::npos,
      report.find("rd  \"" + P(Doubled(In(L"e%PATH%\\a&b\\c^d!"))) + "\""));
  EXPECT_NE(std::string::npos,
            report.find("del \"" + P(Doubled(In(L"p%q\\z%.txt"))) + "\""));
  for (const wchar_t *kept :
       {L"keep.dat", L"d.txt", L"p.txt", L"100\\keep.jpg", L"d%1\\z%.txt"}) {
    EXPECT_EQ(1u, byProgram.count(kept)) << P(kept);
  }
  for (const wchar_t *gone : {L"p%q", L"e%PATH%", L"-r %1 %~", L" sp ace",
                              L"\u00E9%", L"\u4E2D", L"\u20AC%1"}) {
    EXPECT_EQ(0u, byProgram.count(gone)) << P(gone);
  }
  EXPECT_EQ(
      1u, byProgram.count(L"d%1\\a%%.jpg") + byProgram.count(L"d%1\\b&c.jpg"));
  EXPECT_EQ(
      1u, byProgram.count(L"100%\\dup.jpg") + byProgram.count(L"100\\dup.jpg"));

  ReplayOn(tree, report);
  ExpectSameOutcome(byProgram, Take(Tree()));
}

}  // namespace
