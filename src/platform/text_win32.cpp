// Text conversions on Windows: the ANSI code page through
// WideCharToMultiByte/MultiByteToWideChar.
#include "platform/text.h"

#include <windows.h>

#include <clocale>
#include <cstring>
#include <cwchar>

void PlatformInitLocale() { setlocale(LC_ALL, ""); }

namespace {

// Folding tables built once with CharLowerBuffA/W over every code: matching
// folds a character per comparison, so a table lookup keeps it cheap.
struct FoldTables {
  char narrow[256];
  wchar_t wide[65536];
  FoldTables() {
    for (int i = 0; i < 256; ++i) narrow[i] = static_cast<char>(i);
    CharLowerBuffA(narrow + 1, 255);
    for (int i = 0; i < 65536; ++i) wide[i] = static_cast<wchar_t>(i);
    // Surrogates are no characters of their own: they stay as they are.
    CharLowerBuffW(wide + 1, 0xD800 - 1);
    CharLowerBuffW(wide + 0xE000, 0x10000 - 0xE000);
  }
};

const FoldTables& Tables() {
  static const FoldTables* tables = new FoldTables;
  return *tables;
}

}  // namespace

char FoldCharA(char c) { return Tables().narrow[static_cast<unsigned char>(c)]; }

wchar_t FoldCharW(wchar_t c) { return Tables().wide[static_cast<unsigned short>(c)]; }

namespace {

size_t WideLength(const wchar_t* text, size_t length) {
  return length == static_cast<size_t>(-1) ? wcslen(text) : length;
}

// Converts with the ANSI code page; usedDefault tells whether a character
// had no form of its own.
std::string ToAnsi(const wchar_t* text, size_t length, DWORD flags, BOOL* usedDefault) {
  std::string out;
  if (length == 0) return out;
  const int count = static_cast<int>(length);
  const int needed = WideCharToMultiByte(CP_ACP, flags, text, count, nullptr, 0, "?", usedDefault);
  if (needed <= 0) return out;
  out.resize(static_cast<size_t>(needed));
  WideCharToMultiByte(CP_ACP, flags, text, count, out.data(), needed, "?", usedDefault);
  return out;
}

// One character of multibyte text: 1 or 2 bytes (lead byte of a DBCS code page).
size_t CharacterLength(const char* text, size_t rest) {
  return rest > 1 && IsDBCSLeadByte(static_cast<BYTE>(text[0])) ? 2 : 1;
}

}  // namespace

std::string WideToMultibyte(const wchar_t* text, size_t length) {
  if (text == nullptr) return std::string();
  return ToAnsi(text, WideLength(text, length), 0, nullptr);
}

std::wstring MultibyteToWide(const char* text, size_t length) {
  std::wstring out;
  if (text == nullptr) return out;
  if (length == static_cast<size_t>(-1)) length = strlen(text);
  if (length == 0) return out;
  const int count = static_cast<int>(length);
  const int needed = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text, count, nullptr, 0);
  if (needed > 0) {
    out.resize(static_cast<size_t>(needed));
    MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text, count, out.data(), needed);
    return out;
  }
  // Some bytes have no character: convert one character at a time and take
  // the bytes that fail as U+0080..U+00FF, so that nothing is lost.
  out.reserve(length);
  for (size_t i = 0; i < length;) {
    const size_t n = CharacterLength(text + i, length - i);
    wchar_t converted[2];
    const int got = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text + i, static_cast<int>(n),
                                        converted, 2);
    if (got > 0) {
      out.append(converted, static_cast<size_t>(got));
      i += n;
    } else {
      out.push_back(static_cast<wchar_t>(static_cast<unsigned char>(text[i])));
      i += 1;
    }
  }
  return out;
}

bool WideToAnsi(const wchar_t* text, size_t length, std::string* out) {
  out->clear();
  if (text == nullptr) return false;
  BOOL usedDefault = FALSE;
  *out = ToAnsi(text, WideLength(text, length), WC_NO_BEST_FIT_CHARS, &usedDefault);
  return !usedDefault;
}
