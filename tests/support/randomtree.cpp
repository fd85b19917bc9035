// Random trees and the model of a run on one.
#include "support/randomtree.h"

#include <algorithm>
#include <cstdio>
#include <set>

#include "dups/dups.h"
#include "platform/testing/testing.h"

namespace {

// splitmix64: the same sequence on both builds for one seed.
struct Rng {
  uint64_t s;
  uint64_t Next() {
    uint64_t z = (s += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  size_t Below(size_t n) { return n == 0 ? 0 : (size_t)(Next() % n); }
  bool Chance(unsigned percent) { return Below(100) < percent; }
};

// ---- generation ----------------------------------------------------------

const wchar_t *const kNameParts[] = {
    L"a",      L"b",       L"B",        L"c",
    L"img",    L"photo 1", L"100%",     L"%1",
    L"x&y",    L"-dash",   L"n%PATH%m", L"a b",
    L"z_",     L"Z9",      L"e\u00e9",  L"\u00f1\u00fc",
    L"\u03c9", L"\u4e2d",  L"\u20ac",   L"x"};
// Linux names may hold what the report must escape.
const wchar_t *const kPosixParts[] = {L"l\nb", L"q\"t", L"s\\h", L"e\\", L"A"};
const wchar_t *const kExtensions[] = {L"", L".jpg", L".JPG", L".txt", L".dat"};

std::wstring FoldAscii(const std::wstring &s) {
  std::wstring out = s;
  for (wchar_t &c : out) {
    if (c >= L'a' && c <= L'z') c = (wchar_t)(c - L'a' + L'A');
  }
  return out;
}

struct Generator {
  RandomTree *t;
  Rng rng;
  std::vector<RelPath> srcDirs, allDirs;
  bool bigContent = false;

  // plain: no backslash, for a name that is part of a parameter.
  std::wstring Name(const RelPath &dir, bool hidden, bool plain = false) {
    for (int attempt = 0;; attempt++) {
      std::wstring name;
      const size_t common = std::size(kNameParts);
      const size_t extra =
          kLinksAndFifos && !plain ? std::size(kPosixParts) : 0;
      const size_t i = rng.Below(common + extra);
      name = i < common ? kNameParts[i] : kPosixParts[i - common];
      if (rng.Chance(50)) name += std::to_wstring(rng.Below(100));
      name += kExtensions[rng.Below(std::size(kExtensions))];
      if (attempt > 20) name += L"_" + std::to_wstring(attempt);
      if (hidden) name = L"." + name;
      if (!Taken(dir, name)) return name;
    }
  }

  bool Taken(const RelPath &dir, const std::wstring &name) {
    for (const auto &[rel, node] : t->nodes) {
      if (rel.size() != dir.size() + 1 ||
          !std::equal(dir.begin(), dir.end(), rel.begin()))
        continue;
      if (rel.back() == name) return true;
      if (kNamesFoldCase && FoldAscii(rel.back()) == FoldAscii(name))
        return true;
    }
    return false;
  }

  RelPath AddDir(const RelPath &parent, bool inSource, bool plain = false) {
    FsNode node;
    node.kind = NodeKind::kDir;
    node.hidden = rng.Chance(10);
    RelPath rel = parent;
    rel.push_back(Name(parent, node.hidden, plain));
    t->nodes[rel] = node;
    allDirs.push_back(rel);
    if (inSource) srcDirs.push_back(rel);
    return rel;
  }

  void AddDirs(const RelPath &parent, int depth, bool inSource) {
    const size_t n = rng.Below(depth == 0 ? 4 : 3);
    for (size_t i = 0; i < n; i++) {
      RelPath d = AddDir(parent, inSource);
      if (depth < 3 && rng.Chance(50)) AddDirs(d, depth + 1, inSource);
    }
  }

  std::string Bytes(size_t size) {
    std::string b(size, '\0');
    for (size_t i = 0; i < size; i++) b[i] = (char)(rng.Next() >> 56);
    return b;
  }

  size_t PickSize() {
    const size_t r = rng.Below(100);
    if (r < 20) return 1;
    if (r < 35) return 32767 + rng.Below(3);
    if (r < 38 && !bigContent) {
      bigContent = true;
      return (2u << 20) + rng.Below(3u << 20);
    }
    if (r < 90) return 2 + rng.Below(200);
    return 1000 + rng.Below(70000);
  }

  // A pool of contents: index 0 is empty; each base content may get
  // variants of its size that differ at the start, the middle or the end.
  std::vector<std::string> Pool() {
    std::vector<std::string> pool = {""};
    const size_t bases = 1 + rng.Below(5);
    for (size_t i = 0; i < bases; i++) {
      pool.push_back(Bytes(PickSize()));
      if (rng.Chance(40)) {
        std::string v = pool.back();
        const size_t at[] = {0, v.size() / 2, v.size() - 1};
        v[at[rng.Below(3)]] ^= (char)(1 + rng.Below(255));
        pool.push_back(v);
      }
    }
    return pool;
  }

  int NewInode(const std::string &bytes) {
    t->contents.push_back(bytes);
    return (int)t->contents.size() - 1;
  }

  std::vector<RelPath> FilesSoFar() {
    std::vector<RelPath> files;
    for (const auto &[rel, node] : t->nodes) {
      if (node.kind == NodeKind::kFile && !node.hidden) files.push_back(rel);
    }
    return files;
  }

  RelPath PickDir() {
    if (rng.Chance(60) || allDirs.size() == srcDirs.size())
      return srcDirs[rng.Below(srcDirs.size())];
    return allDirs[rng.Below(allDirs.size())];
  }

  void AddEntry(const std::vector<std::string> &pool) {
    FsNode node;
    node.hidden = rng.Chance(10);
    const RelPath dir = PickDir();
    RelPath rel = dir;
    rel.push_back(Name(dir, node.hidden));
    // Windows keeps the hidden mark per file, not per name: links are made
    // of visible files only, and stay visible.
    std::vector<RelPath> files = FilesSoFar();
    if (!files.empty() && rng.Chance(10)) {
      node.hidden = false;
      rel.back() = Name(dir, false);
      node.inode = t->nodes[files[rng.Below(files.size())]].inode;
    } else if (kLinksAndFifos && rng.Chance(5)) {
      node.kind = NodeKind::kSymlink;
      auto it = t->nodes.begin();
      std::advance(it, rng.Below(t->nodes.size()));
      node.target =
          rng.Chance(20) ? FullText(*t, {L"nowhere"}) : FullText(*t, it->first);
    } else if (kLinksAndFifos && rng.Chance(3)) {
      node.kind = NodeKind::kFifo;
    } else {
      const size_t c = rng.Chance(12) ? 0 : 1 + rng.Below(pool.size() - 1);
      node.inode = NewInode(pool[c]);
    }
    t->nodes[rel] = node;
  }

  // Files held open while the program runs, where the build can hold one:
  // their hashing fails. Only files with one name, so that no other name
  // reaches the held file.
  void HoldSome() {
    if (!kCanHoldFiles) return;
    std::map<int, int> names;
    for (const auto &[rel, node] : t->nodes)
      if (node.kind == NodeKind::kFile) names[node.inode]++;
    for (auto &[rel, node] : t->nodes) {
      if (node.kind == NodeKind::kFile && names[node.inode] == 1 &&
          !t->contents[node.inode].empty() && rng.Chance(6))
        node.held = true;
    }
  }

  // Many one-byte files in one directory: a size group past the size at
  // which the report indexes a group by digest.
  void AddLargeGroup() {
    const RelPath dir = srcDirs[rng.Below(srcDirs.size())];
    const size_t n = 64 + rng.Below(12);
    for (size_t i = 0; i < n; i++) {
      FsNode node;
      node.inode = NewInode(std::string(1, (char)('a' + rng.Below(4))));
      RelPath rel = dir;
      rel.push_back(L"g" + std::to_wstring(i));
      t->nodes[rel] = node;
    }
  }

  TreeParam DestParam() {
    TreeParam p;
    const size_t r = rng.Below(100);
    // A parameter is parsed with '\\' as a separator too (Linux): only a
    // directory whose path has none can be given as one.
    std::vector<RelPath> inner;
    for (size_t i = 1; i < srcDirs.size(); i++) {
      const std::wstring text = FullText(*t, srcDirs[i]);
      if (text.find(L'\\') == std::wstring::npos || kPathSep == L'\\')
        inner.push_back(srcDirs[i]);
    }
    if (r < 20 && !inner.empty()) {  // inside the source tree
      p.dir = inner[rng.Below(inner.size())];
    } else if (r < 28) {  // the source again, by another route
      p.dir = t->source;
      if (kNamesFoldCase) {
        p.text = FullText(*t, {FoldAscii(t->source[0])});
      } else {
        FsNode link;
        link.kind = NodeKind::kSymlink;
        link.target = FullText(*t, t->source);
        t->nodes[{L"srclink"}] = link;
        p.text = FullText(*t, {L"srclink"});
      }
      return p;
    } else if (r < 31) {  // the source's own spelling: the run stops
      p.dir = t->source;
      p.text = FullText(*t, t->source) + kPathSep + L".";
      p.sameTextAsSource = true;
      return p;
    } else if (r < 41) {  // the folder holding the source (and all else)
      p.dir = {};
      p.text = t->root;
      return p;
    } else {
      p.dir = AddDir({}, false, true);
      AddDirs(p.dir, 1, false);
    }
    p.text = FullText(*t, p.dir);
    return p;
  }
};

}  // namespace

std::wstring FullText(const RandomTree &tree, const RelPath &rel) {
  std::wstring text = tree.root;
  for (const std::wstring &part : rel) text += kPathSep + part;
  return text;
}

RandomTree GenerateTree(uint64_t seed, const std::wstring &root) {
  RandomTree t;
  t.seed = seed;
  t.root = root;
  Generator g{&t, Rng{seed * 0x2545F4914F6CDD1Dull + 1}, {}, {}, false};
  t.source = {L"src"};
  t.nodes[t.source].kind = NodeKind::kDir;
  g.srcDirs.push_back(t.source);
  g.allDirs.push_back(t.source);
  g.AddDirs(t.source, 0, true);
  const size_t dests = g.rng.Below(4);
  for (size_t i = 0; i < dests; i++) t.dests.push_back(g.DestParam());
  const std::vector<std::string> pool = g.Pool();
  const size_t files = g.rng.Below(26);
  for (size_t i = 0; i < files; i++) g.AddEntry(pool);
  if (g.rng.Chance(4)) g.AddLargeGroup();
  g.HoldSome();
  return t;
}

bool BuildTree(const RandomTree &tree, std::string *why) {
  std::map<int, std::wstring> made;  // inode: its first name
  for (const auto &[rel, node] : tree.nodes) {
    const std::wstring path = FullText(tree, rel);
    bool ok = true;
    switch (node.kind) {
      case NodeKind::kDir:
        ok = MakeDir(path);
        break;
      case NodeKind::kFile:
        if (made.count(node.inode)) {
          ok = MakeHardLink(made[node.inode], path);
        } else {
          ok = WriteBytes(path, tree.contents[node.inode]);
          made[node.inode] = path;
        }
        break;
      case NodeKind::kSymlink:
        ok = MakeSymlink(node.target, path);
        break;
      case NodeKind::kFifo:
        ok = MakeFifo(path);
        break;
    }
    if (ok && node.hidden && !kHiddenByName) ok = SetHidden(path);
    if (!ok) {
      *why = "cannot make " + ModelLineBytes(path);
      return false;
    }
  }
  return true;
}

std::vector<void *> HoldFiles(const RandomTree &tree) {
  std::vector<void *> holds;
  for (const auto &[rel, node] : tree.nodes) {
    if (node.held) holds.push_back(HoldFileExclusively(FullText(tree, rel)));
  }
  return holds;
}

void ReleaseHeld(std::vector<void *> *holds) {
  for (void *h : *holds) ReleaseFileHold(h);
  holds->clear();
}

std::string Listing(const RandomTree &tree) {
  std::string out;
  for (const auto &[rel, node] : tree.nodes) {
    std::wstring line;
    for (const std::wstring &part : rel) line += L"/" + part;
    switch (node.kind) {
      case NodeKind::kDir:
        line += L"/";
        break;
      case NodeKind::kFile: {
        const std::string &bytes = tree.contents[node.inode];
        const std::string sha = Sha256Hex(bytes).substr(0, 12);
        line += L"  inode " + std::to_wstring(node.inode) + L", " +
                std::to_wstring(bytes.size()) + L" bytes, sha256 " +
                std::wstring(sha.begin(), sha.end());
        break;
      }
      case NodeKind::kSymlink:
        line += L"  -> " + node.target;
        break;
      case NodeKind::kFifo:
        line += L"  (fifo)";
        break;
    }
    if (node.hidden) line += L"  (hidden)";
    if (node.held) line += L"  (held open)";
    const std::string bytes = ModelLineBytes(ModelShownPath(line, false));
    out += bytes;
  }
  for (const TreeParam &p : tree.dests)
    out += "destination " + ModelLineBytes(ModelShownPath(p.text, false));
  return out;
}

RunSwitches PickSwitches(const RandomTree &tree, int run, bool erase) {
  Rng rng{tree.seed * 31 + (uint64_t)run + 7};
  RunSwitches sw;
  sw.all = rng.Chance(30);
  sw.recurse = rng.Chance(65);
  sw.verbose = rng.Chance(50);
  sw.erase = erase;
  sw.dests = !tree.dests.empty() && rng.Chance(60);
  return sw;
}

std::vector<std::wstring> RunArgs(const RandomTree &tree,
                                  const RunSwitches &sw) {
  std::wstring switches = L"-";
  if (sw.all) switches += L"a";
  if (sw.recurse) switches += L"r";
  if (sw.verbose) switches += L"v";
  if (sw.erase) switches += L"d";
  std::vector<std::wstring> args;
  if (switches.size() > 1) args.push_back(switches);
  args.push_back(FullText(tree, tree.source));
  if (sw.dests) {
    for (const TreeParam &p : tree.dests) args.push_back(p.text);
  }
  return args;
}

std::string DescribeSwitches(const RunSwitches &sw) {
  std::string s;
  if (sw.all) s += " -a";
  if (sw.recurse) s += " -r";
  if (sw.verbose) s += " -v";
  if (sw.erase) s += " -d";
  s += sw.dests ? " (destination mode)" : " (single-directory mode)";
  return s;
}

// ---- the model of a run ---------------------------------------------------

namespace {

// NTFS order: names compared with ASCII letters as upper case (a name that
// is a prefix of another first), then by code point.
bool ListsBefore(const std::wstring &a, const std::wstring &b) {
  const std::wstring ua = FoldAscii(a), ub = FoldAscii(b);
  if (ua != ub) return ua < ub;
  return a < b;
}

struct Record {
  RelPath at;         // where the file is
  std::wstring text;  // the path the scan built
  bool inSource;
  int inode;
  uint64_t size;
  bool held;            // its hashing fails
  bool aside;           // another record of the same file stands for it
  size_t parm = 0;      // the parameter whose scan found it (0: source)
  bool shown = false;   // aside, but shown in its set: a source name of a
                        // read-only file
  bool hashed = false;  // the last hashing of it succeeded
  bool displayed = false;
};

struct Model {
  const RandomTree &t;
  const RunSwitches &sw;
  std::map<RelPath, FsNode> fs;
  std::string out;
  std::vector<Record> recs;  // source records first, in scan order
  std::set<uint64_t> sourceSizes;

