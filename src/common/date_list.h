// Lists of days (a NodeTree with one top-level node per day: data = the day's
// midnight TimeValue, 8 bytes; id = mask of statistic types for that day).
#pragma once

#include <cstdint>

#include "platform/types.h"

struct NodeTree;
struct TreeNode;

// Parses a --date value ("20080427,2008-04-28"): days appended in the given
// order, duplicates skipped. kErrNothingGiven when every field is empty,
// kErrInvalidValue at the first bad field, kErrInvalidArgument for nulls.
ResultCode ParseDateList(NodeTree* list, const wchar_t* text);

// Sets the id of every day of the list to mask.
ResultCode TagDateList(NodeTree* list, uint32_t mask);

// The day's node, or null.
TreeNode* FindDateListDay(NodeTree* list, TimeValue day);

// Inserts the day keeping ascending order with mask as its id, or ORs mask
// into the id of the day already present. kErrNoMemory on allocation failure.
ResultCode AddDateListDay(NodeTree* list, TimeValue day, uint32_t mask);

// Appends the day at the end unless present (then nothing changes).
ResultCode AppendDateListDay(NodeTree* list, TimeValue day, uint32_t mask);

// The day of a list node (0 for a node without 8 bytes of data).
TimeValue DateListDay(const TreeNode* node);
