// The status line: its throttle, its text, and the counters the scan
// raises.
#include <cstdlib>
#include <string>
#include <utility>

#include "app/app.h"
#include "scan/scan.h"
#include "support/harness.h"

namespace {

std::wstring Redraw(const Progress &p) {
  wchar_t buf[kProgressTextCap];
  ProgressRedrawText(&p, buf);
  return buf;
}

TEST(ProgressLine, RedrawsAtMostFourTimesASecond) {
  Progress p = {};
  p.lastDrawMs = 1000;
  EXPECT_EQ(ProgressDue(&p, 1000), 0);
  EXPECT_EQ(ProgressDue(&p, 1249), 0);
  EXPECT_EQ(ProgressDue(&p, 1250), 1);
  // Ticks every millisecond for two seconds draw seven more times.
  int draws = 0;
  for (uint64_t now = 1000; now < 3000; now++) {
    if (ProgressDue(&p, now)) {
      draws++;
      p.lastDrawMs = now;
    }
  }
  EXPECT_EQ(draws, 7);  // at 1250, 1500, ... 2750
}

TEST(ProgressLine, TextShowsTheCountersInMiB) {
  Progress p = {};
  p.filesScanned = 123456;
  p.groupsHashed = 789;
  p.bytesHashed = 5ull << 30;
  p.bytesToHash = 12ull << 30;
  EXPECT_EQ(Redraw(p),
            L"\r123456 files scanned, 789 groups hashed (5120 of 12288 MiB)");
  // A group hashed again after a failure never shows more than the total.
  p.bytesHashed = 13ull << 30;
  EXPECT_EQ(Redraw(p),
            L"\r123456 files scanned, 789 groups hashed (12288 of 12288 MiB)");
}

TEST(ProgressLine, ShorterLineBlanksTheRestOfTheOldOne) {
  Progress p = {};
  std::wstring line = L"0 files scanned, 0 groups hashed (0 of 0 MiB)";
  wchar_t buf[kProgressTextCap];
  EXPECT_EQ(ProgressRedrawText(&p, buf), line.size());
  p.shownWidth = (uint32_t)line.size() + 5;
  EXPECT_EQ(ProgressRedrawText(&p, buf), line.size());
  EXPECT_EQ(std::wstring(buf), L"\r" + line + L"     ");
  ProgressClearText(3, buf);
  EXPECT_EQ(std::wstring(buf), L"\r   \r");
  ProgressClearText(0, buf);
  EXPECT_EQ(std::wstring(buf), L"\r\r");
}

// A group's files count towards the bytes to hash from its second file on.
TEST(ProgressLine, TotalToHashCountsGroupsOfTwoOrMore) {
  progress = Progress{};
  ProgressFileRecorded(100, 1);
  EXPECT_EQ(progress.bytesToHash, 0u);
  ProgressFileRecorded(100, 2);
  EXPECT_EQ(progress.bytesToHash, 200u);
  ProgressFileRecorded(100, 3);
  ProgressFileRecorded(7, 1);
  EXPECT_EQ(progress.bytesToHash, 300u);
}

std::wstring Summary(const Progress &p, int erasing, uint32_t dirs = 0) {
  wchar_t buf[kSummaryTextCap];
  ProgressSummaryText(&p, erasing, dirs, buf);
  return buf;
}

TEST(SummaryLine, CountsGroupedByThousandsAndBytesInBinaryUnits) {
  Progress p = {};
  p.filesScanned = 1234567;
  p.setsReported = 12;
  p.copiesToErase = 20;
  p.bytesToErase = 36175872;  // 34.5 MiB
  EXPECT_EQ(Summary(p, 0),
            L"TwinSift: 1,234,567 files scanned, 12 sets, 20 copies to erase "
            L"(34.5 MiB)\n");
  p.copiesErased = 18;
  EXPECT_EQ(Summary(p, 1, 3),
            L"TwinSift: 1,234,567 files scanned, 12 sets, 20 copies to erase "
            L"(34.5 MiB), 18 erased, 3 directories removed\n");
  p.foldersUnread = 2;
  EXPECT_EQ(Summary(p, 1, 3),
            L"TwinSift: 1,234,567 files scanned, 12 sets, 20 copies to erase "
            L"(34.5 MiB), 18 erased, 3 directories removed, 2 folders could "
            L"not be read\n");
  p.onlineUnread = 3;
  p.reportLost = 1;
  EXPECT_EQ(Summary(p, 1, 3),
            L"TwinSift: 1,234,567 files scanned, 12 sets, 20 copies to erase "
            L"(34.5 MiB), 18 erased, 3 directories removed, 2 folders could "
            L"not be read, 3 online-only files not read, stopped: the report "
            L"could not be written\n");
  // The longest line there can be fits whole.
  p = Progress{};
  p.filesScanned = p.setsReported = p.copiesToErase = p.copiesErased =
      p.foldersUnread = p.onlineUnread = UINT32_MAX;
  p.bytesToErase = UINT64_MAX;
  p.reportLost = 1;
  const std::wstring longest = Summary(p, 1, UINT32_MAX);
  const std::wstring end = L"stopped: the report could not be written\n";
  ASSERT_GT(longest.size(), end.size());
  EXPECT_EQ(longest.substr(longest.size() - end.size()), end);
}

TEST(SummaryLine, OneOfEachIsSingular) {
  Progress p = {};
  p.filesScanned = 1;
  p.setsReported = 1;
  p.copiesToErase = 1;
  p.bytesToErase = 1;
  p.copiesErased = 1;
  EXPECT_EQ(Summary(p, 1, 1),
            L"TwinSift: 1 file scanned, 1 set, 1 copy to erase (1 byte), "
            L"1 erased, 1 directory removed\n");
  p.foldersUnread = 1;
  p.onlineUnread = 1;
  EXPECT_EQ(Summary(p, 0),
            L"TwinSift: 1 file scanned, 1 set, 1 copy to erase (1 byte), "
            L"1 folder could not be read, 1 online-only file not read\n");
  p.filesScanned = 999;
  p.setsReported = 1000;
  EXPECT_EQ(Summary(p, 0).substr(0, 41),
            L"TwinSift: 999 files scanned, 1,000 sets, ");
}

// The unit changes where a tenth would round up to 1024 of the smaller one.
TEST(SummaryLine, SizesAtTheUnitBoundaries) {
  Progress p = {};
  const std::pair<uint64_t, std::wstring> cases[] = {
      {0, L"0 bytes"},
      {1023, L"1,023 bytes"},
      {1024, L"1.0 KiB"},
      {1024 * 1024 - 1, L"1.0 MiB"},
      {(1ull << 30) * 3 / 2, L"1.5 GiB"},
      {5ull << 40, L"5.0 TiB"},
      {3000ull << 40, L"3000.0 TiB"},
  };
  for (const auto &c : cases) {
    p.bytesToErase = c.first;
    const std::wstring line = Summary(p, 0);
    EXPECT_NE(line.find(L"(" + c.second + L")\n"), std::wstring::npos)
        << P(line);
  }
}

// A block counts as a set with its "del " copies; a run's counters are
// cleared at its start.
TEST(SummaryLine, BlocksAddUpAndAStartClearsThem) {
  ProgressStart();
  ProgressSetReported(2, 100, 1);
  ProgressSetReported(0, 0, 0);
  EXPECT_EQ(progress.setsReported, 2u);
  EXPECT_EQ(progress.copiesToErase, 2u);
  EXPECT_EQ(progress.bytesToErase, 100u);
  EXPECT_EQ(progress.copiesErased, 1u);
  ProgressStart();
  EXPECT_EQ(progress.setsReported, 0u);
  EXPECT_EQ(progress.bytesToErase, 0u);
}

class ProgressScanTest : public E2ETest {
 protected:
  void SetUp() override {
    E2ETest::SetUp();
    optionsClear();
    progress = Progress{};
    tree = bintree_Allocate();
    source = linklist_Allocate();
  }
  void TearDown() override {
    ReleaseScan(tree, source);
    E2ETest::TearDown();
  }
  bintree *tree = nullptr;
  linklist *source = nullptr;
};

// Every file entry is counted as scanned, recorded or not; the total to
// hash is what the hashing pass will read: groups of two or more, with the
// destination files that joined them.
TEST_F(ProgressScanTest, ScanCountsFilesAndTheBytesToHash) {
  MakeFile("src/a", "abc");
  MakeFile("src/b", "xyz");
  MakeFile("src/c", "12345");
  MakeEmptyFile("src/empty");
  MakeFile("dst/d", "abc");
  MakeFile("dst/e", "1234567");
  MakeSubdir("src/sub");
  ScanDirectory(At("src").c_str(), L"*", tree, source);
  EXPECT_EQ(progress.filesScanned, 4u);
  EXPECT_EQ(progress.bytesToHash, 6u);
  ScanDirectory(At("dst").c_str(), L"*", tree, nullptr);
  EXPECT_EQ(progress.filesScanned, 6u);
  EXPECT_EQ(progress.bytesToHash, 9u);
}

}  // namespace
