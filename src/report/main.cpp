// varno-report OUTDIR [--days N] [--output FILE] [--metrics FILE]: writes one
// self-contained HTML page of the newest days of a metadata output folder, and
// on request the newest day's totals for a monitoring agent.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/paths.h"
#include "common/time.h"
#include "platform/console.h"
#include "platform/text.h"
#include "report/metrics.h"
#include "report/report_page.h"

namespace {

constexpr const char kUsage[] =
    "Usage: varno-report OUTDIR [--days N] [--output FILE] [--metrics FILE]\n"
    "Writes an HTML page of the newest N days (default 31) of the metadata files\n"
    "in OUTDIR (written by varno --stat) to FILE (default OUTDIR/report.html).\n"
    "--metrics also writes the newest day's totals as OpenMetrics text to FILE.\n";

constexpr uint32_t kMaxDays = 3660;

struct ReportOptions {
  std::string folder;
  std::string output;
  std::string metrics;
  uint32_t days = 31;
};

void PrintError(const std::string& text) {
  const std::string line = "varno-report: " + text + "\n";
  WriteStandardStream(kStandardErr, line.data(), line.size());
}

bool ParseDays(const std::string& text, uint32_t* days) {
  if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  const unsigned long value = std::strtoul(text.c_str(), nullptr, 10);
  if (value < 1 || value > kMaxDays) return false;
  *days = static_cast<uint32_t>(value);
  return true;
}

// 0 parsed, 1 help shown, -1 usage error (already reported).
int ParseArguments(int argc, char** argv, ReportOptions* options) {
  bool haveFolder = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    std::string value;
    bool hasValue = false;
    const auto takeValue = [&](const char* name) {
      const std::string prefix = std::string(name) + "=";
      if (arg.rfind(prefix, 0) == 0) {
        value = arg.substr(prefix.size());
        hasValue = true;
        return true;
      }
      if (arg == name && i + 1 < argc) {
        value = argv[++i];
        hasValue = true;
        return true;
      }
      return arg == name;
    };
    if (arg == "--help" || arg == "-h") {
      WriteStandardStream(kStandardOut, kUsage, sizeof kUsage - 1);
      return 1;
    }
    if (takeValue("--days")) {
      if (!hasValue || !ParseDays(value, &options->days)) {
        PrintError("--days needs a number of days from 1 to " + std::to_string(kMaxDays) + ".");
        return -1;
      }
    } else if (takeValue("--output")) {
      if (!hasValue || value.empty()) {
        PrintError("--output needs a file name.");
        return -1;
      }
      options->output = value;
    } else if (takeValue("--metrics")) {
      if (!hasValue || value.empty()) {
        PrintError("--metrics needs a file name.");
        return -1;
      }
      options->metrics = value;
    } else if (arg.size() > 1 && arg[0] == '-') {
      PrintError("unknown option " + arg + ".");
      return -1;
    } else if (haveFolder) {
      PrintError("only one OUTDIR can be given.");
      return -1;
    } else {
      options->folder = arg;
      haveFolder = true;
    }
  }
  if (!haveFolder || options->folder.empty()) {
    PrintError("no OUTDIR given.");
    return -1;
  }
  return 0;
}

std::string NowText() {
  CalendarTime now{};
  SplitTime(NowUtc(), &now);
  char buffer[40];
  snprintf(buffer, sizeof buffer, "%04u-%02u-%02u %02u:%02u UTC", now.year, now.month, now.day,
           now.hour, now.minute);
  return buffer;
}

// A fresh value per page for the script's content-security nonce.
std::string MakeNonce() {
  uint64_t seed = NowUtc() ^ (static_cast<uint64_t>(CurrentProcessId()) << 40);
  seed ^= reinterpret_cast<uintptr_t>(&seed);
  char buffer[24];
  snprintf(buffer, sizeof buffer, "%016llx", static_cast<unsigned long long>(seed * 0x9E3779B97F4A7C15ULL));
  return buffer;
}

}  // namespace

int main(int argc, char** argv) {
  PlatformInitLocale();
  ReportOptions options;
  const int parsed = ParseArguments(argc, argv, &options);
  if (parsed != 0) {
    if (parsed < 0) WriteStandardStream(kStandardErr, kUsage, sizeof kUsage - 1);
    return parsed > 0 ? 0 : 1;
  }
  std::wstring folder, output, metrics;
  ResultCode result = ExpandPath(MultibyteToWide(options.folder.c_str()).c_str(), 0, &folder);
  if (result == kOk && !options.metrics.empty()) {
    result = ExpandPath(MultibyteToWide(options.metrics.c_str()).c_str(), 0, &metrics);
  }
  if (result == kOk && !options.output.empty()) {
    result = ExpandPath(MultibyteToWide(options.output.c_str()).c_str(), 0, &output);
  } else if (result == kOk) {
    output = JoinPath(folder.c_str(), L"report.html", false);
  }
  if (result != kOk) {
    PrintError("cannot expand the path (error " + std::to_string(result) + ").");
    return 1;
  }
  ReportData data;
  data.folderLabel = options.folder;
  data.generatedAt = NowText();
  result = LoadReport(folder.c_str(), options.days, &data);
  if (result != kOk) {
    PrintError("cannot read the folder " + options.folder + " (error " + std::to_string(result) + ").");
    return 1;
  }
  std::string html;
  RenderReportPage(data, MakeNonce(), &html);
  result = WriteFileReplacing(output.c_str(), html);
  if (result != kOk) {
    PrintError("cannot write " + WideToMultibyte(output.c_str()) + " (error " +
               std::to_string(result) + ").");
    return 1;
  }
  if (!metrics.empty()) {
    // A folder without days gives no file, so that stale totals are not
    // replaced by an empty day.
    std::string text;
    if (!data.days.empty()) RenderMetrics(data.days.front(), &text);
    result = data.days.empty() ? kOk : WriteFileReplacing(metrics.c_str(), text);
    if (result != kOk) {
      PrintError("cannot write " + WideToMultibyte(metrics.c_str()) + " (error " +
                 std::to_string(result) + ").");
      return 1;
    }
  }
  const std::string done = "Report of " + std::to_string(data.days.size()) + " day(s) written to " +
                           WideToMultibyte(output.c_str()) + "\n";
  WriteStandardStream(kStandardOut, done.data(), done.size());
  return 0;
}
