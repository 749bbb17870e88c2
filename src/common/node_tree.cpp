// Node tree in a private arena: one block per node (header and data), the
// whole tree released by destroying the arena.
#include "common/node_tree.h"

#include <cstdlib>
#include <cstring>

#include "platform/arena.h"

namespace {

constexpr char kRootMagic[4] = {'d', 't', 'r', 't'};
constexpr char kNodeMagic[4] = {'d', 't', 'n', 'd'};

bool IsRoot(const void* object) {
  return object != nullptr && std::memcmp(object, kRootMagic, 4) == 0;
}

bool IsNode(const void* object) {
  return object != nullptr && std::memcmp(object, kNodeMagic, 4) == 0;
}

NodeTree* RootOf(const void* object) {
  while (IsNode(object)) object = static_cast<const TreeNode*>(object)->parent;
  return IsRoot(object) ? const_cast<NodeTree*>(static_cast<const NodeTree*>(object)) : nullptr;
}

void* HeapAlloc(NodeTree* tree, size_t size) {
  return tree->heap != nullptr ? ArenaAlloc(tree->heap, size) : std::malloc(size);
}

ResultCode HeapFree(NodeTree* tree, void* block) {
  if (tree->heap != nullptr) return ArenaFree(tree->heap, block) == kOk ? kOk : kErrFailed;
  std::free(block);
  return kOk;
}

TreeNode** FirstChildSlot(void* parent) {
  return IsRoot(parent) ? &static_cast<NodeTree*>(parent)->firstChild
                        : &static_cast<TreeNode*>(parent)->firstChild;
}

TreeNode** LastChildSlot(void* parent) {
  return IsRoot(parent) ? &static_cast<NodeTree*>(parent)->lastChild
                        : &static_cast<TreeNode*>(parent)->lastChild;
}

TreeNode* NewNode(NodeTree* tree, void* parent, uint32_t id, const void* data, uint32_t size) {
  void* block = HeapAlloc(tree, sizeof(TreeNode) + size);
  if (block == nullptr) return nullptr;
  TreeNode* node = static_cast<TreeNode*>(block);
  std::memset(node, 0, sizeof(TreeNode));
  std::memcpy(node->magic, kNodeMagic, 4);
  node->id = id;
  node->dataSize = size;
  node->parent = parent;
  if (data != nullptr && size != 0) std::memcpy(node + 1, data, size);
  return node;
}

TreeNode* AppendChild(void* parent, uint32_t id, const void* data, uint32_t size) {
  NodeTree* tree = RootOf(parent);
  if (tree == nullptr) return nullptr;
  TreeNode* node = NewNode(tree, parent, id, data, size);
  if (node == nullptr) return nullptr;
  TreeNode** first = FirstChildSlot(parent);
  TreeNode** last = LastChildSlot(parent);
  node->previous = *last;
  if (*last != nullptr) (*last)->next = node;
  else *first = node;
  *last = node;
  return node;
}

// Frees the subtree depth first; the caller has unlinked it already.
ResultCode FreeSubtree(NodeTree* tree, TreeNode* node) {
  ResultCode result = kOk;
  TreeNode* child = node->firstChild;
  while (child != nullptr) {
    TreeNode* next = child->next;
    ResultCode childResult = FreeSubtree(tree, child);
    if (result == kOk) result = childResult;
    child = next;
  }
  std::memset(node->magic, 0, 4);
  ResultCode own = HeapFree(tree, node);
  return result == kOk ? own : result;
}

void Unlink(TreeNode* node) {
  if (node->previous != nullptr) node->previous->next = node->next;
  else *FirstChildSlot(node->parent) = node->next;
  if (node->next != nullptr) node->next->previous = node->previous;
  else *LastChildSlot(node->parent) = node->previous;
  node->previous = nullptr;
  node->next = nullptr;
}

}  // namespace

NodeTree* TreeCreate(uint32_t id, uint32_t flags) {
  NodeTree* tree = static_cast<NodeTree*>(std::calloc(1, sizeof(NodeTree)));
  if (tree == nullptr) return nullptr;
  std::memcpy(tree->magic, kRootMagic, 4);
  tree->flags = flags;
  tree->id = id;
  if ((flags & kTreeFlagProcessHeap) == 0) {
    tree->heap = ArenaCreate();
    if (tree->heap == nullptr) {
      std::free(tree);
      return nullptr;
    }
  }
  return tree;
}

