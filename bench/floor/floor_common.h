// Shared pieces of the floor programs: stand-alone, single-threaded code
// written for speed alone (large reads, a vectorised separator scan, a compact
// hash table with keys inline, partial sorts for the top lists). Nothing here
// comes from the program's own sources; the programs must not link them.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace floor_bench {

struct View {
  const char* p;
  size_t n;
};

// Calls onPiece(text, length) for every line piece the way a reader with a
// 32 768-byte fgets buffer sees it: at most 32 767 bytes with the LF, the LF
// dropped, a CR right before the end dropped too. Pieces stay valid until
// onBlockEnd() is called.
template <typename OnPiece, typename OnBlockEnd>
bool ForEachPiece(const char* path, OnPiece onPiece, OnBlockEnd onBlockEnd) {
  const int fd = open(path, O_RDONLY);
  if (fd < 0) return false;
  const size_t kBlock = size_t{4} << 20;
  const size_t kMaxPiece = 32767;
  std::vector<char> buffer(kBlock + kMaxPiece + 64);
  size_t have = 0;
  bool atEnd = false;
  while (!atEnd || have != 0) {
    if (!atEnd) {
      const ssize_t got = read(fd, buffer.data() + have, kBlock);
      if (got < 0) {
        close(fd);
        return false;
      }
      if (got == 0) atEnd = true;
      have += static_cast<size_t>(got);
    }
    const char* p = buffer.data();
    const char* end = p + have;
    for (;;) {
      const size_t avail = static_cast<size_t>(end - p);
      const size_t window = std::min(avail, kMaxPiece);
      const char* lf = static_cast<const char*>(std::memchr(p, '\n', window));
      size_t length;
      if (lf != nullptr) {
        length = static_cast<size_t>(lf - p);
      } else if (avail >= kMaxPiece || (atEnd && avail != 0)) {
        length = window;
      } else {
        break;
      }
      size_t n = length;
      if (n != 0 && p[n - 1] == '\r') --n;
      onPiece(p, n);
      p += length + (lf != nullptr ? 1 : 0);
    }
    onBlockEnd();
    have = static_cast<size_t>(end - p);
    std::memmove(buffer.data(), p, have);
    if (atEnd && have == 0) break;
  }
  close(fd);
  return true;
}

// The first `want` ';' fields of a line that ends at NUL or LF; returns how
// many the line has (up to want).
inline uint32_t Split(const char* p, size_t n, View* f, uint32_t want) {
  const char* start = p;
  const char* end = p + n;
  uint32_t count = 0;
#if defined(__SSE2__)
  const __m128i semi = _mm_set1_epi8(';');
  const __m128i zero = _mm_setzero_si128();
  const __m128i lf = _mm_set1_epi8('\n');
  while (end - p >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    unsigned stop = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, zero), _mm_cmpeq_epi8(v, lf))));
    unsigned m = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, semi)));
    if (stop) m &= (1u << __builtin_ctz(stop)) - 1;
    while (m) {
      const char* at = p + __builtin_ctz(m);
      f[count++] = View{start, static_cast<size_t>(at - start)};
      if (count == want) return count;
      start = at + 1;
      m &= m - 1;
    }
    if (stop) {
      f[count++] = View{start, static_cast<size_t>(p + __builtin_ctz(stop) - start)};
      return count;
    }
    p += 16;
  }
#endif
  for (; p < end && *p != '\0' && *p != '\n'; ++p) {
    if (*p == ';') {
      f[count++] = View{start, static_cast<size_t>(p - start)};
      if (count == want) return count;
      start = p + 1;
    }
  }
  f[count++] = View{start, static_cast<size_t>(p - start)};
  return count;
}

// Bytes up to 32 trimmed around, at most cap - 1 bytes kept before the end trim.
inline View Trim(View v, size_t cap) {
  const unsigned char* b = reinterpret_cast<const unsigned char*>(v.p);
  const unsigned char* e = b + v.n;
  while (b < e && *b <= 32) ++b;
  size_t n = std::min(static_cast<size_t>(e - b), cap - 1);
  while (n && b[n - 1] <= 32) --n;
  return View{reinterpret_cast<const char*>(b), n};
}

