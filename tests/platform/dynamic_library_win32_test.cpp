// Libraries loaded by name at run time, and the feed without "libmysql.dll".
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "frame/postprocessor.h"
#include "platform/dynamic_library.h"
#include "platform/process.h"

namespace {

namespace fs = std::filesystem;

TEST(DynamicLibraryWin32, FirstLoadableNameWinsAndMissingNamesGiveNull) {
  const struct {
    const char* names[3];
    ResultCode expected;
  } cases[] = {
      {{"kernel32.dll", nullptr, nullptr}, kOk},
      {{"varno-no-such-library.dll", "kernel32.dll", nullptr}, kOk},
      {{"libmysql.dll", nullptr, nullptr}, kErrNotFound},
      {{nullptr, nullptr, nullptr}, kErrNotFound},
  };
  for (const auto& c : cases) {
    DynamicLibrary* library = nullptr;
    EXPECT_EQ(DynamicLibraryOpen(c.names, &library), c.expected) << (c.names[0] ? c.names[0] : "(none)");
    EXPECT_EQ(library != nullptr, c.expected == kOk);
    if (library == nullptr) continue;
    EXPECT_NE(DynamicLibrarySymbol(library, "GetTickCount"), nullptr);
    EXPECT_EQ(DynamicLibrarySymbol(library, "varno_no_such_name"), nullptr);
    DynamicLibraryClose(library);
  }
  EXPECT_STREQ(kMysqlClientLibraryNames[0], "libmysql.dll");
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(DynamicLibraryWin32, FeedWithoutTheClientLibraryFailsAndTouchesNoFile) {
  DynamicLibrary* present = nullptr;
  if (DynamicLibraryOpen(kMysqlClientLibraryNames, &present) == kOk) {
    DynamicLibraryClose(present);
    GTEST_SKIP() << "libmysql.dll is installed here";
  }
  const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
  const fs::path dir = fs::temp_directory_path() / ("varno_nolib_" + std::to_string(now));
  const fs::path logs = dir / "logs";
  fs::create_directories(logs);
  std::ofstream(logs / "feed-dbf.stat", std::ios::binary) << "last-in = 2008/04/27,3\r\n";
  const fs::path copy = dir / "console.txt";
  std::wstring commandLine;
  for (const fs::path& arg : {fs::path(VARNO_BIN), fs::path("--dbg_set_log=" + copy.string()),
                              fs::path("--dbfeed=feed"), logs}) {
    AppendArgument(&commandLine, arg.wstring().c_str());
  }
  ASSERT_EQ(StartProcess(commandLine.c_str(), dir.wstring().c_str(), 1), kOk);
  EXPECT_EQ(ReadFile(copy),
            "Failed to initialize database connector interface, EC:-17\r\nAn error occured. EC: -17\r\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(logs), fs::directory_iterator()), 1);
  EXPECT_EQ(ReadFile(logs / "feed-dbf.stat"), "last-in = 2008/04/27,3\r\n");
  fs::remove_all(dir);
}

}  // namespace
