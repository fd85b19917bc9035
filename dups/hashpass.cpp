// The hashing pass: hashes every size group reached from a source file and
// hands each source file to the match report.
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/common.h"
#include "dups/dups.h"
#include "hash/hash.h"

int hashPassPlain = 0;
uint8_t destHoldsSource[MAX_PARMS + 1];
HashPassReads hashPassReads;

namespace {

// Reports a failed hashing of r: the routine's Debug message when it handed
// one back, then the failure line. The record can never match (not even
// another failed record).
void reportHashFailure(FileRecord *r, DWORD rc, const wchar_t *debugText) {
  if (debugText != nullptr) DebugText(debugText);
  r->fHashed = 0;
  PrintFailure(kFailedHash, rc, FileRecordPathHere(r));
}

// Hashes one record whole.
void hashRecord(FileRecord *r) {
  DWORD rc = hashCalcSHA256Identify(FileRecordPathHere(r), r->hash,
                                    FileRecordIdentity(r));
  if (rc != 0) {
    reportHashFailure(r, rc, nullptr);
    return;
  }
  cntFilesHashed++;
  r->fHashed = 1;
}

// A record whose head matches no other head of its group: it cannot belong
// to any set, so it is settled without a whole-file digest. It counts as
// hashed (the group's mark) and is set aside, so it matches nothing.
void settleLoneRecord(FileRecord *r, const FileIdentity &id) {
  memset(r->hash, 0, SHA256_BYTES);
  *FileRecordIdentity(r) = id;
  r->fHashed = 1;
  r->fSetAside = kSetAside;
  cntFilesHashed++;
  ProgressBytesHashed(r->size);
}

// Orders records by identity, then list order.
struct AliasKey {
  FileIdentity id;
  size_t order;
  FileRecord *r;
};

bool aliasLess(const AliasKey &a, const AliasKey &b) {
  if (a.id.volume != b.id.volume) return a.id.volume < b.id.volume;
  if (a.id.indexHigh != b.id.indexHigh) return a.id.indexHigh < b.id.indexHigh;
  if (a.id.indexLow != b.id.indexLow) return a.id.indexLow < b.id.indexLow;
  return a.order < b.order;
}

// The records of one file reached more than once are a source file when
// the source reaches it and every destination that reaches it holds the
// source's directory (the source holds it most narrowly); otherwise the
// file is a destination's, read-only.
bool isSourceFile(const AliasKey *from, const AliasKey *to) {
  bool source = false;
  for (const AliasKey *k = from; k != to; k++) {
    if (k->r->fInSource)
      source = true;
    else if (!destHoldsSource[FileRecordParameter(k->r)])
      return false;
  }
  return source;
}

// One file recorded more than once keeps a single record in the matching:
// the first of its role's records in list order. The others are set aside,
// so no file is ever erased on the strength of a match with itself. A
// source name of a read-only file that is not its kept record's path is
// still shown in its set (kAliasShown); the rest match nothing.
void setAsideAliasRun(const AliasKey *from, const AliasKey *to) {
  const bool source = isSourceFile(from, to);
  const AliasKey *keep = nullptr;
  for (const AliasKey *k = from; k != to && keep == nullptr; k++)
    if ((k->r->fInSource != 0) == source) keep = k;
  for (const AliasKey *k = from; k != to; k++) {
    if (k == keep) continue;
    const bool shown =
        !source && k->r->fInSource && !FileRecordSamePath(k->r, keep->r);
    k->r->fSetAside = shown ? kAliasShown : kSetAside;
  }
}

// Sets aside the extra records of each file reached more than once, and
// the run's own output wherever it was recorded. Records already set aside
// as lone stay so.
void setAsideAliases(const std::vector<FileRecord *> &members) {
  std::vector<AliasKey> keys;
  for (size_t order = 0; order < members.size(); order++) {
    FileRecord *r = members[order];
    const FileIdentity *id = FileRecordIdentityOf(r);
    if (!r->fHashed || r->fSetAside || !FileHasIdentity(id)) continue;
    if (IsRunOutput(id))
      r->fSetAside = kSetAside;
    else
      keys.push_back({*id, order, r});
  }
  std::sort(keys.begin(), keys.end(), aliasLess);
  for (size_t i = 0, j; i < keys.size(); i = j) {
    for (j = i + 1; j < keys.size() && SameFile(&keys[j].id, &keys[i].id);) j++;
    if (j - i > 1) setAsideAliasRun(&keys[i], &keys[j]);
  }
}

std::vector<FileRecord *> groupMembers(linklist *files) {
  std::vector<FileRecord *> members;
  ListElement *cursor = nullptr;
  for (FileRecord *r = linklist_FindFirst(files, &cursor); r != nullptr;
       r = linklist_FindNext(files, &cursor))
    members.push_back(r);
  return members;
}

// Files larger than one head are first compared by their heads: only a
// file whose head has a twin is read whole. A file of one head or less is
// hashed whole at the cost of its head.
const uint64_t kHeadsFrom = HASH_HEAD_SIZE + 1;

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

// What the heads of a group told: a key per member, and the failures.
struct Heads {
  std::vector<uint64_t> keys;
  std::vector<uint64_t> sorted;
  std::map<size_t, std::pair<DWORD, const wchar_t *>> failed;
  bool lone(size_t i) const {
    if (failed.count(i) != 0) return false;
    auto range = std::equal_range(sorted.begin(), sorted.end(), keys[i]);
    return range.second - range.first == 1;
  }
  bool settled(size_t i) const { return failed.count(i) != 0 || lone(i); }
};

// One group being hashed ahead of the pass: its members in list order,
// one job each (the head read, then the whole-file digest where needed).
// The results wait here until the pass visits the group.
struct Planned {
  linklist *files = nullptr;
  uint64_t order = 0;
  std::vector<FileRecord *> members;
  std::vector<HashJob> jobs;
  std::vector<char> queued;  // the member's job of this stage was run
  // The path of each job's file, built for the job.
  std::vector<std::wstring> paths;
  bool byHeads = false;
  Heads heads;
  enum { kHeads, kWholes, kDone } stage = kHeads;
  std::atomic<int32_t> pending{0};
};

// Where the reads and digests run: on the workers, started for the first
// group that needs them, or on this thread when they can't be had. Jobs
// for the workers wait in the outbox, so that the jobs of a run of groups
// go to them in one hand-off.
struct Runner {
  HashWorkers *workers = nullptr;
  bool tried = false;
  std::vector<HashJob *> outbox;
  uint64_t filesHere = 0;  // hashed on this thread before the start
};

// Whether the file is read under the gate, one read at a time on its
// device: when its volume has a seek penalty, or when that can't be told
// (docs/architecture.md says why).
bool readByOneReader(Runner *, const wchar_t *path) {
  const wchar_t *name = path + wcslen(path);
  while (name > path && name[-1] != L'\\' && name[-1] != L'/') name--;
  const std::wstring folder(path, name);
  const bool one = platformCalls.GetVolumeSeekPenalty(
                       folder.empty() ? L"." : folder.c_str()) != kSeekNone;
  (one ? hashPassReads.oneReader : hashPassReads.ownReads)++;
  return one;
}

// The workers start with the first group worth them: kStartBytes to read,
// or kStartMembers files, or once kStartFiles were hashed here. A small
// run is over before threads would have started.
const uint64_t kStartBytes = 1024 * 1024;
const size_t kStartMembers = 32;
const uint64_t kStartFiles = 256;

bool useWorkers(Runner *run, const Planned *p) {
  if (!run->tried) {
    const size_t n = p->members.size();
    const uint64_t size = n == 0 ? 0 : p->members[0]->size;
    if (size * n < kStartBytes && n < kStartMembers &&
        run->filesHere < kStartFiles) {
      run->filesHere += n;
      return false;
    }
    run->tried = true;
    run->workers = hashWorkersStart();
  }
  return run->workers != nullptr;
}

void flush(Runner *run) {
  if (run->outbox.empty()) return;
  hashWorkersSubmit(run->workers, run->outbox.data(), run->outbox.size());
  run->outbox.clear();
}

// The heads of a group, from its finished head jobs; the identity each saw
// is kept in its record.
void takeHeads(Planned *p) {
  Heads &h = p->heads;
  h.keys.resize(p->members.size());
  std::vector<uint64_t> headKeys(p->members.size());
  size_t withTail = 0, withoutTail = 0;
  for (size_t i = 0; i < p->members.size(); i++) {
    const HashJob &job = p->jobs[i];
    *FileRecordIdentity(p->members[i]) = job.id;
    if (job.rc != 0) {
      h.failed[i] = {job.rc, job.debugText};
      continue;
    }
    h.keys[i] = job.key;
    headKeys[i] = job.headKey;
    (job.tail ? withTail : withoutTail)++;
  }
  // A last block that could not be read for some member (or a file that
  // changed size) leaves the first blocks alone to compare, for all.
  if (withTail != 0 && withoutTail != 0) h.keys = headKeys;
  for (size_t i = 0; i < p->members.size(); i++)
    if (h.failed.count(i) == 0) h.sorted.push_back(h.keys[i]);
  std::sort(h.sorted.begin(), h.sorted.end());
}

// Queues the jobs of the group's current stage: every head, or the whole
// digest of every member its head did not settle.
void submitStage(Runner *run, Planned *p) {
  const bool whole = p->stage == Planned::kWholes;
  const bool workers = useWorkers(run, p);
  std::vector<HashJob *> batch;
  for (size_t i = 0; i < p->members.size(); i++) {
    p->queued[i] = !(whole && p->byHeads && p->heads.settled(i));
    if (!p->queued[i]) continue;
    HashJob &job = p->jobs[i];
    job = HashJob{};
    job.path = FileRecordPath(p->members[i], &p->paths[i]);
    job.whole = whole ? 1 : 0;
    job.order = p->order;
    job.index = i;
    job.size = p->members[i]->size;
    job.pending = &p->pending;
    batch.push_back(&job);
    if (workers) job.oneReader = readByOneReader(run, job.path) ? 1 : 0;
  }
  p->pending.store(static_cast<int32_t>(batch.size()));
  if (workers) {
    run->outbox.insert(run->outbox.end(), batch.begin(), batch.end());
    return;
  }
  for (HashJob *job : batch) hashRunJob(job);
}

// Moves the group on once its stage's jobs are done. True when it did.
bool advance(Runner *run, Planned *p) {
  if (p->stage == Planned::kDone || p->pending.load() != 0) return false;
  if (p->stage == Planned::kHeads) {
    takeHeads(p);
    p->stage = Planned::kWholes;
    submitStage(run, p);
  } else {
    p->stage = Planned::kDone;
  }
  return true;
}

Planned *plan(Runner *run, linklist *files, uint64_t order) {
  Planned *p = new Planned;
  p->files = files;
  p->order = order;
  p->members = groupMembers(files);
  p->jobs.resize(p->members.size());
  p->paths.resize(p->members.size());
  p->queued.resize(p->members.size());
  p->byHeads = !p->members.empty() && p->members[0]->size >= kHeadsFrom;
  p->stage = p->byHeads ? Planned::kHeads : Planned::kWholes;
  submitStage(run, p);
  return p;
}

// Takes a whole-file digest into its record, as hashRecord does.
void takeWhole(FileRecord *r, const HashJob &job) {
  memcpy(r->hash, job.digest, SHA256_BYTES);
  *FileRecordIdentity(r) = job.id;
  ProgressBytesHashed(job.id.size);
  if (job.rc != 0) {
    reportHashFailure(r, job.rc, job.debugText);
    return;
  }
  cntFilesHashed++;
  r->fHashed = 1;
}

// Takes a finished group into its records in list order: a failed head
// read is reported where the whole-file hashing would have reported it,
// and a member whose head has no twin is settled without a digest.
void takeGroup(Planned *p) {
  for (size_t i = 0; i < p->members.size(); i++) {
    FileRecord *r = p->members[i];
    r->fSetAside = 0;
    if (p->queued[i]) {
      takeWhole(r, p->jobs[i]);
    } else if (p->heads.failed.count(i) != 0) {
      memset(r->hash, 0, SHA256_BYTES);
      reportHashFailure(r, p->heads.failed[i].first, p->heads.failed[i].second);
    } else {
      settleLoneRecord(r, *FileRecordIdentity(r));
    }
  }
  ProgressGroupHashed();
  setAsideAliases(p->members);
}

void hashMembersPlain(const std::vector<FileRecord *> &members) {
  for (FileRecord *r : members) {
    r->fSetAside = 0;
    hashRecord(r);
  }
  ProgressGroupHashed();
  setAsideAliases(members);
}

// Groups planned ahead: at most this many, and no more members than
// kAheadMembers in all (a larger group waits until it is the only one).
const size_t kAheadGroups = 64;
const size_t kAheadMembers = 512;

// Every hashed group is indexed after each hashing of it, so that a source
// visit looks only at the records of its own digest: visiting every source
// file of a group of n files costs O(n log n), not O(n^2). The index of a
// group is dropped once each of its source records has been visited.
struct GroupIndex {
  std::vector<FileRecord *> members;   // list order
  std::vector<FileRecord *> byPath;    // by stored name
  std::vector<FileRecord *> byDigest;  // valid digests, then list order
  uint32_t sourcesLeft = 0;            // source records not yet visited
};

using GroupIndexes = std::unordered_map<const linklist *, GroupIndex>;

bool digestLess(const FileRecord *a, const FileRecord *b) {
  return memcmp(a->hash, b->hash, SHA256_BYTES) < 0;
}

GroupIndex buildIndex(linklist *files) {
  GroupIndex index;
  index.members = groupMembers(files);
  index.byPath = index.members;
  for (FileRecord *r : index.members) {
    if (r->fInSource) index.sourcesLeft++;
    if (r->fHashed && r->fSetAside != kSetAside) index.byDigest.push_back(r);
  }
  std::stable_sort(index.byDigest.begin(), index.byDigest.end(), digestLess);
  std::sort(index.byPath.begin(), index.byPath.end(),
            [](const FileRecord *a, const FileRecord *b) {
              return std::less<const StoredName *>{}(a->name, b->name);
            });
  return index;
}

// The group's first record of source record s's path. A source record
// shares its stored name with its group's record, which comes before any
// destination record of the same spelling; other spellings are looked for
// by text.
FileRecord *findSource(const FileRecord *s, const GroupIndex &index) {
  auto less = [](const FileRecord *a, const StoredName *n) {
    return std::less<const StoredName *>{}(a->name, n);
  };
  auto at =
      std::lower_bound(index.byPath.begin(), index.byPath.end(), s->name, less);
  if (at != index.byPath.end() && (*at)->name == s->name) return *at;
  for (FileRecord *r : index.members)
    if (FileRecordSamePath(r, s)) return r;
  return nullptr;
}

// Reports the set of source record s in an indexed group: the same block,
// in the same order, as a walk of the whole group.
void reportIndexed(const FileRecord *s, const GroupIndex &index) {
  FileRecord *r = findSource(s, index);
  if (r == nullptr) {
    DebugText(L"ERROR: CompareHashesDisplayMatches source not found");
    return;
  }
  if (!r->fHashed || r->fSetAside == kSetAside) return;  // matches nothing
  auto set = std::equal_range(index.byDigest.begin(), index.byDigest.end(), r,
                              digestLess);
  if (set.first == set.second) return;
  ReportMatchesOf(r, std::vector<FileRecord *>(set.first, set.second));
}

// The pass: the visit of the source list, and a look-ahead over it that
// plans the groups its next records will need hashed, so that the workers
// hash them while the visit prints. Results are taken in visit order.
struct Pass {
  bintree *tree = nullptr;
  linklist *sourceList = nullptr;
  Runner run;
  GroupIndexes indexes;
  std::deque<std::unique_ptr<Planned>> ahead;  // in planning order
  std::unordered_map<const linklist *, Planned *> planned;
  size_t aheadMembers = 0;
  uint64_t nextOrder = 1;  // 0 is for a group planned at its visit
  uint64_t seen = 0;
  // The look-ahead's place: the next source record it looks at, and how
  // many records it is ahead of the visit.
  ListElement *cursor = nullptr;
  FileRecord *next = nullptr;
  size_t lead = 0;
};

// The group of records of s's size that the pass hashes and compares, or
// null when there is none of 2 records or more.
linklist *groupOf(Pass *pass, const FileRecord *s) {
  DWORD low = static_cast<DWORD>(s->size);
  DWORD high = static_cast<DWORD>(s->size >> 32);
  SizeGroup *g =
      static_cast<SizeGroup *>(bintree_GetObject(pass->tree, low, high));
  if (g == nullptr) return nullptr;
  if (linklist_GetCount(g->files) < 2) return nullptr;
  return g->files;
}

// True when the group's first record still lacks its digest: the next
// visit of any of its source records hashes it.
bool needsHashing(linklist *files) {
  ListElement *cursor = nullptr;
  FileRecord *first = linklist_FindFirst(files, &cursor);
  return first != nullptr && !first->fHashed;
}

// Plans the groups of the records ahead of the visit, within the bounds.
void lookAhead(Pass *pass) {
  if (pass->run.workers == nullptr) return;  // only with workers to run them
  while (pass->next != nullptr && pass->ahead.size() < kAheadGroups) {
    FileRecord *s = pass->next;
    SizeGroup *g = static_cast<SizeGroup *>(
        bintree_GetObject(pass->tree, static_cast<DWORD>(s->size),
                          static_cast<DWORD>(s->size >> 32)));
    linklist *files = g != nullptr ? g->files : nullptr;
    if (files != nullptr && pass->planned.count(files) == 0) {
      const DWORD n = linklist_GetCount(files);
      if (n >= 2 && needsHashing(files)) {
        if (!pass->ahead.empty() && pass->aheadMembers + n > kAheadMembers)
          return;
        Planned *p = plan(&pass->run, files, pass->nextOrder++);
        pass->ahead.emplace_back(p);
        pass->planned[files] = p;
        pass->aheadMembers += n;
      }
    }
    pass->next = linklist_FindNext(pass->sourceList, &pass->cursor);
    pass->lead++;
  }
}

// Moves every planned group on as far as its finished jobs allow.
void pump(Pass *pass) {
  for (bool moved = true; moved;) {
    moved = false;
    for (auto &p : pass->ahead) moved |= advance(&pass->run, p.get());
  }
  lookAhead(pass);
  flush(&pass->run);
}

// Hashes the group now (planned ahead, or planned at this visit) and takes
// its results into its records.
void hashGroup(Pass *pass, linklist *files) {
  if (plainHashing()) return hashMembersPlain(groupMembers(files));
  auto it = pass->planned.find(files);
  std::unique_ptr<Planned> own;
  Planned *p = nullptr;
  if (it != pass->planned.end()) {
    p = it->second;
  } else {
    own.reset(plan(&pass->run, files, 0));
    p = own.get();
    pass->planned[files] = p;  // the look-ahead plans it no second time
  }
  for (;;) {
    pump(pass);
    while (advance(&pass->run, p)) {
    }
    flush(&pass->run);
    if (p->stage == Planned::kDone || pass->run.workers == nullptr) break;
    hashWorkersWaitAny(pass->run.workers, &pass->seen);
  }
  takeGroup(p);
  pass->planned.erase(files);
  if (own != nullptr) return;
  pass->aheadMembers -= p->members.size();
  for (auto at = pass->ahead.begin(); at != pass->ahead.end(); ++at) {
    if (at->get() != p) continue;
    pass->ahead.erase(at);
    break;
  }
}

// Hashes the group of one source record when needed and reports its match.
void visitSource(Pass *pass, const FileRecord *s) {
  linklist *files = groupOf(pass, s);
  if (files == nullptr) return;
  bool hashed = needsHashing(files);
  if (hashed) hashGroup(pass, files);
  auto it = pass->indexes.find(files);
  if (hashed || it == pass->indexes.end()) {
    GroupIndex index = buildIndex(files);
    if (it != pass->indexes.end()) index.sourcesLeft = it->second.sourcesLeft;
    it = pass->indexes.insert_or_assign(files, std::move(index)).first;
  }
  reportIndexed(s, it->second);
  if (it->second.sourcesLeft > 0 && --it->second.sourcesLeft == 0)
    pass->indexes.erase(it);
}

// Keeps the look-ahead past the record being visited (cursor: the visit's
// place), so that it never plans for a visit already made.
void keepAhead(Pass *pass, ListElement *cursor) {
  if (pass->lead > 1) {
    pass->lead--;
    return;
  }
  pass->cursor = cursor;
  pass->next = linklist_FindNext(pass->sourceList, &pass->cursor);
  pass->lead = 1;
}

// Waits for every group still planned (none, unless a step through the
// source list failed), so that no job outlives the pass.
void drain(Pass *pass) {
  pass->next = nullptr;
  for (auto &p : pass->ahead) {
    while (p->stage != Planned::kDone) {
      if (advance(&pass->run, p.get())) continue;
      flush(&pass->run);
      hashWorkersWaitAny(pass->run.workers, &pass->seen);
    }
  }
  pass->ahead.clear();
}

}  // namespace

void HashGroupsAndCompare(linklist *sourceList, bintree *tree) {
  hashPassReads = HashPassReads{};
  Pass pass;
  pass.tree = tree;
  pass.sourceList = sourceList;
  ListElement *cursor = nullptr;
  for (FileRecord *s = linklist_FindFirst(sourceList, &cursor); s != nullptr;
       s = linklist_FindNext(sourceList, &cursor)) {
    if (ReportLost()) break;  // the rest could not be recorded
    keepAhead(&pass, cursor);
    visitSource(&pass, s);
  }
  if (pass.run.workers == nullptr) return;
  drain(&pass);
  hashWorkersStop(pass.run.workers);
}
