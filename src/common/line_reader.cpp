// Buffered line reader: one large fread buffer, lines found with memchr and
// terminated in place.
#include "common/line_reader.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__SSE2__) && defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#define VARNO_AVX2_SKIP 1
#endif

#include "common/text_match.h"
#include "platform/stream.h"

namespace {

constexpr size_t kReaderBufferSize = 256 * 1024;
constexpr size_t kFirstBlock = size_t{64} << 10;
// Bytes after a block's data that a vector scan may load (and ignore).
constexpr size_t kBlockPad = 128;

// Moves the unread bytes to the front and reads more. false on a read error.
bool FillBuffer(LineReader* reader) {
  if (reader->begin > 0) {
    const size_t avail = reader->end - reader->begin;
    std::memmove(reader->buffer, reader->buffer + reader->begin, avail);
    reader->baseOffset += reader->begin;
    reader->begin = 0;
    reader->end = avail;
  }
  const size_t room = reader->capacity - reader->end;
  const size_t got = std::fread(reader->buffer + reader->end, 1, room, reader->file);
  reader->end += got;
  if (got < room) {
    if (std::ferror(reader->file)) return false;
    if (std::feof(reader->file)) reader->atEnd = 1;
  }
  return true;
}

}  // namespace

ResultCode LineReaderInit(LineReader* reader, FILE* file, uint64_t startOffset) {
  if (reader == nullptr || file == nullptr) return kErrInvalidArgument;
  *reader = LineReader{};
  reader->buffer = static_cast<char*>(std::malloc(kReaderBufferSize + 1));
  if (reader->buffer == nullptr) return kErrNoMemory;
  reader->file = file;
  reader->capacity = kReaderBufferSize;
  reader->baseOffset = startOffset;
  return kOk;
}

int LineReaderNext(LineReader* reader, LinePiece* piece) {
  if (reader == nullptr || piece == nullptr || reader->buffer == nullptr) {
    return kErrInvalidArgument;
  }
  if (reader->heldValid) {
    reader->buffer[reader->heldIndex] = reader->heldByte;
    reader->heldValid = 0;
  }
  if (reader->failed) return kErrReadFault;
  for (;;) {
    const size_t avail = reader->end - reader->begin;
    const size_t window = avail < kLinePieceMax ? avail : kLinePieceMax;
    char* start = reader->buffer + reader->begin;
    char* lineFeed = static_cast<char*>(std::memchr(start, '\n', window));
    size_t length = 0;
    bool haveLine = true;
    if (lineFeed != nullptr) {
      length = static_cast<size_t>(lineFeed - start);
    } else if (avail >= kLinePieceMax || reader->atEnd) {
      length = window;
      if (length == 0) return 0;
    } else {
      haveLine = false;
    }
    if (!haveLine) {
      if (!FillBuffer(reader)) {
        reader->failed = 1;
        return kErrReadFault;
      }
      continue;
    }
    const size_t stop = reader->begin + length;
    if (lineFeed == nullptr && stop < reader->end) {
      reader->heldValid = 1;
      reader->heldIndex = stop;
      reader->heldByte = reader->buffer[stop];
    }
    reader->buffer[stop] = 0;
    piece->text = start;
    piece->length = length;
    piece->offset = reader->baseOffset + reader->begin;
    reader->begin = stop + (lineFeed != nullptr ? 1 : 0);
    piece->consumed = reader->baseOffset + reader->begin;
    return 1;
  }
}

void LineReaderFree(LineReader* reader) {
  if (reader == nullptr) return;
  std::free(reader->buffer);
  *reader = LineReader{};
}

