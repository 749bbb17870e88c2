// Floor for varno --webstat="" --outform=summary: the same result file, byte
// for byte, for the proxy logs "kelbYYYYMMDD.log" of a directory.
//   webstat_floor LOGDIR
// The transaction rules are all here: open transactions by id (at most 10000
// records or 800000 bytes, the oldest fifth dropped when full), proxy resets,
// finished and open transactions, the re-parse of the day before for
// transactions only seen through traffic, top lists with their tie order, the
// counters and the 15-minute series.
#include <dirent.h>

#include <map>

#include "floor_common.h"

using namespace floor_bench;

namespace {

constexpr uint64_t kTicksPerSecond = 10000000ull;
constexpr uint64_t kTicksPerDay = 86400ull * kTicksPerSecond;
constexpr uint64_t kQuantum = 15ull * 60 * kTicksPerSecond;

// ---- small parsers ----------------------------------------------------------

View Field(const View* f, uint32_t count, uint32_t number) {
  return number - 1 < count ? f[number - 1] : View{"", 0};
}

bool Digit(char c) { return c >= '0' && c <= '9'; }

// Time of day of a trimmed field, in ticks; false when it does not parse.
bool TimeOfDay(View t, uint64_t* ticks) {
  auto at = [t](size_t i) { return i < t.n ? t.p[i] : '\0'; };
  auto blank = [](char c) { return c == ' ' || c == '\t'; };
  size_t i = 0;
  while (blank(at(i))) ++i;
  if (at(i) < '0' || at(i) > '2' || !Digit(at(i + 1))) return false;
  const uint64_t h = static_cast<uint64_t>((at(i) - '0') * 10 + (at(i + 1) - '0'));
  if (h > 23 || at(i + 2) != ':') return false;
  i += 3;
  if (at(i) < '0' || at(i) > '5' || !Digit(at(i + 1))) return false;
  const uint64_t m = static_cast<uint64_t>((at(i) - '0') * 10 + (at(i + 1) - '0'));
  i += 2;
  uint64_t s = 0;
  if (at(i) != '\0' && !blank(at(i))) {
    if (at(i) != ':' || at(i + 1) < '0' || at(i + 1) > '5' || !Digit(at(i + 2))) return false;
    s = static_cast<uint64_t>((at(i + 1) - '0') * 10 + (at(i + 2) - '0'));
    const char after = at(i + 3);
    if (after != ';' && after != '\0' && !blank(after)) return false;
  }
  *ticks = ((h * 60 + m) * 60 + s) * kTicksPerSecond;
  return true;
}

struct HexTable {
  int8_t v[256];
  HexTable() {
    for (int c = 0; c < 256; ++c) {
      v[c] = static_cast<int8_t>(c >= '0' && c <= '9'   ? c - '0'
                                 : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                 : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                        : -1);
    }
  }
};
const HexTable kHex;

int Hex(char c) { return kHex.v[static_cast<unsigned char>(c)]; }

struct Id {
  uint8_t b[20];
};

Id DecodeId(View v) {
  Id id{};
  if (v.n >= 40) {
    // Forty hexadecimal digits, as nearly every id is.
    int bad = 0;
    for (int i = 0; i < 20; ++i) {
      const int high = Hex(v.p[2 * i]);
      const int low = Hex(v.p[2 * i + 1]);
      bad |= high | low;
      id.b[i] = static_cast<uint8_t>((high << 4) | low);
    }
    if (bad >= 0) return id;
    id = Id{};
  }
  size_t k = 0;
  for (int i = 0; i < 20; ++i) {
    if (k >= v.n) break;
    const int high = Hex(v.p[k]);
    if (high < 0) {
      id.b[i] = 0;
    } else {
      const int low = k + 1 < v.n ? Hex(v.p[k + 1]) : -1;
      id.b[i] = static_cast<uint8_t>(low < 0 ? high << 4 : (high << 4) | low);
    }
    if (k + 1 >= v.n) break;
    k += 2;
  }
  return id;
}

// A size field in bytes: "-" is 0, else strtoll's reading of it times 1024.
uint64_t Size(View v) {
  size_t i = 0;
  if (v.n == 1 && v.p[0] == '-') return 0;
  bool negative = false;
  if (i < v.n && (v.p[i] == '-' || v.p[i] == '+')) negative = v.p[i++] == '-';
  const uint64_t limit = negative ? uint64_t{1} << 63 : uint64_t{INT64_MAX};
  uint64_t x = 0;
  for (; i < v.n && Digit(v.p[i]); ++i) {
    const uint64_t d = static_cast<uint64_t>(v.p[i] - '0');
    x = x > (limit - d) / 10 ? limit : x * 10 + d;
  }
  return (negative ? uint64_t{0} - x : x) * 1024u;
}

// strtoul on a copy of the field (the C notation of the category masks).
uint32_t Unsigned(const char* text, size_t n, int base, const char** rest) {
  char copy[64];
  if (n >= sizeof copy) {
    std::string big(text, n);
    char* end = nullptr;
    const uint32_t value = static_cast<uint32_t>(std::strtoul(big.c_str(), &end, base));
    *rest = text + (end - big.c_str());
    return value;
  }
  std::memcpy(copy, text, n);
  copy[n] = '\0';
  char* end = nullptr;
  const uint32_t value = static_cast<uint32_t>(std::strtoul(copy, &end, base));
  *rest = text + (end - copy);
  return value;
}

void Categories(View v, uint32_t* first, uint32_t* second) {
  *second = 0;
  // The usual forms: "0", "12", "0x10", "0x10, 0x2".
  const char* rest = nullptr;
  *first = Unsigned(v.p, v.n, 0, &rest);
  const char* end = v.p + v.n;
  while (rest < end && (*rest == ' ' || *rest == '\t')) ++rest;
  if (rest >= end || *rest != ',') return;
  ++rest;
  while (rest < end && (*rest == ' ' || *rest == '\t')) ++rest;
  *second = Unsigned(rest, static_cast<size_t>(end - rest), 0, &rest);
}

uint32_t Reason(View word) {
  static const char* const kWords[] = {"VIRUS", "CONTENT", "BANNED", "NOTALLOWED",
                                       "BANCON", "SITE", "PHISHING"};
  if (word.n == 0) return 0;
  for (uint32_t i = 0; i < 7; ++i) {
    if (Is(word, kWords[i])) return 1u << i;
  }
  return 0;
}

// ---- calendar -----------------------------------------------------------------

// Days since 1601-01-01 of a civil date.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468 + 134774;
}

