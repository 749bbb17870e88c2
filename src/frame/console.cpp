// Console output: formatting, the session block, locks, copy file, signals.
#include "frame/console.h"

#include <atomic>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "frame/command_line.h"
#include "platform/console.h"
#include "platform/shared_block.h"
#include "platform/signals.h"
#include "platform/stream.h"
#include "platform/text.h"

namespace {

// ---- Formatting --------------------------------------------------------------

enum class Length { kNone, kShort, kChar, kLong, kLongLong, kSize, kLongDouble };

struct Conversion {
  std::string flags;
  int width = -1;
  int precision = -1;
  bool leftAlign = false;
  Length length = Length::kNone;
  bool narrowText = false;  // 'h' (or %S/%C): an 8-bit string or character
  wchar_t type = 0;
};

// Reads flags, width, precision and length; returns the position of the type.
const wchar_t* ParseConversion(const wchar_t* p, va_list* args, Conversion* conv) {
  while (*p == L'-' || *p == L'+' || *p == L' ' || *p == L'#' || *p == L'0') {
    if (*p == L'-') conv->leftAlign = true;
    conv->flags.push_back(static_cast<char>(*p++));
  }
  if (*p == L'*') {
    conv->width = va_arg(*args, int);
    if (conv->width < 0) {
      conv->leftAlign = true;
      conv->flags.push_back('-');
      conv->width = -conv->width;
    }
    ++p;
  } else {
    while (*p >= L'0' && *p <= L'9') {
      conv->width = (conv->width < 0 ? 0 : conv->width) * 10 + (*p++ - L'0');
      if (conv->width > 1000000) conv->width = 1000000;
    }
  }
  if (*p == L'.') {
    ++p;
    conv->precision = 0;
    if (*p == L'*') {
      conv->precision = va_arg(*args, int);
      ++p;
    } else {
      while (*p >= L'0' && *p <= L'9') {
        conv->precision = conv->precision * 10 + (*p++ - L'0');
        if (conv->precision > 1000000) conv->precision = 1000000;
      }
    }
  }
  if (p[0] == L'I' && p[1] == L'6' && p[2] == L'4') {
    conv->length = Length::kLongLong;
    p += 3;
  } else if (p[0] == L'I' && p[1] == L'3' && p[2] == L'2') {
    conv->length = Length::kNone;
    p += 3;
  } else if (p[0] == L'l' && p[1] == L'l') {
    conv->length = Length::kLongLong;
    p += 2;
  } else if (p[0] == L'h' && p[1] == L'h') {
    conv->length = Length::kChar;
    conv->narrowText = true;
    p += 2;
  } else if (*p == L'h') {
    conv->length = Length::kShort;
    conv->narrowText = true;
    ++p;
  } else if (*p == L'l' || *p == L'w') {
    conv->length = Length::kLong;  // 32-bit as on Windows
    ++p;
  } else if (*p == L'I' || *p == L'z' || *p == L't') {
    conv->length = Length::kSize;
    ++p;
  } else if (*p == L'j') {
    conv->length = Length::kLongLong;
    ++p;
  } else if (*p == L'L') {
    conv->length = Length::kLongDouble;
    ++p;
  }
  conv->type = *p;
  return p;
}

std::string NarrowSpec(const Conversion& conv, const char* lengthText, char type) {
  std::string directive(1, '%');
  directive += conv.flags;
  if (conv.width >= 0) directive += std::to_string(conv.width);
  if (conv.precision >= 0) {
    directive.push_back('.');
    directive += std::to_string(conv.precision);
  }
  directive += lengthText;
  directive.push_back(type);
  return directive;
}

template <typename T>
void AppendNumber(std::string* out, const std::string& directive, T value) {
  char small[128];
  int n = snprintf(small, sizeof(small), directive.c_str(), value);
  if (n < 0) return;
  if (static_cast<size_t>(n) < sizeof(small)) {
    out->append(small, static_cast<size_t>(n));
    return;
  }
  std::string big(static_cast<size_t>(n) + 1, '\0');
  snprintf(big.data(), big.size(), directive.c_str(), value);
  out->append(big.data(), static_cast<size_t>(n));
}

void AppendPadded(std::string* out, const std::string& text, size_t units, const Conversion& conv) {
  size_t pad = conv.width > 0 && static_cast<size_t>(conv.width) > units
                   ? static_cast<size_t>(conv.width) - units
                   : 0;
  if (!conv.leftAlign) out->append(pad, ' ');
  out->append(text);
  if (conv.leftAlign) out->append(pad, ' ');
}

void AppendWideText(std::string* out, const wchar_t* text, const Conversion& conv) {
  if (text == nullptr) text = L"(null)";
  size_t units = wcslen(text);
  if (conv.precision >= 0 && static_cast<size_t>(conv.precision) < units) {
    units = static_cast<size_t>(conv.precision);
  }
  AppendPadded(out, WideToMultibyte(text, units), units, conv);
}

void AppendNarrowText(std::string* out, const char* text, const Conversion& conv) {
  if (text == nullptr) text = "(null)";
  size_t units = strlen(text);
  if (conv.precision >= 0 && static_cast<size_t>(conv.precision) < units) {
    units = static_cast<size_t>(conv.precision);
  }
  AppendPadded(out, std::string(text, units), units, conv);
}

void AppendSigned(std::string* out, const Conversion& conv, va_list* args) {
  switch (conv.length) {
    case Length::kLongLong:
      AppendNumber(out, NarrowSpec(conv, "ll", 'd'), va_arg(*args, long long));
      break;
    case Length::kSize:
      AppendNumber(out, NarrowSpec(conv, "ll", 'd'),
                   static_cast<long long>(va_arg(*args, ptrdiff_t)));
      break;
    case Length::kShort:
      AppendNumber(out, NarrowSpec(conv, "", 'd'), static_cast<short>(va_arg(*args, int)));
      break;
    case Length::kChar:
      AppendNumber(out, NarrowSpec(conv, "", 'd'), static_cast<signed char>(va_arg(*args, int)));
      break;
    default:
      AppendNumber(out, NarrowSpec(conv, "", 'd'), va_arg(*args, int));
      break;
  }
}

void AppendUnsigned(std::string* out, const Conversion& conv, char type, va_list* args) {
  switch (conv.length) {
    case Length::kLongLong:
      AppendNumber(out, NarrowSpec(conv, "ll", type), va_arg(*args, unsigned long long));
      break;
    case Length::kSize:
      AppendNumber(out, NarrowSpec(conv, "ll", type),
                   static_cast<unsigned long long>(va_arg(*args, size_t)));
      break;
    case Length::kShort:
      AppendNumber(out, NarrowSpec(conv, "", type),
                   static_cast<unsigned>(static_cast<unsigned short>(va_arg(*args, unsigned))));
      break;
    case Length::kChar:
      AppendNumber(out, NarrowSpec(conv, "", type),
                   static_cast<unsigned>(static_cast<unsigned char>(va_arg(*args, unsigned))));
      break;
    default:
      AppendNumber(out, NarrowSpec(conv, "", type), va_arg(*args, unsigned));
      break;
  }
}

void AppendFloating(std::string* out, const Conversion& conv, char type, va_list* args) {
  if (conv.length == Length::kLongDouble) {
    AppendNumber(out, NarrowSpec(conv, "L", type), va_arg(*args, long double));
  } else {
    AppendNumber(out, NarrowSpec(conv, "", type), va_arg(*args, double));
  }
}

void AppendCharacter(std::string* out, const Conversion& conv, bool narrow, va_list* args) {
  if (narrow) {
    char c = static_cast<char>(va_arg(*args, int));
    AppendPadded(out, std::string(1, c), 1, conv);
  } else {
    // A wide character arrives promoted to an int (wint_t may be narrower).
    wchar_t c = static_cast<wchar_t>(va_arg(*args, unsigned));
    AppendPadded(out, WideToMultibyte(&c, 1), 1, conv);
  }
}

// Formats one conversion; false when the type is not known.
bool AppendConversion(std::string* out, const Conversion& conv, va_list* args) {
  switch (conv.type) {
    case L'd':
    case L'i': AppendSigned(out, conv, args); return true;
    case L'u':
    case L'x':
    case L'X':
    case L'o': AppendUnsigned(out, conv, static_cast<char>(conv.type), args); return true;
    case L'f':
    case L'F':
    case L'e':
    case L'E':
    case L'g':
    case L'G':
    case L'a':
    case L'A': AppendFloating(out, conv, static_cast<char>(conv.type), args); return true;
    case L'c': AppendCharacter(out, conv, conv.narrowText, args); return true;
    case L'C': AppendCharacter(out, conv, conv.length != Length::kLong, args); return true;
    case L's':
      if (conv.narrowText) {
        AppendNarrowText(out, va_arg(*args, const char*), conv);
      } else {
        AppendWideText(out, va_arg(*args, const wchar_t*), conv);
      }
      return true;
    case L'S':
      if (conv.length == Length::kLong) {
        AppendWideText(out, va_arg(*args, const wchar_t*), conv);
      } else {
        AppendNarrowText(out, va_arg(*args, const char*), conv);
      }
      return true;
    case L'p': AppendNumber(out, NarrowSpec(conv, "", 'p'), va_arg(*args, void*)); return true;
    case L'n': va_arg(*args, void*); return true;  // nothing is written back
    default: return false;
  }
}

// ---- Session block and locks -------------------------------------------------

constexpr uint32_t kSessionMagic = 0x676D7277;  // "wrmg"
constexpr int kLockTries = 2000;
constexpr uint32_t kThresholdOff = 255;

struct SessionView {
  uint32_t magic;
  uint32_t lockWord;
  uint32_t outputEnabled;
  uint32_t reserved1;
  uint32_t interrupted;
  uint32_t reserved2;
  uint8_t reserved[40];
};
static_assert(sizeof(SessionView) == 64);

enum LockSet { kLockProcess = 1, kLockShared = 2, kLockBoth = 3 };

std::atomic<uint32_t> g_processLock{0};
SharedBlock* g_block = nullptr;
SessionView* g_session = nullptr;
std::atomic<uint32_t> g_threshold{kThresholdOff};
FILE* g_copyFile = nullptr;
int g_verbosity = 0;
bool g_tearDownRegistered = false;
std::atomic<int> g_exitingFromSignal{0};

uint32_t Exchange(uint32_t* word, uint32_t value) {
  return std::atomic_ref<uint32_t>(*word).exchange(value);
}

uint32_t Load(uint32_t* word) { return std::atomic_ref<uint32_t>(*word).load(); }

void Store(uint32_t* word, uint32_t value) { std::atomic_ref<uint32_t>(*word).store(value); }

bool TakeWord(uint32_t* word) {
  for (int attempt = 0; attempt < kLockTries; ++attempt) {
    if (Exchange(word, 1) != 1) return true;
    SleepMilliseconds(1);
  }
  return false;
}

bool TakeProcessWord() {
  for (int attempt = 0; attempt < kLockTries; ++attempt) {
    if (g_processLock.exchange(1) != 1) return true;
    SleepMilliseconds(1);
  }
  return false;
}

// Which lock words a Lock call obtained, so that only those are released.
struct HeldLocks {
  bool process = false;
  bool shared = false;
};

HeldLocks Lock(LockSet which) {
  HeldLocks held;
  if ((which & kLockProcess) != 0) held.process = TakeProcessWord();
  if ((which & kLockShared) != 0 && g_session != nullptr) held.shared = TakeWord(&g_session->lockWord);
  return held;
}

void Unlock(const HeldLocks& held) {
  if (held.shared && g_session != nullptr) Exchange(&g_session->lockWord, 0);
  if (held.process) g_processLock.exchange(0);
}

// ---- Output ------------------------------------------------------------------

// Writes to the copy file with CR LF line ends, flushed so that an abrupt exit
// loses nothing.
void WriteCopyFile(const std::string& text) {
  if (g_copyFile == nullptr) return;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\n') continue;
    if (i > start) fwrite(text.data() + start, 1, i - start, g_copyFile);
    fwrite("\r\n", 1, 2, g_copyFile);
    start = i + 1;
  }
  if (start < text.size()) fwrite(text.data() + start, 1, text.size() - start, g_copyFile);
  fflush(g_copyFile);
}

