// The metadata kinds and the reader of their files.
#include "report/metadata_files.h"

#include <cstdio>
#include <cstring>
#include <cwchar>

#include "common/dir_enum.h"
#include "common/metadata_output.h"
#include "common/paths.h"
#include "common/time.h"
#include "platform/stream.h"

namespace {

using Columns = const char* const[];

// Summary and hourly columns.
constexpr Columns kSmtpColumns = {"transactions", "ok", "error"};
constexpr Columns kSmtpChartColumns = {"transactions", "accepted", "other", "rejected"};
constexpr Columns kRblColumns = {"messages", "clean", "virus", "spam", "volume"};
constexpr Columns kRblChartColumns = {"verdicts", "0", "1000", "-1000", "other"};
constexpr Columns kPostColumns = {"deliveries", "ok", "error"};
constexpr Columns kAlertColumns = {"requests", "VIRUS", "CONTENT", "BANNED",
                                   "NOTALLOWED", "BANCON", "SITE"};
constexpr Columns kVolumeColumns = {"volume"};

// Top-list columns: key first.
constexpr Columns kClientCount = {"client address", "count"};
constexpr Columns kStatusCount = {"status", "count"};
constexpr Columns kAddressCount = {"address", "count"};
constexpr Columns kCodeCount = {"result code", "count"};
constexpr Columns kSenderTotals = {"sender", "messages", "volume", "clean", "virus", "spam"};
constexpr Columns kRecipientTotals = {"recipients", "messages", "volume", "clean", "virus", "spam"};
constexpr Columns kSenderVolume = {"sender", "volume", "messages"};
constexpr Columns kRecipientVolume = {"recipients", "volume", "messages"};
constexpr Columns kDetectionCount = {"detection", "count"};
constexpr Columns kScannerCount = {"source", "count"};
constexpr Columns kVirusCount = {"virus name", "count"};
constexpr Columns kRuleCount = {"rule", "count"};
constexpr Columns kSpamByAddress = {"address", "spam", "not spam", "last seen"};
constexpr Columns kVirusByAddress = {"address", "virus", "no virus", "last seen"};
constexpr Columns kClientVolume = {"client address", "volume"};
constexpr Columns kHostVolume = {"host", "volume"};
constexpr Columns kCategoryCount = {"category", "requests"};
constexpr Columns kHostCount = {"host", "requests"};
constexpr Columns kUserCount = {"user", "requests"};
constexpr Columns kClientRequests = {"client address", "requests"};

constexpr LineShape kSmtpShapes[] = {
    {"S", LineRole::kSummary, 3, 0, false, nullptr, nullptr},
    {"H", LineRole::kHour, 3, 0, false, nullptr, nullptr},
    {"TIP", LineRole::kTopList, 1, 0, false, "Client addresses", kClientCount},
    {"ERR", LineRole::kTopList, 1, 0, false, "Status codes", kStatusCount},
};
constexpr LineShape kSmtpChartShapes[] = {
    {"DC", LineRole::kSummary, 1, 0, false, nullptr, nullptr},
    {"DCA", LineRole::kSummary, 1, 1, false, nullptr, nullptr},
    {"DC?", LineRole::kSummary, 1, 2, false, nullptr, nullptr},
    {"DCR", LineRole::kSummary, 1, 3, false, nullptr, nullptr},
    {"AR", LineRole::kTopList, 1, 0, false, "Result codes of accepted mail", kCodeCount},
    {"RR", LineRole::kTopList, 1, 0, false, "Result codes of rejected mail", kCodeCount},
};
constexpr LineShape kRblShapes[] = {
    {"S", LineRole::kSummary, 5, 0, false, nullptr, nullptr},
    {"H", LineRole::kHour, 5, 0, false, nullptr, nullptr},
    {"TS", LineRole::kTopList, 5, 0, false, "Senders", kSenderTotals},
    {"TR", LineRole::kTopList, 5, 0, false, "Recipients", kRecipientTotals},
    {"TD", LineRole::kTopList, 2, 0, false, "Senders by volume", kSenderVolume},
    {"TE", LineRole::kTopList, 2, 0, false, "Recipients by volume", kRecipientVolume},
    {"VIR", LineRole::kTopList, 1, 0, false, "Virus detections", kDetectionCount},
    {"TSD", LineRole::kTopList, 1, 0, false, "Virus sources", kScannerCount},
    {"TVN", LineRole::kTopList, 1, 0, false, "Virus names", kVirusCount},
};
constexpr LineShape kRblChartShapes[] = {
    {"SRC", LineRole::kSummary, 5, 0, false, nullptr, nullptr},
    {"HRC", LineRole::kHour, 5, 0, false, nullptr, nullptr},
    {"BMT", LineRole::kTopList, 1, 0, false, "Spam rules", kRuleCount},
    {"TVN", LineRole::kTopList, 1, 0, false, "Virus names", kVirusCount},
};
constexpr LineShape kPostShapes[] = {
    {"S", LineRole::kSummary, 3, 0, false, nullptr, nullptr},
    {"H", LineRole::kHour, 3, 0, false, nullptr, nullptr},
    {"TIP", LineRole::kTopList, 1, 0, false, "Addresses", kAddressCount},
    {"ERR", LineRole::kTopList, 1, 0, false, "Status codes", kStatusCount},
};
constexpr LineShape kBipShapes[] = {
    {"SIP", LineRole::kTopList, 3, 0, true, "Spam by address", kSpamByAddress},
    {"VIP", LineRole::kTopList, 3, 0, true, "Viruses by address", kVirusByAddress},
};
constexpr LineShape kAlertShapes[] = {
    {"S", LineRole::kSummary, 7, 0, false, nullptr, nullptr},
    {"H", LineRole::kHour, 7, 0, false, nullptr, nullptr},
    {"IP", LineRole::kTopList, 1, 0, false, "Client addresses", kClientRequests},
    {"VIR", LineRole::kTopList, 1, 0, false, "Virus names", kVirusCount},
};
constexpr LineShape kTrafficShapes[] = {
    {"S", LineRole::kSummary, 1, 0, false, nullptr, nullptr},
    {"H", LineRole::kHour, 1, 0, false, nullptr, nullptr},
    {"IP", LineRole::kTopList, 1, 0, false, "Client addresses by volume", kClientVolume},
    {"DM", LineRole::kTopList, 1, 0, false, "Hosts by volume", kHostVolume},
};
constexpr LineShape kFilterShapes[] = {
    {"MUC", LineRole::kTopList, 1, 0, false, "Web filter categories", kCategoryCount},
    {"MUD", LineRole::kTopList, 1, 0, false, "Hosts", kHostCount},
    {"MUU", LineRole::kTopList, 1, 0, false, "Users", kUserCount},
    {"MUI", LineRole::kTopList, 1, 0, false, "Client addresses", kClientRequests},
};

template <size_t N>
constexpr uint8_t Count(const LineShape (&)[N]) { return static_cast<uint8_t>(N); }

constexpr const wchar_t* kChartFolder = L"_smtpstat";
constexpr const wchar_t* kHttpFolder = L"_kelb_cs";

const MetadataKind kKinds[kKindCount] = {
    {"SMTP-IN", "SMTP incoming", nullptr, L"_smtp", 3, kSmtpColumns, kSmtpShapes,
     Count(kSmtpShapes), {{"Transactions", 2, {1, 2}}, {}}},
    {"SMTP-OUT", "SMTP outgoing", nullptr, L"_smtp-out", 3, kSmtpColumns, kSmtpShapes,
     Count(kSmtpShapes), {{"Transactions", 2, {1, 2}}, {}}},
    {"SMTP-CHART", "SMTP results", kChartFolder, L"_smtp", 4, kSmtpChartColumns,
     kSmtpChartShapes, Count(kSmtpChartShapes), {{"Transactions", 3, {1, 3, 2}}, {}}},
    {"RBL-IN", "RBL incoming", nullptr, L"_rbl", 5, kRblColumns, kRblShapes,
     Count(kRblShapes), {{"Messages", 3, {1, 2, 3}}, {"Volume", 1, {4}}}},
    {"RBL-OUT", "RBL outgoing", nullptr, L"_rbl-out", 5, kRblColumns, kRblShapes,
     Count(kRblShapes), {{"Messages", 3, {1, 2, 3}}, {"Volume", 1, {4}}}},
    {"RBL-CHART", "RBL verdicts", kChartFolder, L"_rbl", 5, kRblChartColumns,
     kRblChartShapes, Count(kRblChartShapes), {{"Verdicts", 4, {1, 2, 3, 4}}, {}}},
    {"POST-IN", "Postponer incoming", nullptr, L"_postponer", 3, kPostColumns, kPostShapes,
     Count(kPostShapes), {{"Deliveries", 2, {1, 2}}, {}}},
    {"POST-OUT", "Postponer outgoing", nullptr, L"_postponer-out", 3, kPostColumns,
     kPostShapes, Count(kPostShapes), {{"Deliveries", 2, {1, 2}}, {}}},
    {"BIP", "Anti-spam and anti-virus by address", nullptr, L"_bip", 0, nullptr, kBipShapes,
     Count(kBipShapes), {{}, {}}},
    {"HTTP-AL", "HTTP alerts", kHttpFolder, L"_kelb-al", 7, kAlertColumns, kAlertShapes,
     Count(kAlertShapes), {{"Requests", 1, {0}}, {"Alerts by reason", 6, {1, 2, 3, 4, 5, 6}}}},
    {"HTTP-TR", "HTTP traffic", kHttpFolder, L"_kelb-tr", 1, kVolumeColumns, kTrafficShapes,
     Count(kTrafficShapes), {{"Volume", 1, {0}}, {}}},
    {"HTTP-WF", "HTTP web filter", kHttpFolder, L"_kelb-wf", 0, nullptr, kFilterShapes,
     Count(kFilterShapes), {{}, {}}},
};

// A count or a size as FormatSize writes it: digits with at most one '.'.
bool IsNumber(std::string_view text) {
  if (text.empty()) return false;
  bool point = false;
  for (char c : text) {
    if (c == '.') {
      if (point) return false;
      point = true;
    } else if (c < '0' || c > '9') {
      return false;
    }
  }
  return text.front() != '.' && text.back() != '.';
}

// HH:MM:SS with two or more hour digits (hours are not reduced modulo 24).
bool IsTimeOfDay(std::string_view text) {
  if (text.size() < 8) return false;
  const size_t hours = text.size() - 6;
  for (size_t i = 0; i < text.size(); ++i) {
    const bool colon = i == hours || i == hours + 3;
    if (colon ? text[i] != ':' : (text[i] < '0' || text[i] > '9')) return false;
  }
  return true;
}

// The numeric value of a validated number, without the locale's say.
double NumberValue(std::string_view text) {
  const std::string copy(text);
  return static_cast<double>(ParseScaled(copy.c_str(), 100, nullptr)) / 100.0;
}

void SplitFields(std::string_view line, std::vector<std::string_view>* fields) {
  fields->clear();
  size_t start = 0;
  for (;;) {
    const size_t end = line.find(';', start);
    if (end == std::string_view::npos) {
      fields->push_back(line.substr(start));
      return;
    }
    fields->push_back(line.substr(start, end - start));
    start = end + 1;
  }
}

bool AllNumbers(const std::vector<std::string_view>& fields, size_t from, size_t count,
                bool timeLast) {
  for (size_t i = from; i < from + count; ++i) {
    const bool isTime = timeLast && i + 1 == from + count;
    if (isTime ? !IsTimeOfDay(fields[i]) : !IsNumber(fields[i])) return false;
  }
  return true;
}

// Reads one line into the file; false when it is malformed or unknown.
bool ParseLine(const MetadataKind& kind, std::string_view line, MetadataFile* file,
               std::vector<std::string_view>* fields) {
  SplitFields(line, fields);
  const std::string_view tag = (*fields)[0];
  for (uint8_t s = 0; s < kind.shapeCount; ++s) {
    const LineShape& shape = kind.shapes[s];
    if (tag != shape.tag) continue;
    const size_t n = fields->size();
    switch (shape.role) {
      case LineRole::kSummary:
        if (n != 1u + shape.values || !AllNumbers(*fields, 1, shape.values, false)) return false;
        for (uint8_t v = 0; v < shape.values; ++v) {
          file->summary[shape.firstColumn + v] = NumberValue((*fields)[1 + v]);
        }
        file->hasSummary = true;
        return true;
      case LineRole::kHour: {
        if (n != 2u + shape.values || !AllNumbers(*fields, 1, 1 + shape.values, false)) {
          return false;
        }
        const std::string_view hourText = (*fields)[1];
        if (hourText.size() != 2) return false;
        const int hour = (hourText[0] - '0') * 10 + (hourText[1] - '0');
        if (hour > 23) return false;
        for (uint8_t v = 0; v < shape.values; ++v) {
          file->hours[hour][v] = NumberValue((*fields)[2 + v]);
        }
        file->hasHours = true;
        return true;
      }
      case LineRole::kTopList: {
        if (n < 2u + shape.values) return false;
        const size_t firstValue = n - shape.values;
        if (!AllNumbers(*fields, firstValue, shape.values, shape.timeLast)) return false;
        TopList* list = nullptr;
        for (TopList& candidate : file->lists) {
          if (candidate.shape == &shape) list = &candidate;
        }
        if (list == nullptr) return false;
        TopRow row;
        // The key runs from behind the label to before the values.
        const size_t keyBegin = tag.size() + 1;
        const size_t keyEnd = static_cast<size_t>((*fields)[firstValue].data() - line.data()) - 1;
        row.key.assign(line.substr(keyBegin, keyEnd - keyBegin));
        for (size_t i = firstValue; i < n; ++i) row.values.emplace_back((*fields)[i]);
        list->rows.push_back(std::move(row));
        return true;
      }
    }
  }
  return false;
}

bool EqualsIgnoringCase(const wchar_t* a, const wchar_t* b, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    wchar_t x = a[i], y = b[i];
    if (x >= L'A' && x <= L'Z') x = static_cast<wchar_t>(x - L'A' + L'a');
    if (y >= L'A' && y <= L'Z') y = static_cast<wchar_t>(y - L'A' + L'a');
    if (x != y) return false;
  }
  return true;
}

}  // namespace