void CivilFromTicks(uint64_t ticks, unsigned* y, unsigned* m, unsigned* d, unsigned* hh,
                    unsigned* mm) {
  const int64_t z = static_cast<int64_t>(ticks / kTicksPerDay) - 134774 + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *d = doy - (153 * mp + 2) / 5 + 1;
  *m = mp < 10 ? mp + 3 : mp - 9;
  *y = static_cast<unsigned>(static_cast<int64_t>(yoe) + era * 400 + (*m <= 2));
  const uint64_t minutes = ticks % kTicksPerDay / (60 * kTicksPerSecond);
  *hh = static_cast<unsigned>(minutes / 60);
  *mm = static_cast<unsigned>(minutes % 60);
}

// ---- summary ----------------------------------------------------------------------

struct TopCounters {
  uint64_t volume, hits, blocked, wfHits, wfAllHits;
  uint64_t reasons[8];
};

// Names ignoring ASCII case; the first spelling is kept. `order` is the
// order the lists start from: the byte sum (a-z as A-Z, signed bytes), then
// the names ignoring case.
template <typename Counters>
class Keyed {
 public:
  struct Entry {
    std::string name;
    uint64_t hash;
    uint32_t sum;
    Counters c;
  };

  Counters& Add(const char* p, size_t n) {
    const uint64_t h = FoldedHash(p, n);
    if ((entries_.size() + 1) * 2 > slots_.size()) Grow();
    const size_t mask = slots_.size() - 1;
    size_t i = h & mask;
    const uint32_t tag = static_cast<uint32_t>(h >> 32) | 1;
    for (;; i = (i + 1) & mask) {
      const uint64_t slot = slots_[i];
      if (slot == 0) break;
      if (static_cast<uint32_t>(slot >> 32) == tag) {
        Entry& e = entries_[static_cast<uint32_t>(slot)];
        if (e.hash == h && e.name.size() == n &&
            (std::memcmp(e.name.data(), p, n) == 0 || KeyOrder(e.name.data(), n, p, n) == 0)) {
          return e.c;
        }
      }
    }
    slots_[i] = (uint64_t{tag} << 32) | entries_.size();
    Entry& e = entries_.emplace_back();
    e.name.assign(p, n);
    e.hash = h;
    uint32_t sum = 0;
    for (size_t k = 0; k < n; ++k) {
      sum += static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(Up(static_cast<unsigned char>(p[k])))));
    }
    e.sum = sum;
    e.c = Counters{};
    hashes_.push_back(h);
    return e.c;
  }

  std::vector<Entry*> InTableOrder() {
    std::vector<Entry*> all;
    for (Entry& e : entries_) all.push_back(&e);
    std::sort(all.begin(), all.end(), [](const Entry* a, const Entry* b) {
      if (a->sum != b->sum) return a->sum < b->sum;
      return KeyOrder(a->name.data(), a->name.size(), b->name.data(), b->name.size()) < 0;
    });
    return all;
  }

 private:
  void Grow() {
    slots_.assign(slots_.empty() ? 64 : slots_.size() * 2, 0);
    const size_t mask = slots_.size() - 1;
    for (size_t k = 0; k < entries_.size(); ++k) {
      size_t i = hashes_[k] & mask;
      while (slots_[i] != 0) i = (i + 1) & mask;
      slots_[i] = (uint64_t{static_cast<uint32_t>(hashes_[k] >> 32) | 1} << 32) | k;
    }
  }
  std::vector<uint64_t> slots_;
  std::vector<Entry> entries_;
  std::vector<uint64_t> hashes_;
};

