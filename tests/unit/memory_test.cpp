// Memory that runs out, through the allocator of the table of platform
// calls: the run ends with one line on standard error and an exit status of
// its own (4), never an abort.
#include <cstdlib>
#include <string>
#include <vector>

#include "app/app.h"
#include "support/harness.h"
#include "support/seam.h"

namespace {

using MallocCall = decltype(PlatformCalls::malloc);
MallocCall faultyMalloc = nullptr;
long allocsSeen = 0;

void *CountingMalloc(size_t size) {
  allocsSeen++;
  return faultyMalloc(size);
}

// The tree of the process that runs a death test's statement, removed
// before it ends.
std::wstring childRoot;

void RemoveTreeAndExit(int code) {
  RemoveTree(childRoot);
  std::_Exit(code);
}

const char kNoMemoryLine[] = "TwinSift: out of memory; the run stopped\\.";

class MemoryTest : public E2ETest {
 protected:
  void SetUp() override {
    E2ETest::SetUp();
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // Pairs of copies in two folders, so that the run scans, hashes,
    // reports and erases.
    for (int i = 0; i < 12; i++) {
      const std::string body(static_cast<size_t>(i + 1) * 100,
                             static_cast<char>('a' + i % 26));
      MakeFile("src/a/f" + std::to_string(i), body);
      MakeFile("src/b/f" + std::to_string(i), body);
    }
  }
  // Runs the program in this process with args, the containers' n-th
  // allocation failing (0: none); returns its exit code, and in allocs how
  // many allocations it made.
  int Run(std::vector<std::wstring> args, int n, long *allocs) {
    std::vector<wchar_t *> argv = {const_cast<wchar_t *>(L"twinsift")};
    for (std::wstring &a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    childRoot = Root();
    memoryExhaustedExit = RemoveTreeAndExit;  // only the child gets there
    ContainerFaultScope faults;
    CallReplaced<MallocCall> counted(&platformCalls.malloc, CountingMalloc);
    faultyMalloc = counted.saved();
    allocsSeen = 0;
    containerFaults.alloc = n;
    int code = 0;
    CaptureOutput([&] {
      code = AppMain(static_cast<int>(argv.size() - 1), argv.data());
    });
    *allocs = allocsSeen;
    return code;
  }
};

// Wherever the allocation fails (the first, one in the middle, the last a
// whole run makes), the run ends with exit status 4 and its line.
TEST_F(MemoryTest, AllocationThatFailsEndsTheRunWithItsOwnStatus) {
  long allocs = 0;
  ASSERT_EQ(Run({L"-r", At("src")}, 0, &allocs), 0);
  ASSERT_GT(allocs, 4);
  for (long n : {1L, allocs / 2, allocs}) {
    EXPECT_EXIT(
        {
          long seen = 0;
          Run({L"-r", L"-d", At("src")}, static_cast<int>(n), &seen);
        },
        ::testing::ExitedWithCode(EXIT_NO_MEMORY), kNoMemoryLine)
        << n;
  }
}

// A failure handed back by another thread ends the run at the main thread's
// next erasure gate, before it erases.
TEST_F(MemoryTest, ExhaustionNotedOnAnotherThreadStopsTheNextErasure) {
  EXPECT_EXIT(
      {
        childRoot = Root();
        memoryExhaustedExit = RemoveTreeAndExit;
        MemoryExhaustedSetUp();
        NoteMemoryExhausted();
        (void)ReportFlushLost();
      },
      ::testing::ExitedWithCode(EXIT_NO_MEMORY), kNoMemoryLine);
}

}  // namespace
