// Interrupt and termination requests through the console control handler,
// abort (and signals raised inside the process) through the C runtime's
// signal handling.
#include "platform/signals.h"

#include <windows.h>

#include <csignal>
#include <cstdlib>

namespace {

SignalCallback g_callback = nullptr;
volatile LONG g_ignored[4] = {};  // by SignalKind

bool Ignored(SignalKind kind) { return kind < 4 && g_ignored[kind] != 0; }

void Deliver(SignalKind kind) {
  if (!Ignored(kind) && g_callback != nullptr) g_callback(kind);
}

// Runs on a thread of its own; TRUE keeps the default (ending the process)
// from running, so the callback decides.
BOOL WINAPI OnConsoleControl(DWORD type) {
  switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      Deliver(kSignalInterrupt);
      return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      Deliver(kSignalTerminate);
      return TRUE;
    default:
      return FALSE;
  }
}

void OnRuntimeSignal(int number) {
  // The runtime resets the handler before calling it: install it again.
  signal(number, OnRuntimeSignal);
  Deliver(number == SIGABRT ? kSignalAbort : number == SIGINT ? kSignalInterrupt : kSignalTerminate);
}

}  // namespace

bool InstallSignalHandlers(SignalCallback callback) {
  g_callback = callback;
  for (LONG& ignored : const_cast<LONG(&)[4]>(g_ignored)) ignored = 0;
  signal(SIGABRT, OnRuntimeSignal);
  signal(SIGTERM, OnRuntimeSignal);
  signal(SIGINT, OnRuntimeSignal);  // raise(SIGINT) inside the process
  return SetConsoleCtrlHandler(OnConsoleControl, TRUE) != 0;
}

void IgnoreSignal(SignalKind kind) {
  if (kind < 4) InterlockedExchange(&g_ignored[kind], 1);
  if (kind == kSignalAbort) signal(SIGABRT, SIG_IGN);
  if (kind == kSignalTerminate) signal(SIGTERM, SIG_IGN);
  if (kind == kSignalInterrupt) signal(SIGINT, SIG_IGN);
}

void RestoreDefaultSignals() {
  SetConsoleCtrlHandler(OnConsoleControl, FALSE);
  signal(SIGABRT, SIG_DFL);
  signal(SIGTERM, SIG_DFL);
  signal(SIGINT, SIG_DFL);
  g_callback = nullptr;
}

void ExitProcessNow(int code) { exit(code); }