  void Line(const std::wstring &text) { out += ModelLineBytes(text); }
  void PathLine(const wchar_t *prefix, const std::wstring &path) {
    Line(prefix + (L"\"" + ModelShownPath(path, true) + L"\""));
  }

  uint64_t Size(const FsNode &n) const {
    return n.kind == NodeKind::kFile ? t.contents[n.inode].size() : 0;
  }

  std::vector<RelPath> Children(const RelPath &dir, bool listedOnly) const {
    std::vector<RelPath> list;
    for (const auto &[rel, node] : fs) {
      if (rel.size() == dir.size() + 1 &&
          std::equal(dir.begin(), dir.end(), rel.begin()) &&
          !(listedOnly && node.kind == NodeKind::kFifo))
        list.push_back(rel);
    }
    std::sort(list.begin(), list.end(), [](const RelPath &a, const RelPath &b) {
      return ListsBefore(a.back(), b.back());
    });
    return list;
  }

  void Scan(const RelPath &dir, const std::wstring &text, bool source,
            size_t parm) {
    const std::vector<RelPath> entries = Children(dir, true);
    for (const RelPath &e : entries) {
      const FsNode &n = fs.at(e);
      const uint64_t size = Size(n);
      if (n.kind != NodeKind::kFile || size == 0) continue;
      if (n.hidden && !sw.all) continue;
      if (!source && !sourceSizes.count(size)) continue;
      recs.push_back({e, text + kPathSep + e.back(), source, n.inode, size,
                      n.held, false, parm});
      if (source) sourceSizes.insert(size);
    }
    if (!sw.recurse) return;
    for (const RelPath &e : entries) {
      if (fs.at(e).kind == NodeKind::kDir)
        Scan(e, text + kPathSep + e.back(), source, parm);
    }
  }

