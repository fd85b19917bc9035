// Runs that share a tree with something else: another run erasing at the
// same moment, and the run's own report saved inside the tree it cleans.
#include <string>
#include <vector>

#include "support/harness.h"

namespace {

class TogetherTest : public E2ETest {};

// The name of pair i's files (built step by step: g++ 12 at -O3 warns
// falsely on a literal plus a temporary string).
std::string PairName(int i) {
  std::string name = std::to_string(i);
  name.insert(0, 1, 'f');
  name += ".jpg";
  return name;
}

// Two runs with opposite roles erase each other's kept copies unless a
// kept copy is held while its copies are erased: after both, every content
// must still be somewhere.
TEST_F(TogetherTest, TwoRunsWithOppositeRolesKeepEveryContent) {
  const int kPairs = 1500;
  const int kRounds = 3;
  for (int round = 0; round < kRounds; round++) {
    SCOPED_TRACE("round " + std::to_string(round));
    RemoveTree(At("s1"));
    RemoveTree(At("s2"));
    for (int i = 0; i < kPairs; i++) {
      const std::string name = PairName(i);
      const std::string bytes = name + " picture";
      MakeFile("s1/" + name, bytes);
      MakeFile("s2/" + name, bytes);
    }
    std::vector<int> codes;
    ASSERT_TRUE(RunProcessesToFiles(
        TwinSiftExe(),
        {{L"-d", At("s1"), At("s2")}, {L"-d", At("s2"), At("s1")}},
        {At("a.bat"), At("b.bat")}, Root(), &codes))
        << "broken fixture: the runs could not start";
    EXPECT_EQ(codes, (std::vector<int>{0, 0}));
    int lost = 0;
    for (int i = 0; i < kPairs; i++) {
      const std::string name = PairName(i);
      lost += !PathExists(At("s1/" + name)) && !PathExists(At("s2/" + name));
    }
    EXPECT_EQ(lost, 0) << "contents with no copy left";
  }
}

// A report saved in the folder being purged, still empty when the purge
// reaches it, is not erased, and its folder holds data: the folder and its
// zero-size files stay.
TEST_F(TogetherTest, AnEmptyReportKeepsItsFolder) {
  MakeEmptyFile("w/z.txt");
  const std::wstring report = At("w/dups.bat");
  std::vector<int> codes;
  ASSERT_TRUE(RunProcessesToFiles(TwinSiftExe(), {{L"-r", L"-d", At("w")}},
                                  {report}, Root(), &codes))
      << "broken fixture: the run could not start";
  std::string saved;
  ASSERT_TRUE(ReadBytes(report, &saved)) << "the report was erased";
  EXPECT_EQ(saved, Lines({"No files found", ""}));
  EXPECT_TRUE(PathExists(At("w/z.txt")));
}

}  // namespace
