// Interrupt, termination and abort signals through sigaction.
#include "platform/signals.h"

#include <signal.h>

#include <cstdlib>
#include <initializer_list>

namespace {

SignalCallback g_callback = nullptr;

int SignalNumber(SignalKind kind) {
  switch (kind) {
    case kSignalInterrupt: return SIGINT;
    case kSignalTerminate: return SIGTERM;
    case kSignalAbort: return SIGABRT;
    default: return 0;
  }
}

void OnSignal(int number) {
  SignalKind kind = kSignalFault;
  if (number == SIGINT) kind = kSignalInterrupt;
  if (number == SIGTERM) kind = kSignalTerminate;
  if (number == SIGABRT) kind = kSignalAbort;
  if (g_callback != nullptr) g_callback(kind);
}

void SetDisposition(int number, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(number, &action, nullptr);
}

}  // namespace

bool InstallSignalHandlers(SignalCallback callback) {
  g_callback = callback;
  for (SignalKind kind : {kSignalInterrupt, kSignalTerminate, kSignalAbort}) {
    SetDisposition(SignalNumber(kind), OnSignal);
  }
  return true;
}

void IgnoreSignal(SignalKind kind) {
  int number = SignalNumber(kind);
  if (number != 0) SetDisposition(number, SIG_IGN);
}

void RestoreDefaultSignals() {
  for (SignalKind kind : {kSignalInterrupt, kSignalTerminate, kSignalAbort}) {
    SetDisposition(SignalNumber(kind), SIG_DFL);
  }
}

void ExitProcessNow(int code) { exit(code); }
