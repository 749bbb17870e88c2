// Scratch space of the tests: a fresh folder below the system temporary
// folder, removed at the end, whole-file reads and writes, counting in texts.
#pragma once

#include "platform/console.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace scratch {

namespace fs = std::filesystem;

inline std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

inline void AppendFile(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::app) << bytes;
}

// Occurrences of part in text, overlapping ones included.
inline size_t CountOf(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

// A folder of its own per object (process id and a counter in its name).
struct Folder {
  fs::path path;
  explicit Folder(const std::string& tag = "t") {
    static int counter = 0;
    path = fs::temp_directory_path() /
           ("varno_" + tag + "_" + std::to_string(CurrentProcessId()) + "_" + std::to_string(counter++));
    fs::remove_all(path);
    fs::create_directories(path);
  }
  ~Folder() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
  }
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;
  fs::path operator/(const std::string& name) const { return path / name; }
  std::wstring Wide(const std::string& name = "") const {
    return (name.empty() ? path : path / name).wstring();
  }
};

}  // namespace scratch
