// How long a 10,000-set report takes to become twinsift-view's page.
//
//   twinsift_view_bench [SETS] [RUNS]   (defaults 10000 and 7)
//
// Writes SETS pairs of small files (100 folders of card/ and library/) and
// the report a run over them would print, then times, RUNS times, what
// twinsift-view does with it: read the report, parse it, look up every
// file, make the page and write it. Prints the median and the extremes.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "view/view.h"

namespace {

std::wstring Wide(const std::string &ascii) {
  return std::wstring(ascii.begin(), ascii.end());
}

// The folders, the pictures and the report; returns the report's path.
std::string MakeCorpus(const std::string &dir, int sets) {
  std::string report;
  for (int f = 0; f < 100; f++) {
    mkdir((dir + "/card" + std::to_string(f)).c_str(), 0755);
    mkdir((dir + "/lib" + std::to_string(f)).c_str(), 0755);
  }
  for (int i = 0; i < sets; i++) {
    const std::string folder = std::to_string(i % 100);
    const std::string card =
        dir + "/card" + folder + "/IMG_" + std::to_string(i) + ".JPG";
    const std::string lib =
        dir + "/lib" + folder + "/" + std::to_string(i) + ".jpg";
    const std::string bytes = "picture " + std::to_string(i);
    (void)WriteWholeFile(Wide(card).c_str(), bytes);
    (void)WriteWholeFile(Wide(lib).c_str(), bytes);
    report += "\ndel \"" + card + "\"\nREM \"" + lib + "\"\n";
  }
  const std::string path = dir + "/dups.bat";
  (void)WriteWholeFile(Wide(path).c_str(), report);
  return path;
}

// One report to page, as twinsift-view makes it. Returns the seconds.
double TimeOnePage(const std::wstring &report, const std::wstring &page) {
  const auto start = std::chrono::steady_clock::now();
  std::string bytes;
  Report r;
  if (ReadWholeFile(report.c_str(), &bytes) != 0 || !ParseReport(bytes, &r))
    abort();
  LookUpReportFiles(&r);
  if (WriteWholeFile(page.c_str(), ReportPage(r, L"dups.bat")) != 0) abort();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
      .count();
}

}  // namespace

int main(int argc, char **argv) {
  const int sets = argc > 1 ? atoi(argv[1]) : 10000;
  const int runs = argc > 2 ? atoi(argv[2]) : 7;
  char dir[] = "/tmp/twinsift-view-bench-XXXXXX";
  if (mkdtemp(dir) == nullptr) return 1;
  const std::wstring report = Wide(MakeCorpus(dir, sets));
  const std::wstring page = Wide(std::string(dir) + "/dups.html");
  std::vector<double> times;
  for (int i = 0; i < runs; i++) times.push_back(TimeOnePage(report, page));
  std::sort(times.begin(), times.end());
  std::string html;
  (void)ReadWholeFile(page.c_str(), &html);
  printf(
      "%d sets, %d runs: median %.3f s (fastest %.3f s, slowest %.3f s), "
      "page %zu bytes\n",
      sets, runs, times[times.size() / 2], times.front(), times.back(),
      html.size());
  return system((std::string("rm -rf ") + dir).c_str()) == 0 ? 0 : 1;
}
