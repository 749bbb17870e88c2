// The run state file on POSIX: temporaries of dead processes are removed,
// those of running ones (process 1 always runs here) are kept.
#include "stat/stat_state.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "stat/stat_types.h"
#include "stat_test_env.h"

namespace {

TEST(StatStatePosixTest, SaveRemovesTemporariesOfDeadProcessesOnly) {
  EnsureConsoleStarted();
  ResetStatState();
  const std::wstring dir = MakeTempFolder("state-posix");
  auto path = [&dir](const wchar_t* name) { return std::filesystem::path(dir + L"/" + name); };
  // 999999999 is above every pid limit.
  const wchar_t* stale[] = {L"_varno.stat.999999999.tmp", L"_varno.last.999999999.tmp"};
  const wchar_t* kept[] = {L"_varno.stat.1.tmp", L"_varno.stat.x.tmp", L"_varno.last.1.tmp"};
  for (const wchar_t* name : stale) WriteFileBytes(path(name).wstring(), "x");
  for (const wchar_t* name : kept) WriteFileBytes(path(name).wstring(), "x");
  EXPECT_EQ(SaveStatState(dir.c_str(), kStatAll), kOk);
  for (const wchar_t* name : stale) EXPECT_FALSE(std::filesystem::exists(path(name)));
  for (const wchar_t* name : kept) EXPECT_TRUE(std::filesystem::exists(path(name)));
  ResetStatState();
  std::filesystem::remove_all(std::filesystem::path(dir));
}

}  // namespace
