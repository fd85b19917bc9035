// Trees at scale, end to end: a tree as deep as the build's paths allow, a
// directory of very many entries, and one size group of many files. Each
// run must finish with the exact report, without running out of stack or
// memory.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/harness.h"

namespace {

// The Windows build joins with '\' and runs its tests under Wine. Wine
// resolves every component of a path against Linux's case-sensitive names
// and looks a new name up in the whole of its directory, so a deep tree or
// a huge directory costs it time that grows with the square of its size:
// those two cases run smaller there (a minute each on 2 cores), the paths
// of the deep tree still past MAX_PATH through the "\\?\" form.
const bool kWindowsBuild = kPathSep == L'\\';

const size_t kMaxDepth = kWindowsBuild ? 500 : 2000;
// Longest path the deep tree may need, in characters.
const size_t kLongestPath = kWindowsBuild ? 4000 : 4095;
// Entries of the one wide directory, and files of the one size group.
const size_t kWideDirEntries = kWindowsBuild ? 10000 : 200000;
const size_t kGroupFiles = 10000;

std::string Del(const std::wstring &p) { return "del \"" + P(p) + "\""; }
std::string Rem(const std::wstring &p) { return "REM \"" + P(p) + "\""; }
std::string Rd(const std::wstring &p) { return "rd  \"" + P(p) + "\""; }

// prefix, then n in decimal zero-filled to width digits.
std::string Num(const char *prefix, size_t n, int width) {
  char text[64];
  snprintf(text, sizeof text, "%s%0*zu", prefix, width, n);
  return text;
}

// At most 160 bytes of text from pos on, for a failure message.
std::string Excerpt(const std::string &text, size_t pos) {
  return pos < text.size() ? text.substr(pos, 160) : "(end of output)";
}

// Compares out with the expected lines and names the first line that
// differs, so that a failure does not print megabytes of output.
void ExpectLines(const std::string &out,
                 const std::vector<std::string> &lines) {
  const std::string expected = Lines(lines);
  if (out == expected) return;
  const size_t limit = std::min(out.size(), expected.size());
  size_t pos = 0;
  while (pos < limit && out[pos] == expected[pos]) pos++;
  const size_t lineStart = expected.rfind('\n', pos == 0 ? 0 : pos - 1);
  const size_t from = lineStart == std::string::npos ? 0 : lineStart + 1;
  const size_t line =
      (size_t)std::count(expected.data(), expected.data() + from, '\n');
  ADD_FAILURE() << "output differs in line " << line + 1 << " of "
                << lines.size() << "\n  expected: " << Excerpt(expected, from)
                << "\n  actual:   " << Excerpt(out, from);
}

class LargeTest : public E2ETest {
 protected:
  // A file at an absolute path; a failure is a broken fixture.
  static bool Write(const std::wstring &path, const std::string &bytes) {
    if (WriteBytes(path, bytes)) return true;
    ADD_FAILURE() << "broken fixture: cannot write " << P(path);
    return false;
  }

  static bool Mkdir(const std::wstring &path) {
    if (MakeDir(path)) return true;
    ADD_FAILURE() << "broken fixture: cannot make " << P(path);
    return false;
  }

