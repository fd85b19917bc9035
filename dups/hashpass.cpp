// The hashing pass: hashes every size group reached from a source file and
// hands each source file to the match report.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <functional>
#include <map>
#include <unordered_map>
#include <vector>

#include "common/common.h"
#include "dups/dups.h"
#include "hash/hash.h"

int hashPassPlain = 0;

namespace {

// Reports a failed hashing of r: the routine's Debug message when it handed
// one back, then the failure line. The record can never match (not even
// another failed record).
void reportHashFailure(FileRecord *r, DWORD rc, const wchar_t *debugText) {
  if (debugText != nullptr) DebugText(debugText);
  r->fHashed = 0;
  PrintFailure(kFailedHash, rc, r->path);
}

// Hashes one record whole.
void hashRecord(FileRecord *r) {
  DWORD rc = hashCalcSHA256Identify(r->path, r->hash, &r->id);
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
  r->id = id;
  r->fHashed = 1;
  r->fSetAside = 1;
  cntFilesHashed++;
  ProgressBytesHashed(r->size);
}

// Orders records by identity, destination copies first, then list order.
struct AliasKey {
  FileIdentity id;
  int32_t fInSource;
  size_t order;
  FileRecord *r;
};

bool aliasLess(const AliasKey &a, const AliasKey &b) {
  if (a.id.volume != b.id.volume) return a.id.volume < b.id.volume;
  if (a.id.indexHigh != b.id.indexHigh) return a.id.indexHigh < b.id.indexHigh;
  if (a.id.indexLow != b.id.indexLow) return a.id.indexLow < b.id.indexLow;
  if (a.fInSource != b.fInSource) return a.fInSource < b.fInSource;
  return a.order < b.order;
}

bool sameFile(const FileIdentity &a, const FileIdentity &b) {
  return a.volume == b.volume && a.indexHigh == b.indexHigh &&
         a.indexLow == b.indexLow;
}

// One file recorded more than once (hard links, a destination inside the
// source, one folder by two routes) keeps a single record in the matching:
// a destination record when there is one (destinations are read-only),
// else the first source record. The others are set aside, so no file is
// ever erased on the strength of a match with itself. Records already set
// aside as lone stay so.
void setAsideAliases(const std::vector<FileRecord *> &members) {
  std::vector<AliasKey> keys;
  for (size_t order = 0; order < members.size(); order++) {
    FileRecord *r = members[order];
    if (r->fHashed && !r->fSetAside && r->id.known)
      keys.push_back({r->id, r->fInSource, order, r});
  }
  std::sort(keys.begin(), keys.end(), aliasLess);
  for (size_t i = 1; i < keys.size(); i++) {
    if (sameFile(keys[i].id, keys[i - 1].id)) keys[i].r->fSetAside = 1;
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

// Files of more than one read are first compared by their first read: a
// file that takes a single read is hashed whole at the same cost.
const uint64_t kHeadsFrom = HASH_READ_SIZE + 1;

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

// Where the pass's reads and digests run: on the workers, started for the
// first group that needs them, or on this thread when they can't be had.
struct Runner {
  HashWorkers *workers = nullptr;
  bool tried = false;
};

// Files smaller than this are read and hashed on the main thread: handing
// one to the workers and back costs about what hashing it does.
const uint64_t kWorkersFrom = 128 * 1024;

void submit(Runner *run, HashJob *job, uint64_t size) {
  if (size < kWorkersFrom) {
    hashRunJob(job);
    return;
  }
  if (!run->tried) {
    run->tried = true;
    run->workers = hashWorkersStart();
  }
  if (run->workers != nullptr)
    hashWorkersSubmit(run->workers, job);
  else
    hashRunJob(job);
}

void await(Runner *run, HashJob *job, uint64_t size) {
  if (size >= kWorkersFrom && run->workers != nullptr)
    hashWorkersWait(run->workers, job);
}

// Jobs queued ahead of the one the pass takes next: enough to keep the
// reader and the hashers busy, few enough that a group of any size costs
// no more than this many jobs.
const size_t kInFlight = 64;

// Runs a job for each of n members through the runner, at most kInFlight
// queued at a time, and hands each to take in list order (every member
// has the group's size). make fills the job of a member, or returns false
// when the member needs none (take then gets it unrun).
template <class Make, class Take>
void runInOrder(Runner *run, size_t n, uint64_t size, Make make, Take take) {
  std::vector<HashJob> ring(std::min(n, kInFlight));
  std::vector<char> queued(ring.size(), 0);
  size_t next = 0;
  for (size_t i = 0; i < n; i++) {
    for (; next < n && next < i + ring.size(); next++) {
      HashJob *job = &ring[next % ring.size()];
      queued[next % ring.size()] = make(next, job);
      if (queued[next % ring.size()]) submit(run, job, size);
    }
    HashJob *job = &ring[i % ring.size()];
    if (queued[i % ring.size()]) await(run, job, size);
    take(i, *job);
  }
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

// The first read of every member, in list order; the identity it saw is
// kept in the record.
Heads readHeads(Runner *run, const std::vector<FileRecord *> &members) {
  Heads h;
  h.keys.resize(members.size());
  std::vector<uint64_t> headKeys(members.size());
  size_t withTail = 0, withoutTail = 0;
  auto make = [&](size_t i, HashJob *job) {
    job->path = members[i]->path;
    job->whole = 0;
    return true;
  };
  auto take = [&](size_t i, const HashJob &job) {
    members[i]->id = job.id;
    if (job.rc != 0) {
      h.failed[i] = {job.rc, job.debugText};
      return;
    }
    h.keys[i] = job.key;
    headKeys[i] = job.headKey;
    (job.tail ? withTail : withoutTail)++;
  };
  runInOrder(run, members.size(), members.empty() ? 0 : members[0]->size, make,
             take);
  // A last block that could not be read for some member (or a file that
  // changed size) leaves the first blocks alone to compare, for all.
  if (withTail != 0 && withoutTail != 0) h.keys = headKeys;
  for (size_t i = 0; i < members.size(); i++)
    if (h.failed.count(i) == 0) h.sorted.push_back(h.keys[i]);
  std::sort(h.sorted.begin(), h.sorted.end());
  return h;
}

// Takes a whole-file digest into its record, as hashRecord does.
void takeWhole(FileRecord *r, const HashJob &job) {
  memcpy(r->hash, job.digest, SHA256_BYTES);
  r->id = job.id;
  ProgressBytesHashed(job.id.size);
  if (job.rc != 0) {
    reportHashFailure(r, job.rc, job.debugText);
    return;
  }
  cntFilesHashed++;
  r->fHashed = 1;
}

void hashMembersPlain(const std::vector<FileRecord *> &members) {
  for (FileRecord *r : members) {
    r->fSetAside = 0;
    hashRecord(r);
  }
}

// Hashes the members with the reads and digests on the runner; results are
// taken in list order. Members of more than one read are compared by their
// heads first: a failed head read is reported where the whole-file hashing
// would have reported it, and only members whose head has a twin are
// hashed whole.
void hashMembers(Runner *run, const std::vector<FileRecord *> &members) {
  const bool byHeads = !members.empty() && members[0]->size >= kHeadsFrom;
  Heads heads;
  if (byHeads) heads = readHeads(run, members);
  auto make = [&](size_t i, HashJob *job) {
    if (byHeads && heads.settled(i)) return false;
    job->path = members[i]->path;
    job->whole = 1;
    return true;
  };
  auto take = [&](size_t i, const HashJob &job) {
    FileRecord *r = members[i];
    r->fSetAside = 0;
    if (!byHeads || !heads.settled(i)) {
      takeWhole(r, job);
    } else if (heads.failed.count(i) != 0) {
      memset(r->hash, 0, SHA256_BYTES);
      reportHashFailure(r, heads.failed[i].first, heads.failed[i].second);
    } else {
      settleLoneRecord(r, r->id);
    }
  };
  runInOrder(run, members.size(), members.empty() ? 0 : members[0]->size, make,
             take);
}

void hashGroup(linklist *files, Runner *run) {
  std::vector<FileRecord *> members = groupMembers(files);
  if (plainHashing())
    hashMembersPlain(members);
  else
    hashMembers(run, members);
  ProgressGroupHashed();
  setAsideAliases(members);
}

// Every hashed group is indexed after each hashing of it, so that a source
// visit looks only at the records of its own digest: visiting every source
// file of a group of n files costs O(n log n), not O(n^2). The index of a
// group is dropped once each of its source records has been visited.
struct GroupIndex {
  std::vector<FileRecord *> members;   // list order
  std::vector<FileRecord *> byPath;    // by stored path
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
    if (r->fHashed && !r->fSetAside) index.byDigest.push_back(r);
  }
  std::stable_sort(index.byDigest.begin(), index.byDigest.end(), digestLess);
  std::sort(index.byPath.begin(), index.byPath.end(),
            [](const FileRecord *a, const FileRecord *b) {
              return std::less<const wchar_t *>{}(a->path, b->path);
            });
  return index;
}

// The group's first record of source path s. A source record shares its
// stored path with its group's record, which comes before any destination
// record of the same spelling; other spellings are looked for by text.
FileRecord *findSource(const wchar_t *s, const GroupIndex &index) {
  auto less = [](const FileRecord *a, const wchar_t *p) {
    return std::less<const wchar_t *>{}(a->path, p);
  };
  auto at = std::lower_bound(index.byPath.begin(), index.byPath.end(), s, less);
  if (at != index.byPath.end() && (*at)->path == s) return *at;
  for (FileRecord *r : index.members)
    if (wcscmp(r->path, s) == 0) return r;
  return nullptr;
}

// Reports the set of source path s in an indexed group: the same block, in
// the same order, as a walk of the whole group.
void reportIndexed(const wchar_t *s, const GroupIndex &index) {
  FileRecord *r = findSource(s, index);
  if (r == nullptr) {
    DebugText(L"ERROR: CompareHashesDisplayMatches source not found");
    return;
  }
  if (!r->fHashed || r->fSetAside) return;  // matches nothing
  auto set = std::equal_range(index.byDigest.begin(), index.byDigest.end(), r,
                              digestLess);
  if (set.first == set.second) return;
  ReportMatchesOf(r, std::vector<FileRecord *>(set.first, set.second));
}

// Hashes the group of one source record when needed and reports its match.
void visitSource(const FileRecord *s, bintree *tree, GroupIndexes *indexes,
                 Runner *run) {
  DWORD low = static_cast<DWORD>(s->size);
  DWORD high = static_cast<DWORD>(s->size >> 32);
  SizeGroup *g = static_cast<SizeGroup *>(bintree_GetObject(tree, low, high));
  if (g == nullptr) return;
  if (linklist_GetCount(g->files) < 2) return;
  ListElement *cursor = nullptr;
  FileRecord *first = linklist_FindFirst(g->files, &cursor);
  bool hashed = first != nullptr && !first->fHashed;
  if (hashed) hashGroup(g->files, run);
  auto it = indexes->find(g->files);
  if (hashed || it == indexes->end()) {
    GroupIndex index = buildIndex(g->files);
    if (it != indexes->end()) index.sourcesLeft = it->second.sourcesLeft;
    it = indexes->insert_or_assign(g->files, std::move(index)).first;
  }
  reportIndexed(s->path, it->second);
  if (it->second.sourcesLeft > 0 && --it->second.sourcesLeft == 0)
    indexes->erase(it);
}

}  // namespace

void HashGroupsAndCompare(linklist *sourceList, bintree *tree) {
  GroupIndexes indexes;
  Runner run;
  ListElement *cursor = nullptr;
  for (FileRecord *s = linklist_FindFirst(sourceList, &cursor); s != nullptr;
       s = linklist_FindNext(sourceList, &cursor)) {
    visitSource(s, tree, &indexes, &run);
  }
  if (run.workers != nullptr) hashWorkersStop(run.workers);
}
