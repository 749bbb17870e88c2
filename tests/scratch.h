// Scratch space of the tests: a fresh folder below the system temporary
// folder, removed at the end, and whole-file reads and writes.
#pragma once

#include <unistd.h>

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

// A folder of its own per object (process id and a counter in its name).
struct Folder {
  fs::path path;
  explicit Folder(const std::string& tag = "t") {
    static int counter = 0;
    path = fs::temp_directory_path() /
           ("varno_" + tag + "_" + std::to_string(getpid()) + "_" + std::to_string(counter++));
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
