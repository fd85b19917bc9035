// Files and directories that change under a run: between the scan and the
// hashing, between the hashing and the erasure, during the scan and the
// purge. No crash, every failure reported, no copy lost.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/app.h"
#include "support/harness.h"
#include "support/seam.h"

namespace {

std::string Del(const std::wstring &p) { return "del \"" + P(p) + "\""; }
std::string Rem(const std::wstring &p) { return "REM \"" + P(p) + "\""; }

// The steps of a run at which a test changes the file system, each known by
// the platform call that starts it.
enum Step {
  kHash,      // the hashing of a file: its hashing open
  kCheck,     // the check of a copy before an erasure: its other opens
  kScanDir,   // the scan of a directory: its first listing
  kPurgeDir,  // the purge of a directory: its listing after the scan's
};

class ChangesTest : public E2ETest {
 protected:
  // In this process, so the hooks fire.
  std::string Run(std::vector<std::wstring> args) {
    return RunInProcess(std::move(args));
  }
  // Calls change once, right before the step starts for path (a file for
  // kHash and kCheck, a directory for kScanDir and kPurgeDir).
  void Once(Step step, const std::wstring &path, std::function<void()> change) {
    auto done = std::make_shared<bool>(false);
    auto fire = [=] {
      if (!*done) {
        *done = true;
        change();
      }
    };
    hooks.beforeOpen = [=](const std::wstring &p, DWORD flags) {
      bool hashing = IsHashingOpen(flags);
      if (p == path && (step == kHash ? hashing : step == kCheck && !hashing))
        fire();
    };
    // Only the scan lists a directory with FindFirstFileExW; it lists the
    // files first, with FindFirstFileW.
    auto lists = std::make_shared<int>(0);
    const std::wstring inDir = JoinPath(path, L"");
    hooks.beforeList = [=](const std::wstring &pattern) {
      if (pattern.rfind(inDir, 0) != 0 ||
          pattern.find_first_of(L"\\/", inDir.size()) != std::wstring::npos)
        return;
      ++*lists;
      if (step == kScanDir || (step == kPurgeDir && *lists == 3)) fire();
    };
  }
  std::string Contents(const std::wstring &p) {
    std::string bytes;
    return ReadBytes(p, &bytes) ? bytes : "<missing>";
  }
  void Remove(const std::wstring &p) { RemoveTree(p); }
  FileCallHooks hooks;
};

TEST_F(ChangesTest, FileVanishedBeforeHashingIsReportedAndNeverMatched) {
  auto a = MakeFile("d/a", "photo");
  auto b = MakeFile("d/b", "photo");
  Once(kHash, a, [&] { Remove(a); });
  std::string out = Run({L"-d", At("d")});
  EXPECT_EQ(out.rfind("ComputeSHA256 failed (0x2): \"" + P(a) + "\" ", 0), 0u)
      << out;
  EXPECT_EQ(out.find("del "), std::string::npos) << out;
  EXPECT_EQ(Contents(b), "photo");
}

TEST_F(ChangesTest, FileThatShrankBeforeHashingNoLongerMatches) {
  auto a = MakeFile("d/a", "photo");
  auto b = MakeFile("d/b", "photo");
  Once(kHash, a, [&] { WriteBytes(a, "ph"); });
  EXPECT_EQ(Run({L"-d", At("d")}), "");
  EXPECT_EQ(Contents(a), "ph");
  EXPECT_EQ(Contents(b), "photo");
}

TEST_F(ChangesTest, FileReplacedByALinkToItsTwinIsNotErased) {
  auto a = MakeFile("d/a", "photo");
  auto b = MakeFile("d/b", "photo");
  bool linked = false;
  Once(kHash, a, [&] {
    Remove(a);
    linked = MakeSymlink(b, a);
  });
  std::string out = Run({L"-d", At("d")});
  if (!linked) GTEST_SKIP() << "no symbolic links here";
  // The link and its target are one file: nothing to report or erase.
  EXPECT_EQ(out, "");
  EXPECT_EQ(Contents(b), "photo");
}

TEST_F(ChangesTest, CopyThatGrewAfterHashingIsKept) {
  auto a = MakeFile("d/a", "photo");
  auto b = MakeFile("d/b", "photo");
  Once(kCheck, a, [&] { WriteBytes(a, "photo and more"); });
  EXPECT_EQ(
      Run({L"-d", At("d")}),
      Lines({"", Del(a),
             "REM Not erased, changed since it was hashed: \"" + P(a) + "\"",
             Rem(b)}));
  EXPECT_EQ(Contents(a), "photo and more");
  EXPECT_EQ(Contents(b), "photo");
}

TEST_F(ChangesTest, CopyReplacedByAnotherFileIsKept) {
  auto a = MakeFile("d/a", "photo");
  auto b = MakeFile("d/b", "photo");
  auto other = MakeFile("other", "PHOTO");
  Once(kCheck, a, [&] {
    Remove(a);
    WriteBytes(a, Contents(other));
  });
  std::string out = Run({L"-d", At("d")});
  EXPECT_NE(out.find("REM Not erased, changed since it was hashed"),
            std::string::npos)
      << out;
  EXPECT_EQ(Contents(a), "PHOTO");
  EXPECT_EQ(Contents(b), "photo");
}

TEST_F(ChangesTest, CopyThatVanishedAfterHashingIsReported) {
  auto a = MakeFile("d/a", "photo");
  auto b = MakeFile("d/b", "photo");
  Once(kCheck, a, [&] { Remove(a); });
  EXPECT_EQ(
      Run({L"-d", At("d")}),
      Lines({"", Del(a),
             "REM Not erased, changed since it was hashed: \"" + P(a) + "\"",
             Rem(b)}));
  EXPECT_EQ(Contents(b), "photo");
}

TEST_F(ChangesTest, NothingIsErasedWhenTheKeptCopyChanged) {
  auto a = MakeFile("d/a", "photo");
  auto b = MakeFile("d/b", "photo");
  auto c = MakeFile("d/c", "photo");
  // The kept copy is rewritten right before its check, which comes ahead
  // of the first erasure of its block.
  Once(kCheck, c, [&] { WriteBytes(c, "new picture"); });
  std::string why =
      "REM Not erased, the kept copy changed since it was hashed: ";
  EXPECT_EQ(Run({L"-d", At("d")}),
            Lines({"", Del(a), why + "\"" + P(a) + "\"", Del(b),
                   why + "\"" + P(b) + "\"", Rem(c)}));
  EXPECT_EQ(Contents(a), "photo");
  EXPECT_EQ(Contents(b), "photo");
}

TEST_F(ChangesTest, DirectoryVanishedDuringTheScan) {
  auto a = MakeFile("d/a", "photo");
  auto b = MakeFile("d/sub/b", "photo");
  auto c = MakeFile("d/z/c", "photo");
  Once(kScanDir, At("d/sub"), [&] { Remove(At("d/sub")); });
  std::string out = Run({L"-r", L"-d", At("d")});
  EXPECT_EQ(out, Lines({"", Del(a), Rem(c), ""})) << out;
  EXPECT_EQ(Contents(c), "photo");
}

TEST_F(ChangesTest, DirectoryVanishedDuringThePurge) {
  MakeEmptyFile("d/e1/zero");
  MakeEmptyFile("d/e2/zero");
  auto keep = MakeFile("d/keep", "data");
  Once(kPurgeDir, At("d/e1"), [&] { Remove(At("d/e1")); });
  std::string out = Run({L"-r", L"-d", At("d")});
  // The vanished directory counts as empty; its removal fails and is said.
  EXPECT_NE(out.find("RemoveDirectory failed (2): \"" + P(At("d/e1")) + "\""),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("rd  \"" + P(At("d/e2")) + "\""), std::string::npos);
  EXPECT_FALSE(PathExists(At("d/e2")));
  EXPECT_EQ(Contents(keep), "data");
}

}  // namespace
