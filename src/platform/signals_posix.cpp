// Interrupt, termination and abort signals through sigaction.
#include "platform/signals.h"

#include <signal.h>

#include <cstdlib>
#include <initializer_list>

namespace {

SignalCallback g_callback = nullptr;
bool g_taken[NSIG] = {};  // signals whose handler this layer set

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

// True when another part of this process (a fuzzer or sanitizer runtime, say)
// has set its own handler; a freshly started program has none, since exec
// resets every handler.
bool HasForeignHandler(int number) {
  struct sigaction current {};
  if (sigaction(number, nullptr, &current) != 0) return false;
  if ((current.sa_flags & SA_SIGINFO) != 0) return current.sa_sigaction != nullptr;
  return current.sa_handler != SIG_DFL && current.sa_handler != SIG_IGN &&
         current.sa_handler != OnSignal;
}

}  // namespace

bool InstallSignalHandlers(SignalCallback callback) {
  g_callback = callback;
  for (SignalKind kind : {kSignalInterrupt, kSignalTerminate, kSignalAbort}) {
    int number = SignalNumber(kind);
    if (HasForeignHandler(number)) continue;
    SetDisposition(number, OnSignal);
    g_taken[number] = true;
  }
  return true;
}

void IgnoreSignal(SignalKind kind) {
  int number = SignalNumber(kind);
  if (number != 0) SetDisposition(number, SIG_IGN);
}

void RestoreDefaultSignals() {
  for (SignalKind kind : {kSignalInterrupt, kSignalTerminate, kSignalAbort}) {
    int number = SignalNumber(kind);
    if (!g_taken[number]) continue;
    SetDisposition(number, SIG_DFL);
    g_taken[number] = false;
  }
}

void ExitProcessNow(int code) { exit(code); }
