// Pattern-list and address-range-list matchers used by condition filters.
#pragma once

#include <cstddef>

struct AddressRange;

// 1 when text matches any wildcard pattern of the null-terminated array.
int MatchPatternList(const char* const* patterns, const char* text, int ignoreCase);

// With ranges given and text an IPv4 address: 1 when a range holds it; otherwise
// (and when none holds it) MatchPatternList ignoring case, 0 without patterns.
int MatchAddressOrPattern(const char* text, const char* const* patterns,
                          const AddressRange* ranges, size_t rangeCount);

#include <cstdint>

#include "platform/types.h"

// Appends a heap copy of text (length bytes) to a null-terminated heap array
// of heap strings, creating it when *list is null. kErrNoMemory leaves the
// list as it was.
ResultCode AppendPatternList(char*** list, const char* text, size_t length);
// Frees every string and the array, and sets *list to null.
void FreePatternList(char*** list);
// Parses one address range (blanks may follow it, nothing else) and appends it
// to a heap array of count ranges. kErrInvalidValue, kErrNoMemory.
ResultCode AppendAddressRange(AddressRange** ranges, uint32_t* count, const char* text);
