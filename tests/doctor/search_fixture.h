// Temporary log directories and SMTP lines for the doctor's tests.
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

}  // namespace search_test
