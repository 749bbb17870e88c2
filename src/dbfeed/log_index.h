// What the feed needs of one day's RBL or postponer log, read once per run
// and extended as the log grows, so that a batch looks its messages up
// instead of reading the whole log again. Applying it gives what reading the
// log from its start gives.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "dbfeed/feed_state.h"
#include "platform/types.h"

// One used line of a log.
struct LogIndexEntry {
  MessageKey key;
  uint32_t line;   // number from 1
  uint32_t kind;   // RBL: kRblStopped and the virus/spam bits; postponer: kPostStart or kPostEnd
  uint32_t value;  // RBL: field 13; postponer "S": the count
};

constexpr uint32_t kRblStopped = 0x1;
constexpr uint32_t kPostStart = 1;
constexpr uint32_t kPostEnd = 2;

struct LogIndex {
  bool postponer = false;
  std::vector<LogIndexEntry> sorted;  // by key, then line
  std::vector<LogIndexEntry> recent;  // later lines, by key, then line
  std::vector<LogIndexEntry> tail;    // the unfinished last line, read again each time
  uint64_t offset = 0;                // bytes of finished lines read
  uint32_t lines = 0;                 // finished lines read
};

// Reads the lines of the open log behind index->offset. A last line without
// its line end may still be being written: it is read (again each time) only
// with readUnfinished, for a log that is complete. -11 on a read error (the
// lines read before it stay).
ResultCode UpdateLogIndex(FILE* file, LogIndex* index, bool readUnfinished);

// Gives each message without an RBL verdict the first RBL line of its key.
void ApplyRblIndex(const LogIndex& index, FeedConfig* config);

// Counts the postponer lines of `day` behind each message's recorded position.
void ApplyPostponerIndex(const LogIndex& index, TimeValue day, FeedConfig* config);
