#include "common/text_match.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

TEST(WildcardMatch, SingleForwardScanWithoutBacktracking) {
  struct Case {
    const char* text;
    const char* pattern;
    int ignoreCase;
    int expected;
  };
  const Case cases[] = {
      {"Hello", "h*O", 1, 1}, {"Hello", "h*O", 0, 0}, {"abc", "a*c", 0, 1},   {"ac", "a*c", 0, 1},
      {"ac", "a?c", 0, 0},    {"abc", "a?c", 0, 1},   {"abc", "abc?", 0, 1},  {"ab", "ab??*?", 0, 1},
      {"abcd", "abc", 0, 0},  {"ab", "abc", 0, 0},    {"", "*", 0, 1},        {"", "", 0, 1},
      {"x", "", 0, 0},        {nullptr, "*", 0, 0},   {"a", nullptr, 0, 0},
      // No backtracking: a middle segment is taken at its first occurrence, and
      // the last segment must end at the end of the text.
      {"aab", "*ab", 0, 0},   {"aaab", "*aab", 0, 0}, {"xab", "*ab", 0, 1},   {"abab", "*ab", 0, 1},
      {"abx", "*ab", 0, 0},   {"a-b-c", "*-*c", 0, 1}, {"abc", "*?c", 0, 1},  {"abc", "*x*", 0, 0},
      {"XAB", "*ab", 1, 1},   {"smtp20080427.log", "smtp*.log", 0, 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WildcardMatch(c.ignoreCase, c.text, c.pattern), c.expected) << c.text << " " << c.pattern;
    if (c.text == nullptr || c.pattern == nullptr) continue;
    const std::wstring text(c.text, c.text + std::strlen(c.text));
    const std::wstring pattern(c.pattern, c.pattern + std::strlen(c.pattern));
    EXPECT_EQ(WildcardMatchWide(c.ignoreCase, text.c_str(), pattern.c_str()), c.expected) << c.text;
  }
}

// A pattern keeps only a matching field (the plain reads: the reference
// reader below).
TEST(GetField, PatternFiltersTheField) {
  char field[32];
  size_t length = 9;
  const char* cursor = "a;  Spam Found ;b";
  EXPECT_EQ(GetField(&cursor, 1, ';', "spam*", field, sizeof field, &length), 1);
  EXPECT_STREQ(field, "Spam Found");
  cursor = "a;  Spam Found ;b";
  EXPECT_EQ(GetField(&cursor, 1, ';', "virus*", field, sizeof field, &length), 0);
  EXPECT_STREQ(field, "");
  EXPECT_EQ(length, 0u);
}

TEST(GetField, WideForm) {
  const wchar_t* cursor = L" a ;B c ;x";
  wchar_t buffer[8];
  size_t length = 0;
  ASSERT_EQ(GetFieldWide(&cursor, 1, L';', L"b*", buffer, 8, &length), 1);
  EXPECT_STREQ(buffer, L"B c");
  EXPECT_STREQ(cursor, L"x");
}

TEST(Tokens, NextTokenCutsInPlace) {
  char text[] = "one;two;;four";
  char* cursor = text;
  EXPECT_STREQ(NextToken(&cursor, 0, ';'), "one");
  EXPECT_STREQ(NextToken(&cursor, 1, ';'), "");  // skips "two"
  EXPECT_STREQ(NextToken(&cursor, 0, ';'), "four");
  EXPECT_EQ(NextToken(&cursor, 0, ';'), nullptr);

  char spaced[] = "  a b  , c ";
  cursor = spaced;
  EXPECT_STREQ(NextTokenTrimmed(&cursor, 0, ','), "a b");
  EXPECT_STREQ(NextTokenTrimmed(&cursor, 0, ','), "c");
  EXPECT_EQ(NextTokenTrimmed(&cursor, 0, ','), nullptr);

  char shortText[] = "a;b";
  cursor = shortText;
  EXPECT_EQ(NextToken(&cursor, 3, ';'), nullptr);
}

