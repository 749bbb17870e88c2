// Process signals for interrupt, termination and abort requests.
#pragma once

enum SignalKind {
  kSignalInterrupt = 1,  // Ctrl+C
  kSignalTerminate = 2,
  kSignalAbort = 3,
  kSignalFault = 4,      // floating-point, illegal instruction, access violation
};

using SignalCallback = void (*)(SignalKind kind);

// Installs one handler for the interrupt, termination and abort signals; a
// signal that already has another handler in this process (a fuzzer's or a
// sanitizer's) keeps it.
bool InstallSignalHandlers(SignalCallback callback);

// From now on the given signal is ignored (signal-handler safe).
void IgnoreSignal(SignalKind kind);

// Sets the signals InstallSignalHandlers took back to their default.
void RestoreDefaultSignals();

// Ends the process with the code, running the exit-time handlers.
[[noreturn]] void ExitProcessNow(int code);