  // Destination parm's directory lies above the source's.
  bool HoldsSource(size_t parm) const {
    const RelPath &dir = t.dests[parm - 1].dir;
    return dir.size() < t.source.size() &&
           std::equal(dir.begin(), dir.end(), t.source.begin());
  }

  // One record per file among those hashed: a source file's first source
  // record when the source reaches it and every destination reaching it
  // holds the source; else a destination file's first record. Its other
  // source names of another spelling are still shown.
  void SetAside(const std::vector<size_t> &group) {
    std::map<int, std::vector<size_t>> names;
    for (size_t i : group) {
      recs[i].aside = recs[i].shown = false;
      if (recs[i].hashed) names[recs[i].inode].push_back(i);
    }
    for (const auto &[inode, list] : names) {
      bool source = false, held = true;
      for (size_t i : list) {
        source = source || recs[i].inSource;
        held = held && (recs[i].inSource || HoldsSource(recs[i].parm));
      }
      source = source && held;
      size_t keep = list[0];
      for (size_t i : list) {
        if (recs[i].inSource != source) continue;
        keep = i;
        break;
      }
      for (size_t i : list) {
        if (i == keep) continue;
        recs[i].aside = true;
        recs[i].shown =
            !source && recs[i].inSource && recs[i].text != recs[keep].text;
      }
    }
  }

