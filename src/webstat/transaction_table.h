// The open HTTP transactions of a web statistics run: records found by a hash
// of the whole transaction id, with the run's limits on records and bytes.
#pragma once

#include <cstdint>

#include "common/proxy_log.h"
#include "platform/types.h"

// The fixed part of a record; the three texts (ip, user, host, each
// NUL-terminated) are kept beside it.
struct WebTransaction {
  uint8_t id[kTransactionIdSize];
  uint32_t fileIndex;
  uint32_t lineOffset;
  TimeValue time;
  uint64_t volume;
  uint32_t state;  // 1 opened and matching, 2 opened not matching, 0 in doubt
  TimeValue day;
  TimeValue timeOfDay;
};

// The texts of a record at most: ip, user and host with their terminators.
constexpr uint32_t kTransactionNamesMax = kProxyIpField + kProxyUserField + kProxyHostField;

struct TransactionTable;

// Room for recordLimit records and byteLimit bytes of record data (each
// record counts its fixed part, its texts and an 8-byte header).
// kErrInvalidArgument, kErrNoMemory.
ResultCode TransactionTableCreate(uint32_t recordLimit, uint32_t byteLimit,
                                  TransactionTable** table);
void TransactionTableDestroy(TransactionTable* table);

// The record of fixed.id gets `volume` as its volume when it is there;
// otherwise a record {fixed, names} is inserted (names: namesLength bytes,
// three NUL-terminated texts). When the table is full, a fifth of its
// records (the oldest) are dropped first. *state gets the record's state.
void TransactionTableUpsert(TransactionTable* table, const WebTransaction& fixed,
                            const char* names, uint32_t namesLength, uint64_t volume,
                            uint32_t* state);
// Starts fetching the index slot of id from memory, for an upsert or a
// removal of it a little later.
void TransactionTablePrefetch(const TransactionTable* table, const uint8_t* id);
// Removes the record of id; true with *volume its volume when there was one.
bool TransactionTableRemove(TransactionTable* table, const uint8_t* id, uint64_t* volume);
void TransactionTableClear(TransactionTable* table);
uint32_t TransactionTableCount(const TransactionTable* table);

// Visits every record in id order: the first four id bytes as a
// little-endian number, then the other bytes one by one.
using TransactionVisitFn = void (*)(void* context, const WebTransaction* record,
                                    const char* names);
void TransactionTableForEach(TransactionTable* table, TransactionVisitFn visit, void* context);
