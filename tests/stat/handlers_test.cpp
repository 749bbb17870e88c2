// The metadata handlers on small logs: exact file content per type, the
// resume filter, hostile lines, argument and read failures.
#include <gtest/gtest.h>

#include <string>

#include "stat/stat_handlers.h"
#include "stat_test_env.h"

namespace {

constexpr uint64_t kSecond = 10000000ULL;

uint64_t At(int hour, int minute, int second) {
  return ((hour * 60ULL + minute) * 60ULL + second) * kSecond;
}

std::string SmtpLine(int n, const char* time, const char* code, const char* ip, const char* result) {
  return std::to_string(n) + ";" + time + ";" + code + ";s@x;r@y;" + ip + ";" + result + ";ID\r\n";
}

TEST(SmtpTrafficHandlerTest, ReplacedLogRestartsAfterFirstLaterLine) {
  // Stored: 1000 lines up to 12:00:00; the log now holds four later lines.
  const std::string log = SmtpLine(1, "13:00:00", "0", "10.0.0.1", "A") +
                          SmtpLine(2, "13:00:01", "0", "10.0.0.2", "A") +
                          SmtpLine(3, "11:00:00", "0", "10.0.0.3", "A") +
                          SmtpLine(4, "13:00:02", "550", "10.0.0.4", "R");
  HandlerRun run = RunHandlerOn(SmtpTrafficHandler, log, OutputSettings{}, 1000, At(12, 0, 0));
  ASSERT_EQ(run.result, kOk);
  EXPECT_EQ(run.lines, 4u);
  EXPECT_EQ(run.output.substr(0, run.output.find("\r\n")), "S;2;1;1");
  EXPECT_NE(run.output.find("TIP;10.0.0.2;1"), std::string::npos);
  EXPECT_EQ(run.output.find("10.0.0.1"), std::string::npos);
  EXPECT_EQ(run.output.find("10.0.0.3"), std::string::npos);
}

std::string RblLine(const char* time, const char* from, const char* to, const char* virus,
                    const char* spam, const char* size, const char* client, const char* reason,
                    const char* virusName, const char* verdict) {
  return std::string("1;") + time + ";" + from + ";" + to + ";" + virus + ";" + spam + ";" + size +
         ";MID;" + client + ";" + reason + ";" + virusName + ";" + verdict + ";;0x0\r\n";
}

TEST(BipHandlerTest, TiesPutTheSmallerUnmarkedCountFirst) {
  const std::string log = RblLine("08:00:00", "a", "b", "", "SPAM", "1", "1.1.1.1", "", "", "0") +
                          RblLine("08:00:01", "a", "b", "", "", "1", "1.1.1.1", "", "", "0") +
                          RblLine("08:00:02", "a", "b", "", "SPAM", "1", "2.2.2.2", "", "", "0") +
                          RblLine("08:00:03", "a", "b", "", "SPAM", "1", "3.3.3.3", "", "", "0") +
                          RblLine("08:00:04", "a", "b", "", "SPAM", "1", "3.3.3.3", "", "", "0");
  HandlerRun run = RunHandlerOn(BipHandler, log);
  EXPECT_EQ(run.output, CrLfLines({"SIP;3.3.3.3;2;0;08:00:04", "SIP;2.2.2.2;1;0;08:00:02",
                                   "SIP;1.1.1.1;1;1;08:00:01"}));
}

TEST(HandlerContractTest, MissingArgumentsFailWithoutOutput) {
  OutputSettings settings;
  uint32_t lines = 0;
  uint64_t lastTime = 0;
  for (StatHandler handler : {SmtpTrafficHandler, SmtpChartHandler, RblTrafficHandler,
                              RblChartHandler, PostponerHandler, BipHandler, HttpAlertHandler,
                              HttpTrafficHandler, HttpWebFilterHandler}) {
    EXPECT_EQ(handler(nullptr, nullptr, stdout, 0, &lines, &lastTime, &settings, nullptr, nullptr),
              kErrInvalidArgument);
    EXPECT_EQ(handler(stdin, nullptr, nullptr, 0, &lines, &lastTime, &settings, nullptr, nullptr),
              kErrInvalidArgument);
    EXPECT_EQ(handler(stdin, nullptr, stdout, 0, nullptr, &lastTime, &settings, nullptr, nullptr),
              kErrInvalidArgument);
  }
}

TEST(HandlerContractTest, EmptyLogWritesZeroCounts) {
  HandlerRun run = RunHandlerOn(RblChartHandler, "");
  ASSERT_EQ(run.result, kOk);
  EXPECT_EQ(run.lines, 0u);
  EXPECT_EQ(run.output, CrLfLines({"SRC;0;0;0;0;0"}) + HourRows("HRC", "0;0;0;0;0", {}));
  EXPECT_EQ(RunHandlerOn(BipHandler, "").output, "");
}

}  // namespace

#include "frame/jobs.h"

namespace {

TEST(HandlerContractTest, CancelledJobStopsBeforeTheFirstLineAndWritesNothing) {
  JobEvent* event = nullptr;
  const std::wstring name = L"stat_handler_cancel_" + std::to_wstring(reinterpret_cast<uintptr_t>(&event) % 100000);
  ASSERT_EQ(CreateJobEvent(name.c_str(), &event), kOk);
  ASSERT_EQ(CancelJob(name.c_str()), kOk);
  HandlerRun run = RunHandlerOn(SmtpTrafficHandler, "1;08:00:00;0;a;b;1.1.1.1;A\n", OutputSettings{},
                                0, 0, event);
  EXPECT_EQ(run.result, kUserAbort);
  EXPECT_EQ(run.output, "");
  EXPECT_EQ(run.lines, 0u);
  CloseJobEvent(event);
}

}  // namespace

