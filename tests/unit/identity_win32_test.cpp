// A file's identity on Windows: the volume serial number learnt once per
// directory must give what the system's own call gives, for every file.
#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"
#include "platform/testing/testing.h"

namespace {

HANDLE OpenForReading(const std::wstring &path, DWORD flags) {
  return TsCreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                       OPEN_EXISTING, flags, nullptr);
}

// What the wrapped and the plain call say of the same open handle.
void ExpectSameAsSystem(const std::wstring &path, DWORD flags) {
  HANDLE h = OpenForReading(path, flags);
  ASSERT_NE(INVALID_HANDLE_VALUE, h) << "fixture: cannot open";
  BY_HANDLE_FILE_INFORMATION ours, system;
  ASSERT_TRUE(TsGetFileInformationByHandle(h, &ours));
  ASSERT_TRUE(GetFileInformationByHandle(h, &system));
  CloseHandle(h);
  EXPECT_EQ(system.dwVolumeSerialNumber, ours.dwVolumeSerialNumber);
  EXPECT_EQ(system.nFileIndexHigh, ours.nFileIndexHigh);
  EXPECT_EQ(system.nFileIndexLow, ours.nFileIndexLow);
  EXPECT_EQ(system.nFileSizeHigh, ours.nFileSizeHigh);
  EXPECT_EQ(system.nFileSizeLow, ours.nFileSizeLow);
  EXPECT_EQ(system.nNumberOfLinks, ours.nNumberOfLinks);
  EXPECT_EQ(system.dwFileAttributes, ours.dwFileAttributes);
  EXPECT_EQ(0, CompareFileTime(&system.ftCreationTime, &ours.ftCreationTime));
  EXPECT_EQ(0, CompareFileTime(&system.ftLastWriteTime, &ours.ftLastWriteTime));
}

class IdentityTest : public ::testing::Test {
 protected:
  void SetUp() override { root_ = MakeTempDir(); }
  void TearDown() override { RemoveTree(root_); }
  std::wstring root_;
};

}  // namespace

TEST_F(IdentityTest, EveryFileOfADirectoryGetsTheSystemsAnswer) {
  ASSERT_TRUE(MakeDir(root_ + L"\\a"));
  ASSERT_TRUE(WriteBytes(root_ + L"\\a\\one", "1"));
  ASSERT_TRUE(WriteBytes(root_ + L"\\a\\two", std::string(70000, 'x')));
  ASSERT_TRUE(SetReadOnly(root_ + L"\\a\\two", true));
  // The first file teaches the directory's volume; the others reuse it.
  ExpectSameAsSystem(root_ + L"\\a\\one", FILE_ATTRIBUTE_NORMAL);
  ExpectSameAsSystem(root_ + L"\\a\\two", FILE_FLAG_SEQUENTIAL_SCAN);
  ExpectSameAsSystem(root_ + L"\\a\\one", FILE_ATTRIBUTE_NORMAL);
}

TEST_F(IdentityTest, DirectoriesAndHardLinksKeepTheirIdentity) {
  ASSERT_TRUE(MakeDir(root_ + L"\\a"));
  ASSERT_TRUE(MakeDir(root_ + L"\\b"));
  ASSERT_TRUE(WriteBytes(root_ + L"\\a\\f", "same file"));
  ASSERT_TRUE(MakeHardLink(root_ + L"\\a\\f", root_ + L"\\b\\g"));
  ExpectSameAsSystem(root_ + L"\\b\\g", FILE_ATTRIBUTE_NORMAL);
  ExpectSameAsSystem(root_ + L"\\a", FILE_FLAG_BACKUP_SEMANTICS);
  BY_HANDLE_FILE_INFORMATION viaA, viaB;
  HANDLE a = OpenForReading(root_ + L"\\a\\f", FILE_ATTRIBUTE_NORMAL);
  HANDLE b = OpenForReading(root_ + L"\\b\\g", FILE_ATTRIBUTE_NORMAL);
  ASSERT_TRUE(TsGetFileInformationByHandle(a, &viaA));
  ASSERT_TRUE(TsGetFileInformationByHandle(b, &viaB));
  CloseHandle(a);
  CloseHandle(b);
  EXPECT_EQ(viaA.dwVolumeSerialNumber, viaB.dwVolumeSerialNumber);
  EXPECT_EQ(viaA.nFileIndexLow, viaB.nFileIndexLow);
  EXPECT_EQ(viaA.nFileIndexHigh, viaB.nFileIndexHigh);
  EXPECT_EQ(2u, viaA.nNumberOfLinks);
}
