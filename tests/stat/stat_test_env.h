// Shared helpers of the metadata generator tests.
#pragma once

#include <string>

// Starts the console layer once for the test process (messages need it).
void EnsureConsoleStarted();

#include <cstdint>

#include "common/output_settings.h"
#include "stat/stat_types.h"

struct HandlerRun {
  ResultCode result = kOk;
  uint32_t lines = 0;
  uint64_t lastTime = 0;
  std::string output;  // bytes on disk (CR LF)
};

// Runs a handler over `log` (bytes of the day's log) from the resume point.
HandlerRun RunHandlerOn(StatHandler handler, const std::string& log,
                        const OutputSettings& settings = OutputSettings{}, uint32_t lines = 0,
                        uint64_t lastTime = 0, JobEvent* event = nullptr);

// The same with a primary and a secondary log (null: no such stream).
HandlerRun RunTwoLogHandler(StatHandler handler, const std::string* primary,
                            const std::string* secondary,
                            const OutputSettings& settings = OutputSettings{}, uint32_t lines = 0,
                            uint64_t lastTime = 0, JobEvent* event = nullptr);

// "S;..." style expected text: joins lines with CR LF after each.
std::string CrLfLines(const std::initializer_list<std::string>& lines);
// 24 hour lines "<tag>;HH;<zeros>" except the given hours' rows.
std::string HourRows(const std::string& tag, const std::string& zeros,
                     const std::initializer_list<std::pair<int, std::string>>& rows);
