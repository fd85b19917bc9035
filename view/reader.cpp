// The reader of a saved report: lines into kinds and paths, lines into
// blocks, blocks into sets and the purge, and the files looked up.
#include <cwchar>
#include <string>

#include "platform/platform.h"
#include "view/view.h"

namespace {

bool StartsWith(const std::wstring &s, const wchar_t *prefix) {
  return s.compare(0, wcslen(prefix), prefix) == 0;
}

int HexValue(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  return -1;
}

// The byte of a \xHH escape at s[i], or -1 when none starts there.
int EscapeAt(const std::wstring &s, size_t i) {
  if (i + 4 > s.size() || s[i] != L'\\' || s[i + 1] != L'x') return -1;
  const int hi = HexValue(s[i + 2]), lo = HexValue(s[i + 3]);
  return hi < 0 || lo < 0 ? -1 : hi * 16 + lo;
}

// A run of \xHH escapes from s[*i]: the bytes decoded as the report was
// encoded onto *path; printable ASCII ('"', '\\') as typed onto *shown, the
// rest as the report shows it. Can't fail.
void UndoEscapeRun(const std::wstring &s, size_t *i, std::wstring *shown,
                   std::wstring *path) {
  std::string bytes;
  for (int b = EscapeAt(s, *i); b >= 0; b = EscapeAt(s, *i)) {
    bytes.push_back((char)b);
    if (b >= 0x20 && b < 0x7F)
      shown->push_back((wchar_t)b);
    else
      shown->append(s, *i, 4);
    *i += 4;
  }
  *path += DecodeOutputText(bytes.data(), bytes.size());
}

// The report's form of a path into both forms. The Linux build escapes
// every '\\' it prints, so each \xHH is an escape; the Windows build only
// doubles '%' in a command line. Can't fail.
void UndoEscapes(const std::wstring &raw, ReportStyle style, int commandLine,
                 std::wstring *shown, std::wstring *path) {
  size_t i = 0;
  while (i < raw.size()) {
    if (style == kStyleLinux && EscapeAt(raw, i) >= 0) {
      UndoEscapeRun(raw, &i, shown, path);
      continue;
    }
    shown->push_back(raw[i]);
    path->push_back(raw[i]);
    i += (style == kStyleWindows && commandLine && raw[i] == L'%' &&
          i + 1 < raw.size() && raw[i + 1] == L'%')
             ? 2
             : 1;
  }
}

// A command of the form PREFIX"path" ending in the quote: its path.
bool QuotedCommand(const std::wstring &text, const wchar_t *prefix,
                   std::wstring *raw) {
  const size_t n = wcslen(prefix);
  if (!StartsWith(text, prefix) || text.size() < n + 2 || text.back() != L'"') {
    return false;
  }
  *raw = text.substr(n + 1, text.size() - n - 2);
  return text[n] == L'"';
}

// The first quoted part of a line (no path holds a raw '"' in either
// build's report). Returns false when there is none.
bool FirstQuoted(const std::wstring &text, std::wstring *raw) {
  const size_t open = text.find(L'"');
  if (open == std::wstring::npos) return false;
  const size_t close = text.find(L'"', open + 1);
  if (close == std::wstring::npos) return false;
  *raw = text.substr(open + 1, close - open - 1);
  return true;
}

bool IsFailure(const std::wstring &text) {
  return StartsWith(text, L"ComputeSHA256 failed (") ||
         StartsWith(text, L"DeleteFile failed (") ||
         StartsWith(text, L"RemoveDirectory failed (");
}

bool IsNote(const std::wstring &text) {
  return text == L"REM Erase zero size file" || text == L"No files found" ||
         StartsWith(text, L"Err: ") || StartsWith(text, L"ERR: ");
}

// The kind of a line that names its path in a command. Returns kLineText
// when it is none of them.
ReportLineKind CommandKind(const std::wstring &text, std::wstring *raw) {
  if (QuotedCommand(text, L"del ", raw)) return kLineErase;
  if (QuotedCommand(text, L"REM ", raw)) return kLineKept;
  if (QuotedCommand(text, L"rd  ", raw)) return kLinePurgeDir;
  if (StartsWith(text, L"REM Not erased")) {
    if (!FirstQuoted(text, raw)) raw->clear();
    return kLineNotErased;
  }
  return kLineText;
}

}  // namespace

ReportLineKind ClassifyLine(const std::wstring &text, ReportStyle style,
                            std::wstring *shown, std::wstring *path) {
  shown->clear();
  path->clear();
  std::wstring raw;
  ReportLineKind kind = CommandKind(text, &raw);
  const int commandLine = kind != kLineText;
  if (kind == kLineText && IsFailure(text)) {
    kind = kLineFailure;
    if (!FirstQuoted(text, &raw)) raw.clear();
  }
  if (kind == kLineText && StartsWith(text, L"REM FileSize="))
    kind = kLineHeader;
  if (kind == kLineText && IsNote(text)) kind = kLineNote;
  UndoEscapes(raw, style, commandLine, shown, path);
  return kind;
}