// The writer's heap sort (ties fall where it leaves them), larger first by
// `before` returning > 0.
template <typename T, typename Order>
void HeapSort(std::vector<T>& v, Order order) {
  const size_t count = v.size();
  auto sift = [&](size_t root, size_t n) {
    for (;;) {
      size_t largest = root;
      const size_t left = 2 * root + 1;
      const size_t right = left + 1;
      if (left < n && order(v[left], v[largest]) > 0) largest = left;
      if (right < n && order(v[right], v[largest]) > 0) largest = right;
      if (largest == root) return;
      std::swap(v[root], v[largest]);
      root = largest;
    }
  };
  if (count < 2) return;
  for (size_t root = count / 2; root-- > 0;) sift(root, count);
  for (size_t end = count - 1; end > 0; --end) {
    std::swap(v[0], v[end]);
    sift(0, end);
  }
}

struct Bucket {
  uint64_t volume, count, wfHits, blocked;
  uint64_t reasons[8];
};

struct Summary {
  uint64_t totalVolume = 0;
  Keyed<TopCounters> users, ips, hosts;
  struct Count {
    uint64_t n;
  };
  Keyed<Count> codes, viruses, categories, allCategories;
  std::map<uint64_t, Bucket> series;
  uint64_t lastStep = ~0ull;
  Bucket* last = nullptr;

  void AddTop(Keyed<TopCounters>& list, const char* name, uint64_t volume, uint64_t blocked,
              uint64_t wf, uint64_t wfAll, uint32_t reason) {
    TopCounters& c = list.Add(name, std::strlen(name));
    c.volume += volume;
    c.hits += 1;
    c.blocked += blocked;
    c.wfHits += wf;
    c.wfAllHits += wfAll;
    if (blocked != 0) {
      for (uint32_t i = 0; i < 8; ++i) c.reasons[i] += (reason >> i) & 1;
    }
  }

  void AddRecord(const char* user, const char* host, const char* ip, const char* code,
                 uint64_t volume, uint32_t reason, uint32_t cat1, uint32_t cat2,
                 const char* detail) {
    totalVolume += volume;
    const uint64_t blocked = reason != 0;
    const uint64_t wf = cat1 != 0;
    const uint64_t wfAll = cat2 != 0;
    AddTop(ips, ip, volume, blocked, wf, wfAll, reason);
    AddTop(users, user, volume, blocked, wf, wfAll, reason);
    AddTop(hosts, host, volume, blocked, wf, wfAll, reason);
    if (code != nullptr) ++codes.Add(code, std::strlen(code)).n;
    AddBits(categories, cat1);
    AddBits(allCategories, cat2);
    if (reason & 1) ++viruses.Add(detail, std::strlen(detail)).n;
  }