ResultCode TreeDestroy(NodeTree* tree) {
  if (tree == nullptr) return kErrInvalidArgument;
  if (!IsRoot(tree)) return kErrInvalidHandle;
  ResultCode result = kOk;
  // Without a private heap the nodes must go one by one.
  if ((tree->flags & (kTreeFlagProcessHeap | kTreeFlagFreeNodes)) != 0 || tree->heap == nullptr) {
    TreeNode* node = tree->firstChild;
    while (node != nullptr) {
      TreeNode* next = node->next;
      ResultCode nodeResult = FreeSubtree(tree, node);
      if (result == kOk) result = nodeResult;
      node = next;
    }
  }
  std::free(tree->data);
  if (tree->heap != nullptr) ArenaDestroy(tree->heap);
  std::memset(tree, 0, sizeof(NodeTree));
  std::free(tree);
  return result;
}

ResultCode TreeDestroy(TreeNode* node) {
  if (node == nullptr) return kErrInvalidArgument;
  if (!IsNode(node)) return kErrInvalidHandle;
  NodeTree* tree = RootOf(node);
  if (tree == nullptr) return kErrInvalidHandle;
  Unlink(node);
  return FreeSubtree(tree, node);
}

TreeNode* TreeAddChild(NodeTree* parent, uint32_t id, const void* data, uint32_t size) {
  return IsRoot(parent) ? AppendChild(parent, id, data, size) : nullptr;
}

TreeNode* TreeAddChild(TreeNode* parent, uint32_t id, const void* data, uint32_t size) {
  return IsNode(parent) ? AppendChild(parent, id, data, size) : nullptr;
}

TreeNode* TreeInsertBefore(TreeNode* before, uint32_t id, const void* data, uint32_t size) {
  if (!IsNode(before)) return nullptr;
  NodeTree* tree = RootOf(before);
  if (tree == nullptr) return nullptr;
  TreeNode* node = NewNode(tree, before->parent, id, data, size);
  if (node == nullptr) return nullptr;
  node->previous = before->previous;
  node->next = before;
  if (before->previous != nullptr) before->previous->next = node;
  else *FirstChildSlot(before->parent) = node;
  before->previous = node;
  return node;
}

TreeNode* TreeFirstChild(const NodeTree* tree) { return IsRoot(tree) ? tree->firstChild : nullptr; }
TreeNode* TreeFirstChild(const TreeNode* node) { return IsNode(node) ? node->firstChild : nullptr; }
TreeNode* TreeLastChild(const NodeTree* tree) { return IsRoot(tree) ? tree->lastChild : nullptr; }
TreeNode* TreeLastChild(const TreeNode* node) { return IsNode(node) ? node->lastChild : nullptr; }
TreeNode* TreeNextSibling(const TreeNode* node) { return IsNode(node) ? node->next : nullptr; }
TreeNode* TreePreviousSibling(const TreeNode* node) {
  return IsNode(node) ? node->previous : nullptr;
}
uint32_t TreeNodeId(const TreeNode* node) { return IsNode(node) ? node->id : 0; }
uint32_t TreeId(const NodeTree* tree) { return IsRoot(tree) ? tree->id : 0; }

ResultCode TreeSetNodeId(TreeNode* node, uint32_t id) {
  if (node == nullptr) return kErrInvalidArgument;
  if (!IsNode(node)) return kErrInvalidHandle;
  node->id = id;
  return kOk;
}

void* TreeNodeData(const TreeNode* node) {
  if (!IsNode(node) || node->dataSize == 0) return nullptr;
  return const_cast<TreeNode*>(node + 1);
}

uint32_t TreeNodeDataSize(const TreeNode* node) { return IsNode(node) ? node->dataSize : 0; }
void* TreeNodeData(const NodeTree* tree) { return IsRoot(tree) ? tree->data : nullptr; }
uint32_t TreeNodeDataSize(const NodeTree* tree) { return IsRoot(tree) ? tree->dataSize : 0; }

void* TreeSetRootData(NodeTree* tree, const void* data, uint32_t size) {
  if (!IsRoot(tree)) return nullptr;
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) return nullptr;
  if (data != nullptr && size != 0) std::memcpy(block, data, size);
  std::free(tree->data);
  tree->data = block;
  tree->dataSize = size;
  return block;
}

NodeTree* TreeRootOf(const TreeNode* node) { return IsNode(node) ? RootOf(node) : nullptr; }

void* TreeAlloc(NodeTree* tree, uint32_t size) {
  return IsRoot(tree) ? HeapAlloc(tree, size) : nullptr;
}

ResultCode TreeFree(NodeTree* tree, void* block) {
  if (tree == nullptr || block == nullptr) return kErrInvalidArgument;
  if (!IsRoot(tree)) return kErrInvalidHandle;
  return HeapFree(tree, block);
}