StandardStream ToStandard(ConsoleStream stream) {
  return stream == kConsoleOut ? kStandardOut : kStandardErr;
}

bool OutputEnabled() { return g_session != nullptr && Load(&g_session->outputEnabled) != 0; }

// Writes text to the console (when enabled) and to the copy file; caller holds the locks.
int WriteUnlocked(ConsoleStream stream, const std::string& text) {
  int count = 0;
  if (OutputEnabled()) {
    count = static_cast<int>(WriteStandardStream(ToStandard(stream), text.data(), text.size()));
  }
  if (g_copyFile != nullptr) {
    WriteCopyFile(text);
    count = static_cast<int>(text.size());
  }
  return count;
}

int WriteLocked(ConsoleStream stream, const std::string& text) {
  HeldLocks held = Lock(kLockBoth);
  int count = WriteUnlocked(stream, text);
  Unlock(held);
  return count;
}

// ---- Signals and tear-down ---------------------------------------------------

void OnSignal(SignalKind kind) {
  if (kind != kSignalFault && g_session != nullptr && Load(&g_session->interrupted) == 0) {
    Store(&g_session->interrupted, 1);
    IgnoreSignal(kind);
    return;
  }
  g_exitingFromSignal = 1;
  ExitProcessNow(2);
}

void TearDownAtExit() { ConsoleTearDown(); }

