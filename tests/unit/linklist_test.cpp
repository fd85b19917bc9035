// The FIFO list of file records: order, counts, record contents and the
// exact diagnostic texts.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <functional>
#include <string>
#include <vector>

#include "app/app.h"
#include "containers/containers.h"
#include "support/harness.h"
#include "support/seam.h"

namespace {

class LinklistTest : public DebugTextTest {};

WIN32_FIND_DATAW FindData(DWORD high, DWORD low) {
  WIN32_FIND_DATAW data;
  memset(&data, 0, sizeof data);
  data.nFileSizeHigh = high;
  data.nFileSizeLow = low;
  return data;
}

void FreeRecord(FileRecord *record) { FileRecordFree(record); }

TEST_F(LinklistTest, NewListIsEmptyAndSilent) {
  linklist *list = AllocateList();
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->head, nullptr);
  EXPECT_EQ(list->tail, nullptr);
  out = Output([&] {
    EXPECT_EQ(linklist_IsEmpty(list), 1);
    EXPECT_EQ(linklist_GetCount(list), 0u);
    ListElement dummy{};
    ListElement *cursor = &dummy;
    EXPECT_EQ(linklist_FindFirst(list, &cursor), nullptr);
    EXPECT_EQ(cursor, nullptr);
    EXPECT_EQ(linklist_Dequeue(list), nullptr);
  });
  EXPECT_EQ(out, "");
  linklist_DeAllocate(list);
}

TEST_F(LinklistTest, RecordsComeOutInEnqueueOrder) {
  linklist *list = linklist_Allocate();
  ASSERT_NE(list, nullptr);
  WIN32_FIND_DATAW data = FindData(0, 7);
  const wchar_t *names[] = {L"r1", L"r2", L"r3"};
  for (const wchar_t *name : names) {
    ASSERT_EQ(linklist_Enqueue(list, name, &data, 1), 0u);
  }
  EXPECT_EQ(linklist_GetCount(list), 3u);
  EXPECT_EQ(linklist_IsEmpty(list), 0);

  ListElement *cursor = nullptr;
  FileRecord *record = linklist_FindFirst(list, &cursor);
  for (const wchar_t *name : names) {
    ASSERT_NE(record, nullptr);
    EXPECT_STREQ(FileRecordPathHere(record), name);
    record = linklist_FindNext(list, &cursor);
  }
  EXPECT_EQ(record, nullptr);
  EXPECT_EQ(cursor, nullptr);
  EXPECT_EQ(linklist_FindNext(list, &cursor), nullptr);

  for (const wchar_t *name : names) {
    record = linklist_Dequeue(list);
    ASSERT_NE(record, nullptr);
    EXPECT_STREQ(FileRecordPathHere(record), name);
    FreeRecord(record);
  }
  EXPECT_EQ(list->head, nullptr);
  EXPECT_EQ(list->tail, nullptr);
  EXPECT_EQ(linklist_GetCount(list), 0u);
  EXPECT_EQ(linklist_Dequeue(list), nullptr);
  // The list takes records again after it ran empty.
  ASSERT_EQ(linklist_Enqueue(list, L"r4", &data, 0), 0u);
  EXPECT_EQ(list->head, list->tail);
  EXPECT_STREQ(FileRecordPathHere(linklist_FindFirst(list, &cursor)), L"r4");
  linklist_DeAllocate(list);
}

// A record's path comes back exactly as it was enqueued, whatever its
// folder (a drive or file-system root, none at all) and its characters
// (beyond the 16-bit range, kept name bytes, values no name can hold).
TEST_F(LinklistTest, RecordPathsComeBackAsEnqueued) {
  std::vector<std::wstring> paths = {L"C:\\x.jpg",
                                     L"C:x.jpg",
                                     L"/f",
                                     L"x",
                                     L"\\\\server\\share\\a",
                                     L"dir/sub\\n",
                                     L"dir/",
                                     L"",
                                     L"d/\U0001F600 \U0010FFFF.jpg",
                                     L"d/\xDC80\xDCFF",
                                     std::wstring(1, (wchar_t)0xD800) + L"/x"};
  std::wstring highThenLow = L"e/";  // two values, not one pair
  highThenLow += (wchar_t)0xD83D;
  highThenLow += (wchar_t)0xDE00;
  paths.push_back(highThenLow);
#if WCHAR_MAX > 0xFFFF
  paths.push_back(std::wstring(L"f/") + (wchar_t)0x110000 + L"z");
#endif
  linklist *list = linklist_Allocate();
  ASSERT_NE(list, nullptr);
  WIN32_FIND_DATAW data = FindData(0, 3);
  for (const std::wstring &p : paths)
    ASSERT_EQ(linklist_Enqueue(list, p.c_str(), &data, 1), 0u);
  ListElement *cursor = nullptr;
  FileRecord *record = linklist_FindFirst(list, &cursor);
  for (const std::wstring &p : paths) {
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(std::wstring(FileRecordPathHere(record)), p);
    EXPECT_EQ(FileRecordPathIs(record, p.c_str()), 1);
    EXPECT_EQ(FileRecordPathIs(record, (p + L"x").c_str()), 0);
    if (!p.empty()) {
      EXPECT_EQ(FileRecordPathIs(record, p.substr(0, p.size() - 1).c_str()), 0);
    }
    record = linklist_FindNext(list, &cursor);
  }
  linklist_DeAllocate(list);
}

