// The scan's listing: a depth-first walk of the directories, kept on a
// stack of its own (a deep tree needs no deep call stack), and the thread
// that runs it ahead of the scan.
#include "scan/lister.h"

#include <condition_variable>
#include <cwchar>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

#include "paths/paths.h"
#include "scan/scan.h"

namespace {

// dir + separator + tail, as the scan joins them.
std::wstring join(const std::wstring &dir, const wchar_t *tail) {
  std::vector<wchar_t> buf(dir.size() + wcslen(tail) + 2);
  wmemcpy(buf.data(), dir.c_str(), dir.size() + 1);
  StringConcat(buf.data(), buf.size(), tail);
  return buf.data();
}

// One directory of the descent path, and its subdirectory search.
struct Level {
  std::wstring dir;
  HANDLE find = INVALID_HANDLE_VALUE;
  bool started = false;  // the subdirectory search was begun
  bool failed = false;   // a failed listing of dir was named
  // The subdirectories to enter, when the file listing (of every name)
  // already gave them: then no second search is made.
  bool listed = false;
  std::vector<std::wstring> subdirs;
  size_t nextSubdir = 0;
};

struct Walk {
  const wchar_t *filter;  // "*" for an empty filter
  bool everyName;         // the filter is "*": files and folders in one
  ListSink sink;
  ListedChunk chunk;
  WIN32_FIND_DATAW fd;
  std::vector<std::wstring> subdirs;  // of the directory being listed
  std::deque<Level> stack;
};

void handOver(Walk *w) {
  w->sink.take(w->sink.ctx, &w->chunk);
  w->chunk = ListedChunk{};
  w->chunk.first = false;
}

void addFile(Walk *w) {
  ListedChunk &c = w->chunk;
  const WIN32_FIND_DATAW &fd = w->fd;
  c.files.push_back({fd.dwFileAttributes, fd.nFileSizeHigh, fd.nFileSizeLow,
                     static_cast<uint32_t>(c.names.size())});
  const size_t n = wcsnlen(fd.cFileName, MAX_PATH - 1);
  c.names.insert(c.names.end(), fd.cFileName, fd.cFileName + n);
  c.names.push_back(L'\0');
  if (c.files.size() >= kListedChunkFiles) handOver(w);
}

// The code a search ended with, when it means the directory could not be
// read: not the end of the listing, nothing matching the filter, or a
// directory that is gone. Can't fail.
DWORD searchFailure(DWORD code) {
  switch (code) {
    case ERROR_NO_MORE_FILES:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return 0;
    default:
      return code;
  }
}

// Names dir's failed listing in the chunk being filled. Can't fail.
void markFailed(Walk *w, const std::wstring &dir, DWORD code) {
  w->chunk.dir = dir;
  w->chunk.failed = code;
}

// The files of dir that match the filter, in the order the system gives
// them. A search that can't be made, or that fails part-way, ends the
// listing there, as the end of the directory would; returns its code when
// it means dir could not be read (marked in the chunk), else 0.
DWORD listFiles(Walk *w, const std::wstring &dir) {
  HANDLE find =
      platformCalls.FindFirstFileW(join(dir, w->filter).c_str(), &w->fd);
  DWORD code = 0;
  if (find == INVALID_HANDLE_VALUE) {
    code = searchFailure(platformCalls.GetLastError());
  } else {
    do {
      if (!(w->fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        addFile(w);
      else if (w->everyName && EntersSubdirectory(dir.c_str(), &w->fd))
        w->subdirs.push_back(join(dir, w->fd.cFileName));
    } while (platformCalls.FindNextFileW(find, &w->fd));
    code = searchFailure(platformCalls.GetLastError());
    (void)platformCalls.FindClose(find);  // nothing to do if it fails
  }
  if (code != 0) markFailed(w, dir, code);
  return code;
}

// Lists a directory's files, then, with Recurse, puts it on the stack so
// that its subdirectories are walked next. Only the top directory is looked
// up (a link given as the parameter is followed): a subdirectory is one by
// its listing.
void enter(Walk *w, std::wstring dir, bool top) {
  w->chunk = ListedChunk{};
  w->chunk.dir = dir;
  w->chunk.isDir = !top || dir.empty() || IsADir(dir.c_str());
  w->subdirs.clear();
  const bool failed = w->chunk.isDir && listFiles(w, dir) != 0;
  handOver(w);
  if (!w->chunk.isDir || !options.Recurse) return;
  w->stack.emplace_back();
  Level &l = w->stack.back();
  l.dir = std::move(dir);
  l.failed = failed;
  // A listing that failed part-way gave only some: they are searched again.
  l.listed = w->everyName && !failed;
  if (l.listed) l.subdirs.swap(w->subdirs);
}

// A subdirectory search of l that ended with code: when that means l's
// directory could not be read, names it in a chunk of its own, unless its
// file listing already did. Can't fail.
void subdirSearchEnded(Walk *w, Level *l, DWORD code) {
  code = searchFailure(code);
  if (code == 0 || l->failed) return;
  l->failed = true;
  markFailed(w, l->dir, code);
  handOver(w);
}

// The level's next subdirectory entry in w->fd; false at the end of its
// search (which is then closed). The system is asked for directories
// only, so that it need not look up the files again; the request is only
// advisory.
bool nextEntry(Walk *w, Level *l) {
  if (!l->started) {
    l->started = true;
    l->find = platformCalls.FindFirstFileExW(
        join(l->dir, L"*").c_str(), FindExInfoBasic, &w->fd,
        FindExSearchLimitToDirectories, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (l->find != INVALID_HANDLE_VALUE) return true;
    subdirSearchEnded(w, l, platformCalls.GetLastError());
    return false;
  }
  if (l->find == INVALID_HANDLE_VALUE) return false;
  if (platformCalls.FindNextFileW(l->find, &w->fd)) return true;
  const DWORD code = platformCalls.GetLastError();
  (void)platformCalls.FindClose(l->find);  // nothing to do if it fails
  l->find = INVALID_HANDLE_VALUE;
  subdirSearchEnded(w, l, code);
  return false;
}

// Walks every subdirectory of the stack's top, each one whole before the
// next (depth first), whatever the filter says. Folder links and recycle
// bins are not entered.
void walkStack(Walk *w) {
  while (!w->stack.empty()) {
    Level &top = w->stack.back();
    if (top.listed) {
      if (top.nextSubdir == top.subdirs.size()) {
        w->stack.pop_back();
      } else {
        std::wstring sub = std::move(top.subdirs[top.nextSubdir++]);
        enter(w, std::move(sub), false);
      }
      continue;
    }
    if (!nextEntry(w, &top)) {
      w->stack.pop_back();
      continue;
    }
    if (!(w->fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
        !EntersSubdirectory(top.dir.c_str(), &w->fd))
      continue;
    enter(w, join(top.dir, w->fd.cFileName), false);
  }
}

}  // namespace

void ListTree(const wchar_t *dir, const wchar_t *filter, ListSink sink) {
  auto w = std::make_unique<Walk>();
  w->filter = filter[0] != L'\0' ? filter : L"*";
  w->everyName = wcscmp(w->filter, L"*") == 0;
  w->sink = sink;
  enter(w.get(), dir, true);
  walkStack(w.get());
}

// ---- The listing thread ----

struct Lister {
  std::wstring dir;
  std::wstring filter;
  std::mutex m;
  std::condition_variable readyCv;  // the scan: a chunk, or the end
  std::condition_variable roomCv;   // the listing: room ahead
  std::deque<ListedChunk> ready;
  size_t filesAhead = 0;   // the weight of the chunks in ready
  bool done = false;       // the listing has ended
  bool exhausted = false;  // it ended because memory ran out
  bool waiting = false;    // the scan waits for a chunk
  std::thread thread;
};

namespace {

// What a chunk counts for against the bound: its files, and one for the
// chunk itself, so that a run of empty directories is bounded too.
size_t chunkWeight(const ListedChunk &c) { return c.files.size() + 1; }

// A main thread that has taken every chunk sleeps until this many files
// (and chunks) are listed, or the listing ends: woken per directory, it
// spent more time waking than taking them (docs/architecture.md).
const size_t kWakeFiles = 256;

// The listing thread's sink: queues the chunk once there is room ahead.
void queueChunk(void *ctx, ListedChunk *chunk) {
  Lister *l = static_cast<Lister *>(ctx);
  std::unique_lock<std::mutex> lock(l->m);
  l->roomCv.wait(lock, [l] { return l->filesAhead < kListedAheadFiles; });
  l->filesAhead += chunkWeight(*chunk);
  l->ready.push_back(std::move(*chunk));
  if (l->waiting && l->filesAhead >= kWakeFiles) l->readyCv.notify_one();
}

// Memory that runs out here ends the listing; the main thread ends the run
// once it has taken what was listed before.
void listerBody(Lister *l) {
  bool exhausted = false;
  try {
    ListTree(l->dir.c_str(), l->filter.c_str(), {queueChunk, l});
  } catch (const std::bad_alloc &) {
    exhausted = true;
  }
  std::lock_guard<std::mutex> lock(l->m);
  l->done = true;
  l->exhausted = exhausted;
  l->readyCv.notify_one();
}

}  // namespace

Lister *ListerStart(const wchar_t *dir, const wchar_t *filter) {
  Lister *l = new Lister;
  l->dir = dir;
  l->filter = filter;
  if (!ThreadStart(&l->thread, [l] { listerBody(l); })) {
    delete l;
    return nullptr;
  }
  return l;
}

bool ListerNext(Lister *l, ListedChunk *chunk) {
  std::unique_lock<std::mutex> lock(l->m);
  if (l->ready.empty() && !l->done) {
    l->waiting = true;
    l->readyCv.wait(lock,
                    [l] { return l->filesAhead >= kWakeFiles || l->done; });
    l->waiting = false;
  }
  if (l->ready.empty()) {
    if (l->exhausted) MemoryExhausted();
    return false;
  }
  *chunk = std::move(l->ready.front());
  l->ready.pop_front();
  const bool full = l->filesAhead >= kListedAheadFiles;
  l->filesAhead -= chunkWeight(*chunk);
  if (full && l->filesAhead < kListedAheadFiles) l->roomCv.notify_one();
  return true;
}

void ListerStop(Lister *l) {
  ListedChunk rest;
  while (ListerNext(l, &rest)) {
  }
  if (l->thread.joinable()) l->thread.join();
  delete l;
}
