// HTML escaping of untrusted 8-bit text.
#include "report/html_text.h"

#include <cstdint>

namespace {

constexpr const char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

// Length of the well-formed UTF-8 sequence at text[i] (2..4), or 0.
size_t Utf8SequenceLength(std::string_view text, size_t i) {
  const auto byte = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
  const uint8_t lead = byte(i);
  size_t length = 0;
  uint8_t low = 0x80, high = 0xBF;  // allowed range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // no overlong forms
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  if (byte(i + 1) < low || byte(i + 1) > high) return 0;
  for (size_t k = 2; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
  }
  return length;
}

}  // namespace

void AppendHtmlText(std::string* out, std::string_view text, size_t maxChars) {
  size_t written = 0;
  for (size_t i = 0; i < text.size();) {
    if (maxChars > 0 && written == maxChars) {
      out->append("\xE2\x80\xA6");  // U+2026
      return;
    }
    ++written;
    const uint8_t c = static_cast<uint8_t>(text[i]);
    if (c >= 0x80) {
      const size_t length = Utf8SequenceLength(text, i);
      if (length == 0) {
        out->append(kReplacement);
        ++i;
      } else {
        out->append(text.substr(i, length));
        i += length;
      }
      continue;
    }
    ++i;
    switch (c) {
      case '&': out->append("&amp;"); break;
      case '<': out->append("&lt;"); break;
      case '>': out->append("&gt;"); break;
      case '"': out->append("&quot;"); break;
      case '\'': out->append("&#39;"); break;
      case '\t': out->push_back(' '); break;
      default:
        if (c < 0x20 || c == 0x7F) {
          out->append(kReplacement);
        } else {
          out->push_back(static_cast<char>(c));
        }
    }
  }
}

std::string HtmlText(std::string_view text, size_t maxChars) {
  std::string out;
  out.reserve(text.size() + 16);
  AppendHtmlText(&out, text, maxChars);
  return out;
}
