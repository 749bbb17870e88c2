// Mail log status words, message keys and the number forms of log fields.
#include "common/mail_log.h"

#include <cerrno>
#include <cstdlib>

namespace {

// Digit value of every byte, -1 for bytes that are no hexadecimal digit.
struct HexTable {
  int8_t value[256];
  constexpr HexTable() : value() {
    for (int i = 0; i < 256; ++i) value[i] = -1;
    for (int i = 0; i < 10; ++i) value['0' + i] = static_cast<int8_t>(i);
    for (int i = 0; i < 6; ++i) {
      value['a' + i] = static_cast<int8_t>(10 + i);
      value['A' + i] = static_cast<int8_t>(10 + i);
    }
  }
};

constexpr HexTable kHex;

int HexValue(char c) { return kHex.value[static_cast<unsigned char>(c)]; }

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

bool EqualsNoCase(const char* a, const char* b) {
  while (*a != '\0' && LowerAscii(*a) == LowerAscii(*b)) {
    ++a;
    ++b;
  }
  return *a == '\0' && *b == '\0';
}

struct WordBit {
  const char* word;
  uint32_t bit;
};

constexpr WordBit kPostStatusWords[] = {
    {"STAY", kMsgStay}, {"SENT", kMsgSent}, {"DEL", kMsgDel},
    {"TRASH", kMsgTrash}, {"ND", kMsgNonDelivery},
};

constexpr WordBit kFilterWords[] = {
    {"reject", kMsgReject}, {"stop", kMsgStop},   {"virus", kMsgVirus},
    {"spam", kMsgSpam},     {"pend", kMsgPend},   {"fin", kMsgFin},
    {"stay", kMsgStay},     {"sent", kMsgSent},   {"del", kMsgDel},
    {"trash", kMsgTrash},   {"nd", kMsgNonDelivery},
};

}  // namespace

uint32_t PostStatusBit(const char* word) {
  if (word == nullptr) return 0;
  for (const WordBit& row : kPostStatusWords) {
    if (std::strcmp(word, row.word) == 0) return row.bit;
  }
  return 0;
}

uint32_t FilterWordBit(const char* word) {
  if (word == nullptr) return 0;
  for (const WordBit& row : kFilterWords) {
    if (EqualsNoCase(word, row.word)) return row.bit;
  }
  return 0;
}

size_t DecodeMessageKey(const char* text, size_t length, MessageKey* key) {
  std::memset(key->bytes, 0, kMessageKeySize);
  size_t count = 0;
  if (text == nullptr) return 0;
  while (count < kMessageKeySize && length >= 2) {
    int high = HexValue(text[0]);
    int low = HexValue(text[1]);
    if (high < 0 || low < 0) break;
    key->bytes[count++] = static_cast<uint8_t>(high * 16 + low);
    text += 2;
    length -= 2;
  }
  return count;
}

uint32_t ParseAutoBaseNumber(const char* text) {
  if (text == nullptr) return 0;
  errno = 0;
  char* end = nullptr;
  unsigned long value = std::strtoul(text, &end, 0);
  if (end == text) return 0;
  return static_cast<uint32_t>(value);
}

bool ParseWholeNumber(const char* text, uint32_t* value) {
  if (text == nullptr || value == nullptr || *text < '0' || *text > '9') return false;
  char* end = nullptr;
  errno = 0;
  unsigned long long number = std::strtoull(text, &end, 0);
  if (*end != '\0' || errno != 0 || number > 0xFFFFFFFFULL) return false;
  *value = static_cast<uint32_t>(number);
  return true;
}

uint32_t ParseHexNumber(const char* text) {
  if (text == nullptr) return 0;
  char* end = nullptr;
  unsigned long value = std::strtoul(text, &end, 16);
  if (end == text) return 0;
  return static_cast<uint32_t>(value);
}

int32_t ParseSignedDecimal(const char* text) {
  if (text == nullptr) return 0;
  char* end = nullptr;
  long value = std::strtol(text, &end, 10);
  if (end == text) return 0;
  return static_cast<int32_t>(value);
}
