// The whole program on many random trees, checked against a model of the
// documented behaviour and against safety rules that hold whatever the model
// says: nothing of a content is lost, destinations stay as they were, no
// file is named twice or erased against itself, children go before parents.
//
// More trees, or one failing tree again (its seed is in the failure text),
// from the build folder:
//   TWINSIFT_TREES=20000 TWINSIFT_SEED=1 ./randomtree_test
//   TWINSIFT_TREES=1 TWINSIFT_SEED=<seed> ./randomtree_test
#include "support/randomtree.h"

#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "support/harness.h"

namespace {

// Trees per run when TWINSIFT_TREES is not set: a minute or two per build.
#if defined(_WIN32)
const uint64_t kDefaultTrees = 120;  // each Wine process start is slow
#elif defined(__SANITIZE_ADDRESS__)
const uint64_t kDefaultTrees = 500;
#else
const uint64_t kDefaultTrees = 2000;
#endif

uint64_t EnvNumber(const char *name, uint64_t fallback) {
  const char *text = getenv(name);
  if (text == nullptr || *text == '\0') return fallback;
  return strtoull(text, nullptr, 10);
}

bool Under(const RelPath &rel, const RelPath &dir) {
  return rel.size() >= dir.size() &&
         std::equal(dir.begin(), dir.end(), rel.begin());
}

// The line of the report for a path, as bytes without the line end.
std::string LineFor(const wchar_t *prefix, const std::wstring &path) {
  std::string bytes =
      ModelLineBytes(prefix + (L"\"" + ModelShownPath(path, true) + L"\""));
  return bytes.substr(0, bytes.size() - std::string(kLineEnd).size());
}

// Every non-empty file the run could name, by the bytes of its "del " and
// "REM " lines: the inodes whose path, through some parameter, gives it.
struct Names {
  std::map<std::string, std::set<int>> byLine;
};

Names NamesOf(const RandomTree &t, const RunSwitches &sw) {
  Names names;
  std::vector<TreeParam> params = {{FullText(t, t.source), t.source, false}};
  if (sw.dests) params.insert(params.end(), t.dests.begin(), t.dests.end());
  for (size_t i = 0; i < params.size(); i++) {
    for (const auto &[rel, node] : t.nodes) {
      if (node.kind != NodeKind::kFile || t.contents[node.inode].empty() ||
          !Under(rel, params[i].dir))
        continue;
      std::wstring path = params[i].text;
      for (size_t k = params[i].dir.size(); k < rel.size(); k++)
        path += kPathSep + rel[k];
      for (const wchar_t *prefix : {L"del ", L"REM "})
        names.byLine[LineFor(prefix, path)].insert(node.inode);
    }
  }
  return names;
}

// The one inode a report line names, or -1 (not a line of a non-empty
// file, or a name the output code page cannot tell apart from another).
int InodeOf(const Names &names, const std::string &line) {
  auto it = names.byLine.find(line);
  if (it == names.byLine.end() || it->second.size() != 1) return -1;
  return *it->second.begin();
}

// Rules for the report as printed, whatever the model expects.
void CheckReportRules(const RandomTree &t, const RunSwitches &sw,
                      const std::string &out) {
  const Names names = NamesOf(t, sw);
  const std::string sourceLine =
      LineFor(L"del ", FullText(t, t.source) + kPathSep);
  const std::string sourcePrefix = sourceLine.substr(0, sourceLine.size() - 1);
  std::set<int> named;
  std::vector<std::string> lines = SplitLines(out);
  lines.push_back("");
  std::vector<std::pair<bool, int>> block;  // erased?, inode
  for (const std::string &line : lines) {
    const int inode = InodeOf(names, line);
    if (inode >= 0) {
      const bool del = line.rfind("del ", 0) == 0;
      // A read-only file reached from the source too is named twice, by
      // "REM " lines of one block.
      bool again = false;
      for (const auto &[del2, other] : block)
        again = again || (other == inode && !del && !del2);
      EXPECT_TRUE(named.insert(inode).second || again)
          << "one file named on two lines, the second: " << line;
      EXPECT_TRUE(!del || line.rfind(sourcePrefix, 0) == 0)
          << "a file outside the source to be erased: " << line;
      block.push_back({del, inode});
      continue;
    }
    if (line.empty() || line.rfind("REM FileSize=", 0) == 0) {
      for (const auto &[del, victim] : block) {
        if (!del) continue;
        bool kept = false;
        for (const auto &[del2, other] : block)
          kept = kept || (!del2 && other != victim &&
                          t.contents[other] == t.contents[victim]);
        EXPECT_TRUE(kept) << "a copy erased with no other file kept";
      }
      block.clear();
    }
  }
  for (size_t i = 0; i < lines.size(); i++) {
    const std::string &rd = lines[i];
    if (rd.size() < 6 || rd.rfind("rd  \"", 0) != 0) continue;
    const std::string inside =
        rd.substr(4, rd.size() - 5) + std::string(1, (char)kPathSep);
    for (size_t k = i + 1; k < lines.size(); k++)
      EXPECT_EQ(lines[k].find(inside), std::string::npos)
          << "a line for a path inside a directory removed before it: "
          << lines[k];
  }
}

// The file system after a run: the model's tree, every content still held
// by some file, the destinations unchanged.
void CheckFiles(const RandomTree &t, const RunSwitches &sw,
                const ModelResult &model) {
  std::set<std::string> before, after;
  for (const auto &[rel, node] : t.nodes) {
    const std::wstring path = FullText(t, rel);
    const bool expected = model.after.count(rel) != 0;
    EXPECT_EQ(PathExists(path), expected)
        << (expected ? "gone: " : "left: ") << ModelLineBytes(path);
    if (node.kind != NodeKind::kFile) continue;
    const std::string &bytes = t.contents[node.inode];
    if (!bytes.empty()) before.insert(bytes);
    std::string now;
    if (!ReadBytes(path, &now)) continue;
    after.insert(now);
    EXPECT_EQ(now, bytes) << "changed: " << ModelLineBytes(path);
  }
  for (const std::string &bytes : before)
    EXPECT_EQ(after.count(bytes), 1u)
        << "a content of " << bytes.size() << " bytes is gone from every file";
  if (!sw.dests) return;
  for (const TreeParam &p : t.dests) {
    // Files a destination shares with a source inside it are source files.
    const bool holdsSource =
        p.dir.size() < t.source.size() && Under(t.source, p.dir);
    for (const auto &[rel, node] : t.nodes) {
      if (!Under(rel, p.dir) || (holdsSource && Under(rel, t.source))) continue;
      EXPECT_TRUE(PathExists(FullText(t, rel)))
          << "destination entry gone: " << ModelLineBytes(FullText(t, rel));
    }
  }
}

// One run of the program on the tree, checked. False when a check failed.
bool CheckRun(const RandomTree &t, const RunSwitches &sw) {
  const ModelResult model = ModelRun(t, sw);
  std::vector<void *> holds = HoldFiles(t);
  RunResult r = RunTwinSift(RunArgs(t, sw));
  ReleaseHeld(&holds);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, model.out) << "the report differs from the model";
  CheckReportRules(t, sw, r.out);
  CheckFiles(t, sw, model);
  return !::testing::Test::HasFailure();
}

