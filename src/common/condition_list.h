// Splitting of "name=value;name=value" condition texts, shared by the
// --search and --webstat parsers.
#pragma once

#include <cstddef>
#include <string>

#include "platform/types.h"

// Longest condition taken; characters beyond it are dropped.
constexpr size_t kConditionMax = 32767;

// Receives one condition's trimmed name and value; a failure ends the list.
using ConditionHandler = ResultCode (*)(void* context, const std::string& name,
                                        const std::string& value);

// Calls apply for each ';'-separated condition of text in order, until one
// fails. Each condition is cut to kConditionMax characters and converted to the
// ANSI code page (kErrInvalidValue when it cannot be), then split at its first
// '=' (none: empty value). Returns kOk or the first failure.
ResultCode ForEachCondition(const wchar_t* text, ConditionHandler apply, void* context);

// Copy of text without white space (blank, tab, CR, LF, VT, FF) at its ends.
std::string TrimmedCopy(const std::string& text);

// True when a equals the word b, ASCII letters compared without case.
bool EqualsAsciiNoCase(const std::string& a, const char* b);