  static void AddBits(Keyed<Count>& table, uint32_t bits) {
    static const struct Keys {
      char text[32][11];
      Keys() {
        for (int i = 0; i < 32; ++i) std::snprintf(text[i], sizeof text[i], "0x%08x", 1u << i);
      }
    } kKeys;
    for (; bits != 0; bits &= bits - 1) ++table.Add(kKeys.text[__builtin_ctz(bits)], 10).n;
  }

  void AddSeries(uint32_t reason, uint64_t time, uint64_t count, uint64_t volume, uint32_t cat1) {
    const uint64_t step = time / kQuantum;
    if (step != lastStep) {
      last = &series[step * kQuantum];
      lastStep = step;
    }
    last->volume += volume;
    last->count += count;
    if (reason != 0) {
      ++last->blocked;
      for (uint32_t i = 0; i < 8; ++i) last->reasons[i] += (reason >> i) & 1;
    }
    if (cat1 != 0) ++last->wfHits;
  }
};

uint64_t Metric(const TopCounters& c, int metric) {
  switch (metric) {
    case 0: return c.volume;
    case 1: return c.hits;
    case 2: return c.blocked;
    case 3: return c.reasons[0];
    case 4: return c.wfHits;
    default: return c.wfAllHits;
  }
}

int Descending(uint64_t a, uint64_t b) { return a > b ? -1 : (a < b ? 1 : 0); }

void WriteTopBlock(FILE* out, Keyed<TopCounters>& list, const char* const keys[6], size_t top) {
  static const int kMetrics[6] = {1, 0, 2, 3, 4, 5};
  static const uint64_t kMinimum[6] = {1, 0, 1, 1, 1, 1};
  auto order = list.InTableOrder();
  for (int s = 0; s < 6; ++s) {
    const int metric = kMetrics[s];
    HeapSort(order, [metric](const auto* a, const auto* b) {
      const TopCounters& x = a->c;
      const TopCounters& y = b->c;
      int r = Descending(Metric(x, metric), Metric(y, metric));
      if (r == 0) r = Descending(x.hits, y.hits);
      if (r == 0) r = Descending(x.blocked, y.blocked);
      if (r == 0) r = Descending(x.wfHits, y.wfHits);
      if (r == 0) r = Descending(x.wfAllHits, y.wfAllHits);
      if (r == 0) r = Descending(x.volume, y.volume);
      return r;
    });
    size_t written = 0;
    for (const auto* e : order) {
      const uint64_t value = Metric(e->c, metric);
      if (value < kMinimum[s]) break;
      std::fprintf(out, "%s;%s;%" PRIu64 "\n", keys[s], e->name.c_str(), value);
      ++written;
      if (top != 0 && written >= top) break;
    }
    if (written > 0) std::fputc('\n', out);
  }
  std::fputc('\n', out);
}

void WriteCounters(FILE* out, Keyed<Summary::Count>& table, const char* key) {
  auto order = table.InTableOrder();
  HeapSort(order, [](const auto* a, const auto* b) { return Descending(a->c.n, b->c.n); });
  size_t written = 0;
  for (const auto* e : order) {
    if (e->c.n < 1) continue;
    std::fprintf(out, "%s;%s;%" PRIu64 "\n", key, e->name.c_str(), e->c.n);
    ++written;
  }
  if (written > 0) std::fputc('\n', out);
}

void WriteSeriesLine(FILE* out, uint64_t time, const Bucket& b) {
  unsigned y, m, d, hh, mm;
  CivilFromTicks(time, &y, &m, &d, &hh, &mm);
  std::fprintf(out, "H;%04u/%02u/%02u;%02u:%02u;%" PRIu64 ";%" PRIu64 ";%" PRIu64 ";%" PRIu64, y,
               m, d, hh, mm, b.volume, b.count, b.wfHits, b.blocked);
  for (uint64_t r : b.reasons) std::fprintf(out, ";%" PRIu64, r);
  std::fputc('\n', out);
}

