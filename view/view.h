// twinsift-view: a saved TwinSift report read into records, and the one
// self-contained HTML page that shows it. Reading, looking up and writing
// are separate steps, so the reader and the page can be tested on text
// alone.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// ---- Records ----

// How a report shows its paths: which build wrote it.
enum ReportStyle {
  kStyleLinux,   // UTF-8, LF; '"', '\\' and control characters as \xHH
  kStyleWindows  // the console's code page, CR LF; '%' doubled in commands
};

// What one line of the report says.
enum ReportLineKind {
  kLineKept,       // REM "path": a copy kept
  kLineErase,      // del "path" in a set: a copy to erase
  kLineHeader,     // REM FileSize=N Hash=HEX
  kLineNotErased,  // REM Not erased, <any reason>
  kLineFailure,    // ComputeSHA256, DeleteFile or RemoveDirectory failed
  kLinePurgeFile,  // del "path" of the empty-folder purge
  kLinePurgeDir,   // rd  "path" of the empty-folder purge
  kLineNote,       // a line of the program's own that is no command
  kLineText        // a line not recognised: shown as it is
};

// What the file a line names looks like now (LookUpReportFiles).
struct FileState {
  int exists = 0;          // 1 when a file of that exact name is there
  uint64_t size = 0;       // bytes, when it exists
  uint64_t writeTime = 0;  // last write, 100 ns ticks since 1601 (UTC)
};

struct ReportLine {
  ReportLineKind kind = kLineText;
  std::wstring text;   // the line as read, without its line end
  std::wstring shown;  // its path for the eye: quotes, '\\' and '%' as
                       // typed, what cannot show as the report escapes it;
                       // empty when the line names no path
  std::wstring path;   // its path for the file system: every escape undone
  FileState file;
};

// What a block of lines between two empty lines is.
enum ReportBlockKind {
  kBlockSet,    // one set of identical files: at least one copy kept
  kBlockPurge,  // the purge's "del" and "rd" lines
  kBlockText    // anything else (failures, notes, unrecognised text)
};

struct ReportBlock {
  ReportBlockKind kind = kBlockText;
  int sizeKnown = 0;  // the header's size, or a member's size on disk
  uint64_t size = 0;  // the size of each file of the set
  std::vector<ReportLine> lines;
};

struct Report {
  ReportStyle style = kStyleLinux;
  std::vector<ReportBlock> blocks;  // in the report's order
};

// The figures at the top of the page.
struct ReportTotals {
  uint64_t sets = 0;
  uint64_t toErase = 0;
  uint64_t kept = 0;
  uint64_t bytes = 0;         // freed by the copies to erase of known size
  uint64_t unknownSizes = 0;  // copies to erase whose size is unknown
};

// ---- The reader (view/reader.cpp) ----

// Reads the bytes of a saved report into *report: CR LF line ends make it
// the Windows build's, else the Linux build's; the text is decoded as this
// build's standard output is encoded. Returns 1, or 0 when the bytes are no
// TwinSift report (a NUL byte, or text without any line the program
// writes); an empty report is one without sets.
int ParseReport(const std::string &bytes, Report *report);

// The kind of one line, line end removed, and its path in both forms
// (empty when it names none). Can't fail.
ReportLineKind ClassifyLine(const std::wstring &text, ReportStyle style,
                            std::wstring *shown, std::wstring *path);

// Looks up every file a line of the report names, through the platform's
// directory look-up, and gives each set its size from a member still there
// when no header told it. A file that is gone stays exists == 0. Can't
// fail.
void LookUpReportFiles(Report *report);

// The totals of the report's sets. Can't fail.
ReportTotals CountReport(const Report &report);

// ---- The page (view/page.cpp, view/html.cpp) ----

// The whole HTML page of the report, UTF-8; title names the report.
// Can't fail.
std::string ReportPage(const Report &report, const std::wstring &title);

// text escaped for HTML text and quoted attribute values, as UTF-8.
// Can't fail.
std::string HtmlEscape(const std::wstring &text);

// The file URL of a path in a report of that style, every byte outside
// the unreserved characters and '/' percent-encoded. Can't fail.
std::string FileUrl(const std::wstring &path, ReportStyle style);

// Text as UTF-8: U+DC80..U+DCFF (a name's byte that is no UTF-8) back to
// its byte when raw, else U+FFFD like any other lone surrogate. Can't fail.
std::string Utf8(const std::wstring &text, int raw);

// The page's name for a report: its extension (if any) replaced by
// ".html". Can't fail.
std::wstring PageNameFor(const std::wstring &report);
