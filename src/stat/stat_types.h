// The statistic-type table of the metadata generator: names, masks, log and
// output file masks, handlers and the per-type run state.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "common/output_settings.h"
#include "platform/types.h"

struct ProgressFile;
struct JobEvent;
struct HandlerKind;

// Type bits.
constexpr uint32_t kStatRblIn = 0x1;
constexpr uint32_t kStatRblOut = 0x2;
constexpr uint32_t kStatRblChart = 0x4;
constexpr uint32_t kStatSmtpIn = 0x10;
constexpr uint32_t kStatSmtpOut = 0x20;
constexpr uint32_t kStatSmtpChart = 0x40;
constexpr uint32_t kStatPostIn = 0x100;
constexpr uint32_t kStatPostOut = 0x200;
constexpr uint32_t kStatHttpAl = 0x1000;
constexpr uint32_t kStatHttpTr = 0x2000;
constexpr uint32_t kStatHttpWf = 0x4000;
constexpr uint32_t kStatBip = 0x10000;
constexpr uint32_t kStatAll = 0x17377;

// Turns one day's log(s) into one metadata file. On entry *linesProcessed and
// *lastTime give the resume point (0, 0: from the start); on success they
// hold the log's line count and the time of day (ticks) of the last line
// taken. Returns 0, kUserAbort, or a negative code (then nothing is written).
using StatHandler = ResultCode (*)(FILE* primary, FILE* secondary, FILE* output,
                                   TimeValue day, uint32_t* linesProcessed,
                                   uint64_t* lastTime, const OutputSettings* settings,
                                   ProgressFile* progress, JobEvent* event);

struct StatType {
  const wchar_t* name;
  uint32_t mask;
  const char* stateKey;        // null for the set names
  const wchar_t* logMask;      // '*' stands for yyyymmdd; null for set names
  const wchar_t* logMask2;     // second log of the same day, or null
  const wchar_t* outputDir;    // subdirectory of the output dir, or null
  const wchar_t* outputMask;   // '*' stands for yyyymmdd
  StatHandler handler;
  const HandlerKind* kind;  // the handler's counting, for loops shared by types
  // Run state: loaded from and saved to "_varno.stat".
  TimeValue lastDay;   // midnight of the last day processed
  uint32_t lastLines;  // lines of that day already processed
  uint64_t lastTime;   // ticks since midnight of the last line taken
  uint32_t lastSize;   // low 32 bits of that day's log size
  uint32_t daysDone;   // days processed by this run
};

// Rows 0..kRealStatTypeCount-1 are real types in processing order; then one
// row with a null name ends the scans; then the set names (ALL, SMTP, ...).
constexpr int kRealStatTypeCount = 12;
constexpr int kStatTypeRowCount = 19;

// The mutable table (its run state lives for one run).
StatType* StatTypeTable();
// Clears the run state of every row (start of a run, tests).
void ResetStatState();

// Adds the masks of the comma-separated type names in `text` to *mask.
// An unknown name prints message 22 and gives kErrNotFound (-28).
ResultCode ParseStatTypes(const wchar_t* text, uint32_t* mask);

// `mask` with its first '*' replaced by the date as yyyymmdd;
// kErrBufferTooSmall when the result reaches 260 characters.
ResultCode NameFromMask(const wchar_t* mask, unsigned year, unsigned month, unsigned day,
                        std::wstring* out);
