// Console formatting, the message table, diagnostics, the copy file and the session block.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "frame/console.h"
#include "platform/console.h"
#include "platform/shared_block.h"

namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Routes console output into a copy file of its own for one test.
class CopyFile {
 public:
  CopyFile() {
    path_ = fs::temp_directory_path() /
            ("varno_console_" + std::to_string(CurrentProcessId()) + "_" +
             std::to_string(counter_++) + ".txt");
    fs::remove(path_);
    SetDiagnosticFile(path_.wstring().c_str());
  }
  ~CopyFile() {
    SetDiagnosticFile(nullptr);
    fs::remove(path_);
  }
  CopyFile(const CopyFile&) = delete;
  CopyFile& operator=(const CopyFile&) = delete;

  // Closes the copy and gives its bytes.
  std::string Text() {
    SetDiagnosticFile(nullptr);
    return ReadFile(path_);
  }
  const fs::path& path() const { return path_; }

 private:
  static inline int counter_ = 0;
  fs::path path_;
};

TEST(FormatConsoleText, WideAndEightBitStrings) {
  EXPECT_EQ(FormatConsoleText(L"[%s|%hs|%S|%ls]", L"wide", "narrow", "upper", L"long"),
            "[wide|narrow|upper|long]");
  EXPECT_EQ(FormatConsoleText(L" %-11s: processing %s", L"SMTP-IN", L"smtp.log"),
            " SMTP-IN    : processing smtp.log");
  EXPECT_EQ(FormatConsoleText(L"[%5s][%.2s][%-4hs][%*s]", L"ab", L"abcdef", "x", 3, L"y"),
            "[   ab][ab][x   ][  y]");
  EXPECT_EQ(FormatConsoleText(L"%s %hs", static_cast<const wchar_t*>(nullptr),
                              static_cast<const char*>(nullptr)),
            "(null) (null)");
}

TEST(FormatConsoleText, EightBitBytesPassUnchanged) {
  // Log bytes that are no valid multibyte text still arrive as they are.
  EXPECT_EQ(FormatConsoleText(L"<%hs>", "\xff\xfe\x80"), "<\xff\xfe\x80>");
}

TEST(FormatConsoleText, NumbersFollowTheWindowsSizes) {
  EXPECT_EQ(FormatConsoleText(L"EC: %ld", -14), "EC: -14");
  EXPECT_EQ(FormatConsoleText(L"%lu", 4294967295u), "4294967295");
  EXPECT_EQ(FormatConsoleText(L"%I64u %I64d %llu", 18446744073709551615ull, -5ll, 7ull),
            "18446744073709551615 -5 7");
  EXPECT_EQ(FormatConsoleText(L"%d %u %x %X %o %05d %+d", -1, 3u, 255u, 255u, 8u, 42, 3),
            "-1 3 ff FF 10 00042 +3");
  EXPECT_EQ(FormatConsoleText(L"%02hu:%02hu", 7, 5), "07:05");
  EXPECT_EQ(FormatConsoleText(L"%zu", static_cast<size_t>(123456789012ull)), "123456789012");
  EXPECT_EQ(FormatConsoleText(L"%.2f %g", 1.005, 0.5), "1.00 0.5");
}

TEST(FormatConsoleText, CharactersPercentAndUnknownConversions) {
  EXPECT_EQ(FormatConsoleText(L"%c%hc%%", L'A', 'b'), "Ab%");
  EXPECT_EQ(FormatConsoleText(L"100%"), "100%");
  EXPECT_EQ(FormatConsoleText(L"%q and %d", 5), "%q and 5");
  EXPECT_EQ(FormatConsoleText(L"\x00e9t\x00e9"), FormatConsoleText(L"%s", L"\x00e9t\x00e9"));
}

