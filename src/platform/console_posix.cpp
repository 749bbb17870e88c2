// Standard streams and process facts on POSIX.
#include "platform/console.h"

#include <time.h>
#include <unistd.h>

#include <cstdio>

#include "platform/text.h"

size_t WriteStandardStream(StandardStream stream, const char* bytes, size_t length) {
  FILE* file = stream == kStandardOut ? stdout : stderr;
  size_t written = length == 0 ? 0 : fwrite(bytes, 1, length, file);
  if (stream == kStandardErr) fflush(file);
  return written;
}

void FlushStandardStreams() {
  fflush(stdout);
  fflush(stderr);
}

uint32_t CurrentProcessId() { return static_cast<uint32_t>(getpid()); }

void SleepMilliseconds(uint32_t milliseconds) {
  timespec delay{static_cast<time_t>(milliseconds / 1000),
                 static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&delay, &delay) != 0) {
  }
}

bool ReadProcessArguments(std::vector<std::wstring>* args) {
  FILE* file = fopen("/proc/self/cmdline", "rb");
  if (file == nullptr) return false;
  std::string piece;
  int c;
  while ((c = fgetc(file)) != EOF) {
    if (c == 0) {
      args->push_back(MultibyteToWide(piece.data(), piece.size()));
      piece.clear();
    } else {
      piece.push_back(static_cast<char>(c));
    }
  }
  if (!piece.empty()) args->push_back(MultibyteToWide(piece.data(), piece.size()));
  fclose(file);
  return true;
}
