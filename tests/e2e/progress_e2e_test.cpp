// The status line stays off standard error unless that is a terminal: with
// both streams captured (pipes), every kind of run writes nothing there.
#include <string>

#include "support/harness.h"

namespace {

class ProgressE2E : public E2ETest {};

TEST_F(ProgressE2E, SearchesWriteNothingToStandardError) {
  MakeFile("src/a.jpg", "same");
  MakeFile("src/b.jpg", "same");
  MakeFile("src/sub/c.jpg", "other");
  MakeFile("dst/d.jpg", "same");
  MakeFile("dst/e.jpg", "diff");
  const std::vector<std::vector<std::wstring>> runs = {
      {L"-r", At("src")},
      {L"-r", L"-v", At("src"), At("dst")},
      {L"-r", At("missing")},
  };
  for (const auto &args : runs) {
    RunResult r = RunTwinSift(args);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, "") << P(args.back());
  }
  // A run that erases and purges, too; it leaves one copy of each set.
  RunResult r = RunTwinSift({L"-r", L"-d", At("src"), At("dst")});
  EXPECT_NE(r.out.find("del "), std::string::npos);
  EXPECT_EQ(r.err, "");
}

TEST_F(ProgressE2E, HelpAndSelfTestWriteNothingToStandardError) {
  for (const auto &args :
       std::vector<std::vector<std::wstring>>{{}, {L"-?"}, {L"-t"}, {L"-x"}}) {
    RunResult r = RunTwinSift(args);
    EXPECT_FALSE(r.out.empty());
    EXPECT_EQ(r.err, "");
  }
}

}  // namespace
