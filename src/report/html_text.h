// HTML text from untrusted bytes: every log-derived text on the report page
// passes through here.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Appends `text` as HTML character data that is also safe inside a quoted
// attribute: & < > " ' become references; a tab becomes a blank; NUL, the
// other control bytes and bytes that are not well-formed UTF-8 become U+FFFD,
// one per byte. So the output holds no tab and no line feed, which callers
// use as separators. With maxChars > 0 at most that many characters are
// written, then "…".
void AppendHtmlText(std::string* out, std::string_view text, size_t maxChars = 0);

// The same, returning a new string.
std::string HtmlText(std::string_view text, size_t maxChars = 0);
