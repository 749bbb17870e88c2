// Reading the lines of the listing back: the lines kept as the passes read
// them (within a memory budget), one line by offset, and many lines at once
// in spans of their files.
#include <algorithm>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "common/line_reader.h"
#include "doctor/mail_index.h"
#include "platform/stream.h"

namespace {

void LetKeptLinesGo(MailIndex* mail) {
  mail->kept.Free();
  mail->keptText.Free();
  mail->keptBudget = 0;
}

bool KeptBefore(const KeptLine& line, uint32_t fileIndex, uint64_t offset) {
  return line.file != fileIndex ? line.file < fileIndex : line.offset < offset;
}

// The kept line at this file and offset.
bool FindKeptLine(const MailIndex* mail, uint32_t fileIndex, uint64_t offset, const char** text,
                  size_t* length) {
  const KeptLine* found =
      std::lower_bound(mail->kept.begin(), mail->kept.end(), 0, [&](const KeptLine& line, int) {
        return KeptBefore(line, fileIndex, offset);
      });
  if (found == mail->kept.end() || found->file != fileIndex || found->offset != offset) {
    return false;
  }
  *text = mail->keptText.items + found->textStart;
  *length = found->length;
  return true;
}

}  // namespace

void KeepLine(MailIndex* mail, uint32_t fileIndex, uint64_t offset, const char* text,
              size_t length) {
  if (mail->keptBudget == 0) return;
  // Cut as a read at the offset cuts the line: at its first NUL or CR.
  const void* nul = std::memchr(text, '\0', length);
  if (nul != nullptr) length = static_cast<size_t>(static_cast<const char*>(nul) - text);
  const void* cr = std::memchr(text, '\r', length);
  if (cr != nullptr) length = static_cast<size_t>(static_cast<const char*>(cr) - text);
  const size_t textUsed = mail->keptText.size() + length;
  const size_t entriesUsed = (mail->kept.size() + 1) * sizeof(KeptLine);
  const bool inOrder =
      mail->kept.empty() || KeptBefore(mail->kept.items[mail->kept.size() - 1], fileIndex, offset);
  if (!inOrder || fileIndex >= 0xFFFF || offset > UINT32_MAX || length > 0xFFFF ||
      textUsed >= kKeptTextBit || mail->records.size() > kKeptRecordsMax) {
    LetKeptLinesGo(mail);
    return;
  }
  if (textUsed + entriesUsed > mail->keptBudget) return;  // full: the listing reads it
  const size_t grown = std::min(mail->keptBudget, std::max(textUsed, 2 * mail->keptText.capacity));
  if (textUsed > mail->keptText.capacity && !mail->keptText.Reserve(grown)) {
    LetKeptLinesGo(mail);
    return;
  }
  const KeptLine line{static_cast<uint32_t>(offset), static_cast<uint32_t>(mail->keptText.size()),
                      static_cast<uint16_t>(fileIndex), static_cast<uint16_t>(length)};
  if (!mail->kept.Append(line)) {
    LetKeptLinesGo(mail);
    return;
  }
  std::memcpy(mail->keptText.items + mail->keptText.size(), text, length);
  mail->keptText.count = textUsed;
}

size_t ReadIndexedLine(const MailIndex* mail, uint32_t fileIndex, uint32_t offset, char* buffer,
                       size_t capacity) {
  if (capacity == 0) return 0;
  buffer[0] = '\0';
  if (fileIndex >= mail->files.size() || mail->files[fileIndex].file == nullptr) return 0;
  size_t length = 0;
  if (ReadLineAt(mail->files[fileIndex].file, offset, buffer, capacity, &length) != kOk) {
    buffer[0] = '\0';
    return 0;
  }
  return std::strlen(buffer);
}

namespace {

constexpr size_t kLineMax = 32767;
constexpr size_t kSpanMax = size_t{1} << 20;
constexpr size_t kLoneSpan = 1024;
// A read goes on to the next wanted line when fewer bytes than this lie
// between: reading them costs less than another call.
constexpr size_t kGapMax = 16384;

// Bytes [start, start + length) of one file, read with one positioned read.
struct FileSpan {
  std::vector<char> buffer;
  const char* bytes = nullptr;
  uint64_t start = 0;
  size_t length = 0;
  bool atEnd = false;
};

// Reads the span from `offset` with `size` bytes (fewer at the end of file).
void ReadSpan(FILE* file, uint64_t offset, size_t size, FileSpan* span) {
  if (span->buffer.size() < size) span->buffer.resize(size);
  span->start = offset;
  span->length = 0;
  span->bytes = span->buffer.data();
  span->atEnd = true;
  size_t got = 0;
  if (ReadStreamAt(file, offset, span->buffer.data(), size, &got) != kOk) return;
  span->length = got;
  span->atEnd = got < size;
}

// The first LF, CR or NUL of text[0, length), or null.
const char* FindLineStop(const char* text, size_t length) {
  size_t i = 0;
#if defined(__SSE2__)
  const __m128i lf = _mm_set1_epi8('\n');
  const __m128i cr = _mm_set1_epi8('\r');
  const __m128i zero = _mm_setzero_si128();
  for (; i + 16 <= length; i += 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
    const __m128i hits = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(block, lf), _mm_cmpeq_epi8(block, cr)),
                                      _mm_cmpeq_epi8(block, zero));
    const uint32_t mask = static_cast<uint32_t>(_mm_movemask_epi8(hits));
    if (mask != 0) return text + i + static_cast<size_t>(__builtin_ctz(mask));
  }
