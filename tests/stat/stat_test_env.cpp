#include "stat_test_env.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/console.h"
#include "platform/console.h"

void EnsureConsoleStarted() {
  static bool started = false;
  if (started) return;
  started = true;
  const wchar_t* argv[] = {L"stat_tests"};
  ConsoleStart(1, argv);
}

std::string ToNarrow(const std::wstring& text) { return std::filesystem::path(text).string(); }

std::wstring ToWide(const std::string& text) { return std::filesystem::path(text).wstring(); }

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
