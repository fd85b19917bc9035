// What the disks users have hold besides their own folders, through the
// seam: folder links of every reparse tag, cloud and other storage reparse
// points, online-only files and recycle bins, as the scan and the purge
// meet them. The listings of real trees are dressed with the attributes
// and tags another file system would give.
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/app.h"
#include "dups/dups.h"
#include "support/harness.h"
#include "support/seam.h"

namespace {

// What a listing entry of that name is dressed with.
struct Dress {
  DWORD attributes;  // added to the real ones
  DWORD tag;         // dwReserved0
};
std::map<std::wstring, Dress> dressed;

PlatformCalls::FindFirstFileWType realFirst;
PlatformCalls::FindFirstFileExWType realFirstEx;
PlatformCalls::FindNextFileWType realNext;

void DressEntry(WIN32_FIND_DATAW *fd) {
  auto it = dressed.find(fd->cFileName);
  if (it == dressed.end()) return;
  fd->dwFileAttributes |= it->second.attributes;
  fd->dwReserved0 = it->second.tag;
}

HANDLE WINAPI DressedFirst(LPCWSTR pattern, WIN32_FIND_DATAW *fd) {
  HANDLE h = realFirst(pattern, fd);
  if (h != INVALID_HANDLE_VALUE) DressEntry(fd);
  return h;
}

HANDLE WINAPI DressedFirstEx(LPCWSTR pattern, FINDEX_INFO_LEVELS level,
                             void *fd, FINDEX_SEARCH_OPS op, void *filter,
                             DWORD flags) {
  HANDLE h = realFirstEx(pattern, level, fd, op, filter, flags);
  if (h != INVALID_HANDLE_VALUE)
    DressEntry(static_cast<WIN32_FIND_DATAW *>(fd));
  return h;
}

BOOL WINAPI DressedNext(HANDLE find, WIN32_FIND_DATAW *fd) {
  const BOOL more = realNext(find, fd);
  if (more) DressEntry(fd);
  return more;
}

const DWORD kReparse = FILE_ATTRIBUTE_REPARSE_POINT;

class DisksTest : public E2ETest {
 protected:
  void SetUp() override {
    E2ETest::SetUp();
    optionsClear();
    options.Recurse = 1;
    cntFilesInSource = cntFilesInTree = 0;
    ProgressStart();
    realFirst = first_.saved();
    realFirstEx = firstEx_.saved();
    realNext = next_.saved();
  }
  void TearDown() override {
    dressed.clear();
    E2ETest::TearDown();
  }
  // The paths the scan of src recorded, and what it wrote on standard error.
  std::set<std::wstring> Scan(std::string *err) {
    bintree *tree = bintree_Allocate();
    linklist *source = linklist_Allocate();
    testing::internal::CaptureStderr();
    ScanDirectory(At("src").c_str(), L"*", tree, source);
    *err = testing::internal::GetCapturedStderr();
    std::set<std::wstring> paths;
    ListElement *c = nullptr;
    for (FileRecord *r = linklist_FindFirst(source, &c); r != nullptr;
         r = linklist_FindNext(source, &c))
      paths.insert(FileRecordPathHere(r));
    ReleaseScan(tree, source);
    return paths;
  }