class RandomTreeTest : public ::testing::Test {};

TEST_F(RandomTreeTest, WholeRunsMatchTheModel) {
  const uint64_t seed = EnvNumber("TWINSIFT_SEED", 1);
  const uint64_t trees = EnvNumber("TWINSIFT_TREES", kDefaultTrees);
  for (uint64_t i = 0; i < trees; i++) {
    const std::wstring root = MakeTempDir();
    ASSERT_FALSE(root.empty()) << "broken fixture: no temporary directory";
    const RandomTree t = GenerateTree(seed + i, root);
    std::string why;
    ASSERT_TRUE(BuildTree(t, &why)) << "broken fixture: " << why;
    // A run that only reports leaves the tree as it is: the erasing run
    // comes last.
    bool ok = true;
    RunSwitches sw;
    for (int run = 0; run < 2 && ok; run++) {
      sw = PickSwitches(t, run, run == 1);
      ok = CheckRun(t, sw);
    }
    RemoveTree(root);
    if (!ok) {
      ADD_FAILURE() << "tree " << i + 1 << " of " << trees
                    << " failed; rebuild it with TWINSIFT_SEED=" << seed + i
                    << " TWINSIFT_TREES=1\nrun:" << DescribeSwitches(sw)
                    << "\ntree:\n"
                    << Listing(t);
      return;
    }
  }
}

}  // namespace