void WriteSummary(FILE* out, Summary& s, size_t top) {
  std::fputs("params;start=1601/01/01 00:00:00;end=1601/01/01 00:00:00\nformat;units=B\n\n", out);
  static const char* const kUser[6] = {"TUH", "TUV", "TUB", "TUVIR", "TUWF", "TUWFA"};
  static const char* const kIp[6] = {"TIH", "TIV", "TIB", "TIVIR", "TIWF", "TIWFA"};
  static const char* const kHost[6] = {"THH", "THV", "THB", "THVIR", "THWF", "THWFA"};
  WriteTopBlock(out, s.users, kUser, top);
  WriteTopBlock(out, s.ips, kIp, top);
  WriteTopBlock(out, s.hosts, kHost, top);
  WriteCounters(out, s.codes, "HTTP");
  WriteCounters(out, s.viruses, "VIR");
  WriteCounters(out, s.categories, "WFC");
  WriteCounters(out, s.allCategories, "WFCA");
  Bucket sum{};
  for (const auto& [time, b] : s.series) {
    sum.count += b.count;
    sum.wfHits += b.wfHits;
    sum.blocked += b.blocked;
    for (int r = 0; r < 8; ++r) sum.reasons[r] += b.reasons[r];
  }
  std::fprintf(out, "S;%" PRIu64 ";%" PRIu64 ";%" PRIu64 ";%" PRIu64, s.totalVolume, sum.count,
               sum.wfHits, sum.blocked);
  for (uint64_t r : sum.reasons) std::fprintf(out, ";%" PRIu64, r);
  std::fputs("\n\n", out);
  bool any = false;
  uint64_t previous = 0;
  for (const auto& [time, b] : s.series) {
    if (any) {
      for (uint64_t t = previous + kQuantum; t < time && t > previous; t += kQuantum) {
        WriteSeriesLine(out, t, Bucket{});
        previous = t;
      }
    }
    WriteSeriesLine(out, time, b);
    any = true;
    previous = time;
  }
  if (any) std::fputc('\n', out);
}

// ---- open transactions ---------------------------------------------------------

struct Open {
  Id id;
  uint32_t state;  // 1 opened, 0 seen only through traffic
  uint64_t volume;
  uint64_t day, timeOfDay;
  uint64_t hash, sequence;
  uint32_t namesLength;
};

constexpr uint32_t kRecordLimit = 10000;
constexpr uint32_t kByteLimit = 800000;
constexpr uint32_t kFixedBytes = 8 + 72;  // header and fixed part of a record
constexpr uint32_t kNamesMax = 31 + 128 + 253;

uint64_t HashOf(const Id& id) {
  uint64_t a, b;
  uint32_t c;
  std::memcpy(&a, id.b, 8);
  std::memcpy(&b, id.b + 8, 8);
  std::memcpy(&c, id.b + 16, 4);
  uint64_t h = (a * 0x9E3779B97F4A7C15ull) ^ (b + 0x632BE59BD9B4E019ull);
  h = (h ^ (h >> 29) ^ c) * 0xBF58476D1CE4E5B9ull;
  return h ^ (h >> 32);
}

class OpenTable {
 public:
  OpenTable() : slots_(16384, 0), records_(kRecordLimit), names_(size_t{kRecordLimit} * kNamesMax) {}

  // The record of the id, or null.
  Open* Find(const Id& id, uint64_t h, size_t* where) {
    size_t i = h & (slots_.size() - 1);
    for (;; i = (i + 1) & (slots_.size() - 1)) {
      const uint32_t slot = slots_[i];
      if (slot == 0) break;
      Open& r = records_[slot - 1];
      if (r.hash == h && std::memcmp(r.id.b, id.b, 20) == 0) {
        *where = i;
        return &r;
      }
    }
    *where = i;
    return nullptr;
  }

