// The progress file: always exactly one line, rewritten in place, deleted at
// close; and the callback that reports progress or asks to stop.
#include "frame/progress.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "../scratch.h"
#include "platform/fs.h"
#include "common/time.h"
#include "frame/jobs.h"

namespace {

using scratch::ReadFile;

TEST(ProgressFile, WithADirectoryOnlyTheLastComponentIsUsed) {
  scratch::Folder root("progress");
  const auto dir = root / "created/here";
  ProgressFile* progress = nullptr;
  ASSERT_EQ(OpenProgressFile(dir.wstring().c_str(), L"C:\\tmp/other\\p.txt", &progress), kOk);
  EXPECT_EQ(ReadFile(dir / "p.txt"), "");
  EXPECT_TRUE(scratch::fs::exists(dir / "p.txt"));
  CloseProgressFile(progress);
  EXPECT_FALSE(scratch::fs::exists(dir / "p.txt"));
  // A failed open gives no record; reports without one do nothing.
  progress = reinterpret_cast<ProgressFile*>(1);
  EXPECT_NE(OpenProgressFile(nullptr, L"/nonexistent-varno/dir/p.txt", &progress), kOk);
  EXPECT_EQ(progress, nullptr);
  ReportStatProgress(nullptr, 1, 2, 3, 4, L"a", L"b");
  ReportTextProgress(nullptr, 1, 2, L"a");
  ReportDayProgress(nullptr, 1, 2, 5);
}

// Each report rewrites the one line; -1 and null keep the value before.
TEST(ProgressFile, LinesOfEachFormKeepMissingValuesAndCutTexts) {
  scratch::Folder dir("progress");
  const auto path = dir / "p.txt";
  ProgressFile* progress = nullptr;
  ASSERT_EQ(OpenProgressFile(dir.Wide().c_str(), L"p.txt", &progress), kOk);
  const std::wstring f40(40, L'f'), s100(100, L's');
  const TimeValue day = MakeTime(2008, 4, 27, 13, 5, 0);
  const std::pair<std::function<void()>, std::string> steps[] = {
      {[&] { ReportStatProgress(progress, 150, 20, 3, 4, L"smtp20080427.log", L"a long second text"); },
       "100;20;3;4;smtp20080427.log;a long second text"},
      {[&] { ReportStatProgress(progress, -1, 30, -1, 9, nullptr, L"short"); }, "100;30;3;9;smtp20080427.log;short"},
      {[&] { ReportStatProgress(progress, 5, -1, -1, -1, L"", nullptr); }, "5;30;3;9;;short"},
      {[&] { ReportStatProgress(progress, 1, 2, 3, 4, f40.c_str(), s100.c_str()); },
       "1;2;3;4;" + std::string(31, 'f') + ";" + std::string(63, 's')},
      {[&] { ReportTextProgress(progress, -1, -1, s100.c_str()); }, "1;2;" + std::string(63, 's')},
      {[&] { ReportTextProgress(progress, 7, 250, L"Searching smtp20080427.log"); }, "7;100;Searching smtp20080427.log"},
      {[&] { ReportTextProgress(progress, -1, 50, nullptr); }, "7;50;Searching smtp20080427.log"},
      {[&] { ReportDayProgress(progress, 8, 9, day); }, "8;9;kelb20080427.log"},
      {[&] { ReportDayProgress(progress, -1, 10, 0); }, "8;10;kelb20080427.log"},
      {[&] { ReportDayProgress(progress, -1, -1, kProgressNoDay); }, "8;10;"},
  };
  for (const auto& [step, line] : steps) {
    step();
    EXPECT_EQ(ReadFile(path), line + "\r\n");  // readable while the run holds it
  }
  CloseProgressFile(progress);
  EXPECT_FALSE(scratch::fs::exists(path));
}

TEST(ProgressCallback, ReportsUntilTheJobIsCancelled) {
  scratch::Folder dir("progress");
  SetEnvironmentValue(L"XDG_RUNTIME_DIR", dir.Wide().c_str());
  ProgressContext context{};
  ASSERT_EQ(OpenProgressFile(dir.Wide().c_str(), L"p.txt", &context.progress), kOk);
  ASSERT_EQ(CreateJobEvent(L"progress-callback-test", &context.event), kOk);
  EXPECT_EQ(ProgressCallback(&context, -1, 40, L"reading"), 0);
  EXPECT_EQ(ReadFile(dir / "p.txt"), "0;40;reading\r\n");
  ASSERT_EQ(CancelJob(L"progress-callback-test"), kOk);
  EXPECT_EQ(ProgressCallback(&context, 50, 50, L"later"), kUserAbort);
  EXPECT_EQ(ReadFile(dir / "p.txt"), "0;40;reading\r\n");
  ProgressContext empty{};
  EXPECT_EQ(ProgressCallback(&empty, 1, 1, L"x"), 0);
  EXPECT_EQ(ProgressCallback(nullptr, 1, 1, L"x"), 0);
  CloseJobEvent(context.event);
  CloseProgressFile(context.progress);
  SetEnvironmentValue(L"XDG_RUNTIME_DIR", nullptr);
}

}  // namespace
