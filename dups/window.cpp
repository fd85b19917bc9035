// The hashing pass's window: the size groups the next visits need, each
// hashed in two stages (every member's head, then the whole digest of each
// member whose head has a twin), planned ahead in list order so that the
// hashers work while the visit prints, and taken in visit order.
#include "dups/window.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "dups/dups.h"
#include "hash/hash.h"
#include "scan/scan.h"

int hashPassPlain = 0;
HashPassReads hashPassReads;

namespace {

// Files larger than one head are first compared by their heads: only a
// file whose head has a twin is read whole. A file of one head or less is
// hashed whole at the cost of its head.
const uint64_t kHeadsFrom = HASH_HEAD_SIZE + 1;

// Groups planned ahead: at most this many, and no more members than
// kAheadMembers in all (a larger group waits until it is the only one).
const size_t kAheadGroups = 64;
const size_t kAheadMembers = 512;
// Files kept open from their heads to their whole digests, in all: well
// within the 1,024 descriptors a Linux process gets by default.
const size_t kKeptFiles = 256;

// The workers start with the first group worth them: kStartBytes to read,
// or kStartMembers files, or once kStartFiles were hashed here. A small
// run is over before threads would have started.
const uint64_t kStartBytes = 1024 * 1024;
const size_t kStartMembers = 32;
const uint64_t kStartFiles = 256;

// A member's whole digest comes from no job: its head settled it.
const int32_t kSettled = -1;

struct Group {
  linklist *files = nullptr;
  uint64_t order = 0;
  std::vector<FileRecord *> members;  // list order
  std::vector<std::wstring> paths;
  std::vector<HashJob> jobs;
  // After the heads: the member whose whole digest each member takes (its
  // own, or the first member of the same file), or kSettled.
  std::vector<int32_t> from;
  BYTE *keep = nullptr;            // a head per member, kept with its open file
  HashWorkers *workers = nullptr;  // null: hashed on the main thread
  BYTE *buffer = nullptr;          // the main thread's, then
  enum { kHeads, kWholes, kDone };
  // Moved on by whichever thread ends a stage; kDone is the main thread's
  // cue to take the results.
  std::atomic<int> stage{kHeads};
  std::atomic<int32_t> pending{0};
};

bool plainHashing() {
  if (hashPassPlain != 0) return true;
#if defined(TWINSIFT_TEST_HOOKS)
  // A test build's run asked to hash every member whole on this thread.
  static const bool forced = getenv("TWINSIFT_PLAIN_HASHING") != nullptr;
  return forced;
#else
  return false;
#endif
}

}  // namespace

struct HashWindow {
  bintree *tree = nullptr;
  linklist *sourceList = nullptr;
  HashWorkers *workers = nullptr;
  bool tried = false;      // the workers were asked for
  uint64_t filesHere = 0;  // hashed on this thread before they were
  BYTE *buffer = nullptr;  // this thread's, for its own jobs
  std::deque<std::unique_ptr<Group>> ahead;  // in list order
  std::unordered_set<const linklist *> planned;
  size_t aheadMembers = 0;
  size_t keptFiles = 0;
  uint64_t nextOrder = 1;  // 0 is for a group planned at its visit
  uint64_t seen = 0;
  // The look-ahead's place: the next source record it looks at.
  ListElement *cursor = nullptr;
  FileRecord *next = nullptr;
  std::vector<HashJob *> outbox;  // jobs for the next hand-off
  // Whether each folder's files are read by one reader, asked once.
  std::unordered_map<const StoredFolder *, int32_t> oneReader;
};

