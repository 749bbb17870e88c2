// Signals: the handler is installed where no other part of the process has
// one, and a handler set elsewhere (a fuzzer's) is neither taken nor reset.
#include "platform/signals.h"

#include <gtest/gtest.h>

#include <csignal>

namespace {

volatile std::sig_atomic_t g_foreign = 0;
volatile std::sig_atomic_t g_ours = 0;

void Foreign(int) { g_foreign = 1; }
void Ours(SignalKind kind) { g_ours = kind; }

TEST(Signals, AHandlerSetElsewhereIsKeptAndLeftInPlace) {
  std::signal(SIGABRT, Foreign);
  ASSERT_TRUE(InstallSignalHandlers(Ours));
  std::raise(SIGABRT);
  EXPECT_EQ(g_foreign, 1);
  EXPECT_EQ(g_ours, 0);
  std::raise(SIGTERM);
  EXPECT_EQ(g_ours, kSignalTerminate);
  RestoreDefaultSignals();
  EXPECT_TRUE(std::signal(SIGABRT, SIG_DFL) == Foreign);
  EXPECT_TRUE(std::signal(SIGTERM, SIG_DFL) == SIG_DFL);
}

}  // namespace
