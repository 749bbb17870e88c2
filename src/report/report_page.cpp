// Loading the newest days of a metadata folder and rendering the page.
#include "report/report_page.h"

#include <cmath>
#include <cstdio>

#include "platform/console.h"
#include "platform/fs.h"
#include "platform/stream.h"
#include "platform/text.h"
#include "report/html_text.h"
#include "report/svg_chart.h"

namespace {

constexpr const char kStyle[] = R"(
body{font:14px/1.4 system-ui,sans-serif;margin:0 1.5em 2em;color:#222;background:#fafafa}
header{position:sticky;top:0;background:#fafafa;border-bottom:1px solid #ccc;padding:.4em 0;z-index:1}
h1{font-size:1.4em;margin:.2em 0}h2{font-size:1.2em;display:inline}h3{font-size:1.05em;margin:1.2em 0 .3em}
.meta,.file,.note{color:#666;font-size:.9em;font-weight:normal}
nav a{margin-right:.6em;white-space:nowrap}nav button{margin-right:.4em}
details.day{border-top:1px solid #ccc;padding:.5em 0}details.day>summary{cursor:pointer}
.charts{display:flex;flex-wrap:wrap;gap:1em}
.cards{display:flex;flex-wrap:wrap;gap:1.5em;align-items:flex-start}.card h3{margin-top:.6em}
figure.chart{margin:0;background:#fff;border:1px solid #ddd;padding:.3em;max-width:100%}
figure.chart svg{max-width:100%;height:auto}figcaption{font-weight:600}
.grid{stroke:#e4e4e4}.axisline{stroke:#888}.axis{font-size:11px;fill:#555}
.legend span{margin-right:1em;font-size:.9em}.legend i{display:inline-block;width:.8em;height:.8em;margin-right:.3em}
.lists{display:flex;flex-wrap:wrap;gap:1em;align-items:flex-start}
.lists details{background:#fff;border:1px solid #ddd;padding:.3em;max-width:48em}
.scroll{max-height:28em;overflow:auto}
table{border-collapse:collapse;font-size:.92em}th,td{padding:.1em .6em;border-bottom:1px solid #eee;text-align:left}
thead th{position:sticky;top:0;background:#f0f0f0}
td.num,table.top td{text-align:right;font-variant-numeric:tabular-nums}
table.top td.key{text-align:left;overflow-wrap:anywhere;max-width:36em}.empty{color:#999;font-style:italic}
)";

// Opens the day a link points at, offers to open or close every day, and
// builds the top-list rows of a day when it is open, 200 at a time as the
// list's box is scrolled down (with textContent only: no text of the page's
// data is ever parsed as markup).
constexpr const char kScript[] = R"(
(function(){
var KEY_CHARS=160,CHUNK=200;
function addRows(box){var list=box.rowData;if(!list||list.next>=list.lines.length)return;
var end=Math.min(list.lines.length,list.next+CHUNK);var rows=document.createDocumentFragment();
for(var i=list.next;i<end;i++){
var fields=list.lines[i].split('\t');var tr=document.createElement('tr');var td=document.createElement('td');
td.textContent=String(i+1);tr.appendChild(td);
for(var k=0;k<fields.length;k++){td=document.createElement('td');var text=fields[k];
if(k===0){td.className='key';if(text===''){td.className='key empty';text='(empty)';}
else if(text.length>KEY_CHARS){td.title=text;text=text.slice(0,KEY_CHARS)+'\u2026';}}
td.textContent=text;tr.appendChild(td);}
rows.appendChild(tr);}
list.body.appendChild(rows);list.next=end;}
function buildRows(pre){var box=pre.parentNode;
box.rowData={lines:pre.textContent.split('\n'),next:0,body:box.querySelector('tbody')};
box.removeChild(pre);addRows(box);
box.addEventListener('scroll',function(){if(box.scrollTop+box.clientHeight>=box.scrollHeight-200)addRows(box);});}
function buildOpen(root){var day=root.closest('details.day');
if(root.open&&day&&day.open)root.querySelectorAll('pre.rows').forEach(buildRows);}
document.addEventListener('toggle',function(e){if(e.target.tagName==='DETAILS')buildOpen(e.target);},true);
document.querySelectorAll('details.day[open]').forEach(buildOpen);
function openTarget(){var id=location.hash.slice(1);if(!id)return;var e=document.getElementById(id);
if(e&&e.tagName==='DETAILS'){e.open=true;buildOpen(e);e.scrollIntoView();}}
function setAll(open){document.querySelectorAll('details.day').forEach(function(d){d.open=open;});}
document.getElementById('open-all').addEventListener('click',function(){setAll(true);});
document.getElementById('close-all').addEventListener('click',function(){setAll(false);});
window.addEventListener('hashchange',openTarget);openTarget();
document.documentElement.setAttribute('data-ready','1');
})();
)";

std::string DateText(uint32_t date, bool shortForm) {
  char buffer[16];
  if (shortForm) {
    snprintf(buffer, sizeof buffer, "%02u-%02u", date / 100 % 100, date % 100);
  } else {
    snprintf(buffer, sizeof buffer, "%04u-%02u-%02u", date / 10000, date / 100 % 100, date % 100);
  }
  return buffer;
}

std::string DayAnchor(uint32_t date) {
  char buffer[16];
  snprintf(buffer, sizeof buffer, "d%08u", date);
  return buffer;
}

// Whole numbers as integers, others with two decimals (as the files hold them).
std::string ValueText(double value) {
  char buffer[40];
  if (value == std::floor(value) && std::fabs(value) < 9e15) {
    snprintf(buffer, sizeof buffer, "%.0f", value);
  } else {
    snprintf(buffer, sizeof buffer, "%.2f", value);
    for (char* c = buffer; *c; ++c) {
      if (*c == ',') *c = '.';
    }
  }
  return buffer;
}

std::string FileNameOf(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"/\\");
  return WideToMultibyte(path.c_str() + (slash == std::wstring::npos ? 0 : slash + 1));
}

// A chart title, with the unit note on volume charts.
std::string ChartTitle(const char* title, bool hourly) {
  std::string text = title;
  if (text == "Volume") text += " (bytes, or the --units unit of the run)";
  if (hourly) text += " per hour";
  return text;
}

bool KindHasSummary(const std::vector<ReportDay>& days, uint32_t kind) {
  for (const ReportDay& day : days) {
    if (day.files[kind].hasSummary) return true;
  }
  return false;
}

void AppendOverview(std::string* out, const ReportData& data) {
  out->append("<section id=\"overview\"><h2>Overview</h2>"
              "<p class=\"note\">Daily totals of the last ");
  out->append(std::to_string(data.days.size())).append(" day(s), oldest first.</p><div class=\"cards\">\n");
  for (uint32_t k = 0; k < kKindCount; ++k) {
    const MetadataKind& kind = GetMetadataKind(k);
    if (kind.columnCount == 0 || !KindHasSummary(data.days, k)) continue;
    out->append("<div class=\"card\"><h3>");
    AppendHtmlText(out, kind.title);
    out->append(" <span class=\"file\">").append(kind.name).append("</span></h3><div class=\"charts\">");
    for (const ChartLayout& layout : kind.charts) {
      if (layout.title == nullptr) continue;
      BarChart chart;
      chart.title = ChartTitle(layout.title, false);
      for (uint8_t c = 0; c < layout.count; ++c) chart.series.push_back(kind.columns[layout.columns[c]]);
      chart.values.resize(layout.count);
      for (auto day = data.days.rbegin(); day != data.days.rend(); ++day) {
        chart.categories.push_back(DateText(day->date, true));
        for (uint8_t c = 0; c < layout.count; ++c) {
          chart.values[c].push_back(day->files[k].summary[layout.columns[c]]);
        }
      }
      AppendBarChart(out, chart);
    }
    // The numbers behind the charts, newest day first.
    out->append("</div><details><summary>Table</summary><div class=\"scroll\"><table><thead><tr><th>day</th>");
    for (uint8_t c = 0; c < kind.columnCount; ++c) {
      out->append("<th>").append(HtmlText(kind.columns[c])).append("</th>");
    }
    out->append("</tr></thead><tbody>");
    for (const ReportDay& day : data.days) {
      if (!day.files[k].hasSummary) continue;
      out->append("<tr><td><a href=\"#").append(DayAnchor(day.date)).append("\">");
      out->append(DateText(day.date, false)).append("</a></td>");
      for (uint8_t c = 0; c < kind.columnCount; ++c) {
        out->append("<td class=\"num\">").append(ValueText(day.files[k].summary[c])).append("</td>");
      }
      out->append("</tr>");
    }
    out->append("</tbody></table></div></details></div>\n");
  }
  out->append("</div></section>\n");
}

// The rows travel as escaped text (fields split by tabs, rows by line feeds,
// neither of which the escaping leaves in a text); the page's script turns
// them into table rows when the day is opened. So 31 days of 1 000-row lists
// cost the browser one text node per list instead of thousands of elements.
void AppendTopList(std::string* out, const TopList& list) {
  const LineShape& shape = *list.shape;
  out->append("<details class=\"list\" open><summary>");
  AppendHtmlText(out, shape.title);
  out->append(" <span class=\"note\">(").append(std::to_string(list.rows.size()));
  out->append(list.rows.size() == 1 ? " row" : " rows");
  out->append(")</span></summary><div class=\"scroll\"><table class=\"top\"><thead><tr><th>#</th>");
  for (uint8_t c = 0; c <= shape.values; ++c) {
    out->append("<th>").append(HtmlText(shape.columns[c])).append("</th>");
  }
  out->append("</tr></thead><tbody></tbody></table><pre class=\"rows\" hidden>");
  bool first = true;
  for (const TopRow& row : list.rows) {
    if (!first) out->push_back('\n');
    first = false;
    AppendHtmlText(out, row.key);
    for (const std::string& value : row.values) {
      out->push_back('\t');
      AppendHtmlText(out, value);
    }
  }
  out->append("</pre></div></details>\n");
}

void AppendKindOfDay(std::string* out, const ReportDay& day, uint32_t k) {
  const MetadataKind& kind = GetMetadataKind(k);
  const MetadataFile& file = day.files[k];
  out->append("<section class=\"kind\" data-kind=\"").append(kind.name).append("\"><h3>");
  AppendHtmlText(out, kind.title);
  out->append(" <span class=\"file\">").append(kind.name).append(" &middot; ");
  AppendHtmlText(out, FileNameOf(day.paths[k]));
  out->append("</span></h3>");
  if (file.skippedLines > 0) {
    out->append("<p class=\"note\">").append(std::to_string(file.skippedLines));
    out->append(" malformed line(s) skipped.</p>");
  }
  if (file.hasSummary && kind.columnCount > 0) {
    out->append("<table class=\"summary\"><thead><tr>");
    for (uint8_t c = 0; c < kind.columnCount; ++c) {
      out->append("<th>").append(HtmlText(kind.columns[c])).append("</th>");
    }
    out->append("</tr></thead><tbody><tr>");
    for (uint8_t c = 0; c < kind.columnCount; ++c) {
      out->append("<td class=\"num\">").append(ValueText(file.summary[c])).append("</td>");
    }
    out->append("</tr></tbody></table>\n");
  }
  if (file.hasHours) {
    out->append("<div class=\"charts\">");
    for (const ChartLayout& layout : kind.charts) {
      if (layout.title == nullptr) continue;
      BarChart chart;
      chart.title = ChartTitle(layout.title, true);
      for (uint8_t c = 0; c < layout.count; ++c) chart.series.push_back(kind.columns[layout.columns[c]]);
      chart.values.resize(layout.count);
      for (int hour = 0; hour < 24; ++hour) {
        char label[4];
        snprintf(label, sizeof label, "%02d", hour);
        chart.categories.push_back(label);
        for (uint8_t c = 0; c < layout.count; ++c) {
          chart.values[c].push_back(file.hours[hour][layout.columns[c]]);
        }
      }
      AppendBarChart(out, chart);
    }
    out->append("</div>\n");
  }
  out->append("<div class=\"lists\">");
  for (const TopList& list : file.lists) {
    if (!list.rows.empty()) AppendTopList(out, list);
  }
  out->append("</div></section>\n");
}

void AppendDay(std::string* out, const ReportDay& day, bool open) {
  out->append("<details class=\"day\" id=\"").append(DayAnchor(day.date)).append("\"");
  if (open) out->append(" open");
  out->append("><summary><h2>").append(DateText(day.date, false)).append("</h2></summary>\n");
  for (uint32_t k = 0; k < kKindCount; ++k) {
    if (day.files[k].present) AppendKindOfDay(out, day, k);
  }
  out->append("</details>\n");
}

}  // namespace

ResultCode LoadReport(const wchar_t* folder, uint32_t maxDays, ReportData* data) {
  MetadataDays found;
  const ResultCode scanned = ScanMetadataFolder(folder, &found);
  if (scanned != kOk) return scanned;
  data->days.clear();
  for (auto entry = found.rbegin(); entry != found.rend() && data->days.size() < maxDays; ++entry) {
    data->days.emplace_back();
    ReportDay& day = data->days.back();
    day.date = entry->first;
    for (uint32_t k = 0; k < kKindCount; ++k) {
      if (entry->second[k].empty()) continue;
      if (ReadMetadataFile(k, entry->second[k].c_str(), &day.files[k]) == kOk) {
        day.paths[k] = entry->second[k];
      } else {
        day.files[k] = MetadataFile();
      }
    }
  }
  return kOk;
}

void RenderReportPage(const ReportData& data, std::string_view nonce, std::string* html) {
  std::string& out = *html;
  out.clear();
  out.append("<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n");
  out.append("<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
             "style-src 'unsafe-inline'; img-src data:; script-src 'nonce-");
  AppendHtmlText(&out, nonce);
  out.append("'\">\n<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n");
  out.append("<title>varno report</title>\n<style>").append(kStyle).append("</style></head>\n<body>\n");
  out.append("<header><h1>varno report</h1><p class=\"meta\">Folder <code>");
  AppendHtmlText(&out, data.folderLabel);
  out.append("</code> &middot; ");
  if (data.days.empty()) {
    out.append("no metadata files found");
  } else {
    out.append(std::to_string(data.days.size())).append(" day(s), ");
    out.append(DateText(data.days.back().date, false)).append(" to ");
    out.append(DateText(data.days.front().date, false));
  }
  out.append(" &middot; generated ");
  AppendHtmlText(&out, data.generatedAt);
  out.append("</p>\n<nav><button type=\"button\" id=\"open-all\">Open all days</button>"
             "<button type=\"button\" id=\"close-all\">Close all days</button> "
             "<a href=\"#overview\">Overview</a>");
  for (const ReportDay& day : data.days) {
    out.append("<a href=\"#").append(DayAnchor(day.date)).append("\">");
    out.append(DateText(day.date, false)).append("</a>");
  }
  out.append("</nav><noscript><p class=\"note\">The top lists are drawn by the page's script: "
             "allow JavaScript to see them.</p></noscript></header>\n");
  if (!data.days.empty()) AppendOverview(&out, data);
  for (size_t i = 0; i < data.days.size(); ++i) AppendDay(&out, data.days[i], i == 0);
  out.append("<script nonce=\"");
  AppendHtmlText(&out, nonce);
  out.append("\">").append(kScript).append("</script>\n</body></html>\n");
}