ResultCode ReadLineAt(FILE* file, uint64_t offset, char* buffer, size_t capacity,
                      size_t* length) {
  if (file == nullptr || buffer == nullptr || capacity == 0) return kErrInvalidArgument;
  buffer[0] = 0;
  if (length != nullptr) *length = 0;
  if (SeekStream(file, offset) != kOk) return kErrReadFault;
  size_t limit = capacity - 1;
  if (limit > kLinePieceMax) limit = kLinePieceMax;
  size_t used = 0;
  bool sawAny = false;
  while (used < limit) {
    const int c = StreamGetByte(file);
    if (c == EOF) break;
    sawAny = true;
    if (c == '\n' || c == '\r') break;
    buffer[used++] = static_cast<char>(c);
  }
  buffer[used] = 0;
  if (length != nullptr) *length = used;
  if (!sawAny) return std::ferror(file) ? kErrReadFault : kErrNotFound;
  return kOk;
}

ResultCode ReadLineAtDirect(FILE* file, uint64_t offset, char* buffer, size_t capacity,
                            size_t* length) {
  if (file == nullptr || buffer == nullptr || capacity == 0) return kErrInvalidArgument;
  buffer[0] = 0;
  if (length != nullptr) *length = 0;
  const size_t limit = std::min(capacity - 1, kLinePieceMax);
  size_t used = 0;
  ResultCode result = kOk;
  // Lines are short: the first read nearly always holds the whole line.
  for (size_t step = 512; used < limit; step *= 2) {
    const size_t wanted = std::min(step, limit - used);
    size_t got = 0;
    result = ReadStreamAt(file, offset + used, buffer + used, wanted, &got);
    if (result != kOk) break;
    const size_t before = used;
    for (; used < before + got; ++used) {
      if (buffer[used] == '\n' || buffer[used] == '\r') {
        buffer[used] = 0;
        if (length != nullptr) *length = used;
        return kOk;
      }
    }
    if (got < wanted) {
      if (used == 0) {
        buffer[0] = 0;
        return kErrNotFound;
      }
      break;
    }
  }
  buffer[used] = 0;
  if (length != nullptr) *length = used;
  if (used == 0 && result != kOk) return kErrReadFault;
  return kOk;
}

ResultCode BlockLineReaderInit(BlockLineReader* reader, FILE* file, size_t size) {
  if (reader == nullptr || file == nullptr) return kErrInvalidArgument;
  *reader = BlockLineReader{};
  reader->file = file;
  reader->capacity = size < kFirstBlock ? kFirstBlock : size;
  for (int i = 0; i < 2; ++i) {
    reader->blocks[i] = static_cast<char*>(std::malloc(kFirstBlock + kBlockPad));
    if (reader->blocks[i] == nullptr) return kErrNoMemory;
    reader->sizes[i] = kFirstBlock;
  }
  return kOk;
}

namespace {

// Moves the unread bytes to the front of the other block and reads after
// them. false on a read error.
bool FillOtherBlock(BlockLineReader* reader) {
  const int next = 1 - reader->current;
  // A file that goes on past a block is read in larger ones: the other
  // block holds no piece anyone may still read, so it can move.
  const size_t wanted = std::min(reader->capacity, reader->sizes[reader->current] * 2);
  if (reader->fills >= 1 && reader->sizes[next] < wanted) {
    void* grown = std::realloc(reader->blocks[next], wanted + kBlockPad);
    if (grown == nullptr) return false;
    reader->blocks[next] = static_cast<char*>(grown);
    reader->sizes[next] = wanted;
  }
  const size_t kept = reader->end - reader->begin;
  std::memcpy(reader->blocks[next], reader->blocks[reader->current] + reader->begin, kept);
  const uint64_t base = reader->baseOffset + reader->begin;
  size_t got = 0;
  if (ReadStreamAt(reader->file, base + kept, reader->blocks[next] + kept,
                   reader->sizes[next] - kept, &got) != kOk) {
    return false;
  }
  // The pad after the data reads as zeros to the vector scans.
  std::memset(reader->blocks[next] + kept + got, 0, kBlockPad);
  reader->current = next;
  reader->baseOffset = base;
  reader->begin = 0;
  reader->end = kept + got;
  reader->atEnd = got < reader->sizes[next] - kept;
  ++reader->fills;
  return true;
}

}  // namespace