  // src and one directory "d" below the other, each holding a zero-size
  // file "z", as deep as kMaxDepth or the path length allows. Returns the
  // levels, src first.
  std::vector<std::wstring> MakeDeepTree(const std::wstring &src) {
    const size_t room = kLongestPath - std::min(kLongestPath, src.size() + 2);
    const size_t depth = std::min(kMaxDepth, room / 2);
    std::vector<std::wstring> levels = {src};
    if (!Mkdir(src) || !Write(JoinPath(src, L"z"), "")) return {};
    for (size_t i = 0; i < depth; i++) {
      levels.push_back(JoinPath(levels.back(), L"d"));
      if (!Mkdir(levels.back())) return {};
      if (!Write(JoinPath(levels.back(), L"z"), "")) return {};
    }
    if (depth < kMaxDepth) {
      printf(
          "[   INFO   ] tree depth %zu: paths on this build stay within "
          "%zu characters\n",
          depth, kLongestPath);
    }
    return levels;
  }
};

// A duplicate pair at the bottom is reported. With a kept copy in a
// destination, -r -d erases both source copies, and the purge then erases
// the zero-size file of every level and removes every level, bottom first.
TEST_F(LargeTest, DeepTreeIsScannedReportedAndPurged) {
  const std::vector<std::wstring> levels = MakeDeepTree(At("src"));
  ASSERT_FALSE(levels.empty());
  const std::wstring &src = levels.front(), &bottom = levels.back();
  const std::wstring a = JoinPath(bottom, L"a"), b = JoinPath(bottom, L"b");
  const std::wstring kept = MakeFile("dst/c", "twin");
  ASSERT_TRUE(Write(a, "twin") && Write(b, "twin"));

  RunResult r = RunTwinSift({L"-r", src});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  ExpectLines(r.out, {"", Del(a), Rem(b)});

  std::vector<std::string> expect = {"", Del(a), Del(b), Rem(kept), ""};
  for (const std::wstring &level : levels) {
    expect.push_back(Del(JoinPath(level, L"z")));
  }
  for (size_t i = levels.size(); i-- > 0;) expect.push_back(Rd(levels[i]));
  r = RunTwinSift({L"-r", L"-d", src, At("dst")});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  ExpectLines(r.out, expect);
  EXPECT_FALSE(PathExists(src));
  EXPECT_TRUE(PathExists(kept));
}

// Zero-size files fill the directory (names of a few empty files, the
// cheapest entries to make); a few pairs among them are reported, each pair
// in the order its first copy is listed.
TEST_F(LargeTest, DirectoryOfManyEntriesIsScannedAndReported) {
  const std::wstring dir = MakeSubdir("wide");
  const size_t kPairs = 10;
  const size_t kLinksPerFile = 1000;  // file systems cap the links of a file
  std::wstring empty;
  for (size_t i = 0; i < kWideDirEntries - 2 * kPairs; i++) {
    if (i % kLinksPerFile == 0) {
      empty = MakeEmptyFile(Num("empty/", i / kLinksPerFile, 3));
    }
    const std::wstring entry = JoinPath(dir, W(Num("z", i, 6)));
    if (!MakeHardLink(empty, entry)) {
      ASSERT_TRUE(Write(entry, ""));
    }
  }
  std::vector<std::string> expect;
  for (size_t k = 0; k < kPairs; k++) {
    const std::wstring a = JoinPath(dir, W(Num("a", k, 2)));
    const std::wstring b = JoinPath(dir, W(Num("b", k, 2)));
    ASSERT_TRUE(Write(a, Num("pair ", k, 2)) && Write(b, Num("pair ", k, 2)));
    expect.insert(expect.end(), {"", Del(a), Rem(b)});
  }
  RunResult r = RunTwinSift({dir});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  ExpectLines(r.out, expect);
}

// One size group: every file hashed, only the copies reported, in the
// order of their first copy.
TEST_F(LargeTest, SizeGroupOfManyFilesIsHashedAndReported) {
  const std::wstring dir = MakeSubdir("group");
  const std::vector<size_t> twins = {0, 17, kGroupFiles / 4, kGroupFiles / 2,
                                     kGroupFiles - 6};
  const size_t distinct = kGroupFiles - twins.size();
  for (size_t i = 0; i < distinct; i++) {
    ASSERT_TRUE(Write(JoinPath(dir, W(Num("f", i, 5))), Num("", i, 8)));
  }
  std::vector<std::string> expect;
  for (size_t k : twins) {
    const std::wstring copy = JoinPath(dir, W(Num("g", k, 5)));
    ASSERT_TRUE(Write(copy, Num("", k, 8)));
    expect.insert(expect.end(),
                  {"", Del(JoinPath(dir, W(Num("f", k, 5)))), Rem(copy)});
  }
  RunResult r = RunTwinSift({dir});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  ExpectLines(r.out, expect);
}

}  // namespace
