// The hashing pass: visits the source list in order, has the size group of
// each source file hashed when it first needs it, and reports the file's
// set.
#include <algorithm>
#include <cstring>
#include <functional>
#include <unordered_map>
#include <vector>

#include "common/common.h"
#include "dups/dups.h"
#include "dups/window.h"
#include "hash/hash.h"

uint8_t destHoldsSource[MAX_PARMS + 1];

namespace {

// Orders records by identity, then list order.
struct AliasKey {
  FileIdentity id;
  size_t order;
  FileRecord *r;
};

bool aliasLess(const AliasKey &a, const AliasKey &b) {
  if (FileIdentityLess(&a.id, &b.id)) return true;
  return !FileIdentityLess(&b.id, &a.id) && a.order < b.order;
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

// Every hashed group is indexed after each hashing of it, so that a source
// visit looks only at the records of its own digest: visiting every source
// file of a group of n files costs O(n log n), not O(n^2). The index of a
// group is dropped once each of its source records has been visited.
struct GroupIndex {
  std::vector<FileRecord *> members;   // list order
  std::vector<FileRecord *> byName;    // by stored name
  std::vector<FileRecord *> byDigest;  // valid digests, then list order
  uint32_t sourcesLeft = 0;            // source records not yet visited
};

using GroupIndexes = std::unordered_map<const linklist *, GroupIndex>;

bool digestLess(const FileRecord *a, const FileRecord *b) {
  return memcmp(FileRecordDigestOf(a), FileRecordDigestOf(b), SHA256_BYTES) < 0;
}

GroupIndex buildIndex(std::vector<FileRecord *> members) {
  GroupIndex index;
  index.members = std::move(members);
  index.byName = index.members;
  for (FileRecord *r : index.members) {
    if (r->fInSource) index.sourcesLeft++;
    if (r->fHashed && r->fSetAside != kSetAside) index.byDigest.push_back(r);
  }
  std::stable_sort(index.byDigest.begin(), index.byDigest.end(), digestLess);
  std::sort(index.byName.begin(), index.byName.end(),
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
      std::lower_bound(index.byName.begin(), index.byName.end(), s->name, less);
  if (at != index.byName.end() && (*at)->name == s->name) return *at;
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

// Hashes the group of source record s (at cursor) when needed, and reports
// its set.
void visitSource(HashWindow *window, bintree *tree, GroupIndexes *indexes,
                 const FileRecord *s, ListElement *cursor) {
  linklist *files = SizeGroupOf(tree, s);
  if (files == nullptr) return;
  auto it = indexes->find(files);
  if (GroupNeedsHashing(files)) {
    std::vector<FileRecord *> members;
    HashWindowHash(window, files, cursor, &members);
    setAsideAliases(members);
    GroupIndex index = buildIndex(std::move(members));
    if (it != indexes->end()) index.sourcesLeft = it->second.sourcesLeft;
    it = indexes->insert_or_assign(files, std::move(index)).first;
  } else if (it == indexes->end()) {
    it = indexes->emplace(files, buildIndex(GroupMembers(files))).first;
  }
  reportIndexed(s, it->second);
  if (it->second.sourcesLeft > 0 && --it->second.sourcesLeft == 0)
    indexes->erase(it);
}

}  // namespace

void HashGroupsAndCompare(linklist *sourceList, bintree *tree) {
  HashWindow *window = HashWindowOpen(tree, sourceList);
  GroupIndexes indexes;
  ListElement *cursor = nullptr;
  for (FileRecord *s = linklist_FindFirst(sourceList, &cursor); s != nullptr;
       s = linklist_FindNext(sourceList, &cursor)) {
    if (ReportLost()) break;  // the rest could not be recorded
    visitSource(window, tree, &indexes, s, cursor);
  }
  HashWindowClose(window);
}