namespace {

// Hands out the next `length` bytes as a piece, with the LF after them when
// there is one.
void TakePiece(BlockLineReader* reader, size_t length, bool lineFeed, LineView* piece) {
  piece->text = reader->blocks[reader->current] + reader->begin;
  piece->length = length;
  piece->offset = reader->baseOffset + reader->begin;
  reader->begin += length + (lineFeed ? 1 : 0);
  piece->consumed = reader->baseOffset + reader->begin;
  piece->block = reader->fills;
}

#if defined(VARNO_AVX2_SKIP)
bool gAvx2Allowed = true;

bool HaveAvx2() {
  static const bool have = __builtin_cpu_supports("avx2") != 0;
  return have && gAvx2Allowed;
}

// ScanPiece with 32-byte vectors; the same result.
__attribute__((target("avx2,bmi"))) size_t ScanPieceAvx2(const char* text, size_t window, char separator,
                                                          uint32_t wanted, PieceFields* fields) {
  fields->count = 0;
  const __m256i separators = _mm256_set1_epi8(separator);
  const __m256i lineFeeds = _mm256_set1_epi8('\n');
  const __m256i zeros = _mm256_setzero_si256();
  size_t i = 0;
  for (; i < window && fields->count < wanted; i += 32) {
    const __m256i block = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(text + i));
    const uint32_t valid = window - i >= 32 ? ~0u : (1u << (window - i)) - 1;
    const uint32_t stops = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_or_si256(
                               _mm256_cmpeq_epi8(block, lineFeeds), _mm256_cmpeq_epi8(block, zeros)))) &
                           valid;
    const uint32_t before = stops != 0 ? (1u << __builtin_ctz(stops)) - 1 : valid;
    for (uint32_t marks = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(block, separators))) & before;
         marks != 0 && fields->count < wanted; marks &= marks - 1) {
      fields->at[fields->count++] = static_cast<uint32_t>(i + static_cast<size_t>(__builtin_ctz(marks)));
    }
    if (stops != 0) {
      const size_t at = i + static_cast<size_t>(__builtin_ctz(stops));
      fields->length = at;
      fields->nulSought = true;
      if (text[at] == '\n') return at;
      const void* lineFeed = std::memchr(text + at, '\n', window - at);
      return lineFeed != nullptr ? static_cast<size_t>(static_cast<const char*>(lineFeed) - text) : window;
    }
  }
  size_t stop = window;
  for (; i < window; i += 32) {
    const __m256i block = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(text + i));
    const uint32_t valid = window - i >= 32 ? ~0u : (1u << (window - i)) - 1;
    const uint32_t ends = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(block, lineFeeds))) & valid;
    if (ends != 0) {
      stop = i + static_cast<size_t>(__builtin_ctz(ends));
      break;
    }
  }
  fields->length = stop;
  fields->nulSought = false;
  return stop;
}
#endif

