#include "stat_test_env.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "../scratch.h"

#include "frame/console.h"
#include "platform/console.h"

void EnsureConsoleStarted() {
  static bool started = false;
  if (started) return;
  started = true;
  const wchar_t* argv[] = {L"stat_tests"};
  ConsoleStart(1, argv);
}

#include "platform/stream.h"

HandlerRun RunHandlerOn(StatHandler handler, const std::string& log, const OutputSettings& settings,
                        uint32_t lines, uint64_t lastTime, JobEvent* event) {
  return RunTwoLogHandler(handler, &log, nullptr, settings, lines, lastTime, event);
}

HandlerRun RunTwoLogHandler(StatHandler handler, const std::string* primary,
                            const std::string* secondary, const OutputSettings& settings,
                            uint32_t lines, uint64_t lastTime, JobEvent* event) {
  EnsureConsoleStarted();
  HandlerRun run;
  const scratch::Folder dir("stat");
  auto open = [&dir](const std::string* bytes, const char* name) -> FILE* {
    if (bytes == nullptr) return nullptr;
    scratch::WriteFile(dir / name, *bytes);
    return OpenStream(dir.Wide(name).c_str(), "rb");
  };
  FILE* in = open(primary, "day.log");
  FILE* in2 = open(secondary, "day2.log");
  FILE* out = OpenStream(dir.Wide("out.csv").c_str(), "wt");
  run.lines = lines;
  run.lastTime = lastTime;
  run.result = handler(in, in2, out, 0, &run.lines, &run.lastTime, &settings, nullptr, event);
  if (in != nullptr) fclose(in);
  if (in2 != nullptr) fclose(in2);
  if (out != nullptr) fclose(out);
  run.output = scratch::ReadFile(dir / "out.csv");
  return run;
}

std::string CrLfLines(const std::initializer_list<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

std::string HourRows(const std::string& tag, const std::string& zeros,
                     const std::initializer_list<std::pair<int, std::string>>& rows) {
  std::string text;
  for (int hour = 0; hour < 24; ++hour) {
    std::string values = zeros;
    for (const auto& row : rows) {
      if (row.first == hour) values = row.second;
    }
    char prefix[16];
    snprintf(prefix, sizeof prefix, "%s;%02d;", tag.c_str(), hour);
    text += prefix + values + "\r\n";
  }
  return text;
}
