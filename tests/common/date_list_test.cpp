// Day lists: ordered insertion and tagging (--date lists are cases in
// e2e/cases/stat).
#include <gtest/gtest.h>

#include <vector>

#include "common/date_list.h"
#include "common/node_tree.h"
#include "common/time.h"

namespace {

std::vector<TimeValue> Days(NodeTree* list) {
  std::vector<TimeValue> days;
  for (TreeNode* node = TreeFirstChild(list); node != nullptr; node = TreeNextSibling(node)) {
    days.push_back(DateListDay(node));
  }
  return days;
}

class DateListTest : public ::testing::Test {
 protected:
  void SetUp() override { list_ = TreeCreate(0, 0); }
  void TearDown() override { TreeDestroy(list_); }
  NodeTree* list_ = nullptr;
};

TEST_F(DateListTest, AddKeepsAscendingOrderAndMergesMasks) {
  const TimeValue d1 = MakeTime(2008, 4, 1, 0, 0, 0);
  const TimeValue d2 = MakeTime(2008, 4, 2, 0, 0, 0);
  const TimeValue d3 = MakeTime(2008, 4, 3, 0, 0, 0);
  EXPECT_EQ(AddDateListDay(list_, d3, 0x1), kOk);
  EXPECT_EQ(AddDateListDay(list_, d1, 0x2), kOk);
  EXPECT_EQ(AddDateListDay(list_, d2, 0x4), kOk);
  EXPECT_EQ(AddDateListDay(list_, d1, 0x10), kOk);
  EXPECT_EQ(Days(list_), (std::vector<TimeValue>{d1, d2, d3}));
  EXPECT_EQ(TreeNodeId(FindDateListDay(list_, d1)), 0x12u);
  EXPECT_EQ(TagDateList(list_, 0x30), kOk);
  for (TreeNode* n = TreeFirstChild(list_); n != nullptr; n = TreeNextSibling(n)) {
    EXPECT_EQ(TreeNodeId(n), 0x30u);
  }
  EXPECT_EQ(FindDateListDay(list_, MakeTime(2009, 1, 1, 0, 0, 0)), nullptr);
}

}  // namespace
