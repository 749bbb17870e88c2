// The --search conditions: parsing, release and the defaults applied at run start.
#pragma once

#include <cstdint>

#include "platform/types.h"

struct AddressRange;

// Filled by ParseSearchConditions; zero-initialised before the first parse.
// Pattern lists are heap arrays of heap strings ended by a null entry;
// a null list means no restriction.
struct SearchConditions {
  uint32_t flags = 0;          // MessageFlags: directions and status filter
  TimeValue start = 0;         // 0 = open
  TimeValue end = 0;           // 0 = open
  char** from = nullptr;       // sender patterns
  char** to = nullptr;         // recipient patterns
  char** ip = nullptr;         // client address patterns
  uint32_t ipRangeCount = 0;
  AddressRange* ipRanges = nullptr;
  char** id = nullptr;         // message ID patterns
  uint32_t smtpFlagMask = 0;   // OR of f-smtp values, 0 = any
  uint32_t rblFlagMask = 0;    // OR of f-rbl values, 0 = any
  uint32_t sortColumn = 0;     // 0 time, 1 from, 2 to, 3 ip, 4 id
  uint32_t sortDescending = 0; // nonzero: reverse order
  uint32_t pageSize = 0;       // 0 = no paging
  uint32_t postmax = 0;        // days followed in the postponer logs, 0 = default
};

// Adds the conditions of one --search value to the record. kOk,
// kErrInvalidArgument (no text), kErrInvalidValue (bad condition) or
// kErrNoMemory; on any failure the whole record has been released.
ResultCode ParseSearchConditions(const wchar_t* text, SearchConditions* conditions);

// Frees the lists and the range array and zeroes the record (null ignored).
void ReleaseSearchConditions(SearchConditions* conditions);

// Defaults of a run: directions, status filter completion, postmax limits,
// an empty interval widened to one day.
void NormaliseSearchConditions(SearchConditions* conditions);
