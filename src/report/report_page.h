// The report page: the newest days of a metadata folder as one
// self-contained HTML file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/types.h"
#include "report/metadata_files.h"

struct ReportDay {
  uint32_t date = 0;  // yyyymmdd
  std::wstring paths[kKindCount];
  MetadataFile files[kKindCount];
};

struct ReportData {
  std::string folderLabel;     // the folder as the user named it
  std::string generatedAt;     // "yyyy-mm-dd HH:MM UTC"
  std::vector<ReportDay> days; // newest first
};

// Reads the newest maxDays days (>= 1) of the folder. kErrPathNotFound for a
// missing folder; a file that cannot be read is left out of its day.
ResultCode LoadReport(const wchar_t* folder, uint32_t maxDays, ReportData* data);

// Writes the whole page into html. nonce marks the page's own script (the
// page's content security policy runs no other script).
void RenderReportPage(const ReportData& data, std::string_view nonce, std::string* html);
