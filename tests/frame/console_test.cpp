// Console formatting, the message table, diagnostics and the session block.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <string>

#include "../scratch.h"

#include "frame/console.h"
#include "platform/console.h"
#include "platform/shared_block.h"

namespace {

// Routes console output into a copy file of its own for one test.
struct CopyFile {
  scratch::Folder folder{"console"};
  CopyFile() { SetDiagnosticFile(folder.Wide("copy.txt").c_str()); }
  ~CopyFile() { SetDiagnosticFile(nullptr); }
  // Closes the copy and gives its bytes.
  std::string Text() {
    SetDiagnosticFile(nullptr);
    return scratch::ReadFile(folder / "copy.txt");
  }
};

TEST(FormatConsoleText, WindowsConversionsOnLinux) {
  const std::pair<std::string, std::string> cases[] = {
      {FormatConsoleText(L"[%s|%hs|%S|%ls]", L"wide", "narrow", "upper", L"long"), "[wide|narrow|upper|long]"},
      {FormatConsoleText(L" %-11s: processing %s", L"SMTP-IN", L"smtp.log"), " SMTP-IN    : processing smtp.log"},
      {FormatConsoleText(L"[%5s][%.2s][%-4hs][%*s]", L"ab", L"abcdef", "x", 3, L"y"), "[   ab][ab][x   ][  y]"},
      {FormatConsoleText(L"%s %hs", static_cast<const wchar_t*>(nullptr), static_cast<const char*>(nullptr)),
       "(null) (null)"},
      // Log bytes that are no valid multibyte text still arrive as they are.
      {FormatConsoleText(L"<%hs>", "\xff\xfe\x80"), "<\xff\xfe\x80>"},
      {FormatConsoleText(L"EC: %ld %lu", -14, 4294967295u), "EC: -14 4294967295"},
      {FormatConsoleText(L"%I64u %I64d %llu", 18446744073709551615ull, -5ll, 7ull), "18446744073709551615 -5 7"},
      {FormatConsoleText(L"%d %u %x %X %o %05d %+d", -1, 3u, 255u, 255u, 8u, 42, 3), "-1 3 ff FF 10 00042 +3"},
      {FormatConsoleText(L"%02hu:%02hu %zu", 7, 5, static_cast<size_t>(123456789012ull)), "07:05 123456789012"},
      {FormatConsoleText(L"%.2f %g", 1.005, 0.5), "1.00 0.5"},
      {FormatConsoleText(L"%c%hc%% 100%", L'A', 'b'), "Ab% 100%"},
      {FormatConsoleText(L"%q and %d", 5), "%q and 5"},
  };
  for (const auto& [actual, expected] : cases) EXPECT_EQ(actual, expected);
}

TEST(MessageTable, IdsAndResultCodes) {
  for (int id = 1; id <= 47; ++id) EXPECT_NE(GetMessageFormat(id), nullptr) << id;
  EXPECT_EQ(GetMessageFormat(0), nullptr);
  EXPECT_EQ(GetMessageFormat(48), nullptr);
  EXPECT_STREQ(GetMessageFormat(kMsgJobRunning), L"Job \"%s\" alrady running.");
  const std::pair<int, int> codes[] = {{0, kMsgSuccess},       {2, kMsgUserAbort},     {-2, kMsgNoMemory},
                                       {-3, kMsgFileNotFound}, {-4, kMsgPathNotFound}, {-6, kMsgCreateFailed},
                                       {-8, kMsgOpenFailed},   {-15, kMsgErrorOccured}, {-32, kMsgBadName},
                                       {-29, kMsgErrorCode},   {6, kMsgErrorCode}};
  for (const auto& [code, id] : codes) EXPECT_EQ(ResultMessageId(code), id) << code;
}

TEST(DebugPrint, ThresholdAndPrefixes) {
  CopyFile copy;
  SetDiagnosticThreshold(255);
  DebugPrint(-1, L"hidden error");
  SetDiagnosticThreshold(2);
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
