// twinsift-view as a process: a real report becomes a page beside it and
// every file stays as it was; what is no report, or cannot be read, is an
// error with exit status 1.
#include <gtest/gtest.h>

#include <string>

#include "support/harness.h"
#include "support/jpeg.h"

namespace {

class ViewE2E : public E2ETest {
 protected:
  // A real run over two folders of pictures, saved as dups.bat.
  std::wstring SaveReport() {
    MakeFile("card/IMG_0412.JPG", TinyJpeg("beach"));
    MakeFile("card/IMG_0413.JPG", TinyJpeg("dunes"));
    MakeFile("lib/dunes.jpg", TinyJpeg("dunes"));
    MakeFile("lib/beach.jpg", TinyJpeg("beach"));
    RunResult run = RunTwinSift({L"-r", At("card"), At("lib")});
    EXPECT_EQ(run.exitCode, 0);
    report_ = run.out;
    const std::wstring path = At("dups.bat");
    if (!WriteBytes(path, report_)) ADD_FAILURE() << "broken fixture";
    return path;
  }
  std::string report_;
};

TEST_F(ViewE2E, SavedReportBecomesPageBesideItAndNothingChanges) {
  const std::wstring report = SaveReport();
  RunResult view = RunTwinSiftView({report});
  ASSERT_EQ(view.exitCode, 0) << view.err;
  EXPECT_EQ(view.out, "");
  std::string page, after;
  ASSERT_TRUE(ReadBytes(At("dups.html"), &page));
  EXPECT_NE(page.find("data-sets=\"2\" data-erase=\"2\""), std::string::npos);
  EXPECT_EQ(CountOf(page, "<img "), 4u);
  EXPECT_EQ(CountOf(page, ">kept<"), 2u);
  EXPECT_EQ(CountOf(page, ">to erase<"), 2u);
  ASSERT_TRUE(ReadBytes(report, &after));
  EXPECT_EQ(after, report_);
  for (const char *f : {"card/IMG_0412.JPG", "card/IMG_0413.JPG",
                        "lib/dunes.jpg", "lib/beach.jpg"})
    EXPECT_TRUE(PathExists(At(f))) << f;
  // The page named on the command line, and the same page again.
  ASSERT_EQ(RunTwinSiftView({report, At("other.html")}).exitCode, 0);
  std::string other;
  ASSERT_TRUE(ReadBytes(At("other.html"), &other));
  EXPECT_EQ(other, page);
}

TEST_F(ViewE2E, StandardInputToStandardOutput) {
  // Empty input: what a run without duplicates writes.
  RunResult view = RunTwinSiftView({L"-"});
  ASSERT_EQ(view.exitCode, 0) << view.err;
  EXPECT_EQ(view.out.rfind("<!DOCTYPE html>", 0), 0u);
  EXPECT_NE(view.out.find("data-sets=\"0\""), std::string::npos);
}

TEST_F(ViewE2E, WhatCannotBecomeAPage) {
  MakeFile("notes.txt", "Dear diary,\nnothing happened today.\n");
  RunResult view = RunTwinSiftView({At("notes.txt")});
  EXPECT_EQ(view.exitCode, 1);
  EXPECT_NE(view.err.find("not a TwinSift report"), std::string::npos);
  EXPECT_FALSE(PathExists(At("notes.html")));

  view = RunTwinSiftView({At("missing.bat")});
  EXPECT_EQ(view.exitCode, 1);
  EXPECT_NE(view.err.find("cannot read"), std::string::npos);

  MakeFile("dups.html", "\nREM \"x\"\n");
  view = RunTwinSiftView({At("dups.html")});
  EXPECT_EQ(view.exitCode, 1);
  EXPECT_NE(view.err.find("overwrite the report"), std::string::npos);

  view = RunTwinSiftView({});
  EXPECT_EQ(view.exitCode, 1);
  EXPECT_NE(view.err.find("Usage: twinsift-view REPORT [PAGE]"),
            std::string::npos);
}

}  // namespace
