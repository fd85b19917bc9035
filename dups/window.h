// The hashing pass's window of size groups: the groups its next visits of
// the source list need, hashed ahead of them in list order by the hasher
// threads (or on this thread when there are none), each taken into its
// records when its visit comes.
#pragma once

#include <vector>

#include "containers/containers.h"

struct HashWindow;

// The size group of s's size in tree when it holds 2 records or more (the
// pass hashes and compares only those), else null. Can't fail.
linklist *SizeGroupOf(bintree *tree, const FileRecord *s);
// True while the group's first record lacks its digest: the next visit of
// any of its source records hashes it. Can't fail.
bool GroupNeedsHashing(linklist *files);
// The group's records in list order. Exhaustion ends the process.
std::vector<FileRecord *> GroupMembers(linklist *files);

// A window over the visits of sourceList, whose groups are in tree.
// Exhaustion ends the process.
HashWindow *HashWindowOpen(bintree *tree, linklist *sourceList);
// Hashes files, the size group of the source record being visited (its
// cursor: visit), and takes the results into its records in list order:
// digests, identities and failure lines. A record whose head has no twin
// in its group is settled without a digest, set aside. *members: the
// group's records in list order.
void HashWindowHash(HashWindow *w, linklist *files, ListElement *visit,
                    std::vector<FileRecord *> *members);
// Waits for every job still running and ends the window. Can't fail.
void HashWindowClose(HashWindow *w);
