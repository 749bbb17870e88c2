// POSIX implementation of the text conversions, on the C library's locale.
#include <cctype>
#include <climits>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "platform/text.h"

// The fold of the "C" locale, which is in force until PlatformInitLocale.
static constexpr NarrowFold AsciiFold() {
  NarrowFold fold{};
  for (int i = 0; i < 256; ++i) {
    fold.bytes[i] = static_cast<char>(i >= 'A' && i <= 'Z' ? i + 32 : i);
  }
  return fold;
}

NarrowFold gNarrowFold = AsciiFold();

void PlatformInitLocale() {
  setlocale(LC_ALL, "");
  for (int i = 0; i < 256; ++i) gNarrowFold.bytes[i] = static_cast<char>(std::tolower(i));
}

static size_t WideLength(const wchar_t* text, size_t length) {
  return length == static_cast<size_t>(-1) ? wcslen(text) : length;
}

static bool AppendWideChar(wchar_t c, std::mbstate_t* state, std::string* out) {
  char buffer[MB_LEN_MAX];
  size_t n = wcrtomb(buffer, c, state);
  if (n == static_cast<size_t>(-1)) {
    *state = std::mbstate_t();
    return false;
  }
  out->append(buffer, n);
  return true;
}

std::string WideToMultibyte(const wchar_t* text, size_t length) {
  std::string out;
  if (text == nullptr) return out;
  length = WideLength(text, length);
  out.reserve(length);
  std::mbstate_t state{};
  for (size_t i = 0; i < length; ++i) {
    if (!AppendWideChar(text[i], &state, &out)) out.push_back('?');
  }
  return out;
}

std::wstring MultibyteToWide(const char* text, size_t length) {
  std::wstring out;
  if (text == nullptr) return out;
  if (length == static_cast<size_t>(-1)) length = strlen(text);
  out.reserve(length);
  std::mbstate_t state{};
  size_t i = 0;
  while (i < length) {
    wchar_t c = 0;
    size_t n = mbrtowc(&c, text + i, length - i, &state);
    if (n == 0) {  // embedded NUL
      out.push_back(L'\0');
      i += 1;
    } else if (n == static_cast<size_t>(-1) || n == static_cast<size_t>(-2)) {
      state = std::mbstate_t();
      out.push_back(static_cast<wchar_t>(static_cast<unsigned char>(text[i])));
      i += 1;
    } else {
      out.push_back(c);
      i += n;
    }
  }
  return out;
}

bool WideToAnsi(const wchar_t* text, size_t length, std::string* out) {
  out->clear();
  if (text == nullptr) return false;
  length = WideLength(text, length);
  std::mbstate_t state{};
  for (size_t i = 0; i < length; ++i) {
    if (!AppendWideChar(text[i], &state, out)) return false;
  }
  return true;
}
