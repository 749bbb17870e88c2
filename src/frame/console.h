// Console output, the message table and leveled diagnostics.
//
// Formats follow the Windows wide-printf conventions: %s (and %ls) is a wide
// string, %hs (and %S) an 8-bit string, %c a wide character, %ld/%lu/%d/%u
// take 32-bit values, %I64d/%I64u/%lld/%llu 64-bit ones, %zu size_t; flags,
// width, precision and '*' work as usual, %f/%e/%g take doubles. Wide text is
// converted to the locale's multibyte encoding, 8-bit arguments are written
// as they are.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>

#include "platform/types.h"

enum ConsoleStream { kConsoleOut = 1, kConsoleErr = 2 };

// Message ids of the message table.
constexpr int kMsgBanner = 1;
constexpr int kMsgTryHelp = 2;
constexpr int kMsgOnlyOneMode = 3;
constexpr int kMsgUnrecognizedOption = 4;
constexpr int kMsgRequiresArgument = 5;
constexpr int kMsgNoArgumentAllowed = 6;
constexpr int kMsgAmbiguousOption = 7;
constexpr int kMsgSuccess = 8;
constexpr int kMsgErrorCode = 9;
constexpr int kMsgNoMemory = 10;
constexpr int kMsgFileNotFound = 11;
constexpr int kMsgPathNotFound = 12;
constexpr int kMsgErrorOccured = 13;
constexpr int kMsgBadName = 14;
constexpr int kMsgOpenFailed = 15;
constexpr int kMsgOpenFailedName = 16;
constexpr int kMsgCreateFailed = 17;
constexpr int kMsgCreateFailedName = 18;
constexpr int kMsgUserAbort = 19;
constexpr int kMsgInitFailed = 20;
constexpr int kMsgInvalidDate = 21;
constexpr int kMsgInvalidStatType = 22;
constexpr int kMsgInvalidCount = 23;
constexpr int kMsgExecutionErrors = 24;
constexpr int kMsgInvalidPostprocessor = 25;
constexpr int kMsgPostprocessorFailed = 26;
constexpr int kMsgLogMissing = 27;
constexpr int kMsgProcessing = 28;
constexpr int kMsgExecuting = 29;
constexpr int kMsgAnotherInstance = 30;
constexpr int kMsgCannotAccessOutdir = 31;
constexpr int kMsgNothingToDo = 32;
constexpr int kMsgInvalidCondition = 33;
constexpr int kMsgOneLogDir = 34;
constexpr int kMsgInvalidJobName = 35;
constexpr int kMsgInvalidSortColumn = 36;
constexpr int kMsgJobInitFailed = 37;
constexpr int kMsgSearching = 38;
constexpr int kMsgProgressText = 39;
constexpr int kMsgInvalidUnits = 40;
constexpr int kMsgInvalidOutputForm = 41;
constexpr int kMsgInvalidQuantum = 42;
constexpr int kMsgEmailsMatch = 43;
constexpr int kMsgItemsMatch = 44;
constexpr int kMsgInvalidFeedName = 45;
constexpr int kMsgConnectorInitFailed = 46;
constexpr int kMsgJobRunning = 47;

// Starts the console layer: builds the process CommandLine from the wide
// arguments, registers the tear-down at exit, creates or opens the session
// block and installs the signal handlers. 0, or the first failure (-2).
ResultCode ConsoleStart(int argc, const wchar_t* const* argv);

// Releases everything ConsoleStart made (also registered to run at exit).
void ConsoleTearDown();

// Format text of a message id, or null when the id is not in the table.
const wchar_t* GetMessageFormat(int messageId);

// Prints the message formatted with the arguments and "\n". 0 for unknown ids.
int PrintMessage(ConsoleStream stream, int messageId, ...);
int PrintMessageV(ConsoleStream stream, int messageId, va_list args);

// Formatted printing to standard output / standard error.
int PrintOut(const wchar_t* format, ...);
int PrintErr(const wchar_t* format, ...);
int PrintOutV(const wchar_t* format, va_list args);
int PrintErrV(const wchar_t* format, va_list args);
int PrintStreamV(ConsoleStream stream, const wchar_t* format, va_list args);

// Writes bytes as they are (log lines) through the same locks, enable flag and
// copy file as the printing above. Returns the count written.
size_t WriteConsoleBytes(ConsoleStream stream, const char* bytes, size_t length);

// Prints the message of a result code to standard error, with the code.
void PrintResultMessage(ResultCode code);

// Message id that reports a result code (8, 19, 10, 11, 12, 17, 15, 13, 14 or 9).
int ResultMessageId(ResultCode code);

// A diagnostic line: written when (uint32_t)level >= threshold and the
// threshold is not 255. Level -1 is "Error", 0 "OK", 1 "Status".
void DebugPrint(int level, const wchar_t* format, ...);

void SetDiagnosticThreshold(uint32_t threshold);
uint32_t GetDiagnosticThreshold();

// Closes the current copy file, then opens `path` (or none when null) for
// appending in text mode. A file that cannot be opened is silently skipped.
void SetDiagnosticFile(const wchar_t* path);

// Interrupt flag of the session block (0 when there is none).
int IsInterrupted();

// Process-wide verbosity count (-v).
int GetVerbosity();
void IncreaseVerbosity();
void SetVerbosity(int verbosity);

// Formats like the printing functions into multibyte text (no output).
std::string FormatConsoleText(const wchar_t* format, ...);
std::string FormatConsoleTextV(const wchar_t* format, va_list args);
