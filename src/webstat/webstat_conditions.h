// The --webstat conditions: which HTTP transactions are taken, and the output
// settings of the run (output forms, paging, sort order).
#pragma once

#include <cstdint>

#include "platform/types.h"

struct AddressRange;

// Output forms (--outform).
constexpr uint32_t kWebOutSearch = 0x1;
constexpr uint32_t kWebOutSummary = 0x2;

// Phases (phase=).
constexpr uint32_t kPhaseFinished = 0x1;
constexpr uint32_t kPhaseIncomplete = 0x2;

// BlockReason bits.
constexpr uint32_t kBlockVirus = 0x01;
constexpr uint32_t kBlockContent = 0x02;
constexpr uint32_t kBlockBanned = 0x04;
constexpr uint32_t kBlockNotAllowed = 0x08;
constexpr uint32_t kBlockBanCon = 0x10;
constexpr uint32_t kBlockSite = 0x20;
constexpr uint32_t kBlockPhishing = 0x40;
constexpr uint32_t kBlockWebFilter = 0x80;
constexpr uint32_t kBlockNone = 0x10000000;

// Zero-initialised before the first parse. Pattern lists are heap arrays of
// heap strings ended by a null entry; a null list means no restriction.
struct WebstatConditions {
  TimeValue start = 0;  // 0 = open
  TimeValue end = 0;    // 0 = open
  char** user = nullptr;
  char** host = nullptr;
  char** ip = nullptr;
  uint32_t ipRangeCount = 0;
  AddressRange* ipRanges = nullptr;
  char** code = nullptr;
  char** content = nullptr;
  int32_t volumeSign = 0;        // -1 below, +1 above the threshold, 0 none
  uint64_t volumeThreshold = 0;  // bytes
  uint32_t blockedMask = 0;      // BlockReason bits accepted, 0 = no condition
  uint32_t phaseMask = 0;        // 0 = both
  uint32_t wfUncategorised = 0;  // 1: uncategorised transactions pass wfcat
  uint32_t wfcatActive = 0;
  uint32_t wfcatMask = 0;
  uint32_t outform = 0;          // 0 = both
  uint32_t pageSize = 0;
  uint32_t sortDescending = 0;
  uint32_t sortColumn = 0;       // 0 time, 3 ip, 4 id, 5 host, 6 user, 7 volume
};

// Adds the conditions of one --webstat value to the record. kOk,
// kErrInvalidArgument (no text), kErrInvalidValue (bad condition) or
// kErrNoMemory; on any failure the whole record has been released.
ResultCode ParseWebstatConditions(const wchar_t* text, WebstatConditions* conditions);

// Frees the lists and the range array and zeroes the whole record (null ignored).
void ReleaseWebstatConditions(WebstatConditions* conditions);