// The index of the first LF of text[0, window), or window when there is
// none. fields gets the first `wanted` separators before the first NUL, and
// the length up to that NUL when it was sought: past the wanted separators
// only the LF is. The vector loop loads up to 31 bytes past the window (the
// block's pad).
size_t ScanPiece(const char* text, size_t window, char separator, uint32_t wanted,
                 PieceFields* fields) {
#if defined(VARNO_AVX2_SKIP)
  if (HaveAvx2()) return ScanPieceAvx2(text, window, separator, wanted, fields);
#endif
  fields->count = 0;
  // A stop at `at`: the LF ends both; a NUL ends the fields, and the piece
  // goes on to its LF.
  auto stopAt = [text, window, fields](size_t at) {
    fields->length = at;
    fields->nulSought = true;
    if (text[at] == '\n') return at;
    const void* lineFeed = std::memchr(text + at, '\n', window - at);
    return lineFeed != nullptr ? static_cast<size_t>(static_cast<const char*>(lineFeed) - text)
                               : window;
  };
  size_t i = 0;
#if defined(__SSE2__)
  const __m128i separators = _mm_set1_epi8(separator);
  const __m128i lineFeeds = _mm_set1_epi8('\n');
  const __m128i zeros = _mm_setzero_si128();
  auto mask = [](__m128i a, __m128i b, __m128i wanted) {
    return static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(a, wanted))) |
           (static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(b, wanted))) << 16);
  };
  for (; i < window && fields->count < wanted; i += 32) {
    const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
    const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i + 16));
    const uint32_t valid = window - i >= 32 ? ~0u : (1u << (window - i)) - 1;
    // One mask of line ends and NULs: a NUL is rare, the LF comes once.
    const __m128i stopLow =
        _mm_or_si128(_mm_cmpeq_epi8(low, lineFeeds), _mm_cmpeq_epi8(low, zeros));
    const __m128i stopHigh =
        _mm_or_si128(_mm_cmpeq_epi8(high, lineFeeds), _mm_cmpeq_epi8(high, zeros));
    const uint32_t stops = (static_cast<uint32_t>(_mm_movemask_epi8(stopLow)) |
                            (static_cast<uint32_t>(_mm_movemask_epi8(stopHigh)) << 16)) &
                           valid;
    const uint32_t before = stops != 0 ? (1u << __builtin_ctz(stops)) - 1 : valid;
    for (uint32_t marks = mask(low, high, separators) & before;
         marks != 0 && fields->count < wanted; marks &= marks - 1) {
      fields->at[fields->count++] =
          static_cast<uint32_t>(i + static_cast<size_t>(__builtin_ctz(marks)));
    }
    if (stops != 0) return stopAt(i + static_cast<size_t>(__builtin_ctz(stops)));
  }
#else
  for (; i < window && fields->count < wanted; ++i) {
    if (text[i] == '\n' || text[i] == '\0') return stopAt(i);
    if (text[i] == separator) fields->at[fields->count++] = static_cast<uint32_t>(i);
  }
#endif
  // The wanted separators are found: the rest of the piece needs only its
  // end, which is near (a call to memchr costs more than this loop).
  size_t stop = window;
#if defined(__SSE2__)
  for (; i < window; i += 32) {
    const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
    const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i + 16));
    const uint32_t valid = window - i >= 32 ? ~0u : (1u << (window - i)) - 1;
    const uint32_t ends = mask(low, high, lineFeeds) & valid;
    if (ends != 0) {
      stop = i + static_cast<size_t>(__builtin_ctz(ends));
      break;
    }
  }
#else
  const void* lineFeed = std::memchr(text + i, '\n', window - i);
  if (lineFeed != nullptr) stop = static_cast<size_t>(static_cast<const char*>(lineFeed) - text);
#endif
  fields->length = stop;
  fields->nulSought = false;
  return stop;
}

}  // namespace

int BlockLineReaderNextSplit(BlockLineReader* reader, char separator, uint32_t wanted,
                             LineView* piece, PieceFields* fields) {
  if (reader == nullptr || piece == nullptr || fields == nullptr || reader->blocks[1] == nullptr) {
    return kErrInvalidArgument;
  }
  for (;;) {
    const size_t avail = reader->end - reader->begin;
    const size_t window = avail < kLinePieceMax ? avail : kLinePieceMax;
    const char* start = reader->blocks[reader->current] + reader->begin;
    const size_t stop =
        ScanPiece(start, window, separator, std::min(wanted, kPieceSeparatorsMax), fields);
    const bool lineFeed = stop < window;
    if (!lineFeed && avail < kLinePieceMax && !reader->atEnd) {
      if (!FillOtherBlock(reader)) return kErrReadFault;
      continue;
    }
    if (stop == 0 && !lineFeed) return 0;
    TakePiece(reader, stop, lineFeed, piece);
    return 1;
  }
}