  // Inserts or updates; the record's state.
  uint32_t Upsert(const Id& id, uint32_t state, uint64_t volume, uint64_t day, uint64_t tod,
                  const char* names, uint32_t namesLength) {
    const uint64_t h = HashOf(id);
    size_t where;
    if (Open* r = Find(id, h, &where)) {
      r->volume = volume;
      return r->state;
    }
    const uint32_t bytes = kFixedBytes + namesLength;
    if (count_ >= kRecordLimit || used_ + bytes > kByteLimit) {
      EvictOldest();
      Find(id, h, &where);
    }
    const uint32_t k = count_++;
    records_[k] = Open{id, state, volume, day, tod, h, sequence_++, namesLength};
    std::memcpy(&names_[size_t{k} * kNamesMax], names, namesLength);
    used_ += bytes;
    slots_[where] = k + 1;
    return state;
  }

  bool Remove(const Id& id, uint64_t* volume) {
    size_t where;
    Open* r = Find(id, HashOf(id), &where);
    if (r == nullptr) return false;
    *volume = r->volume;
    Drop(where);
    return true;
  }

  void Clear() {
    std::fill(slots_.begin(), slots_.end(), 0);
    count_ = 0;
    used_ = 0;
  }

  // Every record in id order (first four bytes as a little-endian number).
  template <typename Visit>
  void ForEach(Visit visit) {
    std::vector<uint32_t> order(count_);
    for (uint32_t k = 0; k < count_; ++k) order[k] = k;
    std::sort(order.begin(), order.end(), [this](uint32_t a, uint32_t b) {
      uint32_t x, y;
      std::memcpy(&x, records_[a].id.b, 4);
      std::memcpy(&y, records_[b].id.b, 4);
      if (x != y) return x < y;
      return std::memcmp(records_[a].id.b + 4, records_[b].id.b + 4, 16) < 0;
    });
    for (uint32_t k : order) visit(records_[k], &names_[size_t{k} * kNamesMax]);
  }

 private:
  size_t SlotOf(uint32_t k) const {
    size_t i = records_[k].hash & (slots_.size() - 1);
    while (slots_[i] != k + 1) i = (i + 1) & (slots_.size() - 1);
    return i;
  }

  void Drop(size_t where) {
    const uint32_t k = slots_[where] - 1;
    // Backward-shift deletion keeps every probe run whole.
    const size_t mask = slots_.size() - 1;
    size_t hole = where;
    for (size_t i = (hole + 1) & mask; slots_[i] != 0; i = (i + 1) & mask) {
      const size_t home = records_[slots_[i] - 1].hash & mask;
      const bool stays = hole <= i ? (home > hole && home <= i) : (home > hole || home <= i);
      if (!stays) {
        slots_[hole] = slots_[i];
        hole = i;
      }
    }
    slots_[hole] = 0;
    used_ -= kFixedBytes + records_[k].namesLength;
    const uint32_t lastIndex = --count_;
    if (k != lastIndex) {
      slots_[SlotOf(lastIndex)] = k + 1;
      records_[k] = records_[lastIndex];
      std::memcpy(&names_[size_t{k} * kNamesMax], &names_[size_t{lastIndex} * kNamesMax],
                  records_[k].namesLength);
    }
  }

  void EvictOldest() {
    const uint32_t drop = count_ > 5 ? count_ / 5 : 1;
    if (drop >= count_) {
      Clear();
      return;
    }
    std::vector<uint64_t> seq(count_);
    for (uint32_t k = 0; k < count_; ++k) seq[k] = records_[k].sequence;
    std::nth_element(seq.begin(), seq.begin() + (drop - 1), seq.end());
    const uint64_t cut = seq[drop - 1];
    for (uint32_t k = count_; k-- > 0;) {
      if (records_[k].sequence <= cut) Drop(SlotOf(k));
    }
  }

  std::vector<uint32_t> slots_;
  std::vector<Open> records_;
  std::vector<char> names_;
  uint32_t count_ = 0;
  uint32_t used_ = 0;
  uint64_t sequence_ = 0;
};

// ---- the run ----------------------------------------------------------------------

struct Run {
  Summary summary;
  OpenTable open;
  std::vector<Open> doubts;

