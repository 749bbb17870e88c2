// Shared writers of metadata and summary files: sizes in a unit, reading
// scaled sizes back, and the top-list block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Writes `value` into `buffer`: divisor 0 as a decimal integer, otherwise
// value / divisor with two decimals and always a '.' as the decimal mark.
// The text is cut to `size` bytes (terminated). Returns `buffer`.
char* FormatSize(uint64_t value, uint32_t divisor, char* buffer, size_t size);

// Inverse of FormatSize: reads a decimal number with an optional fraction and
// returns it times `multiplier` (0 counts as 1). Leading bytes 1..32 are
// skipped; *end (when given) is set to the first byte not used.
uint64_t ParseScaled(const char* text, uint64_t multiplier, const char** end);

#include "common/record_table.h"

// Writes, in comparator order, one line per record whose total1 reaches the
// threshold: "label;key;total1[;total2][;HH:MM:SS]\n", sizes in the unit.
// maxLines -1 (all ones) is no limit; 0 writes one line. Returns the count.
// Without a comparator the table is heap-sorted by CompareCounterRecords'
// default order; a comparator must order every two distinct records (break
// ties by key): only the lines written are then selected and sorted, and the
// table keeps its order.
// One line of a top list, as WriteTopList writes it for a counter record
// with these totals and time of its last line.
void WriteTopListLine(FILE* out, const char* label, const char* key, uint64_t total1, uint64_t total2,
                      int64_t last, uint32_t unitDivisor, bool showSecond, bool showDuration);
uint32_t WriteTopList(RecordTable* table, RecordSortComparator comparator, FILE* out,
                      const char* label, uint32_t maxLines, uint32_t unitDivisor,
                      uint64_t threshold, bool showSecond, bool showDuration);
