// The progress file: always exactly one line, rewritten in place, deleted at
// close; and the callback that reports progress or asks to stop.
#include "frame/progress.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/console.h"
#include "platform/fs.h"

#include "frame/jobs.h"
#include "common/time.h"

namespace fs = std::filesystem;

namespace {

fs::path MakeFolder(const char* tag) {
  fs::path dir = fs::temp_directory_path() /
                 ("varno_progress_" + std::to_string(CurrentProcessId()) + "_" + tag);
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

std::string Content(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

TEST(ProgressFile, WithADirectoryOnlyTheLastComponentIsUsed) {
  fs::path root = MakeFolder("dir");
  fs::path dir = root / "created" / "here";
  ProgressFile* progress = nullptr;
  ASSERT_EQ(OpenProgressFile(dir.wstring().c_str(), L"C:\\tmp/other\\p.txt", &progress), kOk);
  ASSERT_NE(progress, nullptr);
  EXPECT_TRUE(fs::exists(dir / "p.txt"));
  EXPECT_EQ(Content(dir / "p.txt"), "");
  CloseProgressFile(progress);
  EXPECT_FALSE(fs::exists(dir / "p.txt"));
  fs::remove_all(root);
}

TEST(ProgressFile, StatLineIsRewrittenInPlaceAndKeepsMissingValues) {
  fs::path dir = MakeFolder("stat");
  fs::path path = dir / "_varno.run";
  ProgressFile* progress = nullptr;
  ASSERT_EQ(OpenProgressFile(nullptr, path.wstring().c_str(), &progress), kOk);
  ReportStatProgress(progress, 150, 20, 3, 4, L"smtp20080427.log", L"a long second text");
  // Readable by another reader while the run still holds it.
  EXPECT_EQ(Content(path), "100;20;3;4;smtp20080427.log;a long second text\r\n");
  ReportStatProgress(progress, -1, 30, -1, 9, nullptr, L"short");
  EXPECT_EQ(Content(path), "100;30;3;9;smtp20080427.log;short\r\n");
  ReportStatProgress(progress, 5, -1, -1, -1, L"", nullptr);
  EXPECT_EQ(Content(path), "5;30;3;9;;short\r\n");
  CloseProgressFile(progress);
  EXPECT_FALSE(fs::exists(path));
  fs::remove_all(dir);
}

TEST(ProgressFile, TextsAreCutTo31And63Bytes) {
  fs::path dir = MakeFolder("cut");
  ProgressFile* progress = nullptr;
  ASSERT_EQ(OpenProgressFile(dir.wstring().c_str(), L"p.txt", &progress), kOk);
  std::wstring first(40, L'f');
  std::wstring second(100, L's');
  ReportStatProgress(progress, 1, 2, 3, 4, first.c_str(), second.c_str());
  EXPECT_EQ(Content(dir / "p.txt"),
            "1;2;3;4;" + std::string(31, 'f') + ";" + std::string(63, 's') + "\r\n");
  ReportTextProgress(progress, -1, -1, second.c_str());
  EXPECT_EQ(Content(dir / "p.txt"), "1;2;" + std::string(63, 's') + "\r\n");
  CloseProgressFile(progress);
  fs::remove_all(dir);
}

TEST(ProgressFile, TextAndDayLines) {
  fs::path dir = MakeFolder("forms");
  fs::path path = dir / "p.txt";
  ProgressFile* progress = nullptr;
  ASSERT_EQ(OpenProgressFile(dir.wstring().c_str(), L"p.txt", &progress), kOk);
  ReportTextProgress(progress, 7, 250, L"Searching smtp20080427.log");
  EXPECT_EQ(Content(path), "7;100;Searching smtp20080427.log\r\n");
  ReportTextProgress(progress, -1, 50, nullptr);
  EXPECT_EQ(Content(path), "7;50;Searching smtp20080427.log\r\n");

  TimeValue day = MakeTime(2008, 4, 27, 13, 5, 0);
  ASSERT_NE(day, 0u);
  ReportDayProgress(progress, 8, 9, day);
  EXPECT_EQ(Content(path), "8;9;kelb20080427.log\r\n");
  ReportDayProgress(progress, -1, 10, 0);
  EXPECT_EQ(Content(path), "8;10;kelb20080427.log\r\n");
  ReportDayProgress(progress, -1, -1, kProgressNoDay);
  EXPECT_EQ(Content(path), "8;10;\r\n");
  CloseProgressFile(progress);
  fs::remove_all(dir);
}

TEST(ProgressFile, FailuresLeaveNoRecordAndReportsWithoutOneDoNothing) {
  ProgressFile* progress = reinterpret_cast<ProgressFile*>(1);
  EXPECT_NE(OpenProgressFile(nullptr, L"/nonexistent-varno/dir/p.txt", &progress), kOk);
  EXPECT_EQ(progress, nullptr);
  ReportStatProgress(nullptr, 1, 2, 3, 4, L"a", L"b");
  ReportTextProgress(nullptr, 1, 2, L"a");
  ReportDayProgress(nullptr, 1, 2, 5);
  CloseProgressFile(nullptr);
}

TEST(ProgressCallback, ReportsUntilTheJobIsCancelled) {
  fs::path dir = MakeFolder("callback");
  SetEnvironmentValue(L"XDG_RUNTIME_DIR", fs::path(dir.c_str()).wstring().c_str());
  ProgressContext context{};
  ASSERT_EQ(OpenProgressFile(dir.wstring().c_str(), L"p.txt", &context.progress), kOk);
  ASSERT_EQ(CreateJobEvent(L"progress-callback-test", &context.event), kOk);
  EXPECT_EQ(ProgressCallback(&context, -1, 40, L"reading"), 0);
  EXPECT_EQ(Content(dir / "p.txt"), "0;40;reading\r\n");
  ASSERT_EQ(CancelJob(L"progress-callback-test"), kOk);
  EXPECT_EQ(ProgressCallback(&context, 50, 50, L"later"), kUserAbort);
  EXPECT_EQ(Content(dir / "p.txt"), "0;40;reading\r\n");
  ProgressContext empty{};
  EXPECT_EQ(ProgressCallback(&empty, 1, 1, L"x"), 0);
  EXPECT_EQ(ProgressCallback(nullptr, 1, 1, L"x"), 0);
  CloseJobEvent(context.event);
  CloseProgressFile(context.progress);
  SetEnvironmentValue(L"XDG_RUNTIME_DIR", nullptr);
  fs::remove_all(dir);
}

}  // namespace