ResultCode OpenSession() {
  wchar_t name[50];
  swprintf(name, 50, L"wrmgses-0x%08lx", static_cast<unsigned long>(CurrentProcessId()));
  void* view = nullptr;
  bool existed = false;
  ResultCode result = SharedBlockOpen(name, sizeof(SessionView), &g_block, &view, &existed);
  if (result != kOk || view == nullptr) return kErrNoMemory;
  SessionView* session = static_cast<SessionView*>(view);
  g_session = session;
  if (existed) {
    while (Load(&session->magic) != kSessionMagic) SleepMilliseconds(1);
    HeldLocks held = Lock(kLockBoth);
    Store(&session->outputEnabled, 1);
    Unlock(held);
    return kOk;
  }
  Store(&session->lockWord, 1);
  Store(&session->outputEnabled, 1);
  Store(&session->reserved1, 0);
  Store(&session->interrupted, 0);
  Store(&session->reserved2, 0);
  Store(&session->magic, kSessionMagic);
  g_processLock.exchange(1);
  Store(&session->outputEnabled, 1);
  Exchange(&session->lockWord, 0);
  g_processLock.exchange(0);
  return kOk;
}

}  // namespace

// ---- Public interface --------------------------------------------------------

std::string FormatConsoleTextV(const wchar_t* format, va_list args) {
  std::string out;
  if (format == nullptr) return out;
  va_list cursor;
  va_copy(cursor, args);
  const wchar_t* literal = format;
  const wchar_t* p = format;
  while (*p != L'\0') {
    if (*p != L'%') {
      ++p;
      continue;
    }
    if (p > literal) out += WideToMultibyte(literal, static_cast<size_t>(p - literal));
    if (p[1] == L'%') {
      out.push_back('%');
      p += 2;
      literal = p;
      continue;
    }
    Conversion conv;
    const wchar_t* type = ParseConversion(p + 1, &cursor, &conv);
    if (*type == L'\0' || !AppendConversion(&out, conv, &cursor)) {
      // An unknown conversion is printed as written.
      literal = p;
      p = *type == L'\0' ? type : type + 1;
      out += WideToMultibyte(literal, static_cast<size_t>(p - literal));
      literal = p;
      continue;
    }
    p = type + 1;
    literal = p;
  }
  if (p > literal) out += WideToMultibyte(literal, static_cast<size_t>(p - literal));
  va_end(cursor);
  return out;
}