  void HashFailed(const Record &r, DWORD code) {
    SetLastError(code);
    wchar_t text[ERROR_TEXT_CAPACITY];
    SystemErrorText(text, ERROR_TEXT_CAPACITY);
    wchar_t hex[16];
    swprintf(hex, 16, L"%x", (unsigned)code);
    Line(L"ComputeSHA256 failed (0x" + std::wstring(hex) + L"): \"" +
         ModelShownPath(r.text, false) + L"\" " + text);
  }

  // Hashing fails for a file held open, and for one erased by an earlier
  // block (a group is hashed again while its first file fails).
  void HashGroup(const std::vector<size_t> &group) {
    for (size_t i : group) {
      Record &r = recs[i];
      r.hashed = !r.held && fs.count(r.at) != 0;
      if (r.held) HashFailed(r, ERROR_SHARING_VIOLATION);
      if (!r.held && !r.hashed) HashFailed(r, ERROR_FILE_NOT_FOUND);
    }
    SetAside(group);
  }

  bool InSet(const Record &x, const Record &r) const {
    return !x.displayed && x.hashed && (!x.aside || x.shown) &&
           t.contents[x.inode] == t.contents[r.inode];
  }

  // The block of source record s's set, when it has one.
  void Block(const std::vector<size_t> &group, Record &r) {
    if (!r.hashed || (r.aside && !r.shown)) return;
    std::vector<size_t> set;
    size_t src = 0, dst = 0, shown = 0, lastMatch = 0;
    for (size_t i : group) {
      if (!InSet(recs[i], r)) continue;
      set.push_back(i);
      if (recs[i].shown) {
        shown++;
        continue;
      }
      lastMatch = i;
      (recs[i].inSource ? src : dst)++;
    }
    const bool showNames = sw.verbose && shown > 0;
    if (src + dst < 2 || (src == 0 && !showNames)) return;
    if (sw.dests && dst == 0 && !sw.verbose) return;
    Line(L"");
    if (sw.verbose) {
      const std::string sha = Sha256Hex(t.contents[r.inode]);
      Line(L"REM FileSize=" + std::to_wstring(r.size) + L" Hash=" +
           std::wstring(sha.begin(), sha.end()));
    }
    for (size_t i : set) {
      Record &x = recs[i];
      const bool erase =
          !x.shown && (sw.dests ? dst > 0 && x.inSource : i != lastMatch);
      PathLine(erase ? L"del " : L"REM ", x.text);
      x.displayed = true;
      if (erase && sw.erase) fs.erase(x.at);
    }
  }