TEST_F(LinklistTest, RecordIsBuiltFromPathAndFindData) {
  linklist *list = linklist_Allocate();
  ASSERT_NE(list, nullptr);
  wchar_t path[] = L"dir\\photo.jpg";
  WIN32_FIND_DATAW data = FindData(1, 1);
  ASSERT_EQ(linklist_Enqueue(list, path, &data, 1), 0u);
  data = FindData(0, 0xFFFFFFFFu);
  ASSERT_EQ(linklist_Enqueue(list, path, &data, 0), 0u);
  path[0] = L'X';  // each record holds a copy of its own

  ListElement *cursor = nullptr;
  FileRecord *first = linklist_FindFirst(list, &cursor);
  FileRecord *second = linklist_FindNext(list, &cursor);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(first->size, 0x100000001ull);
  EXPECT_EQ(second->size, 0xFFFFFFFFull);
  EXPECT_STREQ(FileRecordPathHere(first), L"dir\\photo.jpg");
  EXPECT_NE(first->name, second->name);
  EXPECT_EQ(first->fInSource, 1);
  EXPECT_EQ(second->fInSource, 0);
  for (FileRecord *record : {first, second}) {
    EXPECT_EQ(record->fDisplayed, 0);
    EXPECT_EQ(record->fHashed, 0);
    for (int i = 0; i < SHA256_BYTES; i++)
      EXPECT_EQ(FileRecordDigestOf(record)[i], 0);
  }
  linklist_DeAllocate(list);
}

TEST_F(LinklistTest, NullCursorStaysNull) {
  linklist *list = linklist_Allocate();
  ASSERT_NE(list, nullptr);
  WIN32_FIND_DATAW data = FindData(0, 1);
  ASSERT_EQ(linklist_Enqueue(list, L"a", &data, 1), 0u);
  ListElement *cursor = nullptr;
  out = Output([&] { EXPECT_EQ(linklist_FindNext(list, &cursor), nullptr); });
  EXPECT_EQ(out, "");
  EXPECT_EQ(cursor, nullptr);
  linklist_DeAllocate(list);
}

TEST_F(LinklistTest, EnqueueOnNullList) {
  WIN32_FIND_DATAW data = FindData(0, 1);
  out = Output(
      [&] { EXPECT_EQ(linklist_Enqueue(nullptr, L"a", &data, 1), 87u); }, 0);
  EXPECT_EQ(out, "");
  // Debug on: the fault is named; the record made for it is released
  // again (the leak checker of the sanitizer build would see it).
  out = Output([&] { linklist_Enqueue(nullptr, L"a", &data, 1); });
  EXPECT_EQ(out, "ERROR: linklist_Enqueue called on NULL linklist");
}

TEST_F(LinklistTest, NullListTextsRunTogether) {
  ListElement *cursor = nullptr;
  out = Output([&] {
    EXPECT_EQ(linklist_Dequeue(nullptr), nullptr);
    EXPECT_EQ(linklist_IsEmpty(nullptr), 1);
    EXPECT_EQ(linklist_FindFirst(nullptr, &cursor), nullptr);
    EXPECT_EQ(linklist_FindNext(nullptr, &cursor), nullptr);
    EXPECT_EQ(linklist_GetCount(nullptr), 0u);
  });
  EXPECT_EQ(out,
            "ERROR: linklist_Dequeue called on NULL linklist"
            "ERROR: linklist_IsEmpty called on NULL linklist"
            "ERROR: linklist_FindFirst called on NULL linklist"
            "ERROR: linklist_FindNext called on NULL linklist"
            "ERROR: linklist_GetCount called on NULL linklist");
  out = Output([] { linklist_DeAllocate(nullptr); });
  EXPECT_EQ(out,
            "ERROR: linklist_IsEmpty called on NULL linklist"
            "linklist_DeAllocate called on NULL queue");
  out = Output([] { linklist_DeAllocate(nullptr); }, 0);
  EXPECT_EQ(out, "");
}

