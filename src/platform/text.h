// Conversions between the program's wide text and the locale's multibyte text.
#pragma once

#include <cctype>
#include <cstddef>
#include <cwctype>
#include <string>

#include "platform/types.h"

// Sets every locale category to the user's default (UTF-8 in practice).
void PlatformInitLocale();

// Wide -> multibyte in the current locale. Characters that cannot be converted
// become '?'. Never fails except for memory.
std::string WideToMultibyte(const wchar_t* text, size_t length = static_cast<size_t>(-1));

// Multibyte -> wide in the current locale. Invalid bytes are taken one by one
// as the characters U+0080..U+00FF so that no input is lost or rejected.
std::wstring MultibyteToWide(const char* text, size_t length = static_cast<size_t>(-1));

// Wide -> 8-bit "ANSI" text for matching (CharLower/WideCharToMultiByte on Windows).
// Returns false when a character has no single-byte or multibyte form.
bool WideToAnsi(const wchar_t* text, size_t length, std::string* out);

// Lower-case form of one character as the system folds case for matching:
// CharLowerA/CharLowerW on Windows, tolower/towlower in the current locale
// elsewhere.
#if defined(_WIN32)
char FoldCharA(char c);
wchar_t FoldCharW(wchar_t c);
#else
// tolower of every byte, taken again when PlatformInitLocale sets the locale:
// matching folds a byte per compared character.
struct NarrowFold {
  char bytes[256];
};
extern NarrowFold gNarrowFold;
inline char FoldCharA(char c) { return gNarrowFold.bytes[static_cast<unsigned char>(c)]; }
inline wchar_t FoldCharW(wchar_t c) {
  return static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
}
#endif