void CompletePieceFields(const char* text, char separator, PieceFields* fields) {
  const size_t from = fields->count == 0 ? 0 : fields->at[fields->count - 1] + 1;
  if (from > fields->length) return;
  // The split stops at a NUL; when it stops at its field limit instead, the
  // NUL is sought past it.
  TextView views[kPieceSeparatorsMax + 1];
  const uint32_t room = kPieceSeparatorsMax - fields->count;
  const uint32_t found =
      SplitFields(text + from, fields->length - from, separator, views, room + 1);
  auto endOf = [text](const TextView& view) {
    return static_cast<size_t>(view.text + view.length - text);
  };
  for (uint32_t i = 0; i + 1 < found; ++i) {
    fields->at[fields->count++] = static_cast<uint32_t>(endOf(views[i]));
  }
  size_t end = found == 0 ? from : endOf(views[found - 1]);
  if (found == room + 1 && end < fields->length) {
    const void* nul = std::memchr(text + end, '\0', fields->length - end);
    if (nul == nullptr) {
      end = fields->length;
    } else {
      end = static_cast<size_t>(static_cast<const char*>(nul) - text);
    }
  }
  fields->length = end;
  fields->nulSought = true;
}

void BlockLineReaderFree(BlockLineReader* reader) {
  if (reader == nullptr) return;
  for (char* block : reader->blocks) std::free(block);
  *reader = BlockLineReader{};
}

namespace {

#if defined(__SSE2__)
// The bits of 64 bytes from four byte masks.
inline uint64_t Bits64(__m128i a, __m128i b, __m128i c, __m128i d) {
  return static_cast<uint64_t>(static_cast<uint32_t>(_mm_movemask_epi8(a))) |
         static_cast<uint64_t>(static_cast<uint32_t>(_mm_movemask_epi8(b))) << 16 |
         static_cast<uint64_t>(static_cast<uint32_t>(_mm_movemask_epi8(c))) << 32 |
         static_cast<uint64_t>(static_cast<uint32_t>(_mm_movemask_epi8(d))) << 48;
}

// Whether a byte may stand next to a word's field: a separator, a byte up to
// 32, or (more than needed, which only costs a look) one of 128 and above.
inline bool BoundsWord(char c, char separator) {
  return static_cast<signed char>(c) < 33 || c == separator;
}

// Whether one of the words stands at text[at] as a whole field (the byte
// before it was looked at by the mask already).
bool WordAt(const char* text, size_t at, const LineWords& words, char separator) {
  for (uint32_t w = 0; w < words.count; ++w) {
    const char* word = words.words[w];
    size_t k = 0;
    while (word[k] != '\0' && (text[at + k] | 0x20) == word[k]) ++k;
    if (word[k] == '\0' && BoundsWord(text[at + k], separator)) return true;
  }
  return false;
}

// The lines of a skip so far.
struct SkipState {
  const char* text;
  size_t lineStart;  // of the first line not skipped
  uint32_t skipped;
  uint32_t limit;
};

// Takes the lines that end in the 64 bytes at pos up to the first candidate
// that holds a word; false when the skip ends there (a word, the limit, or
// a line that may not come as one piece).
inline bool TakeChunk(SkipState* state, size_t pos, uint64_t lineEnds, uint64_t candidates,
                      const LineWords& words, char separator) {
  bool stop = false;
  for (; candidates != 0; candidates &= candidates - 1) {
    const uint32_t at = static_cast<uint32_t>(__builtin_ctzll(candidates));
    if (WordAt(state->text, pos + at, words, separator)) {
      lineEnds &= (uint64_t{1} << at) - 1;
      stop = true;
      break;
    }
  }
  for (; lineEnds != 0; lineEnds &= lineEnds - 1) {
    const size_t at = pos + static_cast<size_t>(__builtin_ctzll(lineEnds));
    if (state->skipped == state->limit || at - state->lineStart >= kLinePieceMax) return false;
    ++state->skipped;
    state->lineStart = at + 1;
  }
  return !stop && pos + 64 - state->lineStart < kLinePieceMax;
}

// Candidates: a bound, then a word's first letter, and its last letter where
// it belongs; the scan below takes letters and bounds as bit masks, the AVX2
// scan takes the letters in its vectors.
void SkipScanSse2(SkipState* state, size_t end, const LineWords& words, char separator) {
  const uint32_t count = words.count;
  uint32_t lengths[kLineWordsMax];
  for (uint32_t w = 0; w < count; ++w) lengths[w] = static_cast<uint32_t>(std::strlen(words.words[w]));
  const __m128i lineFeeds = _mm_set1_epi8('\n');
  const __m128i separators = _mm_set1_epi8(separator);
  const __m128i blanks = _mm_set1_epi8(33);
  const __m128i fold = _mm_set1_epi8(0x20);
  uint64_t carry = 1;  // the byte before the 64 looked at bounds a word: a line start does
  for (size_t pos = state->lineStart; pos < end; pos += 64) {
    __m128i v[4];
    for (int k = 0; k < 4; ++k) v[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state->text + pos + 16 * k));
    const uint64_t valid = end - pos >= 64 ? ~uint64_t{0} : (uint64_t{1} << (end - pos)) - 1;
    const uint64_t lineEnds =
        Bits64(_mm_cmpeq_epi8(v[0], lineFeeds), _mm_cmpeq_epi8(v[1], lineFeeds),
               _mm_cmpeq_epi8(v[2], lineFeeds), _mm_cmpeq_epi8(v[3], lineFeeds)) & valid;
    __m128i b[4];
    for (int k = 0; k < 4; ++k) {
      b[k] = _mm_or_si128(_mm_cmplt_epi8(v[k], blanks), _mm_cmpeq_epi8(v[k], separators));
      v[k] = _mm_or_si128(v[k], fold);
    }
    const uint64_t bounds = Bits64(b[0], b[1], b[2], b[3]);
    const uint64_t before = bounds << 1 | carry;
    carry = bounds >> 63;
    uint64_t candidates = 0;
    for (uint32_t w = 0; w < count; ++w) {
      const __m128i first = _mm_set1_epi8(words.words[w][0]);
      const __m128i last = _mm_set1_epi8(words.words[w][lengths[w] - 1]);
      __m128i m[4];
      for (int k = 0; k < 4; ++k) {
        const __m128i tail = _mm_or_si128(
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(state->text + pos + 16 * k + lengths[w] - 1)), fold);
        m[k] = _mm_and_si128(_mm_cmpeq_epi8(v[k], first), _mm_cmpeq_epi8(tail, last));
      }
      candidates |= Bits64(m[0], m[1], m[2], m[3]);
    }
    if (!TakeChunk(state, pos, lineEnds, candidates & before & valid, words, separator)) return;
  }
}
#endif

