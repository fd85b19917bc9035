// twinsift-view REPORT [PAGE]: reads a saved report and writes the page that
// shows it. It never erases, runs or changes anything but the page.
#include <cwchar>
#include <string>

#include "platform/platform.h"
#include "view/view.h"

namespace {

const wchar_t kUsage[] =
    L"twinsift-view - Shows a TwinSift report as a page of pictures\n"
    L"\n"
    L"Usage: twinsift-view REPORT [PAGE]\n"
    L"\n"
    L"  REPORT  a report saved from twinsift (- reads standard input)\n"
    L"  PAGE    the HTML page to write (default: REPORT with .html;\n"
    L"          standard output when REPORT is -)\n";

bool IsHelp(const wchar_t *arg) {
  return IsSwitchPrefix(arg[0]) &&
         (wcscmp(arg + 1, L"?") == 0 || wcscmp(arg + 1, L"h") == 0 ||
          wcscmp(arg, L"--help") == 0);
}

// "twinsift-view: WHAT "NAME": the system's text for code" on standard
// error. Returns 1, the exit status of a failed run.
int Fail(const wchar_t *what, const std::wstring &name, DWORD code) {
  std::wstring line =
      L"twinsift-view: " + std::wstring(what) + L" \"" + name + L"\"";
  if (code != 0) {
    wchar_t text[512] = L"";
    if (platformCalls.FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code,
                                     0, text, 512, nullptr) != 0) {
      text[wcscspn(text, L"\r\n")] = L'\0';
    }
    line += L": " + std::wstring(text);
  }
  PrintErrW((line + L"\n").c_str());
  return 1;
}

// The report's name as the page's title: its last component.
std::wstring TitleOf(const std::wstring &report) {
  if (report == L"-") return L"standard input";
  const size_t sep = report.find_last_of(L"\\/");
  return sep == std::wstring::npos ? report : report.substr(sep + 1);
}

int MakePage(const std::wstring &reportName, const std::wstring &pageName) {
  if (reportName == pageName && reportName != L"-")
    return Fail(L"the page would overwrite the report", pageName, 0);
  std::string bytes;
  DWORD code = ReadWholeFile(reportName.c_str(), &bytes);
  if (code != 0) return Fail(L"cannot read", reportName, code);
  Report report;
  if (!ParseReport(bytes, &report))
    return Fail(L"not a TwinSift report:", reportName, 0);
  LookUpReportFiles(&report);
  code =
      WriteWholeFile(pageName.c_str(), ReportPage(report, TitleOf(reportName)));
  if (code != 0) return Fail(L"cannot write", pageName, code);
  return 0;
}

}  // namespace

int AppMain(int argc, wchar_t **argv) {
  if (argc == 2 && IsHelp(argv[1])) {
    PrintW(L"%ls", kUsage);
    return PrintFlush() == 0 ? 0 : 1;
  }
  if (argc < 2 || argc > 3) {
    PrintErrW(kUsage);
    return 1;
  }
  const std::wstring report = argv[1];
  std::wstring page = argc == 3 ? argv[2] : L"-";
  if (argc == 2 && report != L"-") page = PageNameFor(report);
  return MakePage(report, page);
}
