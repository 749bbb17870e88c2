// The run state file: loading, saving with comments kept, atomic replace.
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
  bool Exists(const char* name) const { return std::filesystem::exists(folder_ / name); }
  scratch::Folder folder_{"state"};
  const std::wstring dir_ = folder_.Wide();
};

TEST_F(StatStateTest, LoadsRequestedTypesOnly) {
  scratch::WriteFile(Path("_varno.stat"),
                 "last_smtp_in = 2008-04-27,1234,56,13:05:10  # note\r\n"
                 "last_rbl_in = 2008-04-26,1,2,01:02:03\r\n"
                 "last_bip = garbage,1,2,01:02:03\r\n"
                 "last_post_in = 2008-04-25,,,\r\n");
  ASSERT_EQ(LoadStatState(dir_.c_str(), kStatSmtpIn | kStatBip | kStatPostIn), kOk);
  const StatType& smtp = Row(L"SMTP-IN");
  EXPECT_EQ(smtp.lastDay, MakeTime(2008, 4, 27, 0, 0, 0));
  EXPECT_EQ(smtp.lastSize, 1234u);
  EXPECT_EQ(smtp.lastLines, 56u);
  EXPECT_EQ(smtp.lastTime, (13 * 3600ULL + 5 * 60 + 10) * kTicksPerSecond);
  EXPECT_EQ(Row(L"RBL-IN").lastDay, 0u);  // not requested
  EXPECT_EQ(Row(L"BIP").lastDay, 0u);     // unreadable date
  const StatType& post = Row(L"POST-IN");
  EXPECT_EQ(post.lastDay, MakeTime(2008, 4, 25, 0, 0, 0));
  EXPECT_EQ(post.lastLines, 0u);
  EXPECT_EQ(post.lastTime, 0u);
}

TEST_F(StatStateTest, SaveKeepsCommentsAndOtherKeysAndWritesOnlyDoneTypes) {
  scratch::WriteFile(Path("_varno.stat"), "# comment\r\n\r\nother = x\r\nlast_rbl_in = 2008-01-01,1,1,00:00:01\r\n");
  StatType& smtp = Row(L"SMTP-IN");
  smtp.daysDone = 1;
  smtp.lastDay = MakeTime(2008, 4, 28, 0, 0, 0);
  smtp.lastSize = 97;
  smtp.lastLines = 2;
  smtp.lastTime = (6 * 3600ULL + 30 * 60) * kTicksPerSecond;
  Row(L"RBL-IN").lastDay = MakeTime(2009, 1, 1, 0, 0, 0);  // not done: unchanged
  ASSERT_EQ(SaveStatState(dir_.c_str(), kStatSmtpIn | kStatRblIn), kOk);
  EXPECT_EQ(scratch::ReadFile(Path("_varno.stat")),
            "# comment\r\n\r\nother = x\r\nlast_rbl_in = 2008-01-01,1,1,00:00:01\r\n"
            "last_smtp_in = 2008-04-28,97,2,06:30:00\r\n");
  // Nothing left behind by the replace.
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(TemporaryPathOf(Path("_varno.stat").wstring().c_str()))));
  EXPECT_FALSE(Exists("_varno.stat.lck"));
}

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

TEST_F(StatStateTest, BackupIsMadeOnceOnly) {
  scratch::WriteFile(Path("_varno.stat"), "a = 1\r\n");
  EXPECT_EQ(BackupStatState(dir_.c_str()), kOk);
  EXPECT_EQ(scratch::ReadFile(Path("_varno.last")), "a = 1\r\n");
  scratch::WriteFile(Path("_varno.stat"), "a = 2\r\n");
  EXPECT_EQ(BackupStatState(dir_.c_str()), kOk);
  EXPECT_EQ(scratch::ReadFile(Path("_varno.last")), "a = 1\r\n");
}

}  // namespace
