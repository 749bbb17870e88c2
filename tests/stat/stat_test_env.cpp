#include "stat_test_env.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "frame/console.h"
#include "platform/console.h"

void EnsureConsoleStarted() {
  static bool started = false;
  if (started) return;
  started = true;
  const wchar_t* argv[] = {L"stat_tests"};
  ConsoleStart(1, argv);
}

std::wstring MakeTempFolder(const char* tag) {
  static std::atomic<int> counter{0};
  std::filesystem::path dir = std::filesystem::temp_directory_path() /
                              ("varno_stat_" + std::to_string(CurrentProcessId()) + "_" + tag +
                               "_" + std::to_string(counter++));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir.wstring();
}

std::string ReadFileBytes(const std::wstring& path) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  if (!in) return "";
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes) {
  std::ofstream out(std::filesystem::path(path), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
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
  const std::wstring dir = MakeTempFolder("handler");
  const std::wstring outPath = dir + L"/out.csv";
  auto open = [&dir](const std::string* bytes, const wchar_t* name) -> FILE* {
    if (bytes == nullptr) return nullptr;
    const std::wstring path = dir + name;
    WriteFileBytes(path, *bytes);
    return OpenStream(path.c_str(), "rb");
  };
  FILE* in = open(primary, L"/day.log");
  FILE* in2 = open(secondary, L"/day2.log");
  FILE* out = OpenStream(outPath.c_str(), "wt");
  run.lines = lines;
  run.lastTime = lastTime;
  run.result = handler(in, in2, out, 0, &run.lines, &run.lastTime, &settings, nullptr, event);
  if (in != nullptr) fclose(in);
  if (in2 != nullptr) fclose(in2);
  if (out != nullptr) fclose(out);
  run.output = ReadFileBytes(outPath);
  std::filesystem::remove_all(std::filesystem::path(dir));
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