#if defined(VARNO_AVX2_SKIP)
// Lines that hold no candidate are counted a chunk at a time.
template <uint32_t kWords>
__attribute__((target("avx2,popcnt,lzcnt,bmi"))) void SkipScanAvx2(SkipState* state, size_t end,
                                                                    const LineWords& words,
                                                                    char separator) {
  __m256i firsts[kWords];
  __m256i lasts[kWords];
  size_t tails[kWords];
  for (uint32_t w = 0; w < kWords; ++w) {
    tails[w] = std::strlen(words.words[w]) - 1;
    firsts[w] = _mm256_set1_epi8(words.words[w][0]);
    lasts[w] = _mm256_set1_epi8(words.words[w][tails[w]]);
  }
  const __m256i lineFeeds = _mm256_set1_epi8('\n');
  const __m256i separators = _mm256_set1_epi8(separator);
  const __m256i blanks = _mm256_set1_epi8(33);
  const __m256i fold = _mm256_set1_epi8(0x20);
  uint64_t carry = 1;
  for (size_t pos = state->lineStart; pos < end; pos += 64) {
    uint64_t lineEnds = 0;
    uint64_t candidates = 0;
    for (int half = 0; half < 2; ++half) {
      const char* at = state->text + pos + 32 * half;
      const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
      const __m256i folded = _mm256_or_si256(v, fold);
      __m256i found = _mm256_setzero_si256();
      for (uint32_t w = 0; w < kWords; ++w) {
        const __m256i tail = _mm256_or_si256(
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + tails[w])), fold);
        found = _mm256_or_si256(found, _mm256_and_si256(_mm256_cmpeq_epi8(folded, firsts[w]),
                                                        _mm256_cmpeq_epi8(tail, lasts[w])));
      }
      const uint32_t shift = 32 * static_cast<uint32_t>(half);
      lineEnds |= static_cast<uint64_t>(static_cast<uint32_t>(
                      _mm256_movemask_epi8(_mm256_cmpeq_epi8(v, lineFeeds)))) << shift;
      candidates |= static_cast<uint64_t>(static_cast<uint32_t>(_mm256_movemask_epi8(found))) << shift;
    }
    const uint64_t valid = end - pos >= 64 ? ~uint64_t{0} : (uint64_t{1} << (end - pos)) - 1;
    lineEnds &= valid;
    candidates &= valid;
    if (candidates != 0) {
      // The bounds before the letters, only where letters stand.
      uint64_t bounds = 0;
      for (int half = 0; half < 2; ++half) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(state->text + pos + 32 * half));
        bounds |= static_cast<uint64_t>(static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_or_si256(
                      _mm256_cmpgt_epi8(blanks, v), _mm256_cmpeq_epi8(v, separators)))))
                  << (32 * half);
      }
      candidates &= bounds << 1 | carry;
      carry = bounds >> 63;
    } else {
      carry = 1;  // not looked at: assumed a bound
    }
    if (candidates == 0) {
      // Without branches on whether a line ends here (about every other
      // chunk): no LF puts `first` at the chunk's end, which then checks
      // that the open line may still come as one piece.
      const uint32_t lines = static_cast<uint32_t>(_mm_popcnt_u64(lineEnds));
      const size_t first = pos + static_cast<size_t>(_tzcnt_u64(lineEnds));
      const size_t next = pos + 64 - static_cast<size_t>(_lzcnt_u64(lineEnds));
      if (state->limit - state->skipped >= lines && first - state->lineStart < kLinePieceMax) {
        state->skipped += lines;
        state->lineStart = lineEnds != 0 ? next : state->lineStart;
        continue;
      }
    }
    if (!TakeChunk(state, pos, lineEnds, candidates, words, separator)) return;
  }
}

