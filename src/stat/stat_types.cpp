#include "stat/stat_types.h"

#include <cwchar>
#include <cwctype>

#include "frame/console.h"
#include "stat/stat_handlers.h"
#include "platform/text.h"

namespace {

StatType MakeType(const wchar_t* name, uint32_t mask, const char* stateKey,
                  const wchar_t* logMask, const wchar_t* logMask2, const wchar_t* outputDir,
                  const wchar_t* outputMask, StatHandler handler, const HandlerKind* kind) {
  StatType row{};
  row.name = name;
  row.mask = mask;
  row.stateKey = stateKey;
  row.logMask = logMask;
  row.logMask2 = logMask2;
  row.outputDir = outputDir;
  row.outputMask = outputMask;
  row.handler = handler;
  row.kind = kind;
  return row;
}

StatType MakeSet(const wchar_t* name, uint32_t mask) {
  return MakeType(name, mask, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
}

// Processing order; the row with a null name ends the real types.
StatType g_table[kStatTypeRowCount] = {
    MakeType(L"SMTP-IN", kStatSmtpIn, "last_smtp_in", L"smtp*.log", nullptr, nullptr,
             L"_smtp*.csv", SmtpTrafficHandler, &kSmtpTrafficKind),
    MakeType(L"SMTP-OUT", kStatSmtpOut, "last_smtp_out", L"smtp-out*.log", nullptr, nullptr,
             L"_smtp-out*.csv", SmtpTrafficHandler, &kSmtpTrafficKind),
    MakeType(L"SMTP-CHART", kStatSmtpChart, "last_smtp_chart", L"smtp*.log", nullptr,
             L"_smtpstat", L"_smtp*.csv", SmtpChartHandler, &kSmtpChartKind),
    MakeType(L"RBL-IN", kStatRblIn, "last_rbl_in", L"rbl*.log", nullptr, nullptr, L"_rbl*.csv",
             RblTrafficHandler, &kRblTrafficKind),
    MakeType(L"RBL-OUT", kStatRblOut, "last_rbl_out", L"rbl-out*.log", nullptr, nullptr,
             L"_rbl-out*.csv", RblTrafficHandler, &kRblTrafficKind),
    MakeType(L"RBL-CHART", kStatRblChart, "last_rbl_chart", L"rbl*.log", nullptr, L"_smtpstat",
             L"_rbl*.csv", RblChartHandler, &kRblChartKind),
    MakeType(L"POST-IN", kStatPostIn, "last_post_in", L"postponer*.log", nullptr, nullptr,
             L"_postponer*.csv", PostponerHandler, &kPostponerKind),
    MakeType(L"POST-OUT", kStatPostOut, "last_post_out", L"postponer-out*.log", nullptr, nullptr,
             L"_postponer-out*.csv", PostponerHandler, &kPostponerKind),
    MakeType(L"HTTP-AL", kStatHttpAl, "last_http_al", L"kelb*.log", L"kelb-al*.log", L"_kelb_cs",
             L"_kelb-al*.csv", HttpAlertHandler, &kHttpAlertKind),
    MakeType(L"HTTP-TR", kStatHttpTr, "last_http_tr", L"kelb*.log", L"kelb-tr*.log", L"_kelb_cs",
             L"_kelb-tr*.csv", HttpTrafficHandler, &kHttpTrafficKind),
    MakeType(L"HTTP-WF", kStatHttpWf, "last_http_wf", L"kelb*.log", L"kelb-wf*.log", L"_kelb_cs",
             L"_kelb-wf*.csv", HttpWebFilterHandler, &kHttpWebFilterKind),
    MakeType(L"BIP", kStatBip, "last_bip", L"rbl*.log", nullptr, nullptr, L"_bip*.csv",
             BipHandler, &kBipKind),
    MakeSet(nullptr, 0),
    MakeSet(L"ALL", kStatAll),
    MakeSet(L"ALL-CHART", kStatSmtpChart | kStatRblChart),
    MakeSet(L"RBL", kStatRblIn | kStatRblOut),
    MakeSet(L"SMTP", kStatSmtpIn | kStatSmtpOut),
    MakeSet(L"POST", kStatPostIn | kStatPostOut),
    MakeSet(L"HTTP", kStatHttpAl | kStatHttpTr | kStatHttpWf),
};

bool EqualNoCase(const wchar_t* a, const wchar_t* b) {
  for (; *a != L'\0' && *b != L'\0'; ++a, ++b) {
    if (FoldCharW(*a) != FoldCharW(*b)) return false;
  }
  return *a == *b;
}

uint32_t MaskOfName(const wchar_t* name) {
  for (const StatType& row : g_table) {
    if (row.name != nullptr && EqualNoCase(row.name, name)) return row.mask;
  }
  return 0;
}

constexpr size_t kFieldCapacity = 256;

// Copies the next ','-separated field (blanks below 33 trimmed at both ends,
// at most 255 characters) and cuts it at its first white space. Returns the
// position after the field's delimiter, or null at the end of the text.
const wchar_t* NextTypeField(const wchar_t* cursor, wchar_t* field) {
  size_t stored = 0;
  const wchar_t* p = cursor;
  while (*p != L'\0' && *p != L'\n' && *p != L',') {
    const bool leadingBlank = stored == 0 && static_cast<uint32_t>(*p) < 33;
    if (!leadingBlank && stored + 1 < kFieldCapacity) field[stored++] = *p;
    ++p;
  }
  field[stored] = L'\0';
  for (size_t i = 0; i < stored; ++i) {
    if (iswspace(static_cast<wint_t>(field[i])) || static_cast<uint32_t>(field[i]) < 33) {
      field[i] = L'\0';
      break;
    }
  }
  return *p == L',' ? p + 1 : nullptr;
}

}  // namespace

StatType* StatTypeTable() { return g_table; }

void ResetStatState() {
  for (StatType& row : g_table) {
    row.lastDay = 0;
    row.lastLines = 0;
    row.lastTime = 0;
    row.lastSize = 0;
    row.daysDone = 0;
  }
}

ResultCode ParseStatTypes(const wchar_t* text, uint32_t* mask) {
  if (text == nullptr || mask == nullptr) return kErrInvalidArgument;
  wchar_t field[kFieldCapacity];
  bool anyName = false;
  const wchar_t* cursor = text;
  while (cursor != nullptr) {
    cursor = NextTypeField(cursor, field);
    if (field[0] == L'\0') continue;
    const uint32_t bits = MaskOfName(field);
    if (bits == 0) {
      PrintMessage(kConsoleErr, kMsgInvalidStatType, field);
      return kErrNotFound;
    }
    *mask |= bits;
    anyName = true;
  }
  if (!anyName) {
    PrintMessage(kConsoleErr, kMsgInvalidStatType, text);
    return kErrNotFound;
  }
  return kOk;
}

ResultCode NameFromMask(const wchar_t* mask, unsigned year, unsigned month, unsigned day,
                        std::wstring* out) {
  if (mask == nullptr || out == nullptr) return kErrInvalidArgument;
  const wchar_t* star = wcschr(mask, L'*');
  wchar_t date[32];
  swprintf(date, 32, L"%04u%02u%02u", year, month, day);
  std::wstring name;
  if (star == nullptr) {
    name = mask;
  } else {
    name.assign(mask, static_cast<size_t>(star - mask));
    name += date;
    name += star + 1;
  }
  if (name.size() >= 260) return kErrBufferTooSmall;
  *out = std::move(name);
  return kOk;
}
