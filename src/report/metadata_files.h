// Reading a metadata output folder: which files exist for which day and type,
// and the lines of each file (summary, 24 hours, top lists).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/types.h"

constexpr size_t kMaxColumns = 7;

// The kinds of metadata files, one per statistic type, in display order.
enum MetadataKindId : uint32_t {
  kKindSmtpIn, kKindSmtpOut, kKindSmtpChart, kKindRblIn, kKindRblOut, kKindRblChart,
  kKindPostIn, kKindPostOut, kKindBip, kKindHttpAl, kKindHttpTr, kKindHttpWf,
  kKindCount
};

enum class LineRole : uint8_t { kSummary, kHour, kTopList };

// How one tagged line of a kind is read. Values are the numeric fields after
// the tag (summary), after the hour (hourly line) or after the key (top
// list); a top-list key is everything between the label and its values, so
// keys that hold ';' survive.
struct LineShape {
  const char* tag;
  LineRole role;
  uint8_t values;
  uint8_t firstColumn;         // summary lines that carry one column each
  bool timeLast;               // the last value is a time of day HH:MM:SS
  const char* title;           // top lists: heading
  const char* const* columns;  // top lists: key column then value columns
};

// A chart of a kind: summary/hour columns drawn as stacked bars, bottom up.
struct ChartLayout {
  const char* title;
  uint8_t count;
  uint8_t columns[kMaxColumns];
};

struct MetadataKind {
  const char* name;      // the statistic type's name
  const char* title;     // heading on the page
  const wchar_t* folder; // subfolder of the output folder, or null
  const wchar_t* prefix; // file name: prefix + yyyymmdd + ".csv"
  uint8_t columnCount;   // values of the summary and hourly lines
  const char* const* columns;
  const LineShape* shapes;
  uint8_t shapeCount;
  ChartLayout charts[2];   // title null: no chart
};

// The table of kinds, indexed by MetadataKindId.
const MetadataKind& GetMetadataKind(uint32_t kind);

struct TopRow {
  std::string key;
  std::vector<std::string> values;  // as written in the file (validated)
};

struct TopList {
  const LineShape* shape = nullptr;
  std::vector<TopRow> rows;
};

// One metadata file as read.
struct MetadataFile {
  bool present = false;
  bool hasSummary = false;
  bool hasHours = false;
  double summary[kMaxColumns] = {};
  double hours[24][kMaxColumns] = {};
  std::vector<TopList> lists;  // one per top-list shape of the kind, in order
  uint32_t skippedLines = 0;   // malformed or unknown lines
};

// Reads the bytes of one metadata file of a kind (LF or CR LF line ends).
// Malformed lines are counted in skippedLines and otherwise ignored.
void ParseMetadataText(uint32_t kind, std::string_view text, MetadataFile* file);

// Reads a metadata file from disk. kErrFileNotFound when missing,
// kErrReadFault / kErrOpenFailed on failure, kErrInvalidData above 256 MiB.
ResultCode ReadMetadataFile(uint32_t kind, const wchar_t* path, MetadataFile* file);

// The kind and date (yyyymmdd) of a metadata file name in a folder (null for
// the output folder itself); false when the name is no metadata file. Names
// are compared ignoring ASCII case; the date must be a valid calendar day.
bool MatchMetadataName(const wchar_t* folder, const wchar_t* name, uint32_t* kind,
                       uint32_t* date);

// Days found in a metadata folder: date (yyyymmdd) -> path of each kind's
// file (empty when absent).
using MetadataDays = std::map<uint32_t, std::array<std::wstring, kKindCount>>;

// Scans the output folder and its type subfolders. kErrPathNotFound when the
// folder is missing; a missing subfolder is no error.
ResultCode ScanMetadataFolder(const wchar_t* folder, MetadataDays* days);