#endif
  for (; i < length; ++i) {
    if (text[i] == '\n' || text[i] == '\r' || text[i] == '\0') return text + i;
  }
  return nullptr;
}

// The line at `offset` if the span holds it whole: cut at CR or LF, at most
// kLineMax bytes, cut again at a NUL.
bool LineInSpan(const FileSpan& span, uint64_t offset, const char** line, size_t* length) {
  if (offset < span.start || offset - span.start > span.length) return false;
  if (span.bytes == nullptr) return false;
  const char* begin = span.bytes + (offset - span.start);
  const size_t avail = span.length - static_cast<size_t>(offset - span.start);
  const size_t limit = std::min(avail, kLineMax);
  const char* limitEnd = begin + limit;
  const char* end = FindLineStop(begin, limit);
  // Whole when an LF or a CR stands within the limit (one after a NUL counts).
  bool whole = end != nullptr && *end != '\0';
  if (end != nullptr && !whole) {
    const size_t rest = static_cast<size_t>(limitEnd - end);
    whole = std::memchr(end, '\n', rest) != nullptr || std::memchr(end, '\r', rest) != nullptr;
  }
  if (end == nullptr) end = limitEnd;
  if (!whole && avail < kLineMax && !span.atEnd) return false;
  *line = begin;
  *length = static_cast<size_t>(end - begin);
  return true;
}

}  // namespace

ResultCode ReadIndexedLines(const MailIndex* mail, std::vector<LineRequest>* requests,
                            std::vector<char>* text) {
  if (mail == nullptr || requests == nullptr || text == nullptr) return kErrInvalidArgument;
  const size_t count = requests->size();
  // Counted into their files first, which keeps the listing's order within a
  // file (mostly offset order already: the listing goes by time); then each
  // file's requests are sorted by offset unless they are. Requests for no
  // known file share the last run.
  const size_t runs = mail->files.size() + 1;
  auto runOf = [runs](const LineRequest& request) {
    return std::min<size_t>(request.fileIndex, runs - 1);
  };
  std::vector<uint32_t> starts(runs + 1, 0);
  for (const LineRequest& request : *requests) ++starts[runOf(request) + 1];
  for (size_t run = 0; run < runs; ++run) starts[run + 1] += starts[run];
  // Each entry holds the request's offset above its index: a run sorts as
  // plain numbers.
  std::vector<uint64_t> order(count);
  {
    std::vector<uint32_t> fill(starts.begin(), starts.end() - 1);
    for (size_t i = 0; i < count; ++i) {
      order[fill[runOf((*requests)[i])]++] = (uint64_t{(*requests)[i].offset} << 32) | i;
    }
  }
  for (size_t run = 0; run < runs; ++run) {
    auto first = order.begin() + starts[run];
    auto last = order.begin() + starts[run + 1];
    if (!std::is_sorted(first, last)) std::sort(first, last);
  }
  auto requestAt = [requests, &order](size_t k) -> LineRequest& {
    return (*requests)[static_cast<uint32_t>(order[k])];
  };
  text->clear();
  FileSpan span;
  uint32_t spanFile = UINT32_MAX;
  for (size_t k = 0; k < count; ++k) {
    LineRequest& request = requestAt(k);
    request.textStart = static_cast<uint32_t>(text->size());
    request.textLength = 0;
    if (request.fileIndex >= mail->files.size()) continue;
    FILE* file = mail->files[request.fileIndex].file;
    if (file == nullptr) continue;
    const char* line = nullptr;
    size_t length = 0;
    if (FindKeptLine(mail, request.fileIndex, request.offset, &line, &length)) {
      request.textStart = kKeptTextBit | static_cast<uint32_t>(line - mail->keptText.items);
      request.textLength = static_cast<uint32_t>(length);
      continue;
    }
    if (spanFile != request.fileIndex || !LineInSpan(span, request.offset, &line, &length)) {
      // One read reaches the later lines of this file that follow each other
      // closely, within kSpanMax.
      uint64_t reach = request.offset;
      for (size_t next = k + 1; next < count; ++next) {
        const LineRequest& ahead = requestAt(next);
        if (ahead.fileIndex != request.fileIndex || ahead.offset - request.offset >= kSpanMax ||
            ahead.offset - reach > kGapMax) {
          break;
        }
        reach = ahead.offset;
      }
      // Most lines are short: the last one gets a small margin first.
      const size_t size = static_cast<size_t>(reach - request.offset) + kLoneSpan;
      ReadSpan(file, request.offset, size, &span);
      spanFile = request.fileIndex;
      if (!LineInSpan(span, request.offset, &line, &length)) {
        ReadSpan(file, request.offset, kLineMax + 1, &span);
        if (!LineInSpan(span, request.offset, &line, &length)) continue;
      }
    }
    if (text->size() + length >= kKeptTextBit) return kErrNoMemory;
    text->insert(text->end(), line, line + length);
    request.textLength = static_cast<uint32_t>(length);
  }
  return kOk;
}
