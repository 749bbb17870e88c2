// The whole-number form of mail log fields (the other readers are pinned by
// the end-to-end runs).
#include "common/mail_log.h"

#include <gtest/gtest.h>

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