const MetadataKind& GetMetadataKind(uint32_t kind) { return kKinds[kind % kKindCount]; }

void ParseMetadataText(uint32_t kindId, std::string_view text, MetadataFile* file) {
  const MetadataKind& kind = GetMetadataKind(kindId);
  *file = MetadataFile();
  file->present = true;
  for (uint8_t s = 0; s < kind.shapeCount; ++s) {
    if (kind.shapes[s].role == LineRole::kTopList) {
      file->lists.push_back(TopList{&kind.shapes[s], {}});
    }
  }
  std::vector<std::string_view> fields;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) continue;
    if (!ParseLine(kind, line, file, &fields)) ++file->skippedLines;
  }
}

ResultCode ReadMetadataFile(uint32_t kind, const wchar_t* path, MetadataFile* file) {
  constexpr size_t kMaxFileBytes = 256u << 20;
  FILE* stream = OpenStream(path, "rb");
  if (stream == nullptr) {
    return FileExists(path) ? kErrOpenFailed : kErrFileNotFound;
  }
  std::string bytes;
  char buffer[65536];
  size_t got = 0;
  ResultCode result = kOk;
  while ((got = fread(buffer, 1, sizeof buffer, stream)) > 0) {
    if (bytes.size() + got > kMaxFileBytes) {
      result = kErrInvalidData;
      break;
    }
    bytes.append(buffer, got);
  }
  if (result == kOk && ferror(stream)) result = kErrReadFault;
  fclose(stream);
  if (result != kOk) return result;
  ParseMetadataText(kind, bytes, file);
  return kOk;
}