// Hour of a time field "HH:MM[:SS]" (already trimmed), or -1.
inline int Hour(View t) {
  const char* p = t.p;
  const size_t n = t.n;
  auto at = [p, n](size_t i) { return i < n ? p[i] : '\0'; };
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  auto blank = [](char c) { return c == ' ' || c == '\t'; };
  if (at(0) < '0' || at(0) > '2' || !digit(at(1))) return -1;
  const int h = (at(0) - '0') * 10 + (at(1) - '0');
  if (h > 23 || at(2) != ':') return -1;
  if (at(3) < '0' || at(3) > '5' || !digit(at(4))) return -1;
  if (at(5) == '\0' || blank(at(5))) return h;
  if (at(5) != ':' || at(6) < '0' || at(6) > '5' || !digit(at(7))) return -1;
  const char after = at(8);
  return (after == ';' || after == '\0' || blank(after)) ? h : -1;
}

inline int32_t SignedNumber(View v) {
  size_t i = 0;
  while (i < v.n && (v.p[i] == ' ' || v.p[i] == '\t')) ++i;
  bool neg = false;
  if (i < v.n && (v.p[i] == '-' || v.p[i] == '+')) neg = v.p[i++] == '-';
  int64_t x = 0;
  for (; i < v.n && v.p[i] >= '0' && v.p[i] <= '9'; ++i) {
    if (x <= INT32_MAX) x = x * 10 + (v.p[i] - '0');
  }
  if (neg) x = -x;
  return static_cast<int32_t>(std::clamp<int64_t>(x, INT32_MIN, INT32_MAX));
}

inline uint64_t UnsignedNumber(View v) {
  size_t i = 0;
  while (i < v.n && (v.p[i] == ' ' || v.p[i] == '\t')) ++i;
  if (i < v.n && v.p[i] == '+') ++i;
  uint64_t x = 0;
  for (; i < v.n && v.p[i] >= '0' && v.p[i] <= '9'; ++i) {
    const uint64_t d = static_cast<uint64_t>(v.p[i] - '0');
    x = x > (UINT64_MAX - d) / 10 ? UINT64_MAX : x * 10 + d;
  }
  return x;
}

inline unsigned char Up(unsigned char c) { return (c >= 'a' && c <= 'z') ? c - 32 : c; }

inline bool Is(View v, const char* word) {
  const size_t n = std::strlen(word);
  if (v.n != n) return false;
  for (size_t i = 0; i < n; ++i) {
    if (Up(static_cast<unsigned char>(v.p[i])) != static_cast<unsigned char>(word[i])) return false;
  }
  return true;
}