  // Each source record in scan order: its group is hashed at the first
  // visit, and again at each later one while the group's first file fails
  // to hash; then the record's set gets its block, once.
  void Report() {
    std::map<uint64_t, std::vector<size_t>> groups;
    for (size_t i = 0; i < recs.size(); i++) groups[recs[i].size].push_back(i);
    std::set<uint64_t> hashedOnce;
    for (size_t s = 0; s < recs.size() && recs[s].inSource; s++) {
      const std::vector<size_t> &group = groups[recs[s].size];
      if (group.size() < 2) continue;
      if (hashedOnce.insert(recs[s].size).second || !recs[group[0]].hashed)
        HashGroup(group);
      Block(group, recs[s]);
    }
  }

  void RemoveDir(const RelPath &dir, const std::wstring &text, bool quiet) {
    if (Children(dir, false).empty()) {
      fs.erase(dir);
    } else if (!quiet) {
      Line(L"RemoveDirectory failed (145): \"" + ModelShownPath(text, false) +
           L"\" : The directory is not empty.");
    }
  }

  // A destination's directory (also the source by another route) holds
  // data for the purge, which neither enters nor removes it.
  bool IsDestination(const RelPath &dir) const {
    if (!sw.dests) return false;
    for (const TreeParam &p : t.dests)
      if (p.dir == dir) return true;
    return false;
  }

