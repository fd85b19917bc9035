// twinsift-view's reader and page on both builds' reports: kinds of lines,
// escapes undone, blocks, totals, file URLs and hostile names.
#include <gtest/gtest.h>

#include <string>

#include "support/harness.h"
#include "view/view.h"

namespace {

// A verbose Linux report with hostile names, an unknown "REM Not erased"
// reason, failures, a line of other text and the purge.
const char kLinuxReport[] =
    "\n"
    "REM FileSize=341 Hash=00AB\n"
    "del \"/p/card/<b id=\\x22x\\x22>&amp;\\x22q'%41#?.jpg\"\n"
    "del \"/p/card/line\\x0Abreak \\x5C.jpg\"\n"
    "REM Not erased, a reason added later: \"/p/card/line\\x0Abreak "
    "\\x5C.jpg\"\n"
    "DeleteFile failed (5): \"/p/card/x.jpg\" : Access is denied.\n"
    "REM \"/p/lib/a.jpg\"\n"
    "\n"
    "del \"/p/card/b.jpg\"\n"
    "REM \"/p/lib/b.jpg\"\n"
    "Some debug text\n"
    "ComputeSHA256 failed (0x5): \"/p/card/c\\x22.jpg\" Access is denied.\n"
    "\n"
    "REM Erase zero size file\n"
    "del \"/p/card/empty/z.txt\"\n"
    "rd  \"/p/card/empty\"\n"
    "RemoveDirectory failed (145): \"/p/card\" : The directory is not "
    "empty.\n";

// The Windows build's: CR LF, '%' doubled in commands only, a "\\?\" path.
const char kWindowsReport[] =
    "\r\n"
    "del \"C:\\Pics\\100%%\\a.jpg\"\r\n"
    "del \"\\\\?\\C:\\Pics\\long\\b.jpg\"\r\n"
    "REM \"D:\\Library\\a.jpg\"\r\n"
    "DeleteFile failed (5): \"C:\\Pics\\100%\\x41.jpg\" : Access is "
    "denied.\r\n"
    "\r\n"
    "rd  \"C:\\Pics\\100%%\\empty\"\r\n";

std::vector<ReportLineKind> Kinds(const ReportBlock &b) {
  std::vector<ReportLineKind> kinds;
  for (const ReportLine &l : b.lines) kinds.push_back(l.kind);
  return kinds;
}

TEST(ViewReader, LinuxReportIntoSetsPurgeAndTotals) {
  Report r;
  ASSERT_TRUE(ParseReport(kLinuxReport, &r));
  EXPECT_EQ(r.style, kStyleLinux);
  ASSERT_EQ(r.blocks.size(), 3u);
  EXPECT_EQ(r.blocks[0].kind, kBlockSet);
  EXPECT_EQ(Kinds(r.blocks[0]), (std::vector<ReportLineKind>{
                                    kLineHeader, kLineErase, kLineErase,
                                    kLineNotErased, kLineFailure, kLineKept}));
  EXPECT_TRUE(r.blocks[0].sizeKnown);
  EXPECT_EQ(r.blocks[0].size, 341u);
  EXPECT_EQ(Kinds(r.blocks[1]),
            (std::vector<ReportLineKind>{kLineErase, kLineKept, kLineText,
                                         kLineFailure}));
  EXPECT_EQ(r.blocks[1].lines[2].text, L"Some debug text");
  EXPECT_EQ(r.blocks[2].kind, kBlockPurge);
  EXPECT_EQ(Kinds(r.blocks[2]),
            (std::vector<ReportLineKind>{kLineNote, kLinePurgeFile,
                                         kLinePurgeDir, kLineFailure}));
  const ReportTotals t = CountReport(r);
  EXPECT_EQ(t.sets, 2u);
  EXPECT_EQ(t.toErase, 3u);
  EXPECT_EQ(t.kept, 2u);
  EXPECT_EQ(t.bytes, 682u);
  EXPECT_EQ(t.unknownSizes, 1u);  // the second set has no header
}

TEST(ViewReader, LinuxEscapesUndoneForTheFileShownForTheEye) {
  Report r;
  ASSERT_TRUE(ParseReport(kLinuxReport, &r));
  const ReportBlock &b = r.blocks[0];
  EXPECT_EQ(b.lines[1].path, L"/p/card/<b id=\"x\">&amp;\"q'%41#?.jpg");
  EXPECT_EQ(b.lines[1].shown, b.lines[1].path);
  EXPECT_EQ(b.lines[2].path, L"/p/card/line\nbreak \\.jpg");
  EXPECT_EQ(b.lines[2].shown, L"/p/card/line\\x0Abreak \\.jpg");
  EXPECT_EQ(b.lines[3].path, b.lines[2].path);  // whatever the reason
  EXPECT_EQ(r.blocks[1].lines[3].path, L"/p/card/c\".jpg");
  EXPECT_EQ(r.blocks[2].lines[2].path, L"/p/card/empty");
}

TEST(ViewReader, WindowsReportWithCrLfAndDoubledPercent) {
  Report r;
  ASSERT_TRUE(ParseReport(kWindowsReport, &r));
  EXPECT_EQ(r.style, kStyleWindows);
  ASSERT_EQ(r.blocks.size(), 2u);
  const ReportBlock &set = r.blocks[0];
  EXPECT_EQ(set.kind, kBlockSet);
  EXPECT_EQ(set.lines[0].path, L"C:\\Pics\\100%\\a.jpg");
  EXPECT_EQ(set.lines[0].shown, L"C:\\Pics\\100%\\a.jpg");
  EXPECT_EQ(set.lines[1].path, L"\\\\?\\C:\\Pics\\long\\b.jpg");
  EXPECT_EQ(set.lines[2].kind, kLineKept);
  // A failure line is no command: its '%' stands alone, "\x41" is a name.
  EXPECT_EQ(set.lines[3].kind, kLineFailure);
  EXPECT_EQ(set.lines[3].path, L"C:\\Pics\\100%\\x41.jpg");
  EXPECT_EQ(set.lines[3].text.back(), L'.');  // CR gone
  EXPECT_EQ(r.blocks[1].kind, kBlockPurge);
  EXPECT_EQ(r.blocks[1].lines[0].path, L"C:\\Pics\\100%\\empty");
  // A name the code page could not hold: its tile says so.
  ASSERT_TRUE(
      ParseReport("\r\ndel \"C:\\||.jpg\"\r\nREM \"D:\\a.jpg\"\r\n", &r));
  const std::string page = ReportPage(r, L"dups.bat");
  EXPECT_EQ(CountOf(page, "<small>name not in the code page</small>"), 1u);
  EXPECT_EQ(CountOf(page, "<small>not found</small>"), 1u);
}

TEST(ViewReader, NamesInTheBuildsOwnEncoding) {
  const std::wstring kept = L"/p/caf\u00e9.jpg",
                     erased = L"/p/d\u00e9j\u00e0.jpg";
  Report r;
  ASSERT_TRUE(ParseReport(
      Lines({"", "del \"" + P(erased) + "\"", "REM \"" + P(kept) + "\""}), &r));
  ASSERT_EQ(r.blocks.size(), 1u);
  EXPECT_EQ(r.blocks[0].lines[0].path, erased);
  EXPECT_EQ(r.blocks[0].lines[1].path, kept);
}

TEST(ViewReader, WhatIsNoReport) {
  Report r;
  EXPECT_FALSE(ParseReport(std::string("del \"a\"\n\0\1", 10), &r));
  EXPECT_FALSE(ParseReport("Dear diary,\nnothing happened today.\n", &r));
  // What a run without duplicates writes is a report without sets.
  EXPECT_TRUE(ParseReport("", &r));
  EXPECT_TRUE(ParseReport("\n", &r));
  EXPECT_TRUE(r.blocks.empty());
  // One line the program writes makes the rest shown text.
  ASSERT_TRUE(ParseReport("Dear diary,\nNo files found\n", &r));
  ASSERT_EQ(r.blocks.size(), 1u);
  EXPECT_EQ(Kinds(r.blocks[0]),
            (std::vector<ReportLineKind>{kLineText, kLineNote}));
}

TEST(ViewPage, FileUrlsOfBothBuilds) {
  EXPECT_EQ(FileUrl(L"/p/a b#?%.jpg", kStyleLinux),
            "file:///p/a%20b%23%3F%25.jpg");
  EXPECT_EQ(FileUrl(L"/p/<\"x\">\n&'.jpg", kStyleLinux),
            "file:///p/%3C%22x%22%3E%0A%26%27.jpg");
  EXPECT_EQ(FileUrl(L"/p/caf\u00e9\xDCFF.jpg", kStyleLinux),
            "file:///p/caf%C3%A9%FF.jpg");  // a name's byte that is no UTF-8
  EXPECT_EQ(FileUrl(L"C:\\Pics\\100%\\a.jpg", kStyleWindows),
            "file:///C:/Pics/100%25/a.jpg");
  EXPECT_EQ(FileUrl(L"\\\\?\\C:\\Pics\\b.jpg", kStyleWindows),
            "file:///C:/Pics/b.jpg");
  EXPECT_EQ(FileUrl(L"\\\\?\\UNC\\srv\\share\\c d.jpg", kStyleWindows),
            "file://srv/share/c%20d.jpg");
  EXPECT_EQ(FileUrl(L"\\\\srv\\share\\\u00e9.jpg", kStyleWindows),
            "file://srv/share/%C3%A9.jpg");
}

TEST(ViewPage, HostileNamesStayTextAndEveryLineIsShown) {
  Report r;
  ASSERT_TRUE(ParseReport(kLinuxReport, &r));
  const std::string page = ReportPage(r, L"<dups>.bat");
  EXPECT_EQ(CountOf(page, "<figure"), 5u);
  EXPECT_EQ(CountOf(page, "class=\"file keep\""), 2u);
  EXPECT_EQ(CountOf(page, "<script"), 1u);
  EXPECT_EQ(CountOf(page, "<b "), 0u);
  EXPECT_EQ(CountOf(page, "<dups>"), 0u);
  EXPECT_NE(
      page.find("&lt;b id=&quot;x&quot;&gt;&amp;amp;&quot;q&#39;%41#?.jpg"),
      std::string::npos);
  EXPECT_NE(page.find("line\\x0Abreak \\.jpg"), std::string::npos);
  EXPECT_NE(page.find("data-sets=\"2\" data-erase=\"3\" data-bytes=\"682\" "
                      "data-kept=\"2\""),
            std::string::npos);
  for (const char *line :
       {">Some debug text<", ">REM Erase zero size file<",
        ">rd  &quot;/p/card/empty&quot;<", ">REM Not erased, a reason added",
        ">RemoveDirectory failed (145): ", ">DeleteFile failed (5): "})
    EXPECT_NE(page.find(line), std::string::npos) << line;
}

TEST(ViewPage, PageNames) {
  EXPECT_EQ(PageNameFor(L"dups.bat"), L"dups.html");
  EXPECT_EQ(PageNameFor(L"a.d/dups"), L"a.d/dups.html");
  EXPECT_EQ(PageNameFor(L"C:\\a.b\\dups"), L"C:\\a.b\\dups.html");
  EXPECT_EQ(PageNameFor(L".report"), L".report.html");
}

class ViewLookUp : public E2ETest {};

// Sizes and presence come from the files themselves; a set without a
// header takes its size from a member that is still there.
TEST_F(ViewLookUp, FilesStillThereAndGone) {
  const std::wstring kept = MakeFile("lib/a.jpg", "12345");
  const std::wstring gone = At("card/a.jpg");
  Report r;
  ASSERT_TRUE(ParseReport(
      Lines({"", "del \"" + P(gone) + "\"", "REM \"" + P(kept) + "\""}), &r));
  LookUpReportFiles(&r);
  const ReportBlock &b = r.blocks[0];
  EXPECT_FALSE(b.lines[0].file.exists);
  EXPECT_TRUE(b.lines[1].file.exists);
  EXPECT_EQ(b.lines[1].file.size, 5u);
  EXPECT_GT(b.lines[1].file.writeTime, 0u);
  EXPECT_EQ(CountReport(r).bytes, 5u);
  const std::string page = ReportPage(r, L"dups.bat");
  EXPECT_EQ(CountOf(page, "<img "), 1u);  // the file gone gets a tile
  EXPECT_EQ(CountOf(page, "<small>not found</small>"), 1u);
}

}  // namespace
