// Ordered tree of id-tagged records whose nodes live in the tree's own heap,
// so that the whole tree is released at once.
#pragma once

#include <cstdint>

#include "platform/types.h"

struct Arena;
struct TreeNode;

// The root of a tree. Every operation checks the magic first.
struct NodeTree {
  char magic[4];        // "dtrt"
  uint32_t flags;       // bit 0: no private heap; bits 0|1: free nodes one by one on destroy
  Arena* heap;          // the private heap, or nullptr
  uint32_t id;
  TreeNode* firstChild;
  TreeNode* lastChild;
  void* data;           // optional block of the root itself, freed with the tree
  uint32_t dataSize;
};

// One node; its data follows the header in the same block.
struct TreeNode {
  char magic[4];        // "dtnd"
  uint32_t id;
  uint32_t dataSize;
  void* parent;         // a TreeNode or the NodeTree
  TreeNode* previous;
  TreeNode* next;
  TreeNode* firstChild;
  TreeNode* lastChild;
};

constexpr uint32_t kTreeFlagProcessHeap = 1;
constexpr uint32_t kTreeFlagFreeNodes = 2;

// A new tree, or nullptr when memory is exhausted.
NodeTree* TreeCreate(uint32_t id, uint32_t flags);

// Destroys the tree and every node: 0, -14 for none, -9 for a wrong magic.
ResultCode TreeDestroy(NodeTree* tree);
// Unlinks and frees the node with its whole subtree: 0, -14, -9.
ResultCode TreeDestroy(TreeNode* node);

// Appends a child (data copied when both data and size are given).
// nullptr for a foreign parent or when memory is exhausted.
TreeNode* TreeAddChild(NodeTree* parent, uint32_t id, const void* data, uint32_t size);
TreeNode* TreeAddChild(TreeNode* parent, uint32_t id, const void* data, uint32_t size);

// Inserts a sibling right before the given node.
TreeNode* TreeInsertBefore(TreeNode* node, uint32_t id, const void* data, uint32_t size);

// Accessors: 0 or nullptr for a missing or foreign object.
TreeNode* TreeFirstChild(const NodeTree* tree);
TreeNode* TreeFirstChild(const TreeNode* node);
TreeNode* TreeLastChild(const NodeTree* tree);
TreeNode* TreeLastChild(const TreeNode* node);
TreeNode* TreeNextSibling(const TreeNode* node);
TreeNode* TreePreviousSibling(const TreeNode* node);
uint32_t TreeNodeId(const TreeNode* node);
ResultCode TreeSetNodeId(TreeNode* node, uint32_t id);
uint32_t TreeId(const NodeTree* tree);
// A node's data, or nullptr when its size is 0.
void* TreeNodeData(const TreeNode* node);
uint32_t TreeNodeDataSize(const TreeNode* node);
// The root's own block.
void* TreeNodeData(const NodeTree* tree);
uint32_t TreeNodeDataSize(const NodeTree* tree);

// Gives the root an own block of size bytes (copied from data when given),
// replacing an earlier one. nullptr when memory is exhausted.
void* TreeSetRootData(NodeTree* tree, const void* data, uint32_t size);

// The root of a node's tree (parent links up to "dtrt"), or nullptr.
NodeTree* TreeRootOf(const TreeNode* node);

// Block memory from the tree's heap, and its release (-14 none, -15 failure).
void* TreeAlloc(NodeTree* tree, uint32_t size);
ResultCode TreeFree(NodeTree* tree, void* block);
