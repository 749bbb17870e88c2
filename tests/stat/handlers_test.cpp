// The metadata handlers on small logs: exact file content per type, the
// resume filter, argument failures and cancelling (a replaced log, ties of
// the BIP list, empty logs, HTTP alerts and web filter categories: the
// end-to-end cases stat/diff_replaced_log_*, stat/bip_ties_*, stat/empty_log_*
// and stat/http_*).
#include <gtest/gtest.h>

#include <string>

#include "frame/jobs.h"
#include "stat/stat_handlers.h"
#include "stat_test_env.h"

namespace {

constexpr uint64_t kSecond = 10000000ULL;

uint64_t At(int hour, int minute, int second) {
  return ((hour * 60ULL + minute) * 60ULL + second) * kSecond;
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

// A combined proxy log line: date, time, kind, id, sizes 5 and 6 (KiB),
// client, user, host, code, 11, reason, detail, categories, 15, 16, flag.
std::string ProxyLine(const char* time, const char* kind, const char* kib, const char* ip,
                      const char* user, const char* host, const char* reason = "",
                      const char* detail = "", const char* categories = "0") {
  return std::string("2024-03-11;") + time + ";" + kind + ";00ff;0;" + kib + ";" + ip + ";" + user +
         ";" + host + ";200;x;" + reason + ";" + detail + ";" + categories + ";;;0;;;;text/html\n";
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
