// A report that cannot be written ends the run with its own exit code and a
// line on standard error, and no file is erased whose line did not reach
// the output.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/harness.h"

namespace {

const int kExitReportLost = 2;

class ReportOutputTest : public E2ETest {
 protected:
  // Two copies of one content in src, and with -r a directory holding only
  // a zero-size file, which the purge would remove.
  void MakeSmallTree() {
    a_ = MakeFile("src/a.jpg", "picture");
    b_ = MakeFile("src/b.jpg", "picture");
    z_ = MakeEmptyFile("src/empty/z");
  }
  void ExpectTreeUntouched() {
    EXPECT_TRUE(PathExists(a_));
    EXPECT_TRUE(PathExists(b_));
    EXPECT_TRUE(PathExists(z_));
  }
  std::wstring a_, b_, z_;
};

// err is exactly one line naming the failed write's code (one of codes).
void ExpectLostLine(const std::string &err, std::vector<int> codes) {
  const std::string head = "TwinSift: the report could not be written (";
  ASSERT_EQ(err.rfind(head, 0), 0u) << err;
  const int code = std::atoi(err.c_str() + head.size());
  EXPECT_NE(std::find(codes.begin(), codes.end(), code), codes.end()) << err;
  EXPECT_EQ(SplitLines(err).size(), 1u) << err;
  EXPECT_GT(err.size(), err.find("): ") + 3 + strlen(kLineEnd)) << err;
  EXPECT_EQ(err.substr(err.size() - strlen(kLineEnd)), kLineEnd);
}

TEST_F(ReportOutputTest, FullDeviceFailsTheRunAndErasesNothing) {
  MakeSmallTree();
  RunResult r;
  if (!RunTwinSiftTo(OutputSink::kFullDevice, {L"-r", At("src")}, &r))
    GTEST_SKIP() << "no full device on this system";
  EXPECT_EQ(r.exitCode, kExitReportLost);
  ExpectLostLine(r.err, {112});
  ASSERT_TRUE(
      RunTwinSiftTo(OutputSink::kFullDevice, {L"-r", L"-d", At("src")}, &r));
  EXPECT_EQ(r.exitCode, kExitReportLost);
  ExpectLostLine(r.err, {112});
  ExpectTreeUntouched();  // no copy erased, no directory purged
}

TEST_F(ReportOutputTest, ClosedOutputFailsTheRunAndErasesNothing) {
  MakeSmallTree();
  RunResult r;
  ASSERT_TRUE(
      RunTwinSiftTo(OutputSink::kClosed, {L"-r", L"-d", At("src")}, &r));
  EXPECT_EQ(r.exitCode, kExitReportLost);
  ExpectLostLine(r.err, {6});
  ExpectTreeUntouched();
  // The help screen is output too.
  ASSERT_TRUE(RunTwinSiftTo(OutputSink::kClosed, {L"-?"}, &r));
  EXPECT_EQ(r.exitCode, kExitReportLost);
}

// A reader that takes one line and goes away: every copy erased had its
// line written, the erasures stop at the failure, and the copies erased are
// the first "del " lines of the report, in its order.
TEST_F(ReportOutputTest, ReaderLeavingEarlyStopsTheErasures) {
  const std::string longName(90, 'n');
  const int kSets = 600;  // a report larger than any pipe's buffer
  for (int i = 0; i < kSets; i++) {
    const std::string dir = "src/d" + std::to_string(i / 100) + "/";
    const std::string content = "content " + std::to_string(100000 + i);
    MakeFile(dir + longName + "-" + std::to_string(i) + "-a", content);
    MakeFile(dir + longName + "-" + std::to_string(i) + "-b", content);
  }
  RunResult dry = RunTwinSift({L"-r", At("src")});
  ASSERT_EQ(dry.exitCode, 0);
  std::vector<std::string> dels;
  for (const std::string &line : SplitLines(dry.out))
    if (line.rfind("del ", 0) == 0) dels.push_back(line);
  ASSERT_EQ(dels.size(), (size_t)kSets);

  RunResult r;
  ASSERT_TRUE(
      RunTwinSiftTo(OutputSink::kFirstLine, {L"-r", L"-d", At("src")}, &r));
  EXPECT_EQ(r.exitCode, kExitReportLost);
  ExpectLostLine(r.err, {109, 232});
  // What was read is the report's beginning.
  EXPECT_EQ(dry.out.compare(0, r.out.size(), r.out), 0);
  std::vector<std::string> read = SplitLines(r.out);
  if (r.out.size() < strlen(kLineEnd) ||
      r.out.substr(r.out.size() - strlen(kLineEnd)) != kLineEnd)
    read.pop_back();  // a line cut short was not written whole
  size_t readDels = (size_t)std::count_if(
      read.begin(), read.end(),
      [](const std::string &l) { return l.rfind("del ", 0) == 0; });
  // Names are ASCII: a "del " line shows its path as it is.
  auto gone = [&](size_t i) {
    return !PathExists(W(dels[i].substr(5, dels[i].size() - 6)));
  };
  size_t erased = 0;
  while (erased < dels.size() && gone(erased)) erased++;
  EXPECT_GE(erased, readDels);
  EXPECT_LT(erased, dels.size()) << "the erasures went on after the failure";
  for (size_t i = erased; i < dels.size(); i++)
    EXPECT_FALSE(gone(i)) << "erased out of order: " << dels[i];
}

}  // namespace