 private:
  CallReplaced<PlatformCalls::FindFirstFileWType> first_{
      &platformCalls.FindFirstFileW, DressedFirst};
  CallReplaced<PlatformCalls::FindFirstFileExWType> firstEx_{
      &platformCalls.FindFirstFileExW, DressedFirstEx};
  CallReplaced<PlatformCalls::FindNextFileWType> next_{
      &platformCalls.FindNextFileW, DressedNext};
};

// A folder link of any tag is not entered, quietly; storage reparse points
// are folders like any other.
TEST_F(DisksTest, FolderLinksAreNotEnteredStorageFoldersAre) {
  const struct {
    const char *name;
    DWORD tag;
    bool entered;
  } kFolders[] = {
      {"mount", IO_REPARSE_TAG_MOUNT_POINT, false},
      {"symlink", IO_REPARSE_TAG_SYMLINK, false},
      {"zero", 0, false},
      {"unknown", 0x12345678, false},
      {"cloud", IO_REPARSE_TAG_CLOUD, true},
      {"cloud1", 0x9000101A, true},
      {"dedup", IO_REPARSE_TAG_DEDUP, true},
      {"wof", IO_REPARSE_TAG_WOF, true},
  };
  std::set<std::wstring> expected;
  std::string content = "x";
  for (const auto &f : kFolders) {
    const std::wstring path =
        MakeFile("src/" + std::string(f.name) + "/f.jpg", content += "x");
    dressed[W(f.name)] = {kReparse, f.tag};
    if (f.entered) expected.insert(path);
  }
  std::string err;
  EXPECT_EQ(Scan(&err), expected);
  EXPECT_EQ(err, "");
  EXPECT_EQ(progress.foldersUnread, 0u);
}

// A file whose data is not on this disk is never recorded (so never read),
// only counted.
TEST_F(DisksTest, OnlineOnlyFilesAreCountedNotRecorded) {
  const std::wstring here = MakeFile("src/here.jpg", "photo");
  const struct {
    const char *name;
    DWORD attributes;
  } kOnline[] = {
      {"recall.jpg", FILE_ATTRIBUTE_RECALL_ON_DATA_ACCESS},
      {"open.jpg", FILE_ATTRIBUTE_RECALL_ON_OPEN},
      {"offline.jpg", FILE_ATTRIBUTE_OFFLINE},
      {"cloud.jpg", FILE_ATTRIBUTE_RECALL_ON_DATA_ACCESS | kReparse},
  };
  for (const auto &f : kOnline) {
    MakeFile("src/d/" + std::string(f.name), "photo");
    dressed[W(f.name)] = {f.attributes, IO_REPARSE_TAG_CLOUD};
  }
  std::string err;
  EXPECT_EQ(Scan(&err), (std::set<std::wstring>{here}));
  EXPECT_EQ(err, "");
  EXPECT_EQ(progress.onlineUnread, 4u);
  EXPECT_EQ(cntFilesInSource, 1u);
  testing::internal::CaptureStderr();
  OnlineOnlyNotice();
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "TwinSift: 4 online-only files were not read (they would have "
            "been downloaded).\n");
  progress.onlineUnread = 1;
  testing::internal::CaptureStderr();
  OnlineOnlyNotice();
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "TwinSift: 1 online-only file was not read (it would have been "
            "downloaded).\n");
}

// Recycle bins at the top and deeper are not entered; a folder that only
// looks like one is.
TEST_F(DisksTest, RecycleBinsAreNotEntered) {
  MakeFile("src/$RECYCLE.BIN/S-1-5/$R1.jpg", "a");
  MakeFile("src/Recycler/b.jpg", "b");
  MakeFile("src/d/System Volume Information/c.jpg", "c");
  MakeFile("src/d/e/$recycle.bin/d.jpg", "d");
  const std::wstring kept = MakeFile("src/d/e/RECYCLE.BIN/e.jpg", "e");
  std::string err;
  EXPECT_EQ(Scan(&err), (std::set<std::wstring>{kept}));
  EXPECT_EQ(err, "");
}

// The purge enters neither a folder link nor a bin, and keeps both and
// every link (a zero-size entry): their folders stay. A cloud folder is
// purged as any other.
TEST_F(DisksTest, PurgeKeepsLinksAndBins) {
  const std::wstring inLink = MakeEmptyFile("src/a/junction/z");
  const std::wstring fileLink = MakeEmptyFile("src/b/shortcut");
  const std::wstring inBin = MakeEmptyFile("src/c/$Recycle.Bin/z");
  const std::wstring inCloud = MakeEmptyFile("src/cloud/z");
  dressed[L"junction"] = {kReparse, IO_REPARSE_TAG_MOUNT_POINT};
  dressed[L"shortcut"] = {kReparse, IO_REPARSE_TAG_SYMLINK};
  dressed[L"cloud"] = {kReparse, IO_REPARSE_TAG_CLOUD};
  options.Delete = 1;
  uint64_t data = 0;
  const std::string out =
      CaptureOutput([&] { data = PurgeEmptyDirs(At("src").c_str()); });
  EXPECT_EQ(out, Lines({"del \"" + P(inCloud) + "\"",
                        "rd  \"" + P(At("src/cloud")) + "\""}));
  EXPECT_EQ(data, 3u);
  for (const std::wstring &p : {inLink, fileLink, inBin})
    EXPECT_TRUE(PathExists(p)) << P(p);
  EXPECT_FALSE(PathExists(At("src/cloud")));
}

}  // namespace
