// Volumes that give every file the same identity (volume serial or file
// index 0, as some network and virtual drives do): no two files are taken
// for one, and a copy is erased only when the paths of the two open files
// show it is not its kept copy.
#include <string>
#include <utility>
#include <vector>

#include "support/harness.h"
#include "support/seam.h"

namespace {

std::string Del(const std::wstring &p) { return "del \"" + P(p) + "\""; }
std::string Rem(const std::wstring &p) { return "REM \"" + P(p) + "\""; }

decltype(PlatformCalls::GetFileInformationByHandle) realInfo;

// The system's answer with the volume serial and the file index cleared.
BOOL WINAPI ZeroIdentity(HANDLE file, BY_HANDLE_FILE_INFORMATION *info) {
  if (!realInfo(file, info)) return FALSE;
  info->dwVolumeSerialNumber = 0;
  info->nFileIndexHigh = info->nFileIndexLow = 0;
  return TRUE;
}

DWORD WINAPI NoFinalPath(HANDLE, LPWSTR, DWORD, DWORD) {
  platformCalls.SetLastError(ERROR_NOT_SUPPORTED);
  return 0;
}

class NoIdentityTest : public E2ETest {
 protected:
  NoIdentityTest()
      : info_(&platformCalls.GetFileInformationByHandle, ZeroIdentity) {
    realInfo = info_.saved();
  }
  // In this process, so the replacements hold.
  std::string Run(std::vector<std::wstring> args) {
    return RunInProcess(std::move(args));
  }

 private:
  CallReplaced<decltype(PlatformCalls::GetFileInformationByHandle)> info_;
};

TEST_F(NoIdentityTest, TwoFilesAreNeverTakenForOne) {
  auto a = MakeFile("d/a.jpg", "photo");
  auto b = MakeFile("d/b.jpg", "photo");
  EXPECT_EQ(Run({L"-d", At("d")}), Lines({"", Del(a), Rem(b)}));
  EXPECT_FALSE(PathExists(a));
  EXPECT_TRUE(PathExists(b));
}

TEST_F(NoIdentityTest, NothingShowsTwoFilesApartSoTheCopyStays) {
  auto a = MakeFile("d/a.jpg", "photo");
  auto b = MakeFile("d/b.jpg", "photo");
  CallReplaced<decltype(PlatformCalls::GetFinalPathNameByHandleW)> none(
      &platformCalls.GetFinalPathNameByHandleW, NoFinalPath);
  EXPECT_EQ(Run({L"-d", At("d")}),
            Lines({"", Del(a),
                   "REM Not erased, not shown to be another file than its "
                   "kept copy: \"" +
                       P(a) + "\"",
                   Rem(b)}));
  EXPECT_TRUE(PathExists(a) && PathExists(b));
}

// One file reached from the source and, by another route, from a
// destination: its two records look like two files, and only the paths of
// the open files show they are one. It is never erased against itself.
TEST_F(NoIdentityTest, OneFileByTwoRoutesIsNeverErasedAgainstItself) {
  auto a = MakeFile("src/a.jpg", "photo");
  std::wstring again = At("again");
  if (!MakeSymlink(At("src"), again)) {
    again = At("SRC");  // the same folder in other letter case
    if (!PathExists(again)) GTEST_SKIP() << "no second route to a folder here";
  }
  const std::wstring twin = JoinPath(again, L"a.jpg");
  EXPECT_EQ(
      Run({L"-d", At("src"), again}),
      Lines({"", Del(a),
             "REM Not erased, the same file as its kept copy: \"" + P(a) + "\"",
             Rem(twin)}));
  EXPECT_TRUE(PathExists(a));
}

}  // namespace