TEST(MessageTable, EveryIdFromOneToFortySeven) {
  for (int id = 1; id <= 47; ++id) EXPECT_NE(GetMessageFormat(id), nullptr) << id;
  EXPECT_EQ(GetMessageFormat(0), nullptr);
  EXPECT_EQ(GetMessageFormat(48), nullptr);
  EXPECT_STREQ(GetMessageFormat(kMsgTryHelp), L"Try 'varno --help' for more information.");
  EXPECT_STREQ(GetMessageFormat(kMsgSuccess), L"Operation finished successfuly.");
  EXPECT_STREQ(GetMessageFormat(kMsgJobRunning), L"Job \"%s\" alrady running.");
  EXPECT_STREQ(GetMessageFormat(kMsgJobInitFailed),
               L"Failed to initialize unique job.\n Name: \"%s\"\n EC: %ld");
  EXPECT_STREQ(GetMessageFormat(kMsgLogMissing), L" %-11s: log file %s doesn't exist");
}

TEST(MessageTable, ResultCodesToMessages) {
  EXPECT_EQ(ResultMessageId(0), kMsgSuccess);
  EXPECT_EQ(ResultMessageId(2), kMsgUserAbort);
  EXPECT_EQ(ResultMessageId(-2), kMsgNoMemory);
  EXPECT_EQ(ResultMessageId(-3), kMsgFileNotFound);
  EXPECT_EQ(ResultMessageId(-4), kMsgPathNotFound);
  EXPECT_EQ(ResultMessageId(-6), kMsgCreateFailed);
  EXPECT_EQ(ResultMessageId(-8), kMsgOpenFailed);
  EXPECT_EQ(ResultMessageId(-15), kMsgErrorOccured);
  EXPECT_EQ(ResultMessageId(-32), kMsgBadName);
  EXPECT_EQ(ResultMessageId(-29), kMsgErrorCode);
  EXPECT_EQ(ResultMessageId(6), kMsgErrorCode);
}

TEST(CopyFileOutput, MessagesWithCrLfLineEnds) {
  CopyFile copy;
  EXPECT_EQ(PrintMessage(kConsoleErr, 999), 0);
  PrintResultMessage(-29);
  PrintResultMessage(-15);
  PrintMessage(kConsoleErr, kMsgCannotAccessOutdir, L"/x", -13);
  PrintMessage(kConsoleOut, kMsgBanner, "varno", "1.0", "Maker");
  EXPECT_EQ(copy.Text(),
            "An error occured. EC: -29\r\nAn error occured.\r\n"
            "Cannot access output directory.\r\nDirectory: /x\r\nEC: -13\r\n"
            "varno log analysis utility\r\nVersion 1.0\r\nCopyright (C) Maker. All rights "
            "reserved.\r\n");
}

TEST(CopyFileOutput, AppendsToAnExistingFileAndSkipsAnUnopenableOne) {
  CopyFile copy;
  PrintErr(L"first\n");
  SetDiagnosticFile(nullptr);
  SetDiagnosticFile(copy.path().wstring().c_str());
  PrintErr(L"second %hs\n", "run");
  EXPECT_EQ(copy.Text(), "first\r\nsecond run\r\n");
  SetDiagnosticFile(L"/nonexistent-folder-for-varno/copy.txt");
  PrintErr(L"nowhere\n");  // must not crash
  SetDiagnosticFile(nullptr);
  EXPECT_FALSE(fs::exists("/nonexistent-folder-for-varno/copy.txt"));
}

TEST(DebugPrint, ThresholdAndPrefixes) {
  CopyFile copy;
  SetDiagnosticThreshold(255);
  DebugPrint(-1, L"hidden error");
  DebugPrint(5, L"hidden");
  SetDiagnosticThreshold(2);
  DebugPrint(0, L"dropped ok");
  DebugPrint(1, L"dropped status");
  DebugPrint(-1, L"error %d", 7);
  DebugPrint(2, L"level two %s", L"x");
  DebugPrint(123456, L"wide");
  SetDiagnosticThreshold(0);
  DebugPrint(0, L"ok");
  DebugPrint(1, L"status");
  SetDiagnosticThreshold(255);
  EXPECT_EQ(copy.Text(),
            "Error  : error 7\r\n     2 : level two x\r\n123456 : wide\r\n"
            "OK     : ok\r\nStatus : status\r\n");
}