TEST(Tokens, TrimBlanks) {
  char text[] = " \t\r\n value  x \v\f\r\n";
  EXPECT_STREQ(TrimBlanks(text), "value  x");
  char blank[] = "   ";
  EXPECT_STREQ(TrimBlanks(blank), "");
}

uint32_t Parsed(const char* text) {
  uint32_t address = 12345;
  const char* end = ParseIPv4(text, &address);
  EXPECT_NE(end, nullptr) << text;
  return address;
}

TEST(ParseIPv4, FormsOfOneAddress) {
  uint32_t expected = MakeAddress(192, 168, 1, 10);
  const unsigned char* octets = reinterpret_cast<const unsigned char*>(&expected);
  EXPECT_EQ(octets[0], 192);
  EXPECT_EQ(octets[3], 10);
  EXPECT_EQ(Parsed("192.168.1.10"), expected);
  EXPECT_EQ(Parsed("3232235786"), expected);
  EXPECT_EQ(Parsed("0xC0.0xA8.0x01.0x0A"), expected);
  EXPECT_EQ(Parsed("0xC0A8010A"), expected);
  EXPECT_EQ(Parsed("0300.0250.01.012"), expected);
  EXPECT_EQ(Parsed(" \t192.168.1.10"), expected);
  EXPECT_EQ(Parsed("\x01 192.168.1.10"), expected);  // low control bytes are skipped too
  EXPECT_EQ(Parsed("0.0.0.0"), 0u);
  EXPECT_EQ(Parsed("0"), 0u);
  EXPECT_EQ(AddressOrderValue(expected), 0xC0A8010Au);
  const char* text = "10.1.2.3;rest";
  uint32_t address = 0;
  EXPECT_EQ(ParseIPv4(text, &address), text + 8);
}

TEST(ParseIPv4, InvalidTexts) {
  for (const char* text : {"", "   ", "192.168.1", "192.168", "256.1.1.1", "1.2.3.4.5", "1.2.3.4.",
                           "4294967296", "08", "0x", "0xC0.A8.1.10", "x1.2.3.4", "1..2.3"}) {
    uint32_t address = 12345;
    EXPECT_EQ(ParseIPv4(text, &address), nullptr) << text;
    EXPECT_EQ(address, 0u) << text;  // a rejected text leaves the address zeroed
  }
  uint32_t address = 0;
  EXPECT_EQ(ParseIPv4(nullptr, &address), nullptr);
}

// A single address (no program condition makes one: a plain address is a
// pattern there), a foreign kind and no range (the ranges of the conditions
// are end-to-end cases).
TEST(AddressRange, SingleAddressAndNoRange) {
  AddressRange range{};
  ASSERT_NE(ParseAddressRange("1.2.3.4  ", &range), nullptr);
  EXPECT_EQ(range.kind, kRangeSingle);
  EXPECT_EQ(MatchAddressRange(MakeAddress(1, 2, 3, 4), &range), 1);
  EXPECT_EQ(MatchAddressRange(MakeAddress(1, 2, 3, 5), &range), 0);
  AddressRange foreign{7, 0, 0};
  EXPECT_EQ(MatchAddressRange(0, &foreign), 0);
  EXPECT_EQ(MatchAddressRange(0, nullptr), 0);
}

}  // namespace

