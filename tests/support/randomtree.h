// Random source and destination trees, and an independent model of what a
// run of the program on one prints and leaves behind.
//
// The model follows the documented behaviour only: the scan order (names in
// NTFS order, files before subdirectories), the grouping by size, one record
// per file when a file is reached twice, the sets of identical contents and
// which copy of each is kept, the -v header, and the purge of -r -d.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// A path below a tree's root, one name per component.
using RelPath = std::vector<std::wstring>;

enum class NodeKind { kDir, kFile, kSymlink, kFifo };

struct FsNode {
  NodeKind kind = NodeKind::kFile;
  int inode = -1;       // kFile: the file's identity; hard links share it
  bool hidden = false;  // the name starts with '.' (Windows: also marked)
  std::wstring target;  // kSymlink: what the link points to
  bool held = false;    // kFile: held open by the test, so hashing it fails
};

// A destination parameter: the text given and the directory it reaches.
struct TreeParam {
  std::wstring text;
  RelPath dir;
  bool sameTextAsSource = false;  // resolves to the source's very spelling
};

struct RandomTree {
  uint64_t seed = 0;
  std::wstring root;                  // absolute, no trailing separator
  std::map<RelPath, FsNode> nodes;    // every entry below the root
  std::vector<std::string> contents;  // the bytes of each inode
  RelPath source;                     // the source directory
  std::vector<TreeParam> dests;       // 0 to 3 destinations
};

// The switches of one run; dests is false for single-directory mode.
struct RunSwitches {
  bool all = false, recurse = false, verbose = false, erase = false;
  bool dests = false;
};

// What the model says a run prints and leaves behind.
struct ModelResult {
  std::string out;                  // standard output, bytes
  std::map<RelPath, FsNode> after;  // the entries left
};

RandomTree GenerateTree(uint64_t seed, const std::wstring &root);
// Makes the tree on disk below its root. On error, false with *why set.
bool BuildTree(const RandomTree &tree, std::string *why);
// Holds open every file marked held (where the build can); released by
// ReleaseHeld.
std::vector<void *> HoldFiles(const RandomTree &tree);
void ReleaseHeld(std::vector<void *> *holds);
// A listing of the tree, one entry a line, to rebuild a failing case.
std::string Listing(const RandomTree &tree);

// The switches of run number run (0, 1, ...) on a tree, drawn from its seed;
// erase is set as asked.
RunSwitches PickSwitches(const RandomTree &tree, int run, bool erase);
std::vector<std::wstring> RunArgs(const RandomTree &tree,
                                  const RunSwitches &sw);
std::string DescribeSwitches(const RunSwitches &sw);
ModelResult ModelRun(const RandomTree &tree, const RunSwitches &sw);

// The full path of rel below the tree's root, as the program joins it.
std::wstring FullText(const RandomTree &tree, const RelPath &rel);
// Upper-case hexadecimal SHA-256 of bytes, computed here.
std::string Sha256Hex(const std::string &bytes);
