// Day lists: parsing of --date values, tagging, ordered insertion and lookup.
#include "common/date_list.h"

#include <cstring>

#include "common/node_tree.h"
#include "common/text_match.h"
#include "common/time.h"

namespace {

constexpr size_t kDateFieldCapacity = 2048;  // fields of at most 2047 characters

}  // namespace

TimeValue DateListDay(const TreeNode* node) {
  if (node == nullptr || TreeNodeDataSize(node) != sizeof(TimeValue)) return 0;
  TimeValue day = 0;
  std::memcpy(&day, TreeNodeData(node), sizeof day);
  return day;
}

TreeNode* FindDateListDay(NodeTree* list, TimeValue day) {
  if (list == nullptr) return nullptr;
  for (TreeNode* node = TreeFirstChild(list); node != nullptr; node = TreeNextSibling(node)) {
    if (DateListDay(node) == day) return node;
  }
  return nullptr;
}

ResultCode AppendDateListDay(NodeTree* list, TimeValue day, uint32_t mask) {
  if (list == nullptr) return kErrInvalidArgument;
  if (FindDateListDay(list, day) != nullptr) return kOk;
  return TreeAddChild(list, mask, &day, sizeof day) != nullptr ? kOk : kErrNoMemory;
}

ResultCode AddDateListDay(NodeTree* list, TimeValue day, uint32_t mask) {
  if (list == nullptr) return kErrInvalidArgument;
  for (TreeNode* node = TreeFirstChild(list); node != nullptr; node = TreeNextSibling(node)) {
    const TimeValue current = DateListDay(node);
    if (current == day) {
      TreeSetNodeId(node, TreeNodeId(node) | mask);
      return kOk;
    }
    if (current > day) {
      return TreeInsertBefore(node, mask, &day, sizeof day) != nullptr ? kOk : kErrNoMemory;
    }
  }
  return TreeAddChild(list, mask, &day, sizeof day) != nullptr ? kOk : kErrNoMemory;
}

ResultCode TagDateList(NodeTree* list, uint32_t mask) {
  if (list == nullptr) return kErrInvalidArgument;
  for (TreeNode* node = TreeFirstChild(list); node != nullptr; node = TreeNextSibling(node)) {
    TreeSetNodeId(node, mask);
  }
  return kOk;
}

ResultCode ParseDateList(NodeTree* list, const wchar_t* text) {
  if (list == nullptr || text == nullptr) return kErrInvalidArgument;
  if (text[0] == 0) return kErrNothingGiven;
  wchar_t field[kDateFieldCapacity];
  bool anyDate = false;
  const wchar_t* cursor = text;
  for (;;) {
    const wchar_t* before = cursor;
    size_t length = 0;
    GetFieldWide(&cursor, 0, L',', nullptr, field, kDateFieldCapacity, &length);
    if (field[0] != 0) {
      TimeValue day = 0;
      if (!MatchDatePatternWide(1, field, -1, kDatePatternsDateOption, &day)) {
        return kErrInvalidValue;
      }
      const ResultCode rc = AppendDateListDay(list, day, 0);
      if (rc != kOk) return rc;
      anyDate = true;
    }
    // Go on only behind a ',' that ended this field.
    if (cursor == before || cursor[-1] != L',') break;
  }
  return anyDate ? kOk : kErrNothingGiven;
}
