// Names Windows takes for devices or trims (CON, aux.txt, nul.jpg, a name
// ending in a dot or a space), end to end: made by the Linux shell, found
// as sets, erased with -d, and erased the same by cmd running the saved
// report, whose "del " and "rd " lines name such paths in "\\?\" form. A run
// that hangs on a device is ended and fails.
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/harness.h"

namespace {

// Long enough for any run under Wine; only a run that hangs comes near it.
const unsigned kLimitSeconds = 120;

struct Name {
  std::wstring name;
  bool verbatim;  // its "del "/"rd " line shows the "\\?\" form
};

const std::vector<Name> kNames = {
    {L"aux.txt", true},    {L"com1.jpg", true}, {L"con.txt", true},
    {L"CON", true},        {L"prn.txt", true},  {L"lpt1.jpg", true},
    {L"nul.jpg", true},    {L"dot.", true},     {L"space ", true},
    {L"x.jpg.", true},     {L"Aux.C", true},    {L"auxx.txt", false},
    {L"com10.jpg", false}, {L"x .jpg", false}};

// The name as a quoted word of a shell script (no name holds a quote).
std::string Sh(const std::wstring &name) {
  std::string word = "'";
  word += P(name);
  return word += "'";
}

std::string Del(const std::wstring &shown) {
  return "del \"" + P(shown) + "\"";
}
std::string Rd(const std::wstring &shown) { return "rd  \"" + P(shown) + "\""; }
std::string Rem(const std::wstring &p) { return "REM \"" + P(p) + "\""; }

class DeviceNamesTest : public E2ETest {
 protected:
  // Runs the Linux shell's script in Root(), which it empties first.
  void MakeTree(const std::string &script) {
    ASSERT_TRUE(RunLinuxShell("cd \"$1\" && rm -rf ./* && " + script, {Root()}))
        << "broken fixture: the Linux shell could not make the tree";
  }

  // Runs exe with args in Root(); a run that does not end fails.
  ProcessResult Run(const std::wstring &exe,
                    const std::vector<std::wstring> &args) {
    ProcessResult r;
    EXPECT_TRUE(RunProcessWithin(exe, args, Root(), kLimitSeconds, &r))
        << "broken fixture: cannot start " << P(exe);
    EXPECT_FALSE(r.timedOut) << "the run hangs: " << P(exe);
    return r;
  }

  // The program's report; no line says a read or an erasure failed.
  std::string Report(const std::vector<std::wstring> &args) {
    const ProcessResult r = Run(TwinSiftExe(), args);
    EXPECT_EQ(0, r.exitCode) << r.out;
    EXPECT_EQ(std::string::npos, r.out.find("failed")) << r.out;
    return r.out;
  }

  // cmd runs report as a batch file in Root().
  void RunByCmd(const std::string &report) {
    ASSERT_TRUE(WriteBytes(At("report.bat"), report));
    wchar_t system[MAX_PATH];
    const UINT n = GetSystemDirectoryW(system, MAX_PATH);
    ASSERT_TRUE(n > 0 && n < MAX_PATH) << "broken fixture: no system folder";
    Run(std::wstring(system, n) + L"\\cmd.exe", {L"/c", L"report.bat"});
  }
};

// Each name as a set of a source and a destination copy, with -v and with
// -d, and the saved report run by cmd: every set is found, exactly the
// source copies are erased, the destination copies stay.
TEST_F(DeviceNamesTest, EachNameIsASetAndOnlyItsDelCopyIsErased) {
  std::string script = "mkdir src dst";
  for (size_t i = 0; i < kNames.size(); i++) {
    const std::string bytes = "'set " + std::to_string(i) + "'";
    script += " && printf %s " + bytes + " > src/" + Sh(kNames[i].name) +
              " && printf %s " + bytes + " > dst/" + Sh(kNames[i].name);
  }
  const auto src = [&](const Name &n) { return At("src") + L"\\" + n.name; };
  const auto dst = [&](const Name &n) { return At("dst") + L"\\" + n.name; };
  const auto shown = [&](const Name &n) {
    return n.verbatim ? L"\\\\?\\" + src(n) : src(n);
  };
  const auto expectOutcome = [&](const char *by) {
    for (const Name &n : kNames) {
      EXPECT_FALSE(PathExists(src(n))) << by << " kept " << P(n.name);
      std::string bytes;
      EXPECT_TRUE(ReadBytes(dst(n), &bytes)) << by << " erased " << P(n.name);
    }
  };

  MakeTree(script);
  const std::string report = Report({L"-v", At("src"), At("dst")});
  for (const Name &n : kNames) {
    EXPECT_NE(std::string::npos,
              report.find(Lines({Del(shown(n)), Rem(dst(n))})))
        << P(n.name) << "\n"
        << report;
  }
  EXPECT_EQ(report, Report({L"-v", L"-d", At("src"), At("dst")}));
  expectOutcome("-d");

  MakeTree(script);
  RunByCmd(report);
  expectOutcome("cmd");
}

// -r -d in one directory: zero-size files and empty folders with such
// names, or below a folder with one, are erased and removed, and cmd
// running the report removes the same; the data stays.
TEST_F(DeviceNamesTest, PurgeLinesReachTheFilesThemselves) {
  const std::string script =
      "mkdir -p src/aux src/trip. src/plain src/plain2/'lpt1 ' && "
      "printf data > src/keep.dat && : > src/aux/nul.jpg && "
      ": > src/trip./a.txt && : > src/plain/zero.txt && "
      ": > src/plain2/'space '";
  const auto in = [&](const std::wstring &rel) {
    return At("src") + L"\\" + rel;
  };
  const auto v = [&](const std::wstring &rel) { return L"\\\\?\\" + in(rel); };
  const std::vector<std::string> lines = {Del(v(L"aux\\nul.jpg")),
                                          Rd(v(L"aux")),
                                          Del(v(L"trip.\\a.txt")),
                                          Rd(v(L"trip.")),
                                          Del(in(L"plain\\zero.txt")),
                                          Rd(in(L"plain")),
                                          Del(v(L"plain2\\space ")),
                                          Rd(v(L"plain2\\lpt1 ")),
                                          Rd(in(L"plain2"))};
  const auto expectOutcome = [&](const char *by) {
    for (const wchar_t *gone : {L"aux", L"trip.", L"plain", L"plain2"}) {
      EXPECT_FALSE(PathExists(in(gone))) << by << " kept " << P(gone);
    }
    std::string bytes;
    EXPECT_TRUE(ReadBytes(in(L"keep.dat"), &bytes)) << by;
    EXPECT_EQ("data", bytes) << by;
  };

  MakeTree(script);
  const std::string report = Report({L"-r", L"-d", At("src")});
  for (const std::string &line : lines) {
    EXPECT_NE(std::string::npos, report.find(Lines({line}))) << line << "\n"
                                                             << report;
  }
  expectOutcome("-r -d");

  MakeTree(script);
  RunByCmd(report);
  expectOutcome("cmd");
}

}  // namespace
