// The hashing pass and report when hashing fails between visits: a failed
// record never matches, and a block never touches records of earlier blocks.
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "app/app.h"
#include "dups/dups.h"
#include "hash/hash.h"
#include "support/harness.h"
#include "support/seam.h"

namespace {

// Per file, the outcome of each successive hashing attempt: true hashes the
// file for real, false fails its open as a vanished file does. Later
// attempts repeat the last outcome.
std::map<std::wstring, std::vector<bool>> script;
std::map<std::wstring, size_t> attempts;

bool ScriptedOpenFails(const std::wstring &path, DWORD flags) {
  if (!IsHashingOpen(flags)) return false;
  auto it = script.find(path);
  size_t n = attempts[path]++;
  if (it == script.end()) return false;
  const std::vector<bool> &plan = it->second;
  if (plan[n < plan.size() ? n : plan.size() - 1]) return false;
  SetLastError(ERROR_FILE_NOT_FOUND);
  return true;
}

class HashPassTest : public E2ETest {
 protected:
  void SetUp() override {
    E2ETest::SetUp();
    optionsClear();
    script.clear();
    attempts.clear();
    hooks.failOpen = ScriptedOpenFails;
  }
  void TearDown() override {
    optionsClear();
    E2ETest::TearDown();
  }
  FileCallHooks hooks;
  // Scans dir as a single-directory run with -d and runs the pass.
  std::string Run(const std::wstring &dir) {
    options.Delete = 1;
    options.uCntParms = 1;
    bintree *tree = bintree_Allocate();
    linklist *source = linklist_Allocate();
    ScanDirectory(dir.c_str(), L"*", tree, source);
    std::string out =
        CaptureOutput([&] { HashGroupsAndCompare(source, tree); });
    ReleaseScan(tree, source);
    options.uCntParms = 0;
    return out;
  }
};

std::string Del(const std::wstring &p) { return "del \"" + P(p) + "\""; }
std::string Rem(const std::wstring &p) { return "REM \"" + P(p) + "\""; }

TEST_F(HashPassTest, RecordsWhoseLatestHashingFailedNeverMatch) {
  auto x = MakeFile("d/0x", "XXXX");
  auto a = MakeFile("d/a", "AAAA");
  auto b = MakeFile("d/b", "BBBB");
  script[x] = {false};
  script[a] = {true, false};
  script[b] = {true, false};
  std::string out = Run(At("d"));
  EXPECT_EQ(out.find("del "), std::string::npos) << out;
  EXPECT_TRUE(PathExists(a) && PathExists(b) && PathExists(x));
}

TEST_F(HashPassTest, LaterBlockLeavesEarlierBlocksAlone) {
  std::vector<std::wstring> f;
  for (const char *n : {"a", "b", "c", "d", "e"})
    f.push_back(MakeFile(std::string("d/") + n, "same"));
  script[f[0]] = {false};
  script[f[3]] = {false, false, true};
  script[f[4]] = {false, false, true};
  std::string out = Run(At("d"));
  EXPECT_NE(out.find(Lines({"", Del(f[1]), Rem(f[2])})), std::string::npos)
      << out;
  EXPECT_NE(out.find(Lines({"", Del(f[3]), Rem(f[4])})), std::string::npos)
      << out;
  // The copy kept by the first block stays, with no second line of its own.
  EXPECT_TRUE(PathExists(f[2]));
  EXPECT_TRUE(PathExists(f[4]));
  EXPECT_FALSE(PathExists(f[1]));
  EXPECT_FALSE(PathExists(f[3]));
  size_t lines = 0;
  for (size_t p = 0; (p = out.find(P(f[2]), p)) != std::string::npos; p++)
    lines++;
  EXPECT_EQ(lines, 1u) << out;
}

// A read that fails halfway through a file: the failure line with the
// read's code, and the file matches nothing.
TEST_F(HashPassTest, FailedReadIsReportedAndNeverMatched) {
  auto a = MakeFile("d/a", "photo");
  auto b = MakeFile("d/b", "photo");
  hooks.failRead = [](HANDLE) {
    SetLastError(ERROR_READ_FAULT);
    return true;
  };
  std::string out = Run(At("d"));
  const std::string line = "ComputeSHA256 failed (0x1e): \"";
  EXPECT_EQ(out.rfind(line + P(a) + "\" ", 0), 0u) << out;
  EXPECT_NE(out.find(line + P(b) + "\" "), std::string::npos) << out;
  EXPECT_EQ(out.find("del "), std::string::npos) << out;
  EXPECT_TRUE(PathExists(a) && PathExists(b));
}

}  // namespace
