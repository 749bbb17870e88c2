// The metadata handlers' contract: argument failures and a cancelled job. (Their
// files and resume points: the end-to-end cases under stat/, e.g.
// diff_replaced_log_*, bip_ties_*, empty_log_* and http_*.)
#include <gtest/gtest.h>

#include <string>

#include "frame/jobs.h"
#include "stat/stat_handlers.h"
#include "stat_test_env.h"

namespace {

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

}  // namespace
