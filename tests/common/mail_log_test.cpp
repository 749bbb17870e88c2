// Message keys, status words and the number forms of mail log fields.
#include "common/mail_log.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(MessageKey, DecodesHexPairsOfEitherCaseAndZeroFillsTheRest) {
  MessageKey key;
  EXPECT_EQ(DecodeMessageKey("0aFf10", 6, &key), 3u);
  EXPECT_EQ(key.bytes[0], 0x0A);
  EXPECT_EQ(key.bytes[1], 0xFF);
  EXPECT_EQ(key.bytes[2], 0x10);
  for (size_t i = 3; i < kMessageKeySize; ++i) EXPECT_EQ(key.bytes[i], 0) << i;
}

TEST(MessageKey, StopsAtNonHexAtAnOddDigitAndAfterTwentyBytes) {
  MessageKey key;
  EXPECT_EQ(DecodeMessageKey("12g456", 6, &key), 1u);
  EXPECT_EQ(key.bytes[0], 0x12);
  EXPECT_EQ(key.bytes[1], 0);
  EXPECT_EQ(DecodeMessageKey("abc", 3, &key), 1u);  // final single digit dropped
  EXPECT_EQ(key.bytes[1], 0);
  const char* longId = "000102030405060708090A0B0C0D0E0F10111213FFFF";
  EXPECT_EQ(DecodeMessageKey(longId, std::strlen(longId), &key), 20u);
  EXPECT_EQ(key.bytes[19], 0x13);
  EXPECT_EQ(DecodeMessageKey("zz", 2, &key), 0u);
  MessageKey zero{};
  EXPECT_EQ(CompareMessageKeys(key, zero), 0);
}

TEST(MessageKey, ComparesAsUnsignedBytes) {
  MessageKey low;
  MessageKey high;
  DecodeMessageKey("7F", 2, &low);
  DecodeMessageKey("80", 2, &high);
  EXPECT_LT(CompareMessageKeys(low, high), 0);
  EXPECT_GT(CompareMessageKeys(high, low), 0);
}

TEST(MailLogWords, PostStatusWordsAreExactAndFilterWordsIgnoreCase) {
  EXPECT_EQ(PostStatusBit("STAY"), kMsgStay);
  EXPECT_EQ(PostStatusBit("SENT"), kMsgSent);
  EXPECT_EQ(PostStatusBit("DEL"), kMsgDel);
  EXPECT_EQ(PostStatusBit("TRASH"), kMsgTrash);
  EXPECT_EQ(PostStatusBit("ND"), kMsgNonDelivery);
  EXPECT_EQ(PostStatusBit("sent"), 0u);
  EXPECT_EQ(PostStatusBit("RETRY"), 0u);
  EXPECT_EQ(FilterWordBit("Spam"), kMsgSpam);
  EXPECT_EQ(FilterWordBit("REJECT"), kMsgReject);
  EXPECT_EQ(FilterWordBit("nd"), kMsgNonDelivery);
  EXPECT_EQ(FilterWordBit("in"), 0u);
  EXPECT_EQ(FilterWordBit(""), 0u);
}

TEST(MailLogNumbers, AutomaticBaseHexAndSignedForms) {
  EXPECT_EQ(ParseAutoBaseNumber("0x10"), 16u);
  EXPECT_EQ(ParseAutoBaseNumber("010"), 8u);
  EXPECT_EQ(ParseAutoBaseNumber("10"), 10u);
  EXPECT_EQ(ParseAutoBaseNumber("abc"), 0u);
  EXPECT_EQ(ParseAutoBaseNumber(""), 0u);
  EXPECT_EQ(ParseHexNumber("0x1F"), 31u);
  EXPECT_EQ(ParseHexNumber("19d"), 0x19Du);
  EXPECT_EQ(ParseHexNumber("-"), 0u);
  EXPECT_EQ(ParseSignedDecimal("-1000"), -1000);
  EXPECT_EQ(ParseSignedDecimal("x"), 0);
}

}  // namespace

TEST(MailLogNumbers, WholeNumberFillsItsText) {
  struct Case { const char* text; bool ok; uint32_t value; };
  const Case cases[] = {{"0x1f", true, 31}, {"017", true, 15}, {"42", true, 42},
                        {"4294967295", true, 0xFFFFFFFFu}, {"4294967296", false, 0},
                        {"", false, 0}, {"12 ", false, 0}, {" 12", false, 0},
                        {"-1", false, 0}, {"0x", false, 0}, {"9z", false, 0}};
  for (const Case& c : cases) {
    uint32_t value = 0;
    EXPECT_EQ(ParseWholeNumber(c.text, &value), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(value, c.value) << c.text;
    }
  }
}
