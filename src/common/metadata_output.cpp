#include "common/metadata_output.h"

#include <cinttypes>
#include <cstring>
#include <vector>

namespace {

// The decimal digits of value into buffer; their count (at most 20).
size_t FormatDecimal(uint64_t value, char* buffer) {
  char reversed[20];
  size_t count = 0;
  do {
    reversed[count++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  for (size_t i = 0; i < count; ++i) buffer[i] = reversed[count - 1 - i];
  return count;
}

// A line put together before it is written in one call.
struct LineText {
  FILE* out;
  char text[512];
  size_t used = 0;

  explicit LineText(FILE* stream) : out(stream) {}

  void Add(const char* part, size_t length) {
    if (used + length > sizeof text) {
      Flush();
      if (length > sizeof text) {
        fwrite(part, 1, length, out);
        return;
      }
    }
    std::memcpy(text + used, part, length);
    used += length;
  }
  void Add(const char* part) { Add(part, std::strlen(part)); }
  void Add(char c) { Add(&c, 1); }
  // As "%02u".
  void AddTwoDigits(uint64_t value) {
    char digits[20];
    if (value < 10) Add('0');
    Add(digits, FormatDecimal(value, digits));
  }
  void Flush() {
    if (used != 0) fwrite(text, 1, used, out);
    used = 0;
  }
};

}  // namespace

char* FormatSize(uint64_t value, uint32_t divisor, char* buffer, size_t size) {
  if (buffer == nullptr || size == 0) return buffer;
  if (divisor == 0) {
    char digits[20];
    const size_t count = FormatDecimal(value, digits);
    const size_t kept = count < size ? count : size - 1;
    std::memcpy(buffer, digits, kept);
    buffer[kept] = '\0';
    return buffer;
  }
  snprintf(buffer, size, "%.2f", static_cast<double>(value) / static_cast<double>(divisor));
  // The locale may write a comma; metadata always uses a point.
  for (char* p = buffer; *p != '\0'; ++p) {
    if (*p == ',') *p = '.';
  }
  return buffer;
}

uint64_t ParseScaled(const char* text, uint64_t multiplier, const char** end) {
  if (text == nullptr) {
    if (end != nullptr) *end = text;
    return 0;
  }
  const uint64_t m = multiplier == 0 ? 1 : multiplier;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  while (*p >= 1 && *p <= 32) ++p;
  uint64_t integer = 0;
  while (*p >= '0' && *p <= '9') {
    integer = integer * 10 + static_cast<uint64_t>(*p - '0') * m;
    ++p;
  }
  uint64_t numerator = 0;
  uint64_t denominator = 1;
  if (*p == '.' && m >= 2 && m <= UINT64_MAX / 9) {
    ++p;
    while (*p >= '0' && *p <= '9') {
      // Digits beyond the precision of the denominator add nothing.
      if (denominator <= UINT64_MAX / 10 && numerator <= (UINT64_MAX - 9 * m) / 10) {
        numerator = numerator * 10 + static_cast<uint64_t>(*p - '0') * m;
        denominator *= 10;
      }
      ++p;
    }
  }
  if (end != nullptr) *end = reinterpret_cast<const char*>(p);
  return integer + numerator / denominator;
}

void WriteTopListLine(FILE* out, const char* label, const char* key, uint64_t total1, uint64_t total2,
                      int64_t last, uint32_t unitDivisor, bool showSecond, bool showDuration) {
  LineText line(out);
  char size[64];
  line.Add(label);
  line.Add(';');
  line.Add(key);
  line.Add(';');
  line.Add(FormatSize(total1, unitDivisor, size, sizeof size));
  if (showSecond) {
    line.Add(';');
    line.Add(FormatSize(total2, unitDivisor, size, sizeof size));
  }
  if (showDuration) {
    const uint64_t ticks = static_cast<uint64_t>(last);
    const uint64_t hour = 36000000000ULL;
    const uint64_t rest = ticks % hour;
    line.Add(';');
    line.AddTwoDigits(static_cast<unsigned>(ticks / hour));
    line.Add(':');
    line.AddTwoDigits(static_cast<unsigned>(rest / 600000000ULL));
    line.Add(':');
    line.AddTwoDigits(static_cast<unsigned>(rest / 10000000ULL % 60));
  }
  line.Add('\n');
  line.Flush();
}

namespace {

struct TopListWriter {
  FILE* out;
  const char* label;
  uint32_t remaining;
  uint32_t unit;
  uint64_t threshold;
  bool showSecond;
  bool showDuration;
  uint32_t written;
};

int WriteTopLine(void* context, void* item) {
  auto* writer = static_cast<TopListWriter*>(context);
  const auto* record = static_cast<const CounterRecord*>(item);
  if (record->total1 < writer->threshold) return 0;
  WriteTopListLine(writer->out, writer->label, record->key, record->total1, record->total2, record->last,
                   writer->unit, writer->showSecond, writer->showDuration);
  ++writer->written;
  if (writer->remaining > 0) --writer->remaining;
  return writer->remaining == 0 ? 1 : 0;
}

bool ReachesThreshold(void* context, const void* record) {
  return static_cast<const CounterRecord*>(record)->total1 >= *static_cast<const uint64_t*>(context);
}

}  // namespace

uint32_t WriteTopList(RecordTable* table, RecordSortComparator comparator, FILE* out,
                      const char* label, uint32_t maxLines, uint32_t unitDivisor,
                      uint64_t threshold, bool showSecond, bool showDuration) {
  if (table == nullptr || out == nullptr || label == nullptr) return 0;
  TopListWriter writer{out, label, maxLines, unitDivisor, threshold, showSecond, showDuration, 0};
  if (comparator == nullptr) {
    // The default order leaves ties to the sort: keep the table's heap sort.
    RecordTableSort(table, CompareCounterRecordsSort, nullptr, 1);
    RecordTableForEach(table, WriteTopLine, &writer);
    return writer.written;
  }
  // A full order: only the lines written need to be put in order.
  std::vector<void*> top;
  if (RecordTableSelect(table, comparator, nullptr, ReachesThreshold, &threshold,
                        maxLines == 0 ? 1 : maxLines, &top) != kOk) {
    return 0;
  }
  for (void* record : top) {
    if (WriteTopLine(&writer, record) != 0) break;
  }
  return writer.written;
}
