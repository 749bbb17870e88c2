// Temporary log directories and line builders for the search run tests.
#pragma once

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace search_test {

class LogDir {
 public:
  LogDir() {
    std::random_device seed;
    path_ = std::filesystem::temp_directory_path() /
            ("varno_search_" + std::to_string(seed()) + "_" + std::to_string(seed()));
    std::filesystem::create_directories(path_);
  }
  ~LogDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  void Write(const std::string& name, const std::vector<std::string>& lines,
             const char* end = "\n") const {
    std::ofstream out(path_ / name, std::ios::binary);
    for (const std::string& line : lines) out << line << end;
  }
  std::wstring Wide() const { return path_.wstring(); }
  std::wstring WideFile(const std::string& name) const { return (path_ / name).wstring(); }
  std::string Read(const std::string& name) const {
    std::ifstream in(path_ / name, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  bool Exists(const std::string& name) const { return std::filesystem::exists(path_ / name); }

 private:
  std::filesystem::path path_;
};

inline std::string Smtp(const std::string& time, const std::string& sender,
                        const std::string& recipients, const std::string& ip,
                        const std::string& result, const std::string& id,
                        const std::string& flags = "0") {
  return "mx;" + time + ";0;" + sender + ";" + recipients + ";" + ip + ";" + result + ";" + id +
         ";8;host;ESMTP;" + flags;
}

inline std::string Rbl(const std::string& time, const std::string& virus, const std::string& spam,
                       const std::string& id, const std::string& verdict,
                       const std::string& flags = "0") {
  return "rbl;" + time + ";s@x;r@y;" + virus + ";" + spam + ";6;" + id + ";1.1.1.1;9;10;" +
         verdict + ";12;" + flags;
}

inline std::string PostAnnounce(const std::string& time, const std::string& id, int count) {
  return "pp;" + time + ";S;" + id + ";" + std::to_string(count);
}

inline std::string PostEnd(const std::string& time, const std::string& id) {
  return "pp;" + time + ";E;" + id;
}

inline std::string PostStatus(const std::string& time, const std::string& id,
                              const std::string& word) {
  return "pp;" + time + ";0;q1;1;10.1.0.1;r@y;" + word + ";" + id + ";text";
}

// "\n" -> "\r\n": the listing file is written in text mode.
inline std::string Crlf(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

}  // namespace search_test
