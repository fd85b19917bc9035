// Files and directories that change under a run: between the scan and the
// hashing, between the hashing and the erasure, during the scan and the
// purge. No crash, every failure reported, no copy lost.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/app.h"
#include "support/harness.h"

#if defined(TWINSIFT_TEST_HOOKS)
namespace {

std::function<void(const std::wstring &, const std::wstring &)> onHook;

void Trampoline(const wchar_t *point, const wchar_t *path) {
  if (onHook) onHook(point, path);
}

std::string Del(const std::wstring &p) { return "del \"" + P(p) + "\""; }
std::string Rem(const std::wstring &p) { return "REM \"" + P(p) + "\""; }

class ChangesTest : public E2ETest {
 protected:
  void SetUp() override {
    E2ETest::SetUp();
    testHook = Trampoline;
  }
  void TearDown() override {
    testHook = nullptr;
    onHook = nullptr;
    E2ETest::TearDown();
  }
  // Runs the whole program in this process, so the hooks fire.
  std::string Run(std::vector<std::wstring> args) {
    std::vector<wchar_t *> argv = {const_cast<wchar_t *>(L"twinsift")};
    for (std::wstring &a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    return CaptureOutput(
        [&] { AppMain(static_cast<int>(argv.size() - 1), argv.data()); });
  }
  // Calls change once, the first time point fires for path.
  void Once(const std::wstring &point, const std::wstring &path,
            std::function<void()> change) {
    auto done = std::make_shared<bool>(false);
    onHook = [=](const std::wstring &pt, const std::wstring &p) {
      if (!*done && pt == point && p == path) {
        *done = true;
        change();
      }
    };
  }
  std::string Contents(const std::wstring &p) {
    std::string bytes;
    return ReadBytes(p, &bytes) ? bytes : "<missing>";
  }
  void Remove(const std::wstring &p) { RemoveTree(p); }
};

TEST_F(ChangesTest, FileVanishedBeforeHashingIsReportedAndNeverMatched) {
  auto a = MakeFile("d/a", "photo");
  auto b = MakeFile("d/b", "photo");
  Once(L"hash", a, [&] { Remove(a); });
  std::string out = Run({L"-d", At("d")});
  EXPECT_EQ(out.rfind("ComputeSHA256 failed (0x2): \"" + P(a) + "\" ", 0), 0u)
      << out;
  EXPECT_EQ(out.find("del "), std::string::npos) << out;
  EXPECT_EQ(Contents(b), "photo");
}

TEST_F(ChangesTest, FileThatShrankBeforeHashingNoLongerMatches) {
  auto a = MakeFile("d/a", "photo");
  auto b = MakeFile("d/b", "photo");
  Once(L"hash", a, [&] { WriteBytes(a, "ph"); });
  EXPECT_EQ(Run({L"-d", At("d")}), "");
  EXPECT_EQ(Contents(a), "ph");
  EXPECT_EQ(Contents(b), "photo");
}

TEST_F(ChangesTest, FileReplacedByALinkToItsTwinIsNotErased) {
  auto a = MakeFile("d/a", "photo");
  auto b = MakeFile("d/b", "photo");
  bool linked = false;
  Once(L"hash", a, [&] {
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
  Once(L"erase", a, [&] { WriteBytes(a, "photo and more"); });
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
  Once(L"erase", a, [&] {
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
  Once(L"erase", a, [&] { Remove(a); });
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
  // The kept copy is rewritten before the first erasure of its block.
  Once(L"erase", a, [&] { WriteBytes(c, "new picture"); });
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
  Once(L"scan-dir", At("d/sub"), [&] { Remove(At("d/sub")); });
  std::string out = Run({L"-r", L"-d", At("d")});
  EXPECT_EQ(out, Lines({"", Del(a), Rem(c), ""})) << out;
  EXPECT_EQ(Contents(c), "photo");
}

TEST_F(ChangesTest, DirectoryVanishedDuringThePurge) {
  MakeEmptyFile("d/e1/zero");
  MakeEmptyFile("d/e2/zero");
  auto keep = MakeFile("d/keep", "data");
  Once(L"purge-dir", At("d/e1"), [&] { Remove(At("d/e1")); });
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
#else
TEST(ChangesTest, NeedsTestHooks) {
  GTEST_SKIP() << "built without test hooks (the linux-debug preset has them)";
}
#endif
