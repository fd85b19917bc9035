// Duplicate resolution: hashing pass, match report, erasure, empty-directory
// purge.
#pragma once

#include <cstdint>
#include <vector>

#include "containers/containers.h"
#include "scan/scan.h"

void HashGroupsAndCompare(linklist *sourceList, bintree *tree);
// The block of the source file at sourcePath from its group's whole list
// files, through ReportMatchesOf; a path not in the list is named under
// Debug. Nothing in the run calls it: the hashing pass reports each source
// file with ReportMatchesOf from its group's index, which gives the same
// block.
void CompareHashesDisplayMatches(const wchar_t *sourcePath, linklist *files);
void EraseFile(const wchar_t *path);
// The block of R's set: group holds, in list order, at least every record
// of R's group that may match R (the whole group, or the records whose
// digest equals R's). Prints it and erases its "del " copies, each only
// while it and a kept copy are still the files that were hashed.
void ReportMatchesOf(FileRecord *r, const std::vector<FileRecord *> &group);

// One file reached from the source and from destinations is a source file
// when every such destination's directory holds the source's (an import
// folder inside the library): destHoldsSource[i] is 1 when destination i's
// does. Otherwise (a destination inside the source, hard links, one folder
// by two routes) it is a destination file, read-only. Set by the run.
extern uint8_t destHoldsSource[MAX_PARMS + 1];

// Non-zero: the hashing pass hashes every member of a group whole, on this
// thread, without comparing first reads: the same pass with neither heads
// nor workers (tests compare the two ways).
extern int hashPassPlain;

// The jobs of the last hashing pass read through the gate (a volume with a
// seek penalty, or one that could not tell), and read freely.
struct HashPassReads {
  uint32_t oneReader;
  uint32_t ownReads;
};
extern HashPassReads hashPassReads;

// The purge: a folder link, a recycle bin and a link among the files are
// never entered or erased, and count as holding data.
uint64_t SumDirFileSizes(const wchar_t *dir, int erase);
uint64_t PurgeEmptyDirs(const wchar_t *dir);
// Destinations are read-only, also where one lies inside the source or is
// the source by another route: the purge neither enters nor removes a
// directory kept here (by identity) and counts it as holding data.
// PurgeKeepDirectory copies dir; PurgeKeepNone forgets them all.
// Exhaustion ends the process.
void PurgeKeepDirectory(const wchar_t *dir);
void PurgeKeepNone(void);
void RemoveEmptyDir(const wchar_t *dir, int quiet);
