// The whole-number form of mail log fields and the message key decoder
// (the other readers are pinned by the end-to-end runs).
#include "common/mail_log.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

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

// The key decoder against a plain digit-pair loop: digits of both cases,
// bytes next to them in the code table and high bytes, at every place of
// texts around the 40-digit length.
TEST(MessageKey, DecodesAsAPlainDigitPairLoop) {
  auto digit = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  const std::string hex = "0123456789abcdefABCDEF";
  const std::string near = "/:@G`g\x80\xff; ";
  std::mt19937 random(5);
  for (int round = 0; round < 20000; ++round) {
    std::string text(random() % 48, '0');
    for (char& c : text) c = hex[random() % hex.size()];
    if (round % 2 == 0 && !text.empty()) {
      text[random() % text.size()] = near[random() % near.size()];
    }
    MessageKey want{};
    size_t wantCount = 0;
    while (wantCount < kMessageKeySize && 2 * wantCount + 1 < text.size() &&
           digit(text[2 * wantCount]) >= 0 && digit(text[2 * wantCount + 1]) >= 0) {
      want.bytes[wantCount] =
          static_cast<uint8_t>(digit(text[2 * wantCount]) * 16 + digit(text[2 * wantCount + 1]));
      ++wantCount;
    }
    MessageKey got;
    std::memset(got.bytes, 0xAA, kMessageKeySize);
    ASSERT_EQ(DecodeMessageKey(text.data(), text.size(), &got), wantCount) << text;
    ASSERT_EQ(CompareMessageKeys(got, want), 0) << text;
  }
}
