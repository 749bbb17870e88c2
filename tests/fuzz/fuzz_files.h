// Shared by the fuzz targets that run a real reader over files: a private
// temporary folder per process, whole-file writes and reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "frame/console.h"

namespace fuzz {

// A folder of this process below $TMPDIR (or /tmp), created on first use.
inline const std::string& Folder(const char* tag) {
  static const std::string folder = [tag] {
    const char* base = std::getenv("TMPDIR");
    std::string path = std::string(base != nullptr && *base != 0 ? base : "/tmp") + "/varno_" +
                       tag + "_" + std::to_string(getpid());
    std::error_code error;
    std::filesystem::create_directories(path, error);
    if (error) std::abort();
    const wchar_t* argv[] = {L"fuzz"};
    ConsoleStart(1, argv);
    return path;
  }();
  return folder;
}

inline std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

inline void WriteBytes(const std::string& path, const char* data, size_t size) {
  FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) std::abort();
  if (size != 0 && std::fwrite(data, 1, size, out) != size) std::abort();
  std::fclose(out);
}

inline std::string ReadBytes(const std::string& path) {
  std::string bytes;
  FILE* in = std::fopen(path.c_str(), "rb");
  if (in == nullptr) return bytes;
  char chunk[65536];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, in)) > 0) bytes.append(chunk, got);
  std::fclose(in);
  return bytes;
}

// Condition text of the option fuzz targets: bytes become wide characters two
// at a time, so any code unit can appear; NUL becomes the separator ';'.
inline std::wstring ConditionText(const uint8_t* data, size_t size) {
  std::wstring text;
  for (size_t i = 0; i + 1 < size; i += 2) {
    const wchar_t c = static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
    text.push_back(c == 0 ? L';' : c);
  }
  return text;
}

// Empty condition values are stored as "*", never as "".
inline void CheckPatternList(char** list) {
  for (char** p = list; p != nullptr && *p != nullptr; ++p) {
    if ((*p)[0] == '\0') std::abort();
  }
}

}  // namespace fuzz
