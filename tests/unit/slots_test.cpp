// How the containers store their objects: one stored path for a source
// file's two records, objects carved from a few large blocks that go back
// whole, and block failures reaching the containers' own reports.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "containers/containers.h"
#include "scan/scan.h"
#include "support/harness.h"
#include "support/seam.h"

namespace {

class SlotsTest : public DebugTextTest {};

WIN32_FIND_DATAW SizeData(DWORD low) {
  WIN32_FIND_DATAW data;
  memset(&data, 0, sizeof data);
  data.nFileSizeLow = low;
  return data;
}

// The two records of a source file name one stored path, which outlives
// whichever list is released first.
TEST_F(SlotsTest, SharedPathLivesUntilItsLastRecordGoes) {
  const long before = ContainerSlotsInUse();
  WIN32_FIND_DATAW data = SizeData(9);
  for (bool sourceFirst : {true, false}) {
    linklist *source = AllocateList();
    linklist *group = AllocateList();
    StoredName *stored = nullptr;
    ASSERT_EQ(linklist_EnqueueStored(source, L"dir/a", &data, 1, &stored), 0u);
    ASSERT_NE(stored, nullptr);
    ASSERT_EQ(linklist_EnqueueShared(group, stored, &data, 1), 0u);
    ListElement *c = nullptr;
    FileRecord *s = linklist_FindFirst(source, &c);
    FileRecord *g = linklist_FindFirst(group, &c);
    EXPECT_EQ(s->name, g->name);
    EXPECT_NE(s, g);  // flags stay apart
    g->fHashed = 1;
    EXPECT_EQ(s->fHashed, 0);
    linklist_DeAllocate(sourceFirst ? source : group);
    // Read after the other list went: ASan reports a path freed early.
    EXPECT_STREQ(FileRecordPathHere(sourceFirst ? g : s), L"dir/a");
    linklist_DeAllocate(sourceFirst ? group : source);
    EXPECT_EQ(ContainerSlotsInUse(), before);
  }
}

// A failed enqueue drops its reference: the stored path stays with the
// record that holds it, and a record handed out owns copies of its own.
TEST_F(SlotsTest, FailedSharedEnqueueAndDequeueKeepThePath) {
  WIN32_FIND_DATAW data = SizeData(3);
  linklist *source = AllocateList();
  StoredName *stored = nullptr;
  ASSERT_EQ(linklist_EnqueueStored(source, L"x", &data, 1, &stored), 0u);
  EXPECT_EQ(linklist_EnqueueShared(nullptr, stored, &data, 1), 87u);
  ListElement *c = nullptr;
  EXPECT_STREQ(FileRecordPathHere(linklist_FindFirst(source, &c)), L"x");
  linklist *none = nullptr;
  EXPECT_EQ(linklist_EnqueueStored(none, L"y", &data, 1, &stored), 87u);
  EXPECT_EQ(stored, nullptr);
  FileRecord *mine = linklist_Dequeue(source);
  ASSERT_NE(mine, nullptr);
  EXPECT_STREQ(FileRecordPathHere(mine), L"x");
  FileRecordFree(mine);
  linklist_DeAllocate(source);
}

// Thousands of records cost a few dozen blocks, all given back with the
// list; a block that cannot be had is the container's allocation failure.
TEST_F(SlotsTest, RecordsComeFromFewBlocksGivenBackWhole) {
  ContainerFaultScope faults(true);
  linklist *list = AllocateList();
  ASSERT_NE(list, nullptr);
  WIN32_FIND_DATAW data = SizeData(5);
  const int files = 20000;
  for (int i = 0; i < files; i++) {
    std::wstring path = L"some/folder/file" + std::to_wstring(i);
    ASSERT_EQ(linklist_Enqueue(list, path.c_str(), &data, 0), 0u);
  }
  EXPECT_GT(containerFaults.live, 0);
  EXPECT_LT(containerFaults.live, 40);  // allocated one by one: 40,000
  linklist_DeAllocate(list);
  EXPECT_EQ(containerFaults.live, 0);
  EXPECT_EQ(ContainerSlotsInUse(), 0);

  containerFaults.alloc = 1;  // the first block, for the header
  out = Output([&] { EXPECT_EQ(AllocateList(), nullptr); });
  EXPECT_EQ(out,
            "linklistAllocate: memory alloc failed"
            "AllocateList - list allocate failed");
  list = AllocateList();
  ASSERT_NE(list, nullptr);
  linklist_DeAllocate(list);
  EXPECT_EQ(containerFaults.live, 0);
}

// A tree's nodes and a size group's objects share the blocks too.
TEST_F(SlotsTest, TreeNodesAndGroupsAreGivenBack) {
  ContainerFaultScope faults(true);
  bintree *tree = bintree_Allocate();
  linklist *source = AllocateList();
  for (DWORD size = 1; size <= 1000; size++) {
    WIN32_FIND_DATAW data = SizeData(size * 7919 % 3001);
    std::wstring path = L"f" + std::to_wstring(size);
    (void)bintree_AddObject(path.c_str(), &data, tree, source);
  }
  EXPECT_LT(containerFaults.live, 40);
  ReleaseScan(tree, source);
  EXPECT_EQ(containerFaults.live, 0);
  EXPECT_EQ(ContainerSlotsInUse(), 0);
}

}  // namespace