bool MatchMetadataName(const wchar_t* folder, const wchar_t* name, uint32_t* kind,
                       uint32_t* date) {
  const size_t nameLength = wcslen(name);
  for (uint32_t k = 0; k < kKindCount; ++k) {
    const MetadataKind& entry = kKinds[k];
    const bool sameFolder = (folder == nullptr && entry.folder == nullptr) ||
                            (folder != nullptr && entry.folder != nullptr &&
                             wcscmp(folder, entry.folder) == 0);
    if (!sameFolder) continue;
    const size_t prefixLength = wcslen(entry.prefix);
    if (nameLength != prefixLength + 12) continue;
    if (!EqualsIgnoringCase(name, entry.prefix, prefixLength)) continue;
    if (!EqualsIgnoringCase(name + prefixLength + 8, L".csv", 4)) continue;
    uint32_t value = 0;
    bool digits = true;
    for (size_t i = prefixLength; i < prefixLength + 8; ++i) {
      if (name[i] < L'0' || name[i] > L'9') digits = false;
      value = value * 10 + static_cast<uint32_t>(name[i] - L'0');
    }
    if (!digits || !IsValidDate(value / 10000, value / 100 % 100, value % 100)) continue;
    *kind = k;
    *date = value;
    return true;
  }
  return false;
}