TEST(Verbosity, CountsUpwards) {
  SetVerbosity(0);
  IncreaseVerbosity();
  IncreaseVerbosity();
  EXPECT_EQ(GetVerbosity(), 2);
  SetVerbosity(-1);
  IncreaseVerbosity();  // a negative count stays as it is
  EXPECT_EQ(GetVerbosity(), -1);
  SetVerbosity(0);
}

// The session block of this process as another process would see it.
struct SessionFields {
  uint32_t magic, lockWord, outputEnabled, reserved1, interrupted, reserved2;
};

std::wstring SessionName() {
  wchar_t name[50];
  swprintf(name, 50, L"wrmgses-0x%08lx", static_cast<unsigned long>(CurrentProcessId()));
  return name;
}

TEST(ConsoleSession, CreatedFilledAndRemoved) {
  ASSERT_EQ(ConsoleStart(0, nullptr), kOk);
  SharedBlock* block = nullptr;
  void* view = nullptr;
  bool existed = false;
  ASSERT_EQ(SharedBlockOpen(SessionName().c_str(), 64, &block, &view, &existed), kOk);
  EXPECT_TRUE(existed);
  const SessionFields* fields = static_cast<const SessionFields*>(view);
  EXPECT_EQ(fields->magic, 0x676D7277u);
  EXPECT_EQ(fields->lockWord, 0u);
  EXPECT_EQ(fields->outputEnabled, 1u);
  EXPECT_EQ(fields->interrupted, 0u);
  EXPECT_EQ(IsInterrupted(), 0);
  SharedBlockClose(block);  // not the creator: the name stays
  ConsoleTearDown();
  ASSERT_EQ(SharedBlockOpen(SessionName().c_str(), 64, &block, &view, &existed), kOk);
  EXPECT_FALSE(existed);  // the creator removed it at tear-down
  SharedBlockClose(block);
  EXPECT_EQ(IsInterrupted(), 0);
}

TEST(ConsoleSession, OutputSwitchedOffByAnotherProcess) {
  // Another process prepares the block for us before the start.
  SharedBlock* block = nullptr;
  void* view = nullptr;
  bool existed = true;
  ASSERT_EQ(SharedBlockOpen(SessionName().c_str(), 64, &block, &view, &existed), kOk);
  ASSERT_FALSE(existed);
  SessionFields* fields = static_cast<SessionFields*>(view);
  fields->outputEnabled = 0;
  fields->magic = 0x676D7277u;
  ASSERT_EQ(ConsoleStart(0, nullptr), kOk);
  EXPECT_EQ(fields->outputEnabled, 1u);  // the start enables output
  EXPECT_EQ(fields->lockWord, 0u);

  CopyFile copy;
  testing::internal::CaptureStderr();
  PrintErr(L"shown\n");
  fields->outputEnabled = 0;
  PrintErr(L"copied only\n");
  DebugPrint(-1, L"not with threshold 255");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "shown\n");
  EXPECT_EQ(copy.Text(), "shown\r\ncopied only\r\n");

  fields->outputEnabled = 1;
  ConsoleTearDown();
  SharedBlockClose(block);
}

TEST(ConsoleSession, FirstInterruptSetsTheFlagAndTheSecondIsIgnored) {
  ASSERT_EQ(ConsoleStart(0, nullptr), kOk);
  EXPECT_EQ(IsInterrupted(), 0);
  std::raise(SIGINT);
  EXPECT_EQ(IsInterrupted(), 1);
  std::raise(SIGINT);  // ignored from now on
  EXPECT_EQ(IsInterrupted(), 1);
  ConsoleTearDown();
  EXPECT_EQ(IsInterrupted(), 0);
}

TEST(ConsoleSessionDeathTest, OtherSignalAfterAnInterruptExitsWithTwo) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        ConsoleStart(0, nullptr);
        std::raise(SIGINT);
        std::raise(SIGTERM);
        std::exit(0);
      },
      testing::ExitedWithCode(2), "");
}

}  // namespace
