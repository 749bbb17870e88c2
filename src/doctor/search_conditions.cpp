// Parsing of --search values into SearchConditions, and the run defaults.
#include "doctor/search_conditions.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

#include "common/list_match.h"
#include "common/mail_log.h"
#include "common/text_match.h"
#include "common/time.h"
#include "platform/text.h"

namespace {

constexpr size_t kConditionMax = 32767;
constexpr uint32_t kPostmaxDefault = 7;
constexpr uint32_t kPostmaxLimit = 60;

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

bool EqualsNoCase(const std::string& a, const char* b) {
  size_t i = 0;
  for (; i < a.size() && b[i] != '\0'; ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return i == a.size() && b[i] == '\0';
}

std::string Trimmed(const std::string& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsSpace(text[begin])) ++begin;
  while (end > begin && IsSpace(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

ResultCode AppendPatternOrAny(char*** list, const std::string& value) {
  const std::string text = value.empty() ? std::string("*") : value;
  return AppendPatternList(list, text.c_str(), text.size());
}

ResultCode ParseIpValue(SearchConditions* conditions, const std::string& value) {
  if (value.find('/') != std::string::npos || value.find('-') != std::string::npos) {
    return AppendAddressRange(&conditions->ipRanges, &conditions->ipRangeCount, value.c_str());
  }
  return AppendPatternOrAny(&conditions->ip, value);
}

// Word lists of way= and filter=: ','-separated, items trimmed, empty skipped.
using WordBitFn = uint32_t (*)(const std::string& word);

ResultCode ParseWordList(const std::string& value, WordBitFn bitOf, uint32_t* flags) {
  size_t begin = 0;
  while (begin <= value.size()) {
    size_t comma = value.find(',', begin);
    if (comma == std::string::npos) comma = value.size();
    std::string word = Trimmed(value.substr(begin, comma - begin));
    if (!word.empty()) {
      uint32_t bit = bitOf(word);
      if (bit == 0) return kErrInvalidValue;
      *flags |= bit;
    }
    begin = comma + 1;
  }
  return kOk;
}

uint32_t WayBit(const std::string& word) {
  if (EqualsNoCase(word, "in")) return kMsgIn;
  if (EqualsNoCase(word, "out")) return kMsgOut;
  return 0;
}

uint32_t FilterBit(const std::string& word) { return FilterWordBit(word.c_str()); }

struct PendingBounds {
  TimeBound start;
  TimeBound end;
};

ResultCode ApplyCondition(SearchConditions* conditions, const std::string& name,
                          const std::string& value, PendingBounds* bounds) {
  if (EqualsNoCase(name, "from")) return AppendPatternOrAny(&conditions->from, value);
  if (EqualsNoCase(name, "to")) return AppendPatternOrAny(&conditions->to, value);
  if (EqualsNoCase(name, "ip")) return ParseIpValue(conditions, value);
  if (EqualsNoCase(name, "id")) return AppendPatternOrAny(&conditions->id, value);
  if (EqualsNoCase(name, "way")) return ParseWordList(value, WayBit, &conditions->flags);
  if (EqualsNoCase(name, "filter")) return ParseWordList(value, FilterBit, &conditions->flags);
  if (EqualsNoCase(name, "f-smtp")) {
    conditions->smtpFlagMask |= ParseAutoBaseNumber(value.c_str());
    return kOk;
  }
  if (EqualsNoCase(name, "f-rbl")) {
    conditions->rblFlagMask |= ParseAutoBaseNumber(value.c_str());
    return kOk;
  }
  if (EqualsNoCase(name, "start")) return ParseTimeBound(value.c_str(), 0, 0, 0, &bounds->start);
  if (EqualsNoCase(name, "end")) return ParseTimeBound(value.c_str(), 23, 59, 59, &bounds->end);
  if (EqualsNoCase(name, "postmax")) {
    conditions->postmax = ParseAutoBaseNumber(value.c_str());
    return kOk;
  }
  return kErrInvalidValue;
}

// One condition "name=value" (wide, not yet trimmed at its start).
ResultCode ParseOneCondition(const wchar_t* text, size_t length, SearchConditions* conditions,
                             PendingBounds* bounds) {
  while (length > 0 && (*text == L' ' || *text == L'\t')) {
    ++text;
    --length;
  }
  std::string condition;
  if (!WideToAnsi(text, length, &condition)) return kErrInvalidValue;
  size_t equals = condition.find('=');
  std::string name = Trimmed(condition.substr(0, equals));
  std::string value = equals == std::string::npos ? std::string() : Trimmed(condition.substr(equals + 1));
  return ApplyCondition(conditions, name, value, bounds);
}

}  // namespace

ResultCode ParseSearchConditions(const wchar_t* text, SearchConditions* conditions) {
  if (conditions == nullptr) return kErrInvalidArgument;
  if (text == nullptr) {
    ReleaseSearchConditions(conditions);
    return kErrInvalidArgument;
  }
  PendingBounds bounds;
  ResultCode result = kOk;
  const wchar_t* rest = text;
  while (*rest != L'\0') {
    const wchar_t* stop = std::wcschr(rest, L';');
    size_t length = stop != nullptr ? static_cast<size_t>(stop - rest) : std::wcslen(rest);
    // Characters beyond the longest condition are dropped.
    result = ParseOneCondition(rest, length < kConditionMax ? length : kConditionMax, conditions,
                               &bounds);
    if (result != kOk) break;
    if (stop == nullptr) break;
    rest = stop + 1;
  }
  if (result == kOk) {
    result = ResolveInterval(&bounds.start, &bounds.end, &conditions->start, &conditions->end);
  }
  if (result != kOk) ReleaseSearchConditions(conditions);
  return result;
}

void ReleaseSearchConditions(SearchConditions* conditions) {
  if (conditions == nullptr) return;
  FreePatternList(&conditions->from);
  FreePatternList(&conditions->to);
  FreePatternList(&conditions->ip);
  FreePatternList(&conditions->id);
  std::free(conditions->ipRanges);
  *conditions = SearchConditions{};
}

void NormaliseSearchConditions(SearchConditions* conditions) {
  uint32_t flags = conditions->flags & ~kMsgStateBits;
  if ((flags & kMsgDirections) == 0) flags |= kMsgDirections;
  if ((flags & kMsgFinalStates) == 0) {
    flags |= (flags & kMsgPostStatuses) != 0 ? (kMsgPend | kMsgFin) : kMsgFinalStates;
  }
  if ((flags & (kMsgPend | kMsgFin)) != 0 && (flags & kMsgPostStatuses) == 0) {
    flags |= kMsgPostStatuses;
  }
  conditions->flags = flags;
  if (conditions->postmax == 0) conditions->postmax = kPostmaxDefault;
  if (conditions->postmax > kPostmaxLimit) conditions->postmax = kPostmaxLimit;
  if (conditions->start != 0 && conditions->start == conditions->end) {
    conditions->end += kTicksPerDay;
  }
}