#endif

}  // namespace

void BlockLineReaderAllowAvx2(bool allowed) {
#if defined(VARNO_AVX2_SKIP)
  gAvx2Allowed = allowed;
#else
  (void)allowed;
#endif
}

uint32_t BlockLineReaderSkip(BlockLineReader* reader, char separator, const LineWords& words,
                             uint32_t limit) {
  if (reader == nullptr || reader->blocks[1] == nullptr || words.count > kLineWordsMax) return 0;
  for (uint32_t w = 0; w < words.count; ++w) {
    const size_t length = std::strlen(words.words[w]);
    if (length < 2 || length > kLineWordMax) return 0;
  }
#if defined(__SSE2__)
  SkipState state{reader->blocks[reader->current], reader->begin, 0, limit};
#if defined(VARNO_AVX2_SKIP)
  if (HaveAvx2() && words.count > 0) {
    switch (words.count) {
      case 1: SkipScanAvx2<1>(&state, reader->end, words, separator); break;
      case 2: SkipScanAvx2<2>(&state, reader->end, words, separator); break;
      case 3: SkipScanAvx2<3>(&state, reader->end, words, separator); break;
      case 4: SkipScanAvx2<4>(&state, reader->end, words, separator); break;
      case 5: SkipScanAvx2<5>(&state, reader->end, words, separator); break;
      case 6: SkipScanAvx2<6>(&state, reader->end, words, separator); break;
      case 7: SkipScanAvx2<7>(&state, reader->end, words, separator); break;
      default: SkipScanAvx2<kLineWordsMax>(&state, reader->end, words, separator); break;
    }
  } else {
    SkipScanSse2(&state, reader->end, words, separator);
  }
#else
  SkipScanSse2(&state, reader->end, words, separator);
#endif
  reader->begin = state.lineStart;
  return state.skipped;
#else
  (void)separator;
  (void)limit;
  return 0;
#endif
}