ResultCode ScanMetadataFolder(const wchar_t* folder, MetadataDays* days) {
  if (!DirectoryExists(folder)) return kErrPathNotFound;
  const wchar_t* const subfolders[] = {nullptr, kChartFolder, kHttpFolder};
  for (const wchar_t* sub : subfolders) {
    const std::wstring dir = sub == nullptr ? std::wstring(folder) : JoinPath(folder, sub, false);
    const std::wstring mask = JoinPath(dir.c_str(), L"_*.csv", false);
    DirEnum* search = nullptr;
    FileInfo info;
    ResultCode result = DirEnumOpen(mask.c_str(), kFileInfoName | kFileInfoMode, &search, &info);
    if (result == kErrFileNotFound || result == kErrPathNotFound) continue;
    if (result != kOk) return result;
    while (result == kOk) {
      uint32_t kind = 0, date = 0;
      if ((info.mode & kFileModeRegular) != 0 && MatchMetadataName(sub, info.name, &kind, &date)) {
        (*days)[date][kind] = JoinPath(dir.c_str(), info.name, false);
      }
      result = DirEnumNext(search, kFileInfoName | kFileInfoMode, &info);
    }
    DirEnumClose(search);
    if (result != kErrNoMoreEntries) return result;
  }
  return kOk;
}
