// OpenMetrics text of the newest day's totals.
#include "report/metrics.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string_view>

namespace {

struct MetricFamily {
  const char* name;
  const char* help;
  const char* unit;  // null: a count
};

enum FamilyId : uint8_t {
  kSmtpTransactions, kSmtpResults, kRblMessages, kRblClean, kRblVirus, kRblSpam, kRblVolume,
  kRblVerdicts, kPostDeliveries, kHttpRequests, kHttpBlocked, kHttpVolume, kHttpFilter,
  kFamilyCount
};

// Every family is one gauge: the totals start again with each day.
constexpr MetricFamily kFamilies[kFamilyCount] = {
    {"varno_smtp_transactions", "SMTP transactions of the day by SMTP status.", nullptr},
    {"varno_smtp_results", "Incoming SMTP transactions of the day by result.", nullptr},
    {"varno_rbl_messages", "Messages judged by the anti-spam and anti-virus filter today.", nullptr},
    {"varno_rbl_clean_messages", "Messages judged clean today.", nullptr},
    {"varno_rbl_virus_messages", "Messages marked as virus today.", nullptr},
    {"varno_rbl_spam_messages", "Messages marked as spam today.", nullptr},
    {"varno_rbl_volume_bytes", "Volume of the judged messages today.", "bytes"},
    {"varno_rbl_verdicts", "Incoming filter verdicts of the day by score.", nullptr},
    {"varno_postponer_deliveries", "Deliveries of the day by status.", nullptr},
    {"varno_http_requests", "Finished HTTP proxy transactions of the day.", nullptr},
    {"varno_http_blocked_requests", "HTTP proxy transactions of the day blocked, by reason.", nullptr},
    {"varno_http_volume_bytes", "HTTP proxy volume of the day.", "bytes"},
    {"varno_http_filter_requests", "HTTP requests of the day by web filter category.", nullptr},
};

// One sample: a summary column of a kind, with its extra label.
struct MetricSample {
  FamilyId family;
  uint32_t kind;
  uint8_t column;
  const char* labelName;   // null: direction only
  const char* labelValue;
};

constexpr MetricSample kSamples[] = {
    {kSmtpTransactions, kKindSmtpIn, 1, "status", "ok"},
    {kSmtpTransactions, kKindSmtpIn, 2, "status", "error"},
    {kSmtpTransactions, kKindSmtpOut, 1, "status", "ok"},
    {kSmtpTransactions, kKindSmtpOut, 2, "status", "error"},
    {kSmtpResults, kKindSmtpChart, 1, "result", "accepted"},
    {kSmtpResults, kKindSmtpChart, 2, "result", "other"},
    {kSmtpResults, kKindSmtpChart, 3, "result", "rejected"},
    {kRblMessages, kKindRblIn, 0, nullptr, nullptr},
    {kRblMessages, kKindRblOut, 0, nullptr, nullptr},
    {kRblClean, kKindRblIn, 1, nullptr, nullptr},
    {kRblClean, kKindRblOut, 1, nullptr, nullptr},
    {kRblVirus, kKindRblIn, 2, nullptr, nullptr},
    {kRblVirus, kKindRblOut, 2, nullptr, nullptr},
    {kRblSpam, kKindRblIn, 3, nullptr, nullptr},
    {kRblSpam, kKindRblOut, 3, nullptr, nullptr},
    {kRblVolume, kKindRblIn, 4, nullptr, nullptr},
    {kRblVolume, kKindRblOut, 4, nullptr, nullptr},
    {kRblVerdicts, kKindRblChart, 1, "score", "0"},
    {kRblVerdicts, kKindRblChart, 2, "score", "1000"},
    {kRblVerdicts, kKindRblChart, 3, "score", "-1000"},
    {kRblVerdicts, kKindRblChart, 4, "score", "other"},
    {kPostDeliveries, kKindPostIn, 1, "status", "ok"},
    {kPostDeliveries, kKindPostIn, 2, "status", "error"},
    {kPostDeliveries, kKindPostOut, 1, "status", "ok"},
    {kPostDeliveries, kKindPostOut, 2, "status", "error"},
    {kHttpRequests, kKindHttpAl, 0, nullptr, nullptr},
    {kHttpBlocked, kKindHttpAl, 1, "reason", "virus"},
    {kHttpBlocked, kKindHttpAl, 2, "reason", "content"},
    {kHttpBlocked, kKindHttpAl, 3, "reason", "banned"},
    {kHttpBlocked, kKindHttpAl, 4, "reason", "notallowed"},
    {kHttpBlocked, kKindHttpAl, 5, "reason", "bancon"},
    {kHttpBlocked, kKindHttpAl, 6, "reason", "site"},
    {kHttpVolume, kKindHttpTr, 0, nullptr, nullptr},
};

// The direction of a kind's file; chart kinds describe incoming mail; the
// proxy has none.
const char* DirectionOf(uint32_t kind) {
  switch (kind) {
    case kKindSmtpIn: case kKindSmtpChart: case kKindRblIn: case kKindRblChart: case kKindPostIn:
      return "in";
    case kKindSmtpOut: case kKindRblOut: case kKindPostOut:
      return "out";
    default:
      return nullptr;
  }
}

// Label values are the files' bytes; OpenMetrics wants UTF-8 with \\, \" and
// \n escaped, so other control and non-ASCII bytes become '?'.
void AppendLabelValue(std::string* out, std::string_view value) {
  for (char c : value) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (c == '\\' || c == '"') {
      out->push_back('\\');
      out->push_back(c);
    } else if (c == '\n') {
      out->append("\\n");
    } else if (byte < 0x20 || byte >= 0x7F) {
      out->push_back('?');
    } else {
      out->push_back(c);
    }
  }
}