TEST_F(LinklistTest, DeAllocateReleasesRecordsSilently) {
  linklist *list = linklist_Allocate();
  ASSERT_NE(list, nullptr);
  WIN32_FIND_DATAW data = FindData(0, 3);
  for (int i = 0; i < 100; ++i) {
    ASSERT_EQ(linklist_Enqueue(list, L"some\\file", &data, i & 1), 0u);
  }
  EXPECT_EQ(linklist_GetCount(list), 100u);
  out = Output([&] { linklist_DeAllocate(list); });
  EXPECT_EQ(out, "");
}

// Failure paths, reached through failing allocator and lock calls.
class LinklistFaultTest : public LinklistTest {
 protected:
  ContainerFaultScope faults;
};

TEST_F(LinklistFaultTest, AllocateFailures) {
  linklist sentinel{};
  linklist *list = &sentinel;
  containerFaults.alloc = 1;
  out = Output([&] { list = linklist_Allocate(); });
  EXPECT_EQ(out,
            "linklistAllocate: memory alloc failed"
            "AllocateList - list allocate failed");
  EXPECT_EQ(list, nullptr);
  list = &sentinel;
  containerFaults.mutex = 1;
  out = Output([&] { list = AllocateList(); });
  EXPECT_EQ(out,
            "linklist_Allocate - Mutex allocate failed"
            "AllocateList - list allocate failed");
  EXPECT_EQ(list, nullptr);
}

TEST_F(LinklistFaultTest, FailedEnqueueLeavesListUnchanged) {
  linklist *list = linklist_Allocate();
  ASSERT_NE(list, nullptr);
  WIN32_FIND_DATAW data = FindData(0, 1);
  containerFaults.alloc = 1;
  out = Output([&] { EXPECT_EQ(linklist_Enqueue(list, L"a", &data, 1), 8u); });
  EXPECT_EQ(out, "linklist_Enqueue: memory alloc failed (list element)");
  containerFaults.wait = 1;
  out = Output(
      [&] { EXPECT_EQ(linklist_Enqueue(list, L"a", &data, 1), WAIT_FAILED); });
  EXPECT_EQ(out,
            "linklist_AcquireMutex (failed)"
            "linklist_Enqueue - Acquire mutex failed");
  EXPECT_EQ(list->head, nullptr);
  EXPECT_EQ(list->tail, nullptr);
  EXPECT_EQ(linklist_GetCount(list), 0u);
  linklist_DeAllocate(list);
}

TEST_F(LinklistFaultTest, FailedWaitGivesUpWithoutTouchingTheList) {
  linklist *list = linklist_Allocate();
  ASSERT_NE(list, nullptr);
  WIN32_FIND_DATAW data = FindData(0, 1);
  ASSERT_EQ(linklist_Enqueue(list, L"a", &data, 1), 0u);
  ListElement dummy{};
  ListElement *cursor = &dummy;
  const std::string failed = "linklist_AcquireMutex (failed)";

  containerFaults.wait = 1;
  out = Output([&] { EXPECT_EQ(linklist_Dequeue(list), nullptr); });
  EXPECT_EQ(out, failed + "linklist_Dequeue - Acquire mutex failed");
  containerFaults.wait = 1;
  out = Output([&] { EXPECT_EQ(linklist_IsEmpty(list), 1); });
  EXPECT_EQ(out, failed + "linklist_IsEmpty - Acquire mutex failed");
  containerFaults.wait = 1;
  out = Output([&] { EXPECT_EQ(linklist_FindFirst(list, &cursor), nullptr); });
  EXPECT_EQ(out, failed + "linklist_FindFirst - Acquire mutex failed");
  EXPECT_EQ(cursor, &dummy);
  containerFaults.wait = 1;
  out = Output([&] { EXPECT_EQ(linklist_FindNext(list, &cursor), nullptr); });
  EXPECT_EQ(out, failed + "linklist_FindNext - Acquire mutex failed");
  EXPECT_EQ(cursor, &dummy);
  containerFaults.wait = 1;
  out = Output([&] { EXPECT_EQ(linklist_GetCount(list), 0u); });
  EXPECT_EQ(out, failed + "linklist_GetCount - Acquire mutex failed");
  EXPECT_EQ(linklist_GetCount(list), 1u);
  linklist_DeAllocate(list);
}

TEST_F(LinklistFaultTest, DeAllocateKeepsHeaderWhenLockFails) {
  linklist *list = linklist_Allocate();
  ASSERT_NE(list, nullptr);
  // Empty list: the emptiness tests of the two loops, then the final lock.
  containerFaults.wait = 3;
  out = Output([&] { linklist_DeAllocate(list); });
  EXPECT_EQ(out,
            "linklist_AcquireMutex (failed)"
            "linklistDeAlloc - Acquire mutex failed");
  // The header survived: it is still usable and can be released now.
  EXPECT_EQ(linklist_IsEmpty(list), 1);
  out = Output([&] { linklist_DeAllocate(list); });
  EXPECT_EQ(out, "");
}

}  // namespace
