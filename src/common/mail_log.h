// Mail log line layouts (SMTP, RBL, postponer), message status bits and the
// binary message key decoded from a hexadecimal message ID.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// Field numbers (';'-separated, from 0).
constexpr uint32_t kLogFieldTime = 1;

constexpr uint32_t kSmtpFieldCode = 2;
constexpr uint32_t kSmtpFieldSender = 3;
constexpr uint32_t kSmtpFieldRecipients = 4;
constexpr uint32_t kSmtpFieldClient = 5;
constexpr uint32_t kSmtpFieldResult = 6;
constexpr uint32_t kSmtpFieldMessageId = 7;
constexpr uint32_t kSmtpFieldFlags = 11;

constexpr uint32_t kRblFieldText1 = 2;
constexpr uint32_t kRblFieldText2 = 3;
constexpr uint32_t kRblFieldVirus = 4;
constexpr uint32_t kRblFieldSpam = 5;
constexpr uint32_t kRblFieldNumber = 6;
constexpr uint32_t kRblFieldMessageId = 7;
constexpr uint32_t kRblFieldText8 = 8;
constexpr uint32_t kRblFieldSpamText = 9;
constexpr uint32_t kRblFieldVirusText = 10;
constexpr uint32_t kRblFieldVerdict = 11;
constexpr uint32_t kRblFieldFlags = 13;

constexpr uint32_t kPostFieldKind = 2;
constexpr uint32_t kPostFieldAnnounceId = 3;   // "S" and "E" lines
constexpr uint32_t kPostFieldAnnounceCount = 4; // "S" lines
constexpr uint32_t kPostFieldAddress = 5;      // status lines
constexpr uint32_t kPostFieldStatus = 7;
constexpr uint32_t kPostFieldMessageId = 8;

constexpr int32_t kRblVerdictStopped = -1000;
constexpr size_t kPostStatusMax = 49;

// MessageFlags: conditions and the state of one message.
constexpr uint32_t kMsgIn = 0x00000001;
constexpr uint32_t kMsgOut = 0x00000002;
constexpr uint32_t kMsgDirections = 0x00000003;
constexpr uint32_t kMsgReject = 0x00000010;
constexpr uint32_t kMsgStop = 0x00000020;
constexpr uint32_t kMsgVirus = 0x00000040;
constexpr uint32_t kMsgSpam = 0x00000080;
constexpr uint32_t kMsgPend = 0x00000100;
constexpr uint32_t kMsgFin = 0x00000200;
constexpr uint32_t kMsgStay = 0x00001000;
constexpr uint32_t kMsgSent = 0x00002000;
constexpr uint32_t kMsgDel = 0x00004000;
constexpr uint32_t kMsgTrash = 0x00008000;
constexpr uint32_t kMsgNonDelivery = 0x00010000;
constexpr uint32_t kMsgPostStatuses = 0x0001F000;
constexpr uint32_t kMsgFinalStates = 0x00000330;  // reject, stop, pend, fin
constexpr uint32_t kMsgRblMarks = 0x000000C0;     // virus, spam
constexpr uint32_t kMsgHasRbl = 0x01000000;
constexpr uint32_t kMsgHasPost = 0x02000000;
constexpr uint32_t kMsgAccepted = 0x10000000;
constexpr uint32_t kMsgPassedRbl = 0x20000000;
constexpr uint32_t kMsgStateBits = 0xFF000000;

// Bit of a postponer status word (exact, case-sensitive), 0 for others.
uint32_t PostStatusBit(const char* word);

// Bit of a --search filter word (ASCII case ignored), 0 for unknown words.
uint32_t FilterWordBit(const char* word);

constexpr size_t kMessageKeySize = 20;

struct MessageKey {
  uint8_t bytes[kMessageKeySize];
};

// Hex digit pairs left to right until 20 bytes, a non-hex character or fewer
// than two characters left; the rest is zero. Returns the bytes decoded.
size_t DecodeMessageKey(const char* text, size_t length, MessageKey* key);

inline int CompareMessageKeys(const MessageKey& a, const MessageKey& b) {
  return std::memcmp(a.bytes, b.bytes, kMessageKeySize);
}

// The first eight key bytes as an integer: a smaller one orders the key first
// by CompareMessageKeys.
inline uint64_t KeyOrderPrefix(const MessageKey& key) {
  uint64_t prefix = 0;
  for (int i = 0; i < 8; ++i) prefix = (prefix << 8) | key.bytes[i];
  return prefix;
}

// Unsigned number with automatic base (0x hex, 0 octal, else decimal);
// text that is no number reads as 0.
uint32_t ParseAutoBaseNumber(const char* text);

// Unsigned number with automatic base that fills the whole text (no blanks,
// no sign, not empty); false for anything else.
bool ParseWholeNumber(const char* text, uint32_t* value);

// Hexadecimal number with an optional 0x prefix; 0 when there is none.
uint32_t ParseHexNumber(const char* text);

// Signed decimal number; 0 when there is none.
int32_t ParseSignedDecimal(const char* text);