std::string FormatConsoleText(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = FormatConsoleTextV(format, args);
  va_end(args);
  return text;
}

ResultCode ConsoleStart(int argc, const wchar_t* const* argv) {
  g_processLock = 0;
  g_threshold = kThresholdOff;
  g_verbosity = 0;
  g_exitingFromSignal = 0;
  CommandLine* commandLine = nullptr;
  ResultCode result = CommandLineCreate(argc, argv, &commandLine);
  if (result != kOk) return result;
  SetProcessCommandLine(commandLine);
  if (!g_tearDownRegistered) {
    g_tearDownRegistered = true;
    atexit(TearDownAtExit);
  }
  result = OpenSession();
  if (result != kOk) return result;
  if (OutputEnabled()) InstallSignalHandlers(OnSignal);
  return kOk;
}

void ConsoleTearDown() {
  if (g_exitingFromSignal) {
    // Inside a signal handler: only what is safe there; memory goes with the process.
    SharedBlockUnlinkForExit(g_block);
    return;
  }
  if (OutputEnabled()) RestoreDefaultSignals();
  FlushStandardStreams();
  if (g_copyFile != nullptr) {
    fclose(g_copyFile);
    g_copyFile = nullptr;
  }
  SharedBlockClose(g_block);
  g_block = nullptr;
  g_session = nullptr;
  CommandLine* commandLine = GetProcessCommandLine();
  SetProcessCommandLine(nullptr);
  CommandLineFree(commandLine);
  g_threshold = kThresholdOff;
  g_processLock = 0;
}

