// Floor for --stat=SMTP-IN: writes the same metadata file for one SMTP log.
//   smtp_in_floor LOG OUT [top]
#include "floor_common.h"

using namespace floor_bench;

namespace {

struct Count {
  uint64_t n;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: smtp_in_floor LOG OUT [top]\n");
    return 2;
  }
  const size_t top = argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 15;
  uint32_t ok[24] = {};
  uint32_t err[24] = {};
  Table<Count> clients;
  Table<Count> codes;
  // Lines are handled in batches: the hash table slots and entries of a
  // batch's client addresses are fetched from memory together.
  struct Line {
    int hour;
    int32_t code;
    View client;
    uint64_t hash;
  };
  constexpr size_t kBatch = 32;
  Line batch[kBatch];
  size_t pending = 0;
  auto flush = [&] {
    for (size_t i = 0; i < pending; ++i) {
      batch[i].hash = clients.Hash(batch[i].client);
      clients.PrefetchSlot(batch[i].hash);
    }
    for (size_t i = 0; i < pending; ++i) clients.PrefetchEntry(batch[i].hash);
    for (size_t i = 0; i < pending; ++i) {
      const Line& l = batch[i];
      char text[16];
      const int length = std::snprintf(text, sizeof text, "%d", l.code);
      ++codes.Add(View{text, static_cast<size_t>(length)}).n;
      ++clients.Add(l.client, l.hash).n;
      ++(l.code == 0 ? ok : err)[l.hour];
    }
    pending = 0;
  };
  const bool read = ForEachPiece(argv[1], [&](const char* p, size_t n) {
    View f[6];
    const uint32_t count = Split(p, n, f, 6);
    if (count < 2) return;
    const int hour = Hour(Trim(f[1], 32));
    if (hour < 0) return;
    auto field = [&](uint32_t i) { return i < count ? f[i] : View{"", 0}; };
    batch[pending++] = Line{hour, SignedNumber(Trim(field(2), 64)), Trim(field(5), 1024), 0};
    if (pending == kBatch) flush();
  }, flush);
  if (!read) {
    std::fprintf(stderr, "cannot read %s\n", argv[1]);
    return 1;
  }
  FILE* out = std::fopen(argv[2], "wb");
  if (out == nullptr) return 1;
  uint32_t okDay = 0, errDay = 0;
  for (int h = 0; h < 24; ++h) {
    okDay += ok[h];
    errDay += err[h];
  }
  std::fprintf(out, "S;%u;%u;%u\r\n", okDay + errDay, okDay, errDay);
  for (int h = 0; h < 24; ++h) std::fprintf(out, "H;%02d;%u;%u;%u\r\n", h, ok[h] + err[h], ok[h], err[h]);
  auto write = [out](const Table<Count>& table, const char* label, size_t k) {
    using Entry = Table<Count>::Entry;
    for (const Entry* e : table.Top(k ? k : 1, [&table](const Entry& a, const Entry& b) {
           if (a.counters.n != b.counters.n) return a.counters.n > b.counters.n;
           return table.Order(a, b) < 0;
         })) {
      std::fprintf(out, "%s;%.*s;%" PRIu64 "\r\n", label, static_cast<int>(e->length),
                   e->Key(table.Arena()), e->counters.n);
    }
  };
  write(clients, "TIP", top);
  write(codes, "ERR", SIZE_MAX);
  return std::fclose(out) == 0 ? 0 : 1;
}
