// twinsift-view's page in a real browser: headless Chromium loads the page
// of a real run over generated JPEGs, and the DOM it leaves tells the sets,
// the marks, the pictures decoded and that a hostile name stayed text. A
// screenshot is left in the build folder (view.png) for a person to look
// at. Linux only: Chromium is a Linux program here.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/harness.h"
#include "support/jpeg.h"

namespace {

const char kHostile[] = "<b id=\"x\">&amp;\"q'%41#?.jpg";

// Debian's chromium on the PATH, or an empty string.
std::wstring FindChromium() {
  const char *path = getenv("PATH");
  std::string dirs = path != nullptr ? path : "/usr/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    const std::wstring exe = W(dirs.substr(start, end - start) + "/chromium");
    if (end > start && PathExists(exe)) return exe;
    start = end + 1;
  }
  return L"";
}

// The value of attribute name in the first tag that has it, or "".
std::string Attribute(const std::string &dom, const std::string &name) {
  const std::string key = " " + name + "=\"";
  const size_t at = dom.find(key);
  if (at == std::string::npos) return "";
  const size_t from = at + key.size();
  return dom.substr(from, dom.find('"', from) - from);
}

class ViewBrowser : public E2ETest {
 protected:
  // Runs chromium headless on the page with a new empty profile, no
  // network and a bound on its time. Returns its standard output.
  std::string Chromium(const std::wstring &chromium, const std::wstring &page,
                       const std::vector<std::wstring> &what) {
    std::vector<std::wstring> args = {
        L"60",
        chromium,
        L"--headless",
        L"--no-sandbox",
        L"--disable-gpu",
        L"--disable-quic",
        L"--no-first-run",
        L"--disable-background-networking",
        L"--disable-component-update",
        L"--disable-sync",
        L"--user-data-dir=" + MakeSubdir("profile-" + std::to_string(runs_++)),
        L"--window-size=1280,2000",
        L"--hide-scrollbars"};
    args.insert(args.end(), what.begin(), what.end());
    args.push_back(L"file://" + page);
    ProcessResult run;
    if (!RunProcess(L"/usr/bin/timeout", args, L"", &run)) {
      ADD_FAILURE() << "broken fixture: chromium could not be started";
    }
    EXPECT_EQ(run.exitCode, 0) << run.err;
    return run.out;
  }
  int runs_ = 0;
};

TEST_F(ViewBrowser, PageOfARealRunShowsSetsMarksAndPictures) {
  const std::wstring chromium = FindChromium();
  if (chromium.empty()) {
    GTEST_SKIP() << "chromium is not installed (scripts/setup.sh --tests "
                    "installs it): the page was not loaded in a browser";
  }
  for (const char *set : {"a", "b", "c"}) {
    MakeFile(std::string("lib/") + set + ".jpg", TinyJpeg(set));
    MakeFile(std::string("card/IMG_") + set + ".JPG", TinyJpeg(set));
  }
  MakeFile(std::string("card/") + kHostile, TinyJpeg("a"));
  MakeFile("card/line\nbreak.jpg", TinyJpeg("b"));
  MakeFile("card/r1.CR2", "raw");
  MakeFile("lib/r1.cr2", "raw");
  RunResult run = RunTwinSift({L"-r", At("card"), At("lib")});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  ASSERT_TRUE(WriteBytes(At("dups.bat"), run.out));
  ASSERT_EQ(RunTwinSiftView({At("dups.bat")}).exitCode, 0);

  const std::string dom =
      Chromium(chromium, At("dups.html"),
               {L"--run-all-compositor-stages-before-draw",
                L"--virtual-time-budget=5000", L"--dump-dom"});
  EXPECT_EQ(Attribute(dom, "data-sets"), "4");
  EXPECT_EQ(CountOf(dom, "<span class=\"mark\">kept</span>"), 4u);
  EXPECT_EQ(CountOf(dom, "<span class=\"mark\">to erase</span>"), 6u);
  // Every JPEG decoded (naturalWidth > 0); the raw pair has plain tiles.
  EXPECT_EQ(Attribute(dom, "data-shown"), "8");
  EXPECT_EQ(Attribute(dom, "data-failed"), "0");
  EXPECT_EQ(CountOf(dom, "<span class=\"tile\">CR2</span>"), 2u);
  // The hostile name is text as typed (the DOM escapes only '&', '<', '>'
  // in text) and made no element; the line break shows as the report's.
  EXPECT_EQ(CountOf(dom, "<span class=\"path\">" + P(At("card")) + "/" +
                             "&lt;b id=\"x\"&gt;&amp;amp;\"q'%41#?.jpg</span>"),
            1u);
  EXPECT_EQ(CountOf(dom, "<b "), 0u);
  EXPECT_EQ(CountOf(dom, "line\\x0Abreak.jpg</span>"), 1u);
  EXPECT_EQ(CountOf(dom, "<figure"), 10u);

  const std::wstring shot = JoinPath(ExecutableDir(), L"view.png");
  RemoveTree(shot);
  Chromium(chromium, At("dups.html"), {L"--screenshot=" + shot});
  EXPECT_TRUE(PathExists(shot)) << "no screenshot at " << P(shot);
}

}  // namespace