int PrintStreamV(ConsoleStream stream, const wchar_t* format, va_list args) {
  return WriteLocked(stream, FormatConsoleTextV(format, args));
}

int PrintOutV(const wchar_t* format, va_list args) { return PrintStreamV(kConsoleOut, format, args); }

int PrintErrV(const wchar_t* format, va_list args) { return PrintStreamV(kConsoleErr, format, args); }

int PrintOut(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  int count = PrintOutV(format, args);
  va_end(args);
  return count;
}

int PrintErr(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  int count = PrintErrV(format, args);
  va_end(args);
  return count;
}

size_t WriteConsoleBytes(ConsoleStream stream, const char* bytes, size_t length) {
  HeldLocks held = Lock(kLockBoth);
  size_t count = 0;
  if (OutputEnabled()) count = WriteStandardStream(ToStandard(stream), bytes, length);
  if (g_copyFile != nullptr) {
    WriteCopyFile(std::string(bytes, length));
    count = length;
  }
  Unlock(held);
  return count;
}

int PrintMessageV(ConsoleStream stream, int messageId, va_list args) {
  const wchar_t* format = GetMessageFormat(messageId);
  if (format == nullptr) return 0;
  std::string text = FormatConsoleTextV(format, args);
  text.push_back('\n');
  return WriteLocked(stream, text);
}

int PrintMessage(ConsoleStream stream, int messageId, ...) {
  va_list args;
  va_start(args, messageId);
  int count = PrintMessageV(stream, messageId, args);
  va_end(args);
  return count;
}

void PrintResultMessage(ResultCode code) {
  PrintMessage(kConsoleErr, ResultMessageId(code), static_cast<int>(code));
}

void DebugPrint(int level, const wchar_t* format, ...) {
  HeldLocks processHeld = Lock(kLockProcess);
  uint32_t threshold = g_threshold.load();
  bool show = threshold != kThresholdOff && static_cast<uint32_t>(level) >= threshold;
  if (!show) {
    Unlock(processHeld);
    return;
  }
  std::string prefix;
  if (level == -1) {
    prefix = "Error  : ";
  } else if (level == 0) {
    prefix = "OK     : ";
  } else if (level == 1) {
    prefix = "Status : ";
  } else {
    char number[32];
    snprintf(number, sizeof(number), "%6d : ", level);
    prefix = number;
  }
  va_list args;
  va_start(args, format);
  std::string text = prefix + FormatConsoleTextV(format, args) + "\n";
  va_end(args);
  HeldLocks sharedHeld = Lock(kLockShared);
  WriteUnlocked(kConsoleErr, text);
  Unlock(sharedHeld);
  Unlock(processHeld);
}

void SetDiagnosticThreshold(uint32_t threshold) { g_threshold = threshold; }

uint32_t GetDiagnosticThreshold() { return g_threshold.load(); }

void SetDiagnosticFile(const wchar_t* path) {
  HeldLocks held = Lock(kLockProcess);
  if (g_copyFile != nullptr) {
    fclose(g_copyFile);
    g_copyFile = nullptr;
  }
  if (path != nullptr && *path != L'\0') {
    g_copyFile = OpenStream(path, "ab");  // never waits on a FIFO
  }
  Unlock(held);
}

int IsInterrupted() {
  // A single aligned 32-bit load; the signal handler writes it the same way.
  return g_session != nullptr && Load(&g_session->interrupted) != 0 ? 1 : 0;
}

int GetVerbosity() { return g_verbosity; }

void IncreaseVerbosity() {
  if (g_verbosity >= 0) ++g_verbosity;
}

void SetVerbosity(int verbosity) { g_verbosity = verbosity; }
