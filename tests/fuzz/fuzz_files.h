// Shared by the fuzz targets: a private temporary folder per process,
// whole-file writes and reads, and the small checks several targets make.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <unistd.h>

#include "frame/console.h"

namespace fuzz {

// $TMPDIR, else memory-backed /dev/shm when writable (the readers' files are
// rewritten and flushed to disk for every input), else /tmp.
inline std::string TempRoot() {
  const char* base = std::getenv("TMPDIR");
  if (base != nullptr && *base != 0) return base;
  return access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
}

// A path of this process below TempRoot, named after the target's tag.
inline std::string TempBase(const char* tag) {
  return TempRoot() + "/varno-" + tag + "-fuzz-" + std::to_string(getpid());
}

// Creates the folder TempBase(tag), removed with its files when the process
// exits normally (after a crash it stays, for a look at the files).
inline std::string MakeFolder(const char* tag) {
  static std::string made;
  made = TempBase(tag);
  std::error_code error;
  std::filesystem::create_directories(made, error);
  if (error) std::abort();
  std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(made, ignored);
  });
  return made;
}

// MakeFolder's folder, made on first use together with the console layer
// that the runs of whole modes write through.
inline const std::string& Folder(const char* tag) {
  static const std::string folder = [tag] {
    std::string path = MakeFolder(tag);
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

// Length of the longest run of bytes holding none of the line-end bytes.
inline size_t LongestLine(std::string_view bytes, std::string_view ends = "\n") {
  size_t longest = 0;
  size_t run = 0;
  for (char c : bytes) {
    run = ends.find(c) != std::string_view::npos ? 0 : run + 1;
    if (run > longest) longest = run;
  }
  return longest;
}

// How often the piece stands in the text, overlapping places counted.
inline size_t CountOf(std::string_view text, std::string_view piece) {
  size_t count = 0;
  for (size_t at = text.find(piece); at != std::string_view::npos; at = text.find(piece, at + 1)) {
    ++count;
  }
  return count;
}

// Bytes become wide characters two at a time, so any code unit can appear;
// a NUL unit becomes the list separator ';'.
inline std::wstring WideUnits(const uint8_t* data, size_t size) {
  std::wstring text;
  for (size_t i = 0; i + 1 < size; i += 2) {
    wchar_t c = static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
    text.push_back(c == 0 ? L';' : c);
  }
  return text;
}

// Aborts when a parsed condition list holds an empty value (those are stored as "*").
inline void CheckNoEmptyValue(char** list) {
  if (list == nullptr) return;
  for (char** p = list; *p != nullptr; ++p) {
    if ((*p)[0] == '\0') std::abort();
  }
}

}  // namespace fuzz
