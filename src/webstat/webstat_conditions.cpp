// Parsing of --webstat values into WebstatConditions.
#include "webstat/webstat_conditions.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

#include "common/condition_list.h"
#include "common/list_match.h"
#include "common/text_match.h"
#include "common/time.h"
#include "platform/text.h"

namespace {

constexpr size_t kBlockedItemMax = 255;
constexpr size_t kWfcatItemMax = 63;

struct WordBit {
  const char* word;
  uint32_t bits;
};

constexpr WordBit kCategoryWords[] = {
    {"advert", 0x00000001},   {"news", 0x00000002},       {"finance", 0x00000004},
    {"science", 0x00000008},  {"hobby", 0x00000010},      {"webmail", 0x00000020},
    {"chat", 0x00000040},     {"forum", 0x00000080},      {"dating", 0x00000100},
    {"shopping", 0x00000200}, {"drugs", 0x00000400},      {"gamble", 0x00000800},
    {"broadcast", 0x00001000}, {"multimedia", 0x00002000}, {"jobs", 0x00004000},
    {"violence", 0x00008000}, {"porn", 0x00010000},       {"warez", 0x00020000},
    {"hacking", 0x00040000},  {"redirector", 0x00080000}, {"spyware", 0x00100000},
    {"tracker", 0x00200000},  {"isp", 0x00400000},        {"userlist", 0x80000000},
    {"all", 0xFFFFFFFF},
};

constexpr WordBit kBlockedWords[] = {
    {"virus", kBlockVirus},   {"content", kBlockContent},   {"banned", kBlockBanned},
    {"notallowed", kBlockNotAllowed}, {"bancon", kBlockBanCon}, {"site", kBlockSite},
    {"phishing", kBlockPhishing}, {"wf", kBlockWebFilter},  {"any", 0xEFFFFFFF},
    {"none", kBlockNone},
};

constexpr WordBit kPhaseWords[] = {{"finished", kPhaseFinished}, {"incomplete", kPhaseIncomplete}};

template <size_t N>
bool LookUpWord(const WordBit (&table)[N], const std::string& word, uint32_t* bits) {
  for (const WordBit& entry : table) {
    if (EqualsAsciiNoCase(word, entry.word)) {
      *bits = entry.bits;
      return true;
    }
  }
  return false;
}

// Calls item(word) for every non-empty, trimmed item of a ','-list; the first
// non-zero result ends the walk. Items longer than maxItem fail.
template <typename Item>
ResultCode ForEachItem(const std::string& value, size_t maxItem, Item item) {
  size_t begin = 0;
  while (begin <= value.size()) {
    size_t comma = value.find(',', begin);
    if (comma == std::string::npos) comma = value.size();
    if (comma - begin > maxItem) return kErrInvalidValue;
    std::string word = TrimmedCopy(value.substr(begin, comma - begin));
    if (!word.empty()) {
      ResultCode result = item(word);
      if (result != kOk) return result;
    }
    begin = comma + 1;
  }
  return kOk;
}

ResultCode AppendPatternOrAny(char*** list, const std::string& value) {
  const std::string& text = value.empty() ? std::string("*") : value;
  return AppendPatternList(list, text.c_str(), text.size());
}

ResultCode ParseVolume(WebstatConditions* conditions, const std::string& value) {
  const char* p = value.c_str();
  int32_t sign = 1;
  if (*p == '-') {
    sign = -1;
    ++p;
  }
  char* end = nullptr;
  uint64_t number = static_cast<uint32_t>(std::strtoul(p, &end, 0));
  if (end == p) return kErrInvalidValue;
  while (*end == ' ' || *end == '\t') ++end;
  std::string unit(end);
  uint64_t multiplier = 1;
  if (unit.empty()) {
    multiplier = 1;
  } else if (EqualsAsciiNoCase(unit, "KiB") || EqualsAsciiNoCase(unit, "kB")) {
    multiplier = 1024;
  } else if (EqualsAsciiNoCase(unit, "MiB") || EqualsAsciiNoCase(unit, "MB")) {
    multiplier = 1048576;
  } else if (EqualsAsciiNoCase(unit, "GiB") || EqualsAsciiNoCase(unit, "GB")) {
    multiplier = 1073741824;
  } else {
    return kErrInvalidValue;
  }
  conditions->volumeSign = sign;
  conditions->volumeThreshold = number * multiplier;
  return kOk;
}

ResultCode ParseBlocked(WebstatConditions* conditions, const std::string& value) {
  std::string rest = value;
  bool inverted = false;
  if (!rest.empty() && (rest[0] == '-' || rest[0] == '!')) {
    inverted = true;
    rest.erase(0, 1);
  }
  uint32_t bits = 0;
  ResultCode result = ForEachItem(rest, kBlockedItemMax, [&](const std::string& word) {
    uint32_t bit = 0;
    if (!LookUpWord(kBlockedWords, word, &bit)) return kErrInvalidValue;
    bits |= bit;
    return kOk;
  });
  if (result != kOk) return result;
  conditions->blockedMask |= inverted ? ~bits : bits;
  return kOk;
}

ResultCode ParsePhase(WebstatConditions* conditions, const std::string& value) {
  return ForEachItem(value, kConditionMax, [&](const std::string& word) {
    uint32_t bit = 0;
    if (!LookUpWord(kPhaseWords, word, &bit)) return kErrInvalidValue;
    conditions->phaseMask |= bit;
    return kOk;
  });
}

// A whole non-zero number of at most 32 bits in C notation.
bool ParseCategoryNumber(const std::string& word, uint32_t* bits) {
  if (word[0] == '-' || word[0] == '+') return false;
  errno = 0;
  char* end = nullptr;
  unsigned long long number = std::strtoull(word.c_str(), &end, 0);
  if (end == word.c_str() || *end != '\0' || errno != 0) return false;
  if (number == 0 || number > 0xFFFFFFFFULL) return false;
  *bits = static_cast<uint32_t>(number);
  return true;
}

ResultCode ParseWfcat(WebstatConditions* conditions, const std::string& value) {
  std::string rest = value;
  bool negative = false;
  if (!rest.empty() && rest[0] == '-') {
    negative = true;
    rest.erase(0, 1);
  }
  uint32_t bits = 0;
  uint32_t items = 0;
  bool whitelist = false;
  ResultCode result = ForEachItem(rest, kWfcatItemMax, [&](const std::string& word) {
    ++items;
    if (EqualsAsciiNoCase(word, "whitelist")) {
      whitelist = true;
      return kOk;
    }
    uint32_t bit = 0;
    if (!LookUpWord(kCategoryWords, word, &bit) && !ParseCategoryNumber(word, &bit)) {
      return kErrInvalidValue;
    }
    bits |= bit;
    return kOk;
  });
  if (result != kOk) return result;
  if (items == 0) return kErrInvalidValue;
  if (whitelist) conditions->wfUncategorised = negative ? 0 : 1;
  if (bits != 0) conditions->wfcatMask |= negative ? ~bits : bits;
  conditions->wfcatActive = 1;
  return kOk;
}

struct PendingBounds {
  TimeBound start;
  TimeBound end;
};

ResultCode ApplyCondition(WebstatConditions* conditions, const std::string& name,
                          const std::string& value, PendingBounds* bounds) {
  if (EqualsAsciiNoCase(name, "ip")) {
    if (value.find('/') != std::string::npos || value.find('-') != std::string::npos) {
      return AppendAddressRange(&conditions->ipRanges, &conditions->ipRangeCount, value.c_str());
    }
    return AppendPatternOrAny(&conditions->ip, value);
  }
  if (EqualsAsciiNoCase(name, "user")) return AppendPatternOrAny(&conditions->user, value);
  if (EqualsAsciiNoCase(name, "host") || EqualsAsciiNoCase(name, "site")) {
    return AppendPatternOrAny(&conditions->host, value);
  }
  if (EqualsAsciiNoCase(name, "code")) return AppendPatternOrAny(&conditions->code, value);
  if (EqualsAsciiNoCase(name, "content")) return AppendPatternOrAny(&conditions->content, value);
  if (EqualsAsciiNoCase(name, "volume")) return ParseVolume(conditions, value);
  if (EqualsAsciiNoCase(name, "blocked")) return ParseBlocked(conditions, value);
  if (EqualsAsciiNoCase(name, "phase")) return ParsePhase(conditions, value);
  if (EqualsAsciiNoCase(name, "wfcat")) return ParseWfcat(conditions, value);
  if (EqualsAsciiNoCase(name, "start")) return ParseTimeBound(value.c_str(), 0, 0, 0, &bounds->start);
  if (EqualsAsciiNoCase(name, "end")) return ParseTimeBound(value.c_str(), 23, 59, 59, &bounds->end);
  return kErrInvalidValue;
}

struct ConditionTarget {
  WebstatConditions* conditions;
  PendingBounds bounds;
};

ResultCode ApplyToTarget(void* context, const std::string& name, const std::string& value) {
  ConditionTarget* target = static_cast<ConditionTarget*>(context);
  return ApplyCondition(target->conditions, name, value, &target->bounds);
}

}  // namespace

ResultCode ParseWebstatConditions(const wchar_t* text, WebstatConditions* conditions) {
  if (conditions == nullptr) return kErrInvalidArgument;
  if (text == nullptr) {
    ReleaseWebstatConditions(conditions);
    return kErrInvalidArgument;
  }
  ConditionTarget target{conditions, PendingBounds{}};
  ResultCode result = ForEachCondition(text, ApplyToTarget, &target);
  if (result == kOk) {
    result = ResolveInterval(&target.bounds.start, &target.bounds.end, &conditions->start, &conditions->end);
  }
  if (result != kOk) ReleaseWebstatConditions(conditions);
  return result;
}

void ReleaseWebstatConditions(WebstatConditions* conditions) {
  if (conditions == nullptr) return;
  FreePatternList(&conditions->user);
  FreePatternList(&conditions->host);
  FreePatternList(&conditions->ip);
  FreePatternList(&conditions->code);
  FreePatternList(&conditions->content);
  std::free(conditions->ipRanges);
  *conditions = WebstatConditions{};
}
