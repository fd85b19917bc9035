// The hashing pass: hashes every size group reached from a source file and
// hands each source file to the match report.
#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/common.h"
#include "dups/dups.h"
#include "hash/hash.h"

namespace {

// Hashes one record. A failed attempt leaves the record without a valid
// digest, so it can never match (not even another failed record).
void hashRecord(FileRecord *r) {
  DWORD rc = hashCalcSHA256Identify(r->path, r->hash, &r->id);
  if (rc != 0) {
    r->fHashed = 0;
    PrintFailure(kFailedHash, rc, r->path);
    return;
  }
  cntFilesHashed++;
  r->fHashed = 1;
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
// ever erased on the strength of a match with itself.
void setAsideAliases(linklist *files) {
  std::vector<AliasKey> keys;
  ListElement *cursor = nullptr;
  size_t order = 0;
  for (FileRecord *r = linklist_FindFirst(files, &cursor); r != nullptr;
       r = linklist_FindNext(files, &cursor)) {
    r->fSetAside = 0;
    if (r->fHashed && r->id.known)
      keys.push_back({r->id, r->fInSource, order, r});
    order++;
  }
  std::sort(keys.begin(), keys.end(), aliasLess);
  for (size_t i = 1; i < keys.size(); i++) {
    if (sameFile(keys[i].id, keys[i - 1].id)) keys[i].r->fSetAside = 1;
  }
}

void hashGroup(linklist *files) {
  ListElement *cursor = nullptr;
  for (FileRecord *r = linklist_FindFirst(files, &cursor); r != nullptr;
       r = linklist_FindNext(files, &cursor)) {
    hashRecord(r);
  }
  ProgressGroupHashed();
  setAsideAliases(files);
}

// A large group is indexed after each hashing of it, so that a source
// visit looks only at the records of its own digest: visiting every source
// file of a group of n files then costs O(n log n), not O(n^2).
const DWORD kIndexedGroup = 64;

using Digest = std::array<uint8_t, SHA256_BYTES>;

struct GroupIndex {
  std::unordered_map<std::wstring_view, FileRecord *> byPath;  // first record
  std::map<Digest, std::vector<FileRecord *>> byDigest;        // valid only
};

using GroupIndexes = std::unordered_map<const linklist *, GroupIndex>;

GroupIndex buildIndex(linklist *files) {
  GroupIndex index;
  ListElement *cursor = nullptr;
  for (FileRecord *r = linklist_FindFirst(files, &cursor); r != nullptr;
       r = linklist_FindNext(files, &cursor)) {
    index.byPath.emplace(r->path, r);
    if (!r->fHashed || r->fSetAside) continue;
    Digest d;
    memcpy(d.data(), r->hash, SHA256_BYTES);
    index.byDigest[d].push_back(r);
  }
  return index;
}

// Reports the set of source path s in an indexed group: the same block, in
// the same order, as a walk of the whole group.
void reportIndexed(const wchar_t *s, const GroupIndex &index) {
  auto r = index.byPath.find(s);
  if (r == index.byPath.end()) {
    DebugText(L"ERROR: CompareHashesDisplayMatches source not found");
    return;
  }
  if (!r->second->fHashed || r->second->fSetAside) return;  // matches nothing
  Digest d;
  memcpy(d.data(), r->second->hash, SHA256_BYTES);
  auto set = index.byDigest.find(d);
  if (set != index.byDigest.end()) ReportMatchesOf(r->second, set->second);
}

// Hashes the group of one source record when needed and reports its match.
void visitSource(const FileRecord *s, bintree *tree, GroupIndexes *indexes) {
  DWORD low = static_cast<DWORD>(s->size);
  DWORD high = static_cast<DWORD>(s->size >> 32);
  SizeGroup *g = static_cast<SizeGroup *>(bintree_GetObject(tree, low, high));
  if (g == nullptr) return;
  if (linklist_GetCount(g->files) < 2) return;
  ListElement *cursor = nullptr;
  FileRecord *first = linklist_FindFirst(g->files, &cursor);
  bool hashed = first != nullptr && !first->fHashed;
  if (hashed) hashGroup(g->files);
  if (linklist_GetCount(g->files) < kIndexedGroup) {
    CompareHashesDisplayMatches(s->path, g->files);
    return;
  }
  auto it = indexes->find(g->files);
  if (hashed || it == indexes->end())
    it = indexes->insert_or_assign(g->files, buildIndex(g->files)).first;
  reportIndexed(s->path, it->second);
}

}  // namespace

void HashGroupsAndCompare(linklist *sourceList, bintree *tree) {
  GroupIndexes indexes;
  ListElement *cursor = nullptr;
  for (FileRecord *s = linklist_FindFirst(sourceList, &cursor); s != nullptr;
       s = linklist_FindNext(sourceList, &cursor)) {
    visitSource(s, tree, &indexes);
  }
}
