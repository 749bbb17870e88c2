// Merge of result files read from standard input when no file is named (the
// merges of named files are cases in e2e/cases/merge).
#include "webstat/merge_results.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "../scratch.h"

namespace {

TEST(MergeResultsTest, StandardInputWhenNoNames) {
  scratch::Folder folder("merge");
  const std::filesystem::path in = folder.path / "stdin.txt";
  const std::filesystem::path out = folder.path / "out.txt";
  scratch::WriteFile(in, "TUH;carol;5\n");
  ASSERT_NE(std::freopen(in.string().c_str(), "r", stdin), nullptr);
  OutputSettings settings;
  EXPECT_EQ(MergeResults({}, &settings, out.wstring().c_str()), kOk);
  EXPECT_NE(scratch::ReadFile(out).find("\nTUH;carol;5\r\n"), std::string::npos);
}

}  // namespace
