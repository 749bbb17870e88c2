#include "report/html_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(HtmlText, EscapesMarkupControlBytesAndInvalidUtf8) {
  const std::string fffd = "\xEF\xBF\xBD";
  const struct {
    std::string in;
    std::string out;
  } cases[] = {
      {"plain text 1.2.3.4", "plain text 1.2.3.4"},
      {"<script>alert(1)</script>", "&lt;script&gt;alert(1)&lt;/script&gt;"},
      {"a\"b'c&d", "a&quot;b&#39;c&amp;d"},
      {"&amp;", "&amp;amp;"},
      {std::string("a\0b", 3), "a" + fffd + "b"},
      {"tab\there\x01\x7f\r\n", "tab here" + fffd + fffd + fffd + fffd},
      {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"},
      {"\xE9t\xE9", fffd + "t" + fffd},                      // Latin-1 bytes
      {"\xC0\xBC", fffd + fffd},                            // overlong '<'
      {"\xED\xA0\x80", fffd + fffd + fffd},                 // surrogate
      {"\xF4\x90\x80\x80", fffd + fffd + fffd + fffd},      // above U+10FFFF
      {"\xE2\x82", fffd + fffd},                            // cut sequence at the end
      {"\xE2<", fffd + "&lt;"},                             // cut sequence before markup
  };
  for (const auto& c : cases) EXPECT_EQ(HtmlText(c.in), c.out) << c.in;
}

TEST(HtmlText, CutsAfterMaxCharactersWithAnEllipsis) {
  const struct {
    std::string in;
    size_t max;
    std::string out;
  } cases[] = {
      {"abcdef", 3, "abc\xE2\x80\xA6"},
      {"abc", 3, "abc"},
      {"<<<<", 2, "&lt;&lt;\xE2\x80\xA6"},
      {"\xC3\xA9\xC3\xA9\xC3\xA9", 2, "\xC3\xA9\xC3\xA9\xE2\x80\xA6"},
      {"abc", 0, "abc"},
  };
  for (const auto& c : cases) EXPECT_EQ(HtmlText(c.in, c.max), c.out) << c.in;
}

}  // namespace
