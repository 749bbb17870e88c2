// Field readers of the HTTP proxy log line.
#include "common/proxy_log.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

namespace {

TEST(ProxyLog, SizeFieldsAreKiBInBytes) {
  const struct {
    const char* text;
    uint64_t bytes;
  } cases[] = {{"12", 12288}, {"-", 0}, {"", 0}, {"abc", 0}, {"3kB", 3072}, {"0", 0}};
  for (const auto& c : cases) EXPECT_EQ(ParseProxySize(c.text), c.bytes) << c.text;
}

TEST(ProxyLog, TransactionIdsDecodePairwise) {
  const struct {
    const char* text;
    const char* hex;  // the 20 bytes expected, as 40 hex digits
  } cases[] = {
      {"0123456789abcdefABCDEF0123456789abcdef01", "0123456789abcdefabcdef0123456789abcdef01"},
      {"ff", "ff00000000000000000000000000000000000000"},
      {"f", "f000000000000000000000000000000000000000"},
      {"zz11", "0011000000000000000000000000000000000000"},
      {"1z22", "1022000000000000000000000000000000000000"},
      {"", "0000000000000000000000000000000000000000"},
  };
  for (const auto& c : cases) {
    uint8_t id[kTransactionIdSize];
    DecodeTransactionId(c.text, id);
    char hex[41];
    for (uint32_t i = 0; i < kTransactionIdSize; ++i) std::snprintf(hex + 2 * i, 3, "%02x", id[i]);
    EXPECT_STREQ(hex, c.hex) << c.text;
  }
}

TEST(ProxyLog, CategoriesAndContentTypes) {
  const struct {
    const char* text;
    uint32_t first, second;
  } categories[] = {{"0x10, 0x2", 16, 2}, {"12", 12, 0}, {"010 ,\t7", 8, 7}, {"", 0, 0}, {"x,5", 0, 0}, {",5", 0, 5}};
  for (const auto& c : categories) {
    uint32_t first = 9, second = 9;
    ParseCategories(c.text, &first, &second);
    EXPECT_EQ(first, c.first) << c.text;
    EXPECT_EQ(second, c.second) << c.text;
  }
  const struct {
    const char* text;
    const char* cut;
  } contents[] = {{"text/html_charset=UTF-8", "text/html"}, {"text/html_ q=1", "text/html"},
                  {"x_y/z", "x_y/z"},                     {"a_b_charset", "a_b"}};
  for (const auto& c : contents) {
    std::string text = c.text;
    CutContentType(text.data());
    EXPECT_STREQ(text.c_str(), c.cut) << c.text;
  }
}

TEST(ProxyLog, AddressOrderValues) {
  EXPECT_EQ(ProxyAddressOrder("10.0.0.1"), 0x0A000001u);
  EXPECT_EQ(ProxyAddressOrder("192.168.300.4"), 0xC0A82C04u);
  EXPECT_EQ(ProxyAddressOrder("7"), 0x07000000u);
  EXPECT_EQ(ProxyAddressOrder(""), 0u);
}

TEST(ProxyLog, LinesReadFieldByField) {
  auto line = std::make_unique<ProxyLine>();
  const char* text =
      "2024/03/11; 10:00:20 ;E;0001aaaa;2;100; 10.0.0.1 ;alice;www.example.com;200;x;VIRUS; "
      "EICAR ;0x5, 0x2;;;1;;;;text/html_charset=UTF-8";
  ASSERT_EQ(ReadProxyHead(text, line.get()), kOk);
  EXPECT_EQ(line->timeOfDay, 36020ULL * 10000000ULL);
  EXPECT_EQ(line->kind, 'E');
  EXPECT_EQ(line->id[1], 0x01);
  EXPECT_EQ(line->id[2], 0xaa);
  ReadProxyTraffic(line.get());
  EXPECT_EQ(line->size5, 2048u);
  EXPECT_EQ(line->size6, 102400u);
  EXPECT_STREQ(line->ip, "10.0.0.1");
  EXPECT_STREQ(line->user, "alice");
  EXPECT_STREQ(line->host, "www.example.com");
  ReadProxyEnd(line.get());
  EXPECT_STREQ(line->code, "200");
  EXPECT_STREQ(line->reason, "VIRUS");
  EXPECT_STREQ(line->detail, " EICAR ");
  EXPECT_EQ(line->categories1, 5u);
  EXPECT_EQ(line->categories2, 2u);
  EXPECT_EQ(line->webFilterFlag, 1u);
  EXPECT_STREQ(line->content, "text/html");
  // Short lines give empty fields; a bad time rejects the line.
  ASSERT_EQ(ReadProxyHead("d;10:00;B", line.get()), kOk);
  ReadProxyTraffic(line.get());
  EXPECT_EQ(line->size6, 0u);
  EXPECT_STREQ(line->host, "");
  EXPECT_EQ(ReadProxyHead("d;25:00;B", line.get()), kErrInvalidValue);
  EXPECT_EQ(ReadProxyHead("", line.get()), kErrInvalidValue);
}

}  // namespace