  // Open transactions at a reset or at the end: opened ones are counted,
  // those seen only through traffic are in doubt.
  void ReportOpen() {
    open.ForEach([this](const Open& r, const char* names) {
      if (r.state == 0) {
        doubts.push_back(r);
      } else if (r.state == 1) {
        const char* ip = names;
        const char* user = ip + std::strlen(ip) + 1;
        const char* host = user + std::strlen(user) + 1;
        summary.AddRecord(user, host, ip, nullptr, r.volume, 0, 0, 0, nullptr);
      }
    });
  }
};

// Copies a trimmed field into a NUL-terminated buffer of cap bytes.
const char* Copy(View f, size_t cap, char* buffer) {
  const View t = Trim(f, cap);
  std::memcpy(buffer, t.p, t.n);
  buffer[t.n] = '\0';
  return buffer;
}

void ParseDay(Run& run, const std::string& path, uint64_t day) {
  char ip[32], user[128], host[256], code[16], detail[64], names[kNamesMax];
  ForEachPiece(path.c_str(), [&](const char* p, size_t n) {
    View f[21];
    const uint32_t count = Split(p, n, f, 21);
    uint64_t tod;
    if (!TimeOfDay(Trim(Field(f, count, 2), 32), &tod)) return;
    const View kindField = Trim(Field(f, count, 3), 32);
    const char kind = kindField.n ? kindField.p[0] : '\0';
    const uint64_t time = day + tod;
    if (kind == 'R') {
      run.ReportOpen();
      run.open.Clear();
      return;
    }
    if (kind != 'B' && kind != 'T' && kind != 'E') return;
    const Id id = DecodeId(Trim(Field(f, count, 4), 32767));
    if (kind == 'T') {
      const uint64_t volume = Size(Trim(Field(f, count, 6), 32767));
      const char empty[3] = {0, 0, 0};
      if (run.open.Upsert(id, 0, volume, day, tod, empty, 3) == 1) {
        run.summary.AddSeries(0, time, 0, volume, 0);
      }
      return;
    }
    Copy(Field(f, count, 7), 31, ip);
    Copy(Field(f, count, 8), 128, user);
    Copy(Field(f, count, 9), 253, host);
    if (kind == 'B') {
      const size_t a = std::strlen(ip) + 1, b = std::strlen(user) + 1, c = std::strlen(host) + 1;
      std::memcpy(names, ip, a);
      std::memcpy(names + a, user, b);
      std::memcpy(names + a + b, host, c);
      run.open.Upsert(id, 1, Size(Trim(Field(f, count, 5), 32767)), day, tod, names,
                      static_cast<uint32_t>(a + b + c));
      run.summary.AddSeries(0, time, 1, 0, 0);
      return;
    }
    const uint64_t size6 = Size(Trim(Field(f, count, 6), 32767));
    uint64_t seen = 0;
    const bool found = run.open.Remove(id, &seen);
    Copy(Field(f, count, 10), 9, code);
    uint32_t reason = Reason(Trim(Field(f, count, 12), 15));
    const View d = Field(f, count, 13);
    const size_t dn = std::min<size_t>(d.n, 62);
    std::memcpy(detail, d.p, dn);
    detail[dn] = '\0';
    uint32_t cat1 = 0, cat2 = 0;
    const View cats = Trim(Field(f, count, 14), 32767);
    Categories(cats, &cat1, &cat2);
    const View flag = Trim(Field(f, count, 17), 32767);
    const char* rest = nullptr;
    if (flag.n != 0 && Unsigned(flag.p, flag.n, 10, &rest) != 0) reason |= 0x80;
    run.summary.AddRecord(user, host, ip, code, size6, reason, cat1, cat2, detail);
    uint64_t addCount = 1, addVolume = size6;
    if (found) {
      addCount = 0;
      if (size6 > seen) addVolume = size6 - seen;
    }
    run.summary.AddSeries(reason, time, addCount, addVolume, cat1);
  }, [] {});
}

struct Span {
  uint64_t day, till;
};