namespace {

// Whether the file is read through the gate: when its volume has a seek
// penalty, or when that can't be told. Asked once per folder.
int32_t readByOneReader(HashWindow *w, const FileRecord *r,
                        const wchar_t *path) {
  auto at = w->oneReader.find(FileRecordFolder(r));
  if (at == w->oneReader.end()) {
    const std::wstring folder(path, FolderPartLength(path));
    const int seeks = platformCalls.GetVolumeSeekPenalty(
        folder.empty() ? L"." : folder.c_str());
    at = w->oneReader.emplace(FileRecordFolder(r), seeks != kSeekNone).first;
  }
  (at->second ? hashPassReads.oneReader : hashPassReads.ownReads)++;
  return at->second;
}

bool useWorkers(HashWindow *w, const Group *g) {
  if (plainHashing()) return false;
  if (!w->tried) {
    const size_t n = g->members.size();
    const uint64_t size = n == 0 ? 0 : g->members[0]->size;
    if (size * n < kStartBytes && n < kStartMembers &&
        w->filesHere < kStartFiles) {
      w->filesHere += n;
      return false;
    }
    w->tried = true;
    w->workers = hashWorkersStart();
  }
  return w->workers != nullptr;
}

bool stageEnded(void *owner);

// Runs a job on the main thread, in its buffer, and ends the stage after
// its last job.
void runHere(Group *g, HashJob *job) {
  if (g->buffer == nullptr) {
    job->rc = ERROR_NOT_ENOUGH_MEMORY;
    job->debugText = L"hashCalcSHA256 - memMalloc failed.\n";
  } else {
    hashRunJob(job, g->buffer, nullptr);
  }
  if (job->pending->fetch_sub(1) == 1) stageEnded(g);
}

// Starts the group's stage: every head, or the whole digest of each member
// that takes its own. Jobs for the workers go into outbox when one is
// given (the main thread hands the jobs of many groups over at once).
// True when the group is done.
bool startStage(Group *g, std::vector<HashJob *> *outbox) {
  const bool whole = g->stage.load(std::memory_order_relaxed) == Group::kWholes;
  std::vector<HashJob *> batch;
  for (size_t i = 0; i < g->members.size(); i++) {
    if (whole && g->from[i] != static_cast<int32_t>(i)) continue;
    g->jobs[i].whole = whole ? 1 : 0;
    batch.push_back(&g->jobs[i]);
  }
  if (batch.empty()) {
    g->stage.store(Group::kDone, std::memory_order_release);
    return true;
  }
  g->pending.store(static_cast<int32_t>(batch.size()));
  if (g->workers == nullptr) {
    for (HashJob *job : batch) runHere(g, job);
    return g->stage.load(std::memory_order_acquire) == Group::kDone;
  }
  if (outbox != nullptr)
    outbox->insert(outbox->end(), batch.begin(), batch.end());
  else
    hashWorkersSubmit(g->workers, batch.data(), batch.size());
  return false;
}

// A failed head is settled (its failure reported in its place), as is a
// head with no twin. A last block that could not be read for some member
// (or a file that changed size) leaves the first blocks alone to compare.
void settleByHeads(Group *g) {
  const size_t n = g->members.size();
  size_t withTail = 0, withoutTail = 0;
  for (const HashJob &job : g->jobs)
    if (job.rc == 0) (job.tail ? withTail : withoutTail)++;
  const bool headsOnly = withTail != 0 && withoutTail != 0;
  std::vector<uint64_t> keys(n), sorted;
  for (size_t i = 0; i < n; i++) {
    keys[i] = headsOnly ? g->jobs[i].headKey : g->jobs[i].key;
    if (g->jobs[i].rc == 0) sorted.push_back(keys[i]);
  }
  std::sort(sorted.begin(), sorted.end());
  for (size_t i = 0; i < n; i++) {
    auto twins = std::equal_range(sorted.begin(), sorted.end(), keys[i]);
    const bool lone = twins.second - twins.first == 1;
    if (g->jobs[i].rc != 0 || lone) g->from[i] = kSettled;
  }
}

// One file reached by several names is read whole once: its other
// members take the digest of its first.
void shareByIdentity(Group *g) {
  std::vector<size_t> named;
  for (size_t i = 0; i < g->members.size(); i++)
    if (g->from[i] != kSettled && FileHasIdentity(&g->jobs[i].opened))
      named.push_back(i);
  auto less = [g](size_t a, size_t b) {
    return FileIdentityLess(&g->jobs[a].opened, &g->jobs[b].opened);
  };
  std::stable_sort(named.begin(), named.end(), less);  // list order kept
  for (size_t k = 1; k < named.size(); k++) {
    const HashJob &first = g->jobs[g->from[named[k - 1]]];
    if (SameFile(&g->jobs[named[k]].opened, &first.opened))
      g->from[named[k]] = g->from[named[k - 1]];
  }
}

// Decides from the heads which members are read whole; the files of the
// others are closed.
void takeHeads(Group *g) {
  g->from.resize(g->members.size());
  for (size_t i = 0; i < g->members.size(); i++)
    g->from[i] = static_cast<int32_t>(i);
  settleByHeads(g);
  shareByIdentity(g);
  for (size_t i = 0; i < g->members.size(); i++) {
    HashJob &job = g->jobs[i];
    if (g->from[i] == static_cast<int32_t>(i) ||
        job.file == INVALID_HANDLE_VALUE)
      continue;
    platformCalls.CloseHandle(job.file);
    job.file = INVALID_HANDLE_VALUE;
  }
}

// Ends a stage of the group (the job's ended call), on the thread that ran
// its last job: the heads decide the whole digests, which start at once.
// True when the group is done.
bool stageEnded(void *owner) {
  Group *g = static_cast<Group *>(owner);
  if (g->stage.load(std::memory_order_relaxed) == Group::kHeads) {
    takeHeads(g);
    g->stage.store(Group::kWholes, std::memory_order_relaxed);
    return startStage(g, nullptr);
  }
  g->stage.store(Group::kDone, std::memory_order_release);
  return true;
}

// Sets up each member's job for both stages.
void setUpJobs(HashWindow *w, Group *g) {
  for (size_t i = 0; i < g->members.size(); i++) {
    HashJob &job = g->jobs[i];
    hashJobReset(&job, FileRecordPath(g->members[i], &g->paths[i]));
    job.order = g->order;
    job.index = i;
    job.size = g->members[i]->size;
    job.pending = &g->pending;
    job.ended = stageEnded;
    job.owner = g;
    if (g->keep != nullptr) job.keep = g->keep + i * HASH_HEAD_SIZE;
    if (g->workers != nullptr)
      job.oneReader = readByOneReader(w, g->members[i], job.path);
  }
}

Group *plan(HashWindow *w, linklist *files, uint64_t order) {
  Group *g = new Group;
  g->files = files;
  g->order = order;
  g->members = GroupMembers(files);
  const size_t n = g->members.size();
  g->paths.resize(n);
  g->jobs.resize(n);
  const bool byHeads = g->members[0]->size >= kHeadsFrom && !plainHashing();
  if (byHeads && w->keptFiles + n <= kKeptFiles) {
    g->keep = hashBufferNew(n * HASH_HEAD_SIZE);  // none: each opened twice
    if (g->keep != nullptr) w->keptFiles += n;
  }
  g->from.resize(n);
  for (size_t i = 0; i < n; i++) g->from[i] = static_cast<int32_t>(i);
  g->stage = byHeads ? Group::kHeads : Group::kWholes;
  if (useWorkers(w, g)) {
    g->workers = w->workers;
  } else {
    if (w->buffer == nullptr) w->buffer = hashBufferNew(HASH_READ_SIZE);
    g->buffer = w->buffer;
  }
  setUpJobs(w, g);
  w->planned.insert(files);
  startStage(g, g->workers != nullptr ? &w->outbox : nullptr);
  return g;
}

void flush(HashWindow *w) {
  if (w->outbox.empty()) return;
  hashWorkersSubmit(w->workers, w->outbox.data(), w->outbox.size());
  w->outbox.clear();
}

// The group of records of s's size, when it still needs hashing.
linklist *unhashedGroupOf(HashWindow *w, const FileRecord *s) {
  linklist *files = SizeGroupOf(w->tree, s);
  return files != nullptr && GroupNeedsHashing(files) ? files : nullptr;
}

// Plans the groups of the source records ahead of the visit, within the
// bounds, for the workers to hash meanwhile.
void lookAhead(HashWindow *w) {
  if (w->workers == nullptr) return;
  while (w->next != nullptr && w->ahead.size() < kAheadGroups) {
    linklist *files = unhashedGroupOf(w, w->next);
    if (files != nullptr && w->planned.count(files) == 0) {
      const size_t n = linklist_GetCount(files);
      if (!w->ahead.empty() && w->aheadMembers + n > kAheadMembers) return;
      w->ahead.emplace_back(plan(w, files, w->nextOrder++));
      w->aheadMembers += n;
    }
    w->next = linklist_FindNext(w->sourceList, &w->cursor);
  }
}

// Waits until the group is done, planning ahead meanwhile.
void finish(HashWindow *w, Group *g) {
  for (;;) {
    lookAhead(w);
    flush(w);
    if (g->stage.load(std::memory_order_acquire) == Group::kDone) return;
    hashWorkersWaitAny(w->workers, &w->seen);
  }
}

// Reports a failed hashing of r: the routine's Debug message when it gave
// one, then the failure line. The record can never match.
void reportHashFailure(FileRecord *r, const HashJob &job) {
  if (job.debugText != nullptr) DebugText(job.debugText);
  r->fHashed = 0;
  PrintFailure(kFailedHash, job.rc, FileRecordPathHere(r));
}

void takeWhole(FileRecord *r, const HashJob &job) {
  memcpy(FileRecordDigest(r), job.digest, SHA256_BYTES);
  *FileRecordIdentity(r) = job.id;
  ProgressBytesHashed(job.id.size);
  if (job.rc != 0) return reportHashFailure(r, job);
  cntFilesHashed++;
  r->fHashed = 1;
}

// A record whose head matches no other head of its group cannot belong to
// any set: it counts as hashed (the group's mark) and is set aside, with
// no digest or identity kept (most records of a large run are such).
void settleLone(FileRecord *r, const HashJob &head) {
  if (head.rc != 0) {
    memset(FileRecordDigest(r), 0, SHA256_BYTES);
    *FileRecordIdentity(r) = head.id;
    return reportHashFailure(r, head);
  }
  FileRecordForgetDigest(r);
  r->fHashed = 1;
  r->fSetAside = kSetAside;
  cntFilesHashed++;
  ProgressBytesHashed(r->size);
}

// Takes a finished group into its records in list order.
void take(HashWindow *w, Group *g) {
  for (size_t i = 0; i < g->members.size(); i++) {
    FileRecord *r = g->members[i];
    r->fSetAside = 0;
    if (g->from[i] == kSettled)
      settleLone(r, g->jobs[i]);
    else
      takeWhole(r, g->jobs[g->from[i]]);
  }
  ProgressGroupHashed();
  w->planned.erase(g->files);
  if (g->keep != nullptr) w->keptFiles -= g->members.size();
  hashBufferFree(g->keep);
  g->keep = nullptr;
}

}  // namespace

