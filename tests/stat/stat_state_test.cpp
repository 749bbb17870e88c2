// The run state file: a failed replace keeps the old one. (Loading, saving with
// comments and other keys kept and the backup made once: the end-to-end cases
// stat/state_* and stat/diff_resumes_*.)
#include "stat/stat_state.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "common/temp_file.h"
#include "common/time.h"
#include "stat/stat_types.h"
#include "../scratch.h"
#include "stat_test_env.h"

namespace {

StatType& Row(const wchar_t* name) {
  StatType* table = StatTypeTable();
  for (int i = 0; i < kRealStatTypeCount; ++i) {
    if (std::wstring(table[i].name) == name) return table[i];
  }
  return table[0];
}

class StatStateTest : public testing::Test {
 protected:
  void SetUp() override {
    EnsureConsoleStarted();
    ResetStatState();
  }
  void TearDown() override { ResetStatState(); }
  std::filesystem::path Path(const char* name) const { return folder_ / name; }
  scratch::Folder folder_{"state"};
  const std::wstring dir_ = folder_.Wide();
};

TEST_F(StatStateTest, FailedTemporaryWriteLeavesTheOldFile) {
  const std::string old = "last_smtp_in = 2008-01-01,1,1,00:00:01\r\n";
  scratch::WriteFile(Path("_varno.stat"), old);
  // A folder where the temporary file should go makes the write fail.
  std::filesystem::create_directory(std::filesystem::path(TemporaryPathOf(Path("_varno.stat").wstring().c_str())));
  StatType& smtp = Row(L"SMTP-IN");
  smtp.daysDone = 1;
  smtp.lastDay = MakeTime(2008, 4, 28, 0, 0, 0);
  EXPECT_NE(SaveStatState(dir_.c_str(), kStatSmtpIn), kOk);
  EXPECT_EQ(scratch::ReadFile(Path("_varno.stat")), old);
}

}  // namespace