// Byte order with a-z as A-Z; a prefix first.
inline int KeyOrder(const char* a, size_t an, const char* b, size_t bn) {
  const size_t n = std::min(an, bn);
  for (size_t i = 0; i < n; ++i) {
    const unsigned char x = Up(static_cast<unsigned char>(a[i]));
    const unsigned char y = Up(static_cast<unsigned char>(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return an == bn ? 0 : (an < bn ? -1 : 1);
}

inline uint64_t FoldedHash(const char* p, size_t n) {
  uint64_t h = 0x9E3779B97F4A7C15ull ^ n;
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t w;
    std::memcpy(&w, p + i, 8);
    w &= ~((w & 0x4040404040404040ull) >> 1);  // clears bit 5 of letters (a-z, and some others)
    h = (h ^ w) * 0xBF58476D1CE4E5B9ull;
    h ^= h >> 31;
  }
  uint64_t w = 0;
  for (size_t k = n; k-- > i;) w = (w << 8) | static_cast<unsigned char>(p[k]);
  w &= ~((w & 0x4040404040404040ull) >> 1);
  h = (h ^ w) * 0x94D049BB133111EBull;
  return h ^ (h >> 29);
}

// Hash table: a compact slot array (hash tag and entry number, at most half
// full) over dense 64-byte entries holding the key (inline up to kInline
// bytes, else in an arena) and the caller's counters.
template <typename Counters>
class Table {
 public:
  static constexpr size_t kInline = 48 - sizeof(Counters);
  struct Entry {
    uint64_t hash;
    uint32_t length;
    uint32_t arena;  // offset of the key when longer than kInline
    Counters counters;
    char inlineKey[kInline];
    const char* Key(const std::string& arenaText) const {
      return length <= kInline ? inlineKey : arenaText.data() + arena;
    }
  };

  Table() {
    slots_.assign(size_t{1} << 12, 0);
    entries_.reserve(size_t{1} << 18);  // address space only until used
  }

  static uint64_t Hash(View key) { return FoldedHash(key.p, key.n); }

  // Brings the key's first slot into the cache.
  void PrefetchSlot(uint64_t h) const { __builtin_prefetch(&slots_[h & (slots_.size() - 1)]); }

  // Brings the entry of the first slot with the key's tag into the cache.
  void PrefetchEntry(uint64_t h) const {
    const uint32_t tag = static_cast<uint32_t>(h >> 32) | 1;
    const size_t mask = slots_.size() - 1;
    for (size_t i = h & mask;; i = (i + 1) & mask) {
      const uint64_t slot = slots_[i];
      if (slot == 0) return;
      if (static_cast<uint32_t>(slot >> 32) == tag) {
        __builtin_prefetch(&entries_[static_cast<uint32_t>(slot)]);
        return;
      }
    }
  }

  Counters& Add(View key) { return Add(key, Hash(key)); }

  Counters& Add(View key, uint64_t h) {
    const uint32_t tag = static_cast<uint32_t>(h >> 32) | 1;
    size_t mask = slots_.size() - 1;
    size_t i = h & mask;
    for (;;) {
      const uint64_t slot = slots_[i];
      if (slot == 0) break;
      if (static_cast<uint32_t>(slot >> 32) == tag) {
        Entry& e = entries_[static_cast<uint32_t>(slot)];
        if (e.length == key.n && Same(e, key)) return e.counters;
      }
      i = (i + 1) & mask;
    }
    if ((entries_.size() + 1) * 2 > slots_.size()) {
      Grow();
      mask = slots_.size() - 1;
      i = h & mask;
      while (slots_[i] != 0) i = (i + 1) & mask;
    }
    slots_[i] = (uint64_t{tag} << 32) | entries_.size();
    Entry& e = entries_.emplace_back();
    e.hash = h;
    e.length = static_cast<uint32_t>(key.n);
    e.counters = Counters{};
    if (key.n <= kInline) {
      std::memcpy(e.inlineKey, key.p, key.n);
    } else {
      e.arena = static_cast<uint32_t>(arena_.size());
      arena_.append(key.p, key.n);
    }
    return e.counters;
  }

  // The first k entries in `before` order (all when k is larger).
  template <typename Before>
  std::vector<const Entry*> Top(size_t k, Before before) const {
    std::vector<const Entry*> all;
    all.reserve(entries_.size());
    for (const Entry& e : entries_) all.push_back(&e);
    auto less = [&](const Entry* a, const Entry* b) { return before(*a, *b); };
    if (k < all.size()) {
      std::partial_sort(all.begin(), all.begin() + k, all.end(), less);
      all.resize(k);
    } else {
      std::sort(all.begin(), all.end(), less);
    }
    return all;
  }

  int Order(const Entry& a, const Entry& b) const {
    return KeyOrder(a.Key(arena_), a.length, b.Key(arena_), b.length);
  }
  const std::string& Arena() const { return arena_; }

 private:
  bool Same(const Entry& e, View key) const {
    const char* k = e.Key(arena_);
    if (std::memcmp(k, key.p, key.n) == 0) return true;
    return KeyOrder(k, key.n, key.p, key.n) == 0;
  }

  void Grow() {
    slots_.assign(slots_.size() * 2, 0);
    const size_t mask = slots_.size() - 1;
    for (size_t n = 0; n < entries_.size(); ++n) {
      const uint64_t h = entries_[n].hash;
      size_t i = h & mask;
      while (slots_[i] != 0) i = (i + 1) & mask;
      slots_[i] = (uint64_t{static_cast<uint32_t>(h >> 32) | 1} << 32) | n;
    }
  }

  std::vector<uint64_t> slots_;
  std::vector<Entry> entries_;
  std::string arena_;
};

}  // namespace floor_bench
