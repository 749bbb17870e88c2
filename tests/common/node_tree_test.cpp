#include "common/node_tree.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

std::string Walk(const NodeTree* tree) {
  std::string order;
  for (TreeNode* node = TreeFirstChild(tree); node != nullptr; node = TreeNextSibling(node)) {
    order.push_back(static_cast<char>(TreeNodeId(node)));
  }
  return order;
}

std::string WalkBack(const NodeTree* tree) {
  std::string order;
  for (TreeNode* node = TreeLastChild(tree); node != nullptr; node = TreePreviousSibling(node)) {
    order.push_back(static_cast<char>(TreeNodeId(node)));
  }
  return order;
}

class NodeTreeTest : public ::testing::TestWithParam<uint32_t> {};

TEST_P(NodeTreeTest, InsertDeleteAndOrder) {
  NodeTree* tree = TreeCreate(42, GetParam());
  ASSERT_NE(tree, nullptr);
  EXPECT_EQ(TreeId(tree), 42u);
  TreeNode* a = TreeAddChild(tree, 'A', "a", 2);
  TreeNode* b = TreeAddChild(tree, 'B', nullptr, 0);
  TreeNode* c = TreeAddChild(tree, 'C', "c", 2);
  ASSERT_TRUE(a && b && c);
  TreeNode* d = TreeInsertBefore(b, 'D', nullptr, 8);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(Walk(tree), "ADBC");
  EXPECT_EQ(WalkBack(tree), "CBDA");
  TreeNode* e = TreeInsertBefore(a, 'E', nullptr, 0);
  EXPECT_EQ(Walk(tree), "EADBC");

  EXPECT_STREQ(static_cast<const char*>(TreeNodeData(a)), "a");
  EXPECT_EQ(TreeNodeDataSize(a), 2u);
  EXPECT_EQ(TreeNodeData(b), nullptr);  // size 0: no data
  EXPECT_NE(TreeNodeData(d), nullptr);  // room without a copy
  EXPECT_EQ(TreeNodeDataSize(d), 8u);

  EXPECT_EQ(TreeDestroy(d), kOk);
  EXPECT_EQ(Walk(tree), "EABC");
  EXPECT_EQ(TreeDestroy(c), kOk);
  EXPECT_EQ(Walk(tree), "EAB");
  EXPECT_EQ(WalkBack(tree), "BAE");
  EXPECT_EQ(TreeDestroy(e), kOk);
  EXPECT_EQ(Walk(tree), "AB");
  EXPECT_EQ(TreeDestroy(tree), kOk);
}

TEST_P(NodeTreeTest, SubtreesAndRootData) {
  NodeTree* tree = TreeCreate(0, GetParam());
  ASSERT_NE(tree, nullptr);
  TreeNode* parent = TreeAddChild(tree, 1, nullptr, 0);
  TreeNode* child = TreeAddChild(parent, 2, "x", 1);
  TreeNode* grandchild = TreeAddChild(child, 3, nullptr, 0);
  ASSERT_NE(grandchild, nullptr);
  EXPECT_EQ(TreeFirstChild(parent), child);
  EXPECT_EQ(TreeLastChild(parent), child);
  EXPECT_EQ(TreeRootOf(grandchild), tree);
  EXPECT_EQ(TreeSetNodeId(child, 7), kOk);
  EXPECT_EQ(TreeNodeId(child), 7u);
  void* block = TreeSetRootData(tree, "root", 5);
  ASSERT_NE(block, nullptr);
  EXPECT_STREQ(static_cast<const char*>(TreeNodeData(tree)), "root");
  EXPECT_EQ(TreeNodeDataSize(tree), 5u);
  void* extra = TreeAlloc(tree, 100);
  ASSERT_NE(extra, nullptr);
  EXPECT_EQ(TreeFree(tree, extra), kOk);
  // Deleting a node removes its whole subtree.
  EXPECT_EQ(TreeDestroy(parent), kOk);
  EXPECT_EQ(TreeFirstChild(tree), nullptr);
  EXPECT_EQ(TreeLastChild(tree), nullptr);
  // Many nodes: the arena hands out and reclaims them.
  for (uint32_t i = 0; i < 5000; ++i) ASSERT_NE(TreeAddChild(tree, i, &i, sizeof i), nullptr);
  uint32_t expected = 0;
  for (TreeNode* node = TreeFirstChild(tree); node; node = TreeNextSibling(node), ++expected) {
    EXPECT_EQ(*static_cast<uint32_t*>(TreeNodeData(node)), expected);
  }
  EXPECT_EQ(expected, 5000u);
  EXPECT_EQ(TreeDestroy(tree), kOk);
}

INSTANTIATE_TEST_SUITE_P(Flags, NodeTreeTest,
                         ::testing::Values(0u, kTreeFlagProcessHeap, kTreeFlagFreeNodes));

}  // namespace
