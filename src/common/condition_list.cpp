// Condition list splitting and the small text helpers of the condition parsers.
#include "common/condition_list.h"

#include <cwchar>

#include "platform/text.h"

namespace {

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

// One condition "name=value" (wide, not yet trimmed at its start).
ResultCode ApplyOneCondition(const wchar_t* text, size_t length, ConditionHandler apply,
                             void* context) {
  while (length > 0 && (*text == L' ' || *text == L'\t')) {
    ++text;
    --length;
  }
  std::string condition;
  if (!WideToAnsi(text, length, &condition)) return kErrInvalidValue;
  const size_t equals = condition.find('=');
  const std::string name = TrimmedCopy(condition.substr(0, equals));
  const std::string value =
      equals == std::string::npos ? std::string() : TrimmedCopy(condition.substr(equals + 1));
  return apply(context, name, value);
}

}  // namespace

ResultCode ForEachCondition(const wchar_t* text, ConditionHandler apply, void* context) {
  const wchar_t* rest = text;
  while (*rest != L'\0') {
    const wchar_t* stop = std::wcschr(rest, L';');
    const size_t length = stop != nullptr ? static_cast<size_t>(stop - rest) : std::wcslen(rest);
    const ResultCode result =
        ApplyOneCondition(rest, length < kConditionMax ? length : kConditionMax, apply, context);
    if (result != kOk || stop == nullptr) return result;
    rest = stop + 1;
  }
  return kOk;
}

std::string TrimmedCopy(const std::string& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsSpace(text[begin])) ++begin;
  while (end > begin && IsSpace(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

bool EqualsAsciiNoCase(const std::string& a, const char* b) {
  size_t i = 0;
  for (; i < a.size() && b[i] != '\0'; ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return i == a.size() && b[i] == '\0';
}
