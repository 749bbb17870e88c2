// Parsing of --search values into SearchConditions, and the run defaults.
#include "doctor/search_conditions.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

#include "common/condition_list.h"
#include "common/list_match.h"
#include "common/mail_log.h"
#include "common/text_match.h"
#include "common/time.h"
#include "platform/text.h"

namespace {

constexpr uint32_t kPostmaxDefault = 7;
constexpr uint32_t kPostmaxLimit = 60;

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
    std::string word = TrimmedCopy(value.substr(begin, comma - begin));
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
  if (EqualsAsciiNoCase(word, "in")) return kMsgIn;
  if (EqualsAsciiNoCase(word, "out")) return kMsgOut;
  return 0;
}

uint32_t FilterBit(const std::string& word) { return FilterWordBit(word.c_str()); }

struct PendingBounds {
  TimeBound start;
  TimeBound end;
};

ResultCode ApplyCondition(SearchConditions* conditions, const std::string& name,
                          const std::string& value, PendingBounds* bounds) {
  if (EqualsAsciiNoCase(name, "from")) return AppendPatternOrAny(&conditions->from, value);
  if (EqualsAsciiNoCase(name, "to")) return AppendPatternOrAny(&conditions->to, value);
  if (EqualsAsciiNoCase(name, "ip")) return ParseIpValue(conditions, value);
  if (EqualsAsciiNoCase(name, "id")) return AppendPatternOrAny(&conditions->id, value);
  if (EqualsAsciiNoCase(name, "way")) return ParseWordList(value, WayBit, &conditions->flags);
  if (EqualsAsciiNoCase(name, "filter")) return ParseWordList(value, FilterBit, &conditions->flags);
  if (EqualsAsciiNoCase(name, "f-smtp")) {
    conditions->smtpFlagMask |= ParseAutoBaseNumber(value.c_str());
    return kOk;
  }
  if (EqualsAsciiNoCase(name, "f-rbl")) {
    conditions->rblFlagMask |= ParseAutoBaseNumber(value.c_str());
    return kOk;
  }
  if (EqualsAsciiNoCase(name, "start")) return ParseTimeBound(value.c_str(), 0, 0, 0, &bounds->start);
  if (EqualsAsciiNoCase(name, "end")) return ParseTimeBound(value.c_str(), 23, 59, 59, &bounds->end);
  if (EqualsAsciiNoCase(name, "postmax")) {
    conditions->postmax = ParseAutoBaseNumber(value.c_str());
    return kOk;
  }
  return kErrInvalidValue;
}

struct ConditionTarget {
  SearchConditions* conditions;
  PendingBounds bounds;
};

ResultCode ApplyToTarget(void* context, const std::string& name, const std::string& value) {
  ConditionTarget* target = static_cast<ConditionTarget*>(context);
  return ApplyCondition(target->conditions, name, value, &target->bounds);
}

}  // namespace

ResultCode ParseSearchConditions(const wchar_t* text, SearchConditions* conditions) {
  if (conditions == nullptr) return kErrInvalidArgument;
  if (text == nullptr) {
    ReleaseSearchConditions(conditions);
    return kErrInvalidArgument;
  }
  ConditionTarget target{conditions, PendingBounds{}};
  ResultCode result = ForEachCondition(text, ApplyToTarget, &target);
  if (result == kOk) {
    result = ResolveInterval(&target.bounds.start, &target.bounds.end, &conditions->start, &conditions->end);
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