// The spans of one doubt (its day up to its time, then one full day before),
// merged into the list, newest first.
void MergeSpans(std::vector<Span>& spans, uint64_t day, uint64_t till) {
  uint32_t remaining = 2;
  uint64_t current = day, currentTill = till;
  for (size_t i = 0; i < spans.size() && remaining > 0; ++i) {
    Span& s = spans[i];
    if (s.day > current) continue;
    if (s.day == current) {
      s.till = std::max(s.till, currentTill);
      if (--remaining == 0) return;
      current -= kTicksPerDay;
      currentTill = kTicksPerDay;
      continue;
    }
    const uint64_t between = (current - s.day) / kTicksPerDay;
    uint32_t insert = static_cast<uint32_t>(std::min<uint64_t>(between, remaining));
    if (insert == 0) insert = 1;
    for (uint32_t k = 0; k < insert; ++k) {
      spans.insert(spans.begin() + static_cast<std::ptrdiff_t>(i + k), Span{current, currentTill});
      current -= kTicksPerDay;
      currentTill = kTicksPerDay;
    }
    return;
  }
  for (; remaining > 0; --remaining) {
    spans.push_back({current, currentTill});
    current -= kTicksPerDay;
    currentTill = kTicksPerDay;
  }
}

void Reparse(Run& run, const std::string& path, const Span& span) {
  bool done = false;
  char ip[32], user[128], host[256];
  ForEachPiece(path.c_str(), [&](const char* p, size_t n) {
    if (done) return;
    View f[10];
    const uint32_t count = Split(p, n, f, 10);
    uint64_t tod;
    if (!TimeOfDay(Trim(Field(f, count, 2), 32), &tod)) return;
    if (tod > span.till) {
      done = true;
      return;
    }
    const View kindField = Trim(Field(f, count, 3), 32);
    const char kind = kindField.n ? kindField.p[0] : '\0';
    if (kind != 'B' && kind != 'T') return;
    const Id id = DecodeId(Trim(Field(f, count, 4), 32767));
    auto at = std::lower_bound(run.doubts.begin(), run.doubts.end(), id,
                               [](const Open& o, const Id& k) { return std::memcmp(o.id.b, k.b, 20) < 0; });
    if (at == run.doubts.end() || std::memcmp(at->id.b, id.b, 20) != 0) return;
    if (kind == 'T') {
      if (at->state == 1) {
        run.summary.AddSeries(0, span.day + tod, 0, Size(Trim(Field(f, count, 5), 32767)), 0);
      }
      return;
    }
    at->state = 1;
    run.summary.AddRecord(Copy(Field(f, count, 8), 128, user), Copy(Field(f, count, 9), 253, host),
                          Copy(Field(f, count, 7), 31, ip), nullptr, at->volume, 0, 0, 0, nullptr);
  }, [] {});
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: webstat_floor LOGDIR [top]\n");
    return 2;
  }
  const size_t top = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 15;
  const std::string dir = argv[1];
  std::map<uint64_t, std::string> days;  // day ticks -> path
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      const std::string name = e->d_name;
      if (name.size() != 16) continue;
      std::string lower = name;
      for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      if (lower.compare(0, 4, "kelb") != 0 || lower.compare(12, 4, ".log") != 0) continue;
      if (!std::all_of(lower.begin() + 4, lower.begin() + 12, Digit)) continue;
      const unsigned v = static_cast<unsigned>(std::stoul(lower.substr(4, 8)));
      days[static_cast<uint64_t>(DaysFromCivil(v / 10000, v / 100 % 100, v % 100)) * kTicksPerDay] =
          dir + "/" + name;
    }
    closedir(d);
  }
  if (days.empty()) return 1;
  Run run;
  for (const auto& [day, path] : days) ParseDay(run, path, day);
  run.ReportOpen();
  std::vector<Span> spans;
  for (const Open& o : run.doubts) MergeSpans(spans, o.day, o.timeOfDay);
  std::sort(run.doubts.begin(), run.doubts.end(),
            [](const Open& a, const Open& b) { return std::memcmp(a.id.b, b.id.b, 20) < 0; });
  for (const Span& span : spans) {
    const auto file = days.find(span.day);
    if (file == days.end()) continue;
    Reparse(run, file->second, span);
    if (std::none_of(run.doubts.begin(), run.doubts.end(), [](const Open& o) { return o.state == 0; })) {
      break;
    }
  }
  WriteSummary(stdout, run.summary, top);
  return std::fflush(stdout) == 0 ? 0 : 1;
}