namespace {

// The character-by-character field reader GetField is measured against.
int ReferenceField(const char** cursor, uint32_t index, char delimiter, char* buffer,
                   size_t capacity, size_t* length, bool trim) {
  *length = 0;
  buffer[0] = 0;
  const char* p = *cursor;
  uint32_t passed = 0;
  size_t stored = 0, kept = 0;
  bool started = !trim;
  for (char c; (c = *p) != 0;) {
    ++p;
    if (c == '\n') break;
    if (c == delimiter) {
      if (passed++ == index) break;
      continue;
    }
    if (passed != index) continue;
    if (!started) {
      if (static_cast<unsigned char>(c) < 33) continue;
      started = true;
    }
    if (stored < capacity - 1) {
      buffer[stored++] = c;
      if (!trim || static_cast<unsigned char>(c) > 32) kept = stored;
    }
  }
  *cursor = p;
  if (passed < index) return 0;
  buffer[kept] = 0;
  *length = stored;
  return 1;
}

TEST(GetField, AgreesWithTheCharacterByCharacterReader) {
  const char alphabet[] = {';', ';', ' ', '\t', '\n', 'a', 'b', '\x01', '\xe9', 'x'};
  uint32_t seed = 12345;
  for (int round = 0; round < 20000; ++round) {
    std::string line;
    seed = seed * 1103515245u + 12345u;
    const size_t size = (seed >> 16) % 24;
    for (size_t i = 0; i < size; ++i) {
      seed = seed * 1103515245u + 12345u;
      line += alphabet[(seed >> 16) % sizeof alphabet];
    }
    const uint32_t index = (seed >> 8) % 5;
    const size_t capacity = 1 + (seed >> 4) % 6;
    const bool trim = (seed & 1) != 0;
    const char* fast = line.c_str();
    const char* slow = line.c_str();
    char fastBuffer[8], slowBuffer[8];
    size_t fastLength = 9, slowLength = 9;
    int fastResult = trim ? GetField(&fast, index, ';', nullptr, fastBuffer, capacity, &fastLength)
                          : GetFieldRaw(&fast, index, ';', nullptr, fastBuffer, capacity, &fastLength);
    int slowResult = ReferenceField(&slow, index, ';', slowBuffer, capacity, &slowLength, trim);
    ASSERT_EQ(fastResult, slowResult) << line;
    ASSERT_EQ(fast - line.c_str(), slow - line.c_str()) << line;
    ASSERT_STREQ(fastBuffer, slowBuffer) << line;
    ASSERT_EQ(fastLength, slowLength) << line;
  }
}

}  // namespace

// Differential: the one-pass splitter and view trimming against GetField and
// GetFieldRaw read field by field, on random lines full of separators,
// blanks, CR, LF, NUL and high bytes, short and long (vector path and tail).
TEST(SplitFieldsDifferential, MatchesGetFieldOnRandomLines) {
  const char alphabet[] = {';', ';', ' ', '\t', '\r', '\n', '\0', 'a', 'Z', '7', '\x80', '\xff', '\x01'};
  uint64_t seed = 12345;
  auto next = [&seed] {
    seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<uint32_t>(seed >> 33);
  };
  const size_t capacities[] = {0, 1, 2, 5, 16, 64, 4096};
  for (int round = 0; round < 3000; ++round) {
    std::string line(next() % (round % 10 == 0 ? 300 : 60), 'x');
    for (char& c : line) c = (next() % 3 == 0) ? 'q' : alphabet[next() % sizeof alphabet];
    if (round % 3 == 1) {
      // Line ends are rare in log lines: none, or one anywhere.
      for (char& c : line) c = (c == '\n' || c == '\0') ? 'q' : c;
      if (!line.empty() && round % 2 == 0) line[next() % line.size()] = round % 4 == 0 ? '\n' : '\0';
    }
    TextView fields[16];
    const uint32_t maxFields = 1 + next() % 16;
    const uint32_t count = SplitFields(line.data(), line.size(), ';', fields, maxFields);
    for (uint32_t i = 0; i < maxFields; ++i) {
      for (size_t capacity : capacities) {
        std::vector<char> buffer(capacity + 1, '#');
        const char* cursor = line.c_str();
        size_t length = 0;
        const int found = GetField(&cursor, i, ';', nullptr, capacity ? buffer.data() : nullptr,
                                   capacity, &length);
        ASSERT_EQ(found == 1, i < count) << "round " << round << " field " << i;
        if (i >= count || capacity == 0) continue;
        const TextView trimmed = TrimField(fields[i], capacity);
        EXPECT_EQ(std::string(trimmed.text, trimmed.length), std::string(buffer.data()))
            << "round " << round << " field " << i << " capacity " << capacity;
        cursor = line.c_str();
        GetFieldRaw(&cursor, i, ';', nullptr, buffer.data(), capacity, &length);
        const TextView cut = CutField(fields[i], capacity);
        EXPECT_EQ(std::string(cut.text, cut.length), std::string(buffer.data()));
      }
    }
  }
}
