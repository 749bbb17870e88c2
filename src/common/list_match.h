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