linklist *SizeGroupOf(bintree *tree, const FileRecord *s) {
  SizeGroup *g = static_cast<SizeGroup *>(bintree_GetObject(
      tree, static_cast<DWORD>(s->size), static_cast<DWORD>(s->size >> 32)));
  if (g == nullptr || linklist_GetCount(g->files) < 2) return nullptr;
  return g->files;
}

bool GroupNeedsHashing(linklist *files) {
  ListElement *cursor = nullptr;
  FileRecord *first = linklist_FindFirst(files, &cursor);
  return first != nullptr && !first->fHashed;
}

std::vector<FileRecord *> GroupMembers(linklist *files) {
  std::vector<FileRecord *> members;
  ListElement *cursor = nullptr;
  for (FileRecord *r = linklist_FindFirst(files, &cursor); r != nullptr;
       r = linklist_FindNext(files, &cursor))
    members.push_back(r);
  return members;
}

HashWindow *HashWindowOpen(bintree *tree, linklist *sourceList) {
  hashPassReads = HashPassReads{};
  HashWindow *w = new HashWindow;
  w->tree = tree;
  w->sourceList = sourceList;
  return w;
}

void HashWindowHash(HashWindow *w, linklist *files, ListElement *visit,
                    std::vector<FileRecord *> *members) {
  auto at = std::find_if(w->ahead.begin(), w->ahead.end(),
                         [files](const auto &g) { return g->files == files; });
  std::unique_ptr<Group> g;
  if (at != w->ahead.end()) {  // the front, as the look-ahead keeps list order
    g = std::move(*at);
    w->ahead.erase(at);
    w->aheadMembers -= g->members.size();
  } else {
    // Not planned: the look-ahead had not come this far, and starts again
    // past this visit.
    g.reset(plan(w, files, 0));
    w->cursor = visit;
    w->next = linklist_FindNext(w->sourceList, &w->cursor);
  }
  finish(w, g.get());
  take(w, g.get());
  *members = std::move(g->members);
}

void HashWindowClose(HashWindow *w) {
  w->next = nullptr;  // nothing more is planned
  // Groups left only when the visits stopped (the report was lost): their
  // jobs end, and nothing more is printed.
  for (auto &g : w->ahead) {
    finish(w, g.get());
    hashBufferFree(g->keep);
  }
  w->ahead.clear();
  if (w->workers != nullptr) hashWorkersStop(w->workers);
  hashBufferFree(w->buffer);
  delete w;
}