  uint64_t Purge(const RelPath &dir, const std::wstring &text) {
    if (IsDestination(dir)) return 1;
    const std::vector<RelPath> entries = Children(dir, true);
    uint64_t own = 0;
    for (const RelPath &e : entries) own += Size(fs.at(e));
    // A link is kept: it counts as data, so its folder stays.
    for (const RelPath &e : entries)
      if (fs.at(e).kind == NodeKind::kSymlink) own++;
    if (own == 0) {
      for (const RelPath &e : entries) {
        if (fs.at(e).kind == NodeKind::kDir) continue;
        if (sw.verbose) Line(L"REM Erase zero size file");
        PathLine(L"del ", text + kPathSep + e.back());
        fs.erase(e);
      }
    }
    uint64_t total = own;
    for (const RelPath &e : entries) {
      if (fs.count(e) == 0 || fs.at(e).kind != NodeKind::kDir) continue;
      const std::wstring child = text + kPathSep + e.back();
      const uint64_t sub = Purge(e, child);
      total += sub;
      if (sub == 0) {
        PathLine(L"rd  ", child);
        RemoveDir(e, child, false);
      }
    }
    return total;
  }

  void Run() {
    const std::wstring srcText = FullText(t, t.source);
    Scan(t.source, srcText, true, 0);
    if (sw.dests) {
      for (size_t i = 0; i < t.dests.size(); i++) {
        const TreeParam &p = t.dests[i];
        if (p.sameTextAsSource) {
          out += "Err: Source and destination directories are same, stopping";
          return;
        }
        Scan(p.dir, p.text, false, i + 1);
      }
    }
    Report();
    if (sourceSizes.empty()) Line(L"No files found");
    if (!(sw.recurse && sw.erase)) return;
    Line(L"");
    if (Purge(t.source, srcText) == 0) {
      PathLine(L"rd  ", srcText);
      RemoveDir(t.source, srcText, true);
    }
  }
};

// ---- SHA-256 ----------------------------------------------------------------

const uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1,
    0x923f82a4, 0xab1c5ed5, 0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3,
    0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174, 0xe49b69c1, 0xefbe4786,
    0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147,
    0x06ca6351, 0x14292967, 0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13,
    0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85, 0xa2bfe8a1, 0xa81a664b,
    0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a,
    0x5b9cca4f, 0x682e6ff3, 0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208,
    0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

uint32_t Rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

void Compress(uint32_t h[8], const unsigned char *block) {
  uint32_t w[64];
  for (int i = 0; i < 16; i++)
    w[i] = (uint32_t)block[4 * i] << 24 | (uint32_t)block[4 * i + 1] << 16 |
           (uint32_t)block[4 * i + 2] << 8 | (uint32_t)block[4 * i + 3];
  for (int i = 16; i < 64; i++) {
    const uint32_t s0 =
        Rotr(w[i - 15], 7) ^ Rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
    const uint32_t s1 =
        Rotr(w[i - 2], 17) ^ Rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
    w[i] = w[i - 16] + s0 + w[i - 7] + s1;
  }
  uint32_t v[8];
  std::copy(h, h + 8, v);
  for (int i = 0; i < 64; i++) {
    const uint32_t s1 = Rotr(v[4], 6) ^ Rotr(v[4], 11) ^ Rotr(v[4], 25);
    const uint32_t ch = (v[4] & v[5]) ^ (~v[4] & v[6]);
    const uint32_t t1 = v[7] + s1 + ch + kRound[i] + w[i];
    const uint32_t s0 = Rotr(v[0], 2) ^ Rotr(v[0], 13) ^ Rotr(v[0], 22);
    const uint32_t maj = (v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]);
    std::copy_backward(v, v + 7, v + 8);
    v[4] += t1;
    v[0] = t1 + s0 + maj;
  }
  for (int i = 0; i < 8; i++) h[i] += v[i];
}

}  // namespace

ModelResult ModelRun(const RandomTree &tree, const RunSwitches &sw) {
  Model m{tree, sw, tree.nodes, {}, {}, {}};
  m.Run();
  return {m.out, m.fs};
}

std::string Sha256Hex(const std::string &bytes) {
  uint32_t h[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                   0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  std::string data = bytes;
  const uint64_t bits = (uint64_t)bytes.size() * 8;
  data.push_back('\x80');
  while (data.size() % 64 != 56) data.push_back('\0');
  for (int i = 7; i >= 0; i--) data.push_back((char)(bits >> (8 * i)));
  for (size_t at = 0; at < data.size(); at += 64)
    Compress(h, reinterpret_cast<const unsigned char *>(data.data()) + at);
  char hex[65];
  for (int i = 0; i < 8; i++) snprintf(hex + 8 * i, 9, "%08X", h[i]);
  return std::string(hex, 64);
}