namespace {

// The size a header line tells. Returns false when it tells none.
bool HeaderSize(const std::wstring &text, uint64_t *size) {
  const wchar_t *digits = text.c_str() + wcslen(L"REM FileSize=");
  if (*digits < L'0' || *digits > L'9') return false;
  *size = wcstoull(digits, nullptr, 10);
  return true;
}

// A set holds a kept copy; a block of "del" or "rd" lines without one is
// the purge, whose "del" lines erase empty files. Can't fail.
void ClassifyBlock(ReportBlock *block) {
  bool kept = false, purge = false;
  for (const ReportLine &l : block->lines) {
    kept = kept || l.kind == kLineKept;
    purge = purge || l.kind == kLineErase || l.kind == kLinePurgeDir;
    if (l.kind == kLineHeader && !block->sizeKnown)
      block->sizeKnown = HeaderSize(l.text, &block->size);
  }
  block->kind = kept ? kBlockSet : purge ? kBlockPurge : kBlockText;
  if (block->kind != kBlockPurge) return;
  for (ReportLine &l : block->lines) {
    if (l.kind == kLineErase) l.kind = kLinePurgeFile;
  }
}

// Adds one line (line end removed) to the report: an empty line ends the
// current block. Returns 1 when the line is one the program writes.
int AddLine(std::wstring text, Report *report) {
  if (!text.empty() && text.back() == L'\r') text.pop_back();
  if (text.empty()) {
    if (!report->blocks.back().lines.empty()) report->blocks.emplace_back();
    return 0;
  }
  ReportLine line;
  line.kind = ClassifyLine(text, report->style, &line.shown, &line.path);
  line.text = std::move(text);
  report->blocks.back().lines.push_back(std::move(line));
  return report->blocks.back().lines.back().kind != kLineText;
}

}  // namespace

int ParseReport(const std::string &bytes, Report *report) {
  report->blocks.assign(1, ReportBlock());
  if (bytes.find('\0') != std::string::npos) return 0;
  report->style =
      bytes.find("\r\n") != std::string::npos ? kStyleWindows : kStyleLinux;
  const std::wstring text = DecodeOutputText(bytes.data(), bytes.size());
  int recognised = 0, written = 0;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(L'\n', start);
    if (end == std::wstring::npos) end = text.size();
    std::wstring line = text.substr(start, end - start);
    written += line.find_first_not_of(L" \t\r") != std::wstring::npos;
    recognised += AddLine(std::move(line), report);
    start = end + 1;
  }
  if (report->blocks.back().lines.empty()) report->blocks.pop_back();
  for (ReportBlock &b : report->blocks) ClassifyBlock(&b);
  return recognised > 0 || written == 0;
}

namespace {

bool SameName(const wchar_t *a, const wchar_t *b, ReportStyle style) {
  if (style == kStyleLinux) return wcscmp(a, b) == 0;
  for (; *a != 0 && *b != 0; a++, b++) {
    const wchar_t x = (*a >= L'a' && *a <= L'z') ? *a - 32 : *a;
    const wchar_t y = (*b >= L'a' && *b <= L'z') ? *b - 32 : *b;
    if (x != y) return false;
  }
  return *a == *b;
}

// The file of exactly that path: the look-up reads a name's '*' and '?'
// as wildcards, so only the entry of the very name counts. Can't fail.
FileState LookUpFile(const std::wstring &path, ReportStyle style) {
  FileState state;
  const size_t sep = path.find_last_of(style == kStyleLinux ? L"/" : L"\\/");
  const wchar_t *name =
      path.c_str() + (sep == std::wstring::npos ? 0 : sep + 1);
  WIN32_FIND_DATAW fd;
  HANDLE find = platformCalls.FindFirstFileW(path.c_str(), &fd);
  if (find == INVALID_HANDLE_VALUE) return state;
  do {
    if ((fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
        !SameName(fd.cFileName, name, style)) {
      continue;
    }
    state.exists = 1;
    state.size = ((uint64_t)fd.nFileSizeHigh << 32) | fd.nFileSizeLow;
    state.writeTime = ((uint64_t)fd.ftLastWriteTime.dwHighDateTime << 32) |
                      fd.ftLastWriteTime.dwLowDateTime;
    break;
  } while (platformCalls.FindNextFileW(find, &fd));
  (void)platformCalls.FindClose(find);  // nothing to do if it fails
  return state;
}

}  // namespace

void LookUpReportFiles(Report *report) {
  for (ReportBlock &b : report->blocks) {
    if (b.kind != kBlockSet) continue;
    for (ReportLine &l : b.lines) {
      if (l.kind != kLineKept && l.kind != kLineErase) continue;
      l.file = LookUpFile(l.path, report->style);
      if (l.file.exists && !b.sizeKnown) {
        b.sizeKnown = 1;
        b.size = l.file.size;
      }
    }
  }
}

ReportTotals CountReport(const Report &report) {
  ReportTotals t;
  for (const ReportBlock &b : report.blocks) {
    if (b.kind != kBlockSet) continue;
    t.sets++;
    for (const ReportLine &l : b.lines) {
      if (l.kind == kLineKept) t.kept++;
      if (l.kind != kLineErase) continue;
      t.toErase++;
      if (b.sizeKnown)
        t.bytes += b.size;
      else
        t.unknownSizes++;
    }
  }
  return t;
}
