// The run state file on POSIX: temporaries of dead processes are removed,
// those of running ones (process 1 always runs here) are kept.
#include "stat/stat_state.h"

#include <gtest/gtest.h>

#include <string>

#include "../scratch.h"
#include "stat/stat_types.h"
#include "stat_test_env.h"

namespace {

TEST(StatStatePosixTest, SaveRemovesTemporariesOfDeadProcessesOnly) {
  EnsureConsoleStarted();
  ResetStatState();
  scratch::Folder dir("state-posix");
  // 999999999 is above every pid limit.
  const char* stale[] = {"_varno.stat.999999999.tmp", "_varno.last.999999999.tmp"};
  const char* kept[] = {"_varno.stat.1.tmp", "_varno.stat.x.tmp", "_varno.last.1.tmp"};
  for (const char* name : stale) scratch::WriteFile(dir / name, "x");
  for (const char* name : kept) scratch::WriteFile(dir / name, "x");
  EXPECT_EQ(SaveStatState(dir.Wide().c_str(), kStatAll), kOk);
  for (const char* name : stale) EXPECT_FALSE(scratch::fs::exists(dir / name));
  for (const char* name : kept) EXPECT_TRUE(scratch::fs::exists(dir / name));
  ResetStatState();
}

}  // namespace
