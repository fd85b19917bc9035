// The page: the totals, one row per set with a thumbnail per file, the
// purge in a section of its own, and every other line as text where it
// stands. Self-contained: the style and the small script are inline, the
// pictures are the files themselves through file URLs, loaded lazily.
#include <cwchar>
#include <string>

#include "view/view.h"

namespace {

const char kHead[] = R"(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<meta http-equiv="Content-Security-Policy" content="default-src 'none'; img-src file:; style-src 'unsafe-inline'; script-src 'unsafe-inline'">
<title>)";

const char kStyle[] = R"(</title>
<style>
body{font:14px/1.35 system-ui,sans-serif;margin:0;background:#f4f4f2;color:#222}
header{position:sticky;top:0;z-index:1;background:#fff;border-bottom:1px solid #ccc;padding:8px 16px}
h1{font-size:18px;margin:0 0 4px}
#filter{width:min(40em,90%);padding:4px}
main{padding:8px 16px}
.set{background:#fff;border:1px solid #ddd;border-radius:6px;margin:0 0 10px;padding:6px 10px;content-visibility:auto;contain-intrinsic-size:auto 260px}
.set h2{font-size:13px;font-weight:600;margin:0 0 6px;color:#555}
.files{display:flex;flex-wrap:wrap;gap:10px;align-items:flex-start}
.file{width:200px;margin:0;border:3px solid #ccc;border-radius:6px;padding:4px}
.file.keep{border-color:#2e7d32}
.file.erase{border-color:#c62828}
.thumb{display:flex;align-items:center;justify-content:center;height:150px;background:#eee;text-decoration:none;color:#555}
.thumb img{width:100%;height:150px;object-fit:contain}
.tile{font-size:20px;font-weight:700;text-align:center}
.tile small{display:block;font-size:11px;font-weight:400}
.thumb img+.tile{display:none}
.thumb.broken img{display:none}
.thumb.broken .tile{display:block}
.mark{display:inline-block;font-weight:700;padding:0 6px;border-radius:3px;color:#fff}
.keep .mark{background:#2e7d32}
.erase .mark{background:#c62828}
.path{display:block;word-break:break-all;font-family:ui-monospace,monospace;font-size:12px;margin:2px 0}
.meta{color:#666;font-size:12px}
.line{flex-basis:100%;margin:0;font-family:ui-monospace,monospace;font-size:12px;white-space:pre-wrap;word-break:break-all}
.fail{color:#b71c1c;font-weight:600}
.note{color:#6d4c00}
.purge ul{list-style:none;padding:0;margin:0}
[hidden]{display:none!important}
</style>
</head>
<body>
)";

// Counts the thumbnails the browser could show (data-shown) and could not
// (data-failed) on the page's root, and gives a failed one its plain tile.
// Each picture is counted once, as it loads, and the counts are written
// at most every tenth of a second: a write restyles the whole page. Then
// the filter: it hides the sets whose paths do not hold its text.
const char kScript[] = R"(<script>
(function () {
  var root = document.documentElement, imgs = document.images;
  var shown = 0, failed = 0, queued = false;
  function publish() {
    queued = false;
    root.setAttribute('data-shown', shown);
    root.setAttribute('data-failed', failed);
  }
  function later() {
    if (!queued) { queued = true; setTimeout(publish, 100); }
  }
  function loaded() { shown++; later(); }
  function broken() {
    this.parentNode.classList.add('broken');
    failed++;
    later();
  }
  for (var i = 0; i < imgs.length; i++) {
    if (!imgs[i].complete) {
      imgs[i].addEventListener('load', loaded);
      imgs[i].addEventListener('error', broken);
    } else if (imgs[i].naturalWidth > 0) {
      shown++;
    } else {
      broken.call(imgs[i]);
    }
  }
  publish();
  var filter = document.getElementById('filter');
  filter.addEventListener('input', function () {
    var want = filter.value.toLowerCase();
    var sets = document.querySelectorAll('.set');
    for (var i = 0; i < sets.length; i++) {
      var paths = sets[i].querySelectorAll('.path'), hit = !want;
      for (var k = 0; !hit && k < paths.length; k++)
        hit = paths[k].textContent.toLowerCase().indexOf(want) >= 0;
      sets[i].hidden = !hit;
    }
  });
})();
</script>
</body>
</html>
)";

std::string Number(uint64_t n) { return std::to_string(n); }

// Bytes below 1 KiB as they are, else in the largest binary unit reached,
// to a tenth: "512 bytes", "34.5 MiB". Can't fail.
std::string SizeText(uint64_t bytes) {
  static const char *const kUnits[] = {"KiB", "MiB", "GiB", "TiB"};
  if (bytes < 1024) return Number(bytes) + (bytes == 1 ? " byte" : " bytes");
  int k = 0;
  uint64_t unit = 1024;
  while (k < 3 && bytes >= unit * 1024) {
    unit *= 1024;
    k++;
  }
  const uint64_t tenths = (bytes * 10 + unit / 2) / unit;
  return Number(tenths / 10) + "." + Number(tenths % 10) + " " + kUnits[k];
}

std::string TwoDigits(uint64_t n) {
  return std::string(1, (char)('0' + n / 10 % 10)) + (char)('0' + n % 10);
}

// A file time as "2024-05-01 10:00 UTC" (days to the civil date by the
// proleptic Gregorian calendar). Can't fail.
std::string DateText(uint64_t ticks) {
  const int64_t secs = (int64_t)(ticks / 10000000) - 11644473600LL;
  int64_t days = secs >= 0 ? secs / 86400 : (secs - 86399) / 86400;
  const int64_t rest = secs - days * 86400;
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t doe = days - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t day = doy - (153 * mp + 2) / 5 + 1;
  const int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const int64_t year = yoe + era * 400 + (month <= 2);
  return std::to_string(year) + "-" + TwoDigits((uint64_t)month) + "-" +
         TwoDigits((uint64_t)day) + " " + TwoDigits((uint64_t)rest / 3600) +
         ":" + TwoDigits((uint64_t)rest / 60 % 60) + " UTC";
}

// The upper-case extension of a path's last component ("JPG"), or "FILE".
std::wstring TypeOf(const std::wstring &path) {
  const size_t sep = path.find_last_of(L"\\/");
  const size_t dot = path.find_last_of(L'.');
  if (dot == std::wstring::npos || (sep != std::wstring::npos && dot < sep) ||
      path.size() - dot > 6 || dot + 1 == path.size()) {
    return L"FILE";
  }
  std::wstring ext = path.substr(dot + 1);
  for (wchar_t &c : ext) {
    if (c >= L'a' && c <= L'z') c = (wchar_t)(c - 32);
  }
  return ext;
}

// What an <img> shows in every browser.
bool BrowserShows(const std::wstring &type) {
  static const wchar_t *const kShown[] = {L"JPG", L"JPEG", L"JPE",  L"JFIF",
                                          L"PNG", L"APNG", L"GIF",  L"WEBP",
                                          L"BMP", L"ICO",  L"AVIF", L"SVG"};
  for (const wchar_t *t : kShown) {
    if (type == t) return true;
  }
  return false;
}

void AppendThumb(const ReportLine &l, ReportStyle style, std::string *out) {
  const std::wstring type = TypeOf(l.path);
  const std::string url = FileUrl(l.path, style);  // nothing to escape
  *out += "<a class=\"thumb\" href=\"" + url + "\">";
  if (l.file.exists && BrowserShows(type))
    *out += "<img loading=\"lazy\" decoding=\"async\" alt=\"\" src=\"" + url +
            "\">";
  *out += "<span class=\"tile\">" + HtmlEscape(type);
  // The Windows build writes '|', which no Windows name holds, for a
  // character its code page lacks: the real name is lost.
  if (!l.file.exists)
    *out += style == kStyleWindows && l.path.find(L'|') != std::wstring::npos
                ? "<small>name not in the code page</small>"
                : "<small>not found</small>";
  *out += "</span></a>";
}

void AppendFile(const ReportLine &l, ReportStyle style, std::string *out) {
  const bool keep = l.kind == kLineKept;
  *out +=
      keep ? "<figure class=\"file keep\">" : "<figure class=\"file erase\">";
  AppendThumb(l, style, out);
  *out += "<figcaption><span class=\"mark\">";
  *out += keep ? "kept" : "to erase";
  *out += "</span><span class=\"path\">" + HtmlEscape(l.shown) + "</span>";
  if (l.file.exists) {
    *out += "<span class=\"meta\">" + SizeText(l.file.size) + " \xC2\xB7 " +
            DateText(l.file.writeTime) + "</span>";
  }
  *out += "</figcaption></figure>\n";
}

// A line shown as its text, as it stands in the report.
void AppendLine(const ReportLine &l, const char *tag, std::string *out) {
  const char *cls = l.kind == kLineFailure ? "line fail"
                    : (l.kind == kLineNotErased || l.kind == kLineNote)
                        ? "line note"
                        : "line";
  *out += std::string("<") + tag + " class=\"" + cls + "\">" +
          HtmlEscape(l.text) + "</" + tag + ">\n";
}

void AppendSet(const ReportBlock &b, uint64_t number, ReportStyle style,
               std::string *out) {
  *out += "<section class=\"set\" id=\"set-" + Number(number) + "\"><h2>Set " +
          Number(number);
  if (b.sizeKnown) *out += " \xC2\xB7 " + SizeText(b.size) + " each";
  *out += "</h2><div class=\"files\">\n";
  for (const ReportLine &l : b.lines) {
    if (l.kind == kLineKept || l.kind == kLineErase)
      AppendFile(l, style, out);
    else if (l.kind != kLineHeader)
      AppendLine(l, "p", out);
  }
  *out += "</div></section>\n";
}

void AppendPurge(const ReportBlock &b, std::string *out) {
  *out +=
      "<section class=\"purge\"><h2>Empty folders and empty files to remove"
      "</h2><ul>\n";
  for (const ReportLine &l : b.lines) AppendLine(l, "li", out);
  *out += "</ul></section>\n";
}

void AppendText(const ReportBlock &b, std::string *out) {
  *out += "<section class=\"text\">\n";
  for (const ReportLine &l : b.lines) AppendLine(l, "p", out);
  *out += "</section>\n";
}

void AppendTotals(const Report &report, const std::wstring &title,
                  std::string *out) {
  const ReportTotals t = CountReport(report);
  *out += "<header id=\"totals\" data-sets=\"" + Number(t.sets) +
          "\" data-erase=\"" + Number(t.toErase) + "\" data-bytes=\"" +
          Number(t.bytes) + "\" data-kept=\"" + Number(t.kept) + "\">\n";
  *out += "<h1>TwinSift report: " + HtmlEscape(title) + "</h1>\n<p>";
  *out += Number(t.sets) + (t.sets == 1 ? " set, " : " sets, ");
  *out += Number(t.toErase) +
          (t.toErase == 1 ? " copy to erase" : " copies to erase");
  *out += " freeing " + SizeText(t.bytes);
  if (t.unknownSizes > 0)
    *out += " and the unknown size of " + Number(t.unknownSizes) + " gone";
  *out += ", " + Number(t.kept) + (t.kept == 1 ? " copy kept" : " copies kept");
  *out +=
      "</p>\n<input id=\"filter\" type=\"search\" "
      "placeholder=\"Show only sets with a path containing\xE2\x80\xA6\">\n"
      "</header>\n";
}

}  // namespace

std::string ReportPage(const Report &report, const std::wstring &title) {
  std::string out;
  out.reserve(4096 + report.blocks.size() * 1200);
  out += kHead;
  out += "TwinSift: " + HtmlEscape(title);
  out += kStyle;
  AppendTotals(report, title, &out);
  out += "<main>\n";
  uint64_t sets = 0;
  for (const ReportBlock &b : report.blocks) {
    if (b.kind == kBlockSet)
      AppendSet(b, ++sets, report.style, &out);
    else if (b.kind == kBlockPurge)
      AppendPurge(b, &out);
    else
      AppendText(b, &out);
  }
  out += "</main>\n";
  out += kScript;
  return out;
}
