// Fuzz target: any metadata file of any kind is read and rendered; the page
// keeps exactly its own script, holds no NUL byte and is valid UTF-8, so no
// file content becomes markup or breaks the encoding.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz_files.h"
#include "platform/text.h"
#include "report/report_page.h"

namespace {

bool IsValidUtf8(const std::string& text) {
  for (size_t i = 0; i < text.size();) {
    const uint8_t c = static_cast<uint8_t>(text[i]);
    size_t length = c < 0x80 ? 1 : (c >= 0xC2 && c <= 0xDF) ? 2 : (c >= 0xE0 && c <= 0xEF) ? 3
                                 : (c >= 0xF0 && c <= 0xF4) ? 4 : 0;
    if (length == 0 || i + length > text.size()) return false;
    for (size_t k = 1; k < length; ++k) {
      if ((static_cast<uint8_t>(text[i + k]) & 0xC0) != 0x80) return false;
    }
    i += length;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static const std::string path = fuzz::TempBase("report") + ".csv";
  const uint32_t kind = data[0] % kKindCount;
  fuzz::WriteBytes(path, reinterpret_cast<const char*>(data) + 1, size - 1);

  ReportData report;
  report.days.emplace_back();
  ReportDay& day = report.days.back();
  day.date = 20240311;
  day.paths[kind] = MultibyteToWide(path.c_str());
  if (ReadMetadataFile(kind, day.paths[kind].c_str(), &day.files[kind]) != kOk) std::abort();
  std::remove(path.c_str());
  std::string html;
  RenderReportPage(report, "fuzz", &html);
  if (fuzz::CountOf(html, "<script") != 1 || html.find('\0') != std::string::npos || !IsValidUtf8(html)) {
    std::abort();
  }
  return 0;
}