namespace {

// A combined proxy log line: date, time, kind, id, sizes 5 and 6 (KiB),
// client, user, host, code, 11, reason, detail, categories, 15, 16, flag.
std::string ProxyLine(const char* time, const char* kind, const char* kib, const char* ip,
                      const char* user, const char* host, const char* reason = "",
                      const char* detail = "", const char* categories = "0") {
  return std::string("2024-03-11;") + time + ";" + kind + ";00ff;0;" + kib + ";" + ip + ";" + user +
         ";" + host + ";200;x;" + reason + ";" + detail + ";" + categories + ";;;0;;;;text/html\n";
}

TEST(HttpAlertHandlerTest, CountsEndLinesByReason) {
  const std::string log = ProxyLine("08:00:00", "B", "0", "1.1.1.1", "u", "h") +
                          ProxyLine("08:00:01", "T", "0", "1.1.1.1", "u", "h") +
                          ProxyLine("08:00:02", "E", "1", "1.1.1.1", "u", "h", "virus", " Eicar ") +
                          ProxyLine("09:00:00", "e", "1", "2.2.2.2", "u", "h", "PHISHING") +
                          ProxyLine("09:00:01", "E", "1", "1.1.1.1", "u", "h", "SITE") +
                          ProxyLine("09:00:02", "E", "1", "2.2.2.2", "u", "h");
  HandlerRun run = RunHandlerOn(HttpAlertHandler, log);
  ASSERT_EQ(run.result, kOk);
  EXPECT_EQ(run.lines, 6u);
  EXPECT_EQ(run.output, CrLfLines({"S;4;1;0;0;0;0;1"}) +
                            HourRows("H", "0;0;0;0;0;0;0", {{8, "1;1;0;0;0;0;0"}, {9, "3;0;0;0;0;0;1"}}) +
                            CrLfLines({"IP;1.1.1.1;2", "IP;2.2.2.2;2", "VIR; Eicar ;1"}));
}

TEST(HttpWebFilterHandlerTest, CategoryBitsAndTopLimit) {
  const std::string log = ProxyLine("10:00:00", "E", "1", "1.1.1.1", "ann", "a.com", "", "", "0x5") +
                          ProxyLine("10:00:01", "E", "1", "1.1.1.1", "bob", "b.com", "", "", "4, 8") +
                          ProxyLine("10:00:02", "E", "1", "2.2.2.2", "ann", "a.com", "", "", "0");
  const std::string compact = "2024-03-11;10:00:00;x;cid;3.3.3.3;c.com;010\n";
  OutputSettings settings;
  settings.topCount = 1;
  HandlerRun run = RunTwoLogHandler(HttpWebFilterHandler, &log, &compact, settings);
  ASSERT_EQ(run.result, kOk);
  EXPECT_EQ(run.output, CrLfLines({"MUC;0x00000004;2", "MUC;0x00000001;1", "MUC;0x00000008;1",
                                   "MUD;a.com;1", "MUU;ann;1", "MUI;1.1.1.1;2"}));
}

TEST(HttpHandlersTest, OneResumePointForBothLogs) {
  const std::string combined = ProxyLine("08:00:00", "E", "1", "1.1.1.1", "u", "h") +
                               ProxyLine("09:00:00", "E", "1", "2.2.2.2", "u", "h");
  const std::string compact = "2024-03-11;08:00:00;3.3.3.3;x;;\n2024-03-11;09:30:00;4.4.4.4;x;;\n";
  struct Case {
    const std::string* combined;
    const std::string* compact;
    uint32_t lines;
    uint64_t time;
    const char* total;  // the S line's count
    uint32_t linesAfter;
    uint64_t timeAfter;
  } cases[] = {
      {nullptr, &compact, 0, 0, "S;2;0;0;0;0;0;0", 2, At(9, 30, 0)},
      {nullptr, &compact, 1, At(8, 0, 0), "S;1;0;0;0;0;0;0", 2, At(9, 30, 0)},
      // The compact log moved past the stored time: the combined log from its start.
      {&combined, &compact, 1, At(8, 0, 0), "S;3;0;0;0;0;0;0", 2, At(9, 0, 0)},
      // Nothing new in the compact log: the combined log from the stored point.
      {&combined, &compact, 2, At(9, 30, 0), "S;0;0;0;0;0;0;0", 2, At(9, 0, 0)},
      {&combined, nullptr, 1, At(8, 0, 0), "S;1;0;0;0;0;0;0", 2, At(9, 0, 0)},
  };
  for (const Case& c : cases) {
    HandlerRun run = RunTwoLogHandler(HttpAlertHandler, c.combined, c.compact, OutputSettings{},
                                      c.lines, c.time);
    ASSERT_EQ(run.result, kOk);
    EXPECT_EQ(run.output.substr(0, run.output.find('\r')), c.total) << c.lines << " " << c.time;
    EXPECT_EQ(run.lines, c.linesAfter);
    EXPECT_EQ(run.lastTime, c.timeAfter);
  }
}

}  // namespace
