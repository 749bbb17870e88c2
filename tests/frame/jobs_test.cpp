// Job names and the lock files that keep concurrent runs apart. Between two
// processes they are tested by the cross-process tests.
#include "frame/jobs.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "../scratch.h"

namespace fs = std::filesystem;

namespace {

TEST(CheckJobName, LowersStopsAtABlankAndRejectsOtherCharacters) {
  const std::pair<const wchar_t*, const wchar_t*> good[] = {
      {L"Nightly_Run-2", L"nightly_run-2"}, {L"AZ", L"az"}, {L" nightly_run-2 extra", L"nightly_run-2"},
      {L"\t\tZ9\tx.y", L"z9"}, {L"", L""}, {L"   ", L""}};
  for (const auto& [text, expected] : good) {
    std::wstring name = L"x";
    EXPECT_EQ(CheckJobName(text, &name), kOk) << text;
    EXPECT_EQ(name, expected) << text;
  }
  std::wstring name = L"kept";
  for (const wchar_t* bad : {L"a.b", L"x/y", L"caf\u00e9"}) EXPECT_EQ(CheckJobName(bad, &name), kErrInvalidValue);
  EXPECT_EQ(name, L"kept");
  EXPECT_EQ(CheckJobName(nullptr, &name), kErrInvalidArgument);
}

// The caller's table: three single types, ended by a row without a name.
struct LockTable {
  InstanceLockRow rows[4] = {{L"SMTP-IN", 1, nullptr},
                             {L"SMTP-OUT", 2, nullptr},
                             {L"RBL-IN", 4, nullptr},
                             {nullptr, 0, nullptr}};
};

TEST(InstanceLocks, FirstFailureEndsTheWalkAndEarlierLocksStayHeld) {
  const scratch::Folder folder("jobs_partial");
  const fs::path& dir = folder.path;
  LockTable holder;
  ASSERT_EQ(TakeInstanceLocks(dir.wstring().c_str(), 2, holder.rows), kOk);
  LockTable second;
  EXPECT_EQ(TakeInstanceLocks(dir.wstring().c_str(), 1 | 2 | 4, second.rows), kErrSharingViolation);
  EXPECT_NE(second.rows[0].handle, nullptr);
  EXPECT_EQ(second.rows[1].handle, nullptr);
  EXPECT_EQ(second.rows[2].handle, nullptr);
  ReleaseInstanceLocks(second.rows);
  ReleaseInstanceLocks(holder.rows);
  EXPECT_TRUE(fs::is_empty(dir));
}

}  // namespace
