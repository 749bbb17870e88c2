// Standard streams and process facts on Windows. A console gets the text in
// UTF-16 (WriteConsoleW), so it shows in the user's code page whatever the
// console's own; pipes and files get the bytes unchanged. Both standard
// streams are binary: the same bytes as on every platform.
#include "platform/console.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "platform/command_line_split.h"
#include "platform/text.h"

namespace {

// Binary standard streams from the start, before anything is written to them
// (the listings write to stdout directly).
struct BinaryStandardStreams {
  BinaryStandardStreams() {
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
  }
};
const BinaryStandardStreams gBinaryStandardStreams;

FILE* BinaryStream(StandardStream stream) { return stream == kStandardOut ? stdout : stderr; }

// The console behind a stream, or null when it goes to a pipe or a file.
HANDLE ConsoleOf(StandardStream stream) {
  HANDLE handle = GetStdHandle(stream == kStandardOut ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
  DWORD mode = 0;
  return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) ? handle : nullptr;
}

}  // namespace

size_t WriteStandardStream(StandardStream stream, const char* bytes, size_t length) {
  FILE* file = BinaryStream(stream);
  if (length == 0) return 0;
  HANDLE console = ConsoleOf(stream);
  if (console != nullptr) {
    fflush(file);
    std::wstring wide = MultibyteToWide(bytes, length);
    DWORD written = 0;
    if (WriteConsoleW(console, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr)) {
      return length;
    }
  }
  size_t written = fwrite(bytes, 1, length, file);
  if (stream == kStandardErr) fflush(file);
  return written;
}

void FlushStandardStreams() {
  fflush(stdout);
  fflush(stderr);
}

uint32_t CurrentProcessId() { return GetCurrentProcessId(); }

void SleepMilliseconds(uint32_t milliseconds) { Sleep(milliseconds); }

bool ReadProcessArguments(std::vector<std::wstring>* args) {
  const wchar_t* raw = GetCommandLineW();
  if (raw == nullptr) return false;
  SplitRawCommandLine(raw, args);
  return true;
}
