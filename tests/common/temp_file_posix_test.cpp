// A file replaced whole removes the temporary files of its name left by dead
// processes; those of running ones (process 1 always runs here) and other
// names stay.
#include "common/temp_file.h"

#include <gtest/gtest.h>

#include "../scratch.h"

namespace {

TEST(TemporaryFiles, ReplacingRemovesTemporariesOfDeadProcessesOnly) {
  scratch::Folder dir("temp-files");
  // 999999999 is above every pid limit.
  const char* stale[] = {"page.999999999.tmp", "page.42424242.tmp"};
  const char* kept[] = {"page.1.tmp", "page.x.tmp", "page.999999999.tmp.1", "other.999999999.tmp",
                        "page.999999999999.tmp"};
  for (const char* name : stale) scratch::WriteFile(dir / name, "x");
  for (const char* name : kept) scratch::WriteFile(dir / name, "x");
  EXPECT_EQ(ReplaceFileWhole((dir / "page").wstring().c_str(), "new", 3), kOk);
  EXPECT_EQ(scratch::ReadFile(dir / "page"), "new");
  for (const char* name : stale) EXPECT_FALSE(scratch::fs::exists(dir / name)) << name;
  for (const char* name : kept) EXPECT_TRUE(scratch::fs::exists(dir / name)) << name;
}

}  // namespace
