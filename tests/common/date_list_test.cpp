// Day lists: --date parsing, ordered insertion and tagging.
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

TEST_F(DateListTest, KeepsGivenOrderAndSkipsRepeatedDays) {
  EXPECT_EQ(ParseDateList(list_, L"20080427, 2008-04-28 ,20080427"), kOk);
  EXPECT_EQ(Days(list_), (std::vector<TimeValue>{MakeTime(2008, 4, 27, 0, 0, 0),
                                                  MakeTime(2008, 4, 28, 0, 0, 0)}));
}

TEST_F(DateListTest, EmptyFieldsAndBadDates) {
  EXPECT_EQ(ParseDateList(list_, L","), kErrNothingGiven);
  EXPECT_EQ(ParseDateList(list_, L""), kErrNothingGiven);
  EXPECT_EQ(ParseDateList(list_, L"20080427,2008/04/27"), kErrInvalidValue);
  // Days before the bad field stay in the list.
  EXPECT_EQ(Days(list_).size(), 1u);
  EXPECT_EQ(ParseDateList(nullptr, L"20080427"), kErrInvalidArgument);
}

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
