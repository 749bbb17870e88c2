// Splits a raw command line into its arguments (the program name first).
#pragma once

#include <string>
#include <vector>

// The program name is the text between a leading double quote and the next
// one, or else the run of characters above the space. Each following argument
// starts after spaces and tabs: 2n backslashes before a double quote give n
// backslashes and the quote toggles quoting, 2n+1 give n and a literal quote;
// two double quotes in a row inside quotes give one literal quote; other
// backslashes are literal; an unquoted space or tab ends the argument.
// Appends the pieces to *args.
void SplitRawCommandLine(const wchar_t* raw, std::vector<std::wstring>* args);