// Values hold at most two decimals (as the files do); written without the
// locale's decimal mark.
void AppendValue(std::string* out, double value) {
  if (!(value >= 0) || !std::isfinite(value)) value = 0;
  const uint64_t hundredths = static_cast<uint64_t>(std::llround(value * 100.0));
  out->append(std::to_string(hundredths / 100));
  const uint64_t fraction = hundredths % 100;
  if (fraction != 0) {
    out->push_back('.');
    out->push_back(static_cast<char>('0' + fraction / 10));
    if (fraction % 10 != 0) out->push_back(static_cast<char>('0' + fraction % 10));
  }
}

void AppendSample(std::string* out, const MetricFamily& family, const char* direction,
                  const char* labelName, std::string_view labelValue, double value) {
  out->append(family.name);
  if (direction != nullptr || labelName != nullptr) {
    out->push_back('{');
    if (direction != nullptr) out->append("direction=\"").append(direction).push_back('"');
    if (labelName != nullptr) {
      if (direction != nullptr) out->push_back(',');
      out->append(labelName).append("=\"");
      AppendLabelValue(out, labelValue);
      out->push_back('"');
    }
    out->push_back('}');
  }
  out->push_back(' ');
  AppendValue(out, value);
  out->push_back('\n');
}

bool HasTotals(const ReportDay& day, uint32_t kind) {
  return day.files[kind].present && day.files[kind].hasSummary;
}

// The web filter's categories with their request counts (its MUC list).
const TopList* FilterCategories(const ReportDay& day) {
  const MetadataFile& file = day.files[kKindHttpWf];
  if (!file.present || file.lists.empty()) return nullptr;
  return file.lists[0].rows.empty() ? nullptr : &file.lists[0];
}

void AppendHeader(std::string* out, const MetricFamily& family) {
  out->append("# TYPE ").append(family.name).append(" gauge\n");
  if (family.unit != nullptr) {
    out->append("# UNIT ").append(family.name).append(" ").append(family.unit).append("\n");
  }
  out->append("# HELP ").append(family.name).append(" ").append(family.help).append("\n");
}

}  // namespace

void RenderMetrics(const ReportDay& day, std::string* text) {
  std::string& out = *text;
  out.clear();
  out.append("# TYPE varno_day gauge\n# HELP varno_day Date (yyyymmdd) of the day the totals belong to.\n");
  out.append("varno_day ").append(std::to_string(day.date)).append("\n");
  for (uint8_t f = 0; f < kFamilyCount; ++f) {
    const MetricFamily& family = kFamilies[f];
    bool headed = false;
    for (const MetricSample& sample : kSamples) {
      if (sample.family != f || !HasTotals(day, sample.kind)) continue;
      if (!headed) AppendHeader(&out, family);
      headed = true;
      const char* value = sample.labelValue != nullptr ? sample.labelValue : "";
      AppendSample(&out, family, DirectionOf(sample.kind), sample.labelName, value,
                   day.files[sample.kind].summary[sample.column]);
    }
    const TopList* categories = f == kHttpFilter ? FilterCategories(day) : nullptr;
    if (categories == nullptr) continue;
    AppendHeader(&out, family);
    // Keys that read alike once escaped would give one series twice.
    std::set<std::string> seen;
    std::string label;
    for (const TopRow& row : categories->rows) {
      label.clear();
      AppendLabelValue(&label, row.key);
      if (!seen.insert(label).second) continue;
      const double value = std::strtod(row.values[0].c_str(), nullptr);
      AppendSample(&out, family, nullptr, "category", row.key, value);
    }
  }
  out.append("# EOF\n");
}
