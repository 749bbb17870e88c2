// Floor for --stat=RBL-IN: writes the same metadata file for one RBL log.
//   rbl_in_floor LOG OUT [top]
#include "floor_common.h"

using namespace floor_bench;

namespace {

struct Tally {
  uint32_t messages, clean, virus, spam;
  uint64_t bytes;
};

struct Count {
  uint64_t n;
};

void Add(Tally* to, const Tally& add) {
  to->messages += add.messages;
  to->clean += add.clean;
  to->virus += add.virus;
  to->spam += add.spam;
  to->bytes += add.bytes;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: rbl_in_floor LOG OUT [top]\n");
    return 2;
  }
  const size_t top = argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 15;
  Tally hours[24] = {};
  Table<Tally> senders, recipients;
  Table<Count> virusKeys, virusSources, virusNames;
  std::string virusKey;
  // Lines are handled in batches: the hash table slots and entries of a
  // batch's keys are fetched from memory together, not one miss after another.
  struct Line {
    int hour;
    View first, second;
    uint64_t firstHash, secondHash;
    Tally add;
  };
  constexpr size_t kBatch = 32;
  Line batch[kBatch];
  size_t pending = 0;
  auto flush = [&] {
    for (size_t i = 0; i < pending; ++i) {
      Line& l = batch[i];
      l.firstHash = senders.Hash(l.first);
      senders.PrefetchSlot(l.firstHash);
      if (l.second.n != 0) {
        l.secondHash = recipients.Hash(l.second);
        recipients.PrefetchSlot(l.secondHash);
      }
    }
    for (size_t i = 0; i < pending; ++i) {
      senders.PrefetchEntry(batch[i].firstHash);
      if (batch[i].second.n != 0) recipients.PrefetchEntry(batch[i].secondHash);
    }
    for (size_t i = 0; i < pending; ++i) {
      const Line& l = batch[i];
      Add(&hours[l.hour], l.add);
      Add(&senders.Add(l.first, l.firstHash), l.add);
      if (l.second.n != 0) Add(&recipients.Add(l.second, l.secondHash), l.add);
    }
    pending = 0;
  };
  const bool read = ForEachPiece(argv[1], [&](const char* p, size_t n) {
    View f[11];
    const uint32_t count = Split(p, n, f, 11);
    if (count < 2) return;
    const int hour = Hour(Trim(f[1], 32));
    if (hour < 0) return;
    auto field = [&](uint32_t i) { return i < count ? f[i] : View{"", 0}; };
    const bool virus = Is(Trim(field(4), 16), "VIRUS");
    const bool spam = Is(Trim(field(5), 16), "SPAM");
    const Tally add{1, !virus && !spam ? 1u : 0u, virus ? 1u : 0u, spam ? 1u : 0u,
                    UnsignedNumber(Trim(field(6), 32))};
    if (virus) {
      const View source = Trim(field(8), 32);
      View name = field(10);
      name.n = std::min<size_t>(name.n, 1023);
      ++virusSources.Add(source).n;
      virusKey.assign(source.p, source.n);
      virusKey += ';';
      virusKey.append(name.p, name.n);
      ++virusKeys.Add(View{virusKey.data(), virusKey.size()}).n;
      ++virusNames.Add(name).n;
    }
    batch[pending++] = Line{hour, Trim(field(2), 512), Trim(field(3), 32768), 0, 0, add};
    if (pending == kBatch) flush();
  }, flush);
  if (!read) {
    std::fprintf(stderr, "cannot read %s\n", argv[1]);
    return 1;
  }
  FILE* out = std::fopen(argv[2], "wb");
  if (out == nullptr) return 1;
  Tally day{};
  for (const Tally& h : hours) Add(&day, h);
  std::fprintf(out, "S;%u;%u;%u;%u;%" PRIu64 "\r\n", day.messages, day.clean, day.virus, day.spam,
               day.bytes);
  for (int h = 0; h < 24; ++h) {
    const Tally& t = hours[h];
    std::fprintf(out, "H;%02d;%u;%u;%u;%u;%" PRIu64 "\r\n", h, t.messages, t.clean, t.virus, t.spam,
                 t.bytes);
  }
  using TallyEntry = Table<Tally>::Entry;
  auto addresses = [out, top](const Table<Tally>& table, const char* label, bool bytesFirst) {
    auto before = [&table, bytesFirst](const TallyEntry& a, const TallyEntry& b) {
      const Tally& x = a.counters;
      const Tally& y = b.counters;
      if (bytesFirst) {
        if (x.bytes != y.bytes) return x.bytes > y.bytes;
        if (x.messages != y.messages) return x.messages > y.messages;
      } else {
        if (x.messages != y.messages) return x.messages > y.messages;
        if (x.bytes != y.bytes) return x.bytes > y.bytes;
      }
      return table.Order(a, b) < 0;
    };
    for (const TallyEntry* e : table.Top(top ? top : 1, before)) {
      const Tally& t = e->counters;
      const int n = static_cast<int>(e->length);
      const char* key = e->Key(table.Arena());
      if (bytesFirst) {
        std::fprintf(out, "%s;%.*s;%" PRIu64 ";%u\r\n", label, n, key, t.bytes, t.messages);
      } else {
        std::fprintf(out, "%s;%.*s;%u;%" PRIu64 ";%u;%u;%u\r\n", label, n, key, t.messages, t.bytes,
                     t.clean, t.virus, t.spam);
      }
    }
  };
  addresses(senders, "TS", false);
  addresses(recipients, "TR", false);
  addresses(senders, "TD", true);
  addresses(recipients, "TE", true);
  using CountEntry = Table<Count>::Entry;
  auto counts = [out](const Table<Count>& table, const char* label) {
    for (const CountEntry* e : table.Top(SIZE_MAX, [&table](const CountEntry& a, const CountEntry& b) {
           if (a.counters.n != b.counters.n) return a.counters.n > b.counters.n;
           return table.Order(a, b) < 0;
         })) {
      std::fprintf(out, "%s;%.*s;%" PRIu64 "\r\n", label, static_cast<int>(e->length),
                   e->Key(table.Arena()), e->counters.n);
    }
  };
  counts(virusKeys, "VIR");
  counts(virusSources, "TSD");
  counts(virusNames, "TVN");
  return std::fclose(out) == 0 ? 0 : 1;
}
