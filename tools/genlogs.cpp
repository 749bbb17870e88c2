// genlogs: writes deterministic, realistic gateway mail logs (SMTP, RBL and
// postponer, incoming and outgoing) for N days into a directory, for examples,
// tests and benchmarks. The same options always give the same bytes.
//
// Every message is a pure function of its serial number: the SMTP line, the
// RBL line and the postponer lines all re-derive its sender, recipients and
// verdicts from a PRNG seeded by the serial, so nothing but a small event
// record has to wait in the queue of later lines. Later lines (RBL verdicts a
// few seconds on, deliveries retried for up to ten days) wait in a priority
// queue per direction and are written into the file of the day they fall on.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <queue>
#include <string>
#include <vector>

namespace {

// ---------------------------------------------------------------- random

uint64_t Mix64(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

struct Rng {
  uint64_t state;
  uint64_t Next() {
    state += 0x9E3779B97F4A7C15ull;
    uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  double Unit() { return static_cast<double>(Next() >> 11) * (1.0 / 9007199254740992.0); }
  uint32_t Below(uint32_t n) { return n ? static_cast<uint32_t>((Next() >> 32) * n >> 32) : 0; }
  bool Chance(double p) { return Unit() < p; }
  // Rank in [0, n) with probability about 1/(rank+1): a few very frequent
  // keys, many ties in the middle and a long tail of keys seen once.
  uint32_t Zipf(uint32_t n) {
    double k = std::exp(Unit() * std::log(static_cast<double>(n) + 1.0)) - 1.0;
    uint32_t r = static_cast<uint32_t>(k);
    return r >= n ? n - 1 : r;
  }
};

Rng RngFor(uint64_t a, uint64_t b) { return Rng{Mix64(a * 0xD1B54A32D192ED03ull ^ Mix64(b))}; }

// ---------------------------------------------------------------- output

struct Sink {
  FILE* file = nullptr;
  std::vector<char> buffer;
  size_t used = 0;
  uint64_t lines = 0;
  bool failed = false;

  void Open(const std::string& path) {
    file = std::fopen(path.c_str(), "wb");
    if (!file) {
      std::fprintf(stderr, "genlogs: cannot create %s\n", path.c_str());
      std::exit(1);
    }
    buffer.resize(1 << 20);
    used = 0;
  }
  void Flush() {
    if (used && std::fwrite(buffer.data(), 1, used, file) != used) failed = true;
    used = 0;
  }
  void Write(const char* data, size_t size) {
    if (used + size > buffer.size()) {
      Flush();
      if (size > buffer.size()) {
        if (std::fwrite(data, 1, size, file) != size) failed = true;
        ++lines;
        return;
      }
    }
    std::memcpy(buffer.data() + used, data, size);
    used += size;
    ++lines;
  }
  void Close(const std::string& what) {
    if (!file) return;
    Flush();
    if (std::fclose(file) != 0) failed = true;
    file = nullptr;
    if (failed) {
      std::fprintf(stderr, "genlogs: write failed on %s\n", what.c_str());
      std::exit(1);
    }
  }
};

// A line under construction, with room for the longest hostile variant.
struct Line {
  static constexpr size_t kCapacity = 1 << 17;
  char text[kCapacity];
  size_t size = 0;

  void Clear() { size = 0; }
  void Char(char c) {
    if (size < kCapacity) text[size++] = c;
  }
  void Str(const char* s) {
    while (*s && size < kCapacity) text[size++] = *s++;
  }
  void Sep() { Char(';'); }
  void Uint(uint64_t v) {
    char digits[24];
    int n = 0;
    do {
      digits[n++] = static_cast<char>('0' + v % 10);
      v /= 10;
    } while (v);
    while (n) Char(digits[--n]);
  }
  void Int(int64_t v) {
    if (v < 0) {
      Char('-');
      Uint(static_cast<uint64_t>(-v));
    } else {
      Uint(static_cast<uint64_t>(v));
    }
  }
  void Hex(uint64_t v, int minDigits, bool upper) {
    const char* set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    char digits[20];
    int n = 0;
    do {
      digits[n++] = set[v & 15];
      v >>= 4;
    } while (v || n < minDigits);
    while (n) Char(digits[--n]);
  }
  void Two(unsigned v) {
    Char(static_cast<char>('0' + v / 10 % 10));
    Char(static_cast<char>('0' + v % 10));
  }
  void Time(uint32_t secondOfDay) {
    Two(secondOfDay / 3600);
    Char(':');
    Two(secondOfDay / 60 % 60);
    Char(':');
    Two(secondOfDay % 60);
  }
};

// ---------------------------------------------------------------- calendar

int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int* y, unsigned* m, unsigned* d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *d = doy - (153 * mp + 2) / 5 + 1;
  *m = mp < 10 ? mp + 3 : mp - 9;
  *y = static_cast<int>(static_cast<int64_t>(yoe) + era * 400 + (*m <= 2));
}

// ---------------------------------------------------------------- names

const char* const kFirst[] = {"jan", "petr", "eva", "anna", "pavel", "lucie", "martin", "jana",
                              "tomas", "marie", "karel", "lenka", "josef", "hana", "jiri", "olga",
                              "michal", "tereza", "david", "klara", "ondrej", "zuzana", "adam", "vera",
                              "info", "sales", "office", "support", "news", "billing", "admin", "hr"};
const char* const kLast[] = {"novak", "svoboda", "dvorak", "cerny", "prochazka", "kucera", "vesely",
                             "horak", "nemec", "pokorny", "marek", "pospisil", "hajek", "jelinek",
                             "kral", "ruzicka", "benes", "fiala", "sedlacek", "dolezal", "zeman",
                             "kolar", "navratil", "cermak"};
const char* const kSyllable[] = {"al", "bet", "cor", "dan", "el", "fin", "gor", "hal", "in", "jor",
                                 "kel", "lum", "mar", "nor", "ost", "per", "qua", "ris", "sol", "tor",
                                 "ul", "ver", "wes", "xan", "yor", "zet", "net", "tech", "soft", "trade"};
const char* const kTld[] = {"com", "net", "org", "cz", "de", "eu", "info", "sk", "co.uk", "biz"};
const char* const kLocalDomain[] = {"firma.example", "corp.example", "mail.firma.example"};
const char* const kSpamRule[] = {"BAYES_99", "URIBL_BLACK", "RCVD_IN_XBL", "HTML_PHISH", "DKIM_FAIL",
                                 "FREEMAIL_FORGED", "BAYES_80", "PYZOR_CHECK", "RAZOR2_CHECK",
                                 "FUZZY_CREDIT", "SUBJ_ALL_CAPS", "MISSING_DATE"};
const char* const kVirus[] = {"Win32 Trojan Agent", "Html Phishing Bank 12", "Doc Downloader Emotet",
                              "Js Dropper Gen", "Pdf Exploit CVE 2023", "Zip Worm Mydoom M",
                              "Xls Macro Qakbot", "Eicar Test Signature"};
const char* const kEngine[] = {"avscan", "clamd", "engine-b", "sophos-e"};
const char* const kOtherStatus[] = {"HOLD", "QUAR", "DEFER", "RETRY"};

template <size_t N>
const char* Pick(const char* const (&table)[N], uint64_t h) {
  return table[h % N];
}

void Domain(Line* line, uint32_t index) {
  uint64_t h = Mix64(index * 7919ull + 17);
  line->Str(Pick(kSyllable, h));
  line->Str(Pick(kSyllable, h >> 8));
  if ((h >> 16) % 3 == 0) line->Str(Pick(kSyllable, h >> 20));
  if ((h >> 24) % 7 == 0) line->Uint((h >> 28) % 100);
  line->Char('.');
  line->Str(Pick(kTld, h >> 36));
}

// An address of a person outside the gateway (domain chosen from the rank).
void ExternalAddress(Line* line, uint32_t rank) {
  uint64_t h = Mix64(rank * 0x9E37ull + 3);
  line->Str(Pick(kFirst, h));
  if ((h >> 8) % 3 != 0) {
    line->Char((h >> 10) % 2 ? '.' : '_');
    line->Str(Pick(kLast, h >> 12));
  }
  if ((h >> 20) % 4 == 0) line->Uint((h >> 24) % 1000);
  line->Char('@');
  Domain(line, static_cast<uint32_t>(Mix64(rank + 99) % 40000 + (h >> 50) % 3));
}

// An address of a user of the gateway's own domains.
void InternalAddress(Line* line, uint32_t rank) {
  uint64_t h = Mix64(rank * 0x51ull + 11);
  line->Str(Pick(kFirst, h));
  line->Char('.');
  line->Str(Pick(kLast, h >> 8));
  if (rank >= 600) line->Uint(rank % 97);
  line->Char('@');
  line->Str(Pick(kLocalDomain, h >> 20));
}

void ExternalIp(Line* line, uint32_t rank) {
  uint64_t h = Mix64(rank * 131ull + 5);
  unsigned a = 1 + static_cast<unsigned>(h % 223);
  if (a == 10 || a == 127) ++a;
  line->Uint(a);
  line->Char('.');
  line->Uint((h >> 8) & 255);
  line->Char('.');
  line->Uint((h >> 16) & 255);
  line->Char('.');
  line->Uint(1 + (h >> 24) % 254);
}

void InternalIp(Line* line, uint32_t rank) {
  line->Str("10.1.");
  line->Uint(rank / 250 % 250);
  line->Char('.');
  line->Uint(1 + rank % 250);
}

// ---------------------------------------------------------------- messages

enum Direction { kIn = 0, kOut = 1 };

struct Universe {
  uint32_t externalSenders = 200000;
  uint32_t internalUsers = 4000;
  uint32_t externalClients = 60000;
  uint32_t internalClients = 400;
};

// Everything a message's lines say about it, derived from its serial.
struct Message {
  uint64_t serial;
  int direction;
  uint64_t seed;
  uint32_t sender;  // rank; UINT32_MAX = null sender of a bounce
  uint32_t recipients;
  uint32_t client;
  char result[8];
  int code;
  bool accepted;
  uint32_t rblDelay;
  bool virus;
  bool spam;
  int verdict;
  uint64_t size;
  uint32_t rule;
  uint32_t virusName;
  uint32_t smtpFlags;
  uint32_t rblFlags;
  uint32_t deliveries;
};

uint32_t RecipientRank(const Message& m, uint32_t j, const Universe& u) {
  Rng r = RngFor(m.seed, 1000 + j);
  return m.direction == kIn ? r.Zipf(u.internalUsers) : r.Zipf(u.externalSenders);
}

Message MakeMessage(uint64_t globalSeed, int direction, uint64_t serial, const Universe& u) {
  Message m{};
  m.serial = serial;
  m.direction = direction;
  m.seed = Mix64(globalSeed ^ (serial * 2 + static_cast<uint64_t>(direction)));
  Rng r{m.seed};
  const bool in = direction == kIn;
  m.sender = in ? r.Zipf(u.externalSenders) : r.Zipf(u.internalUsers);
  if (in && r.Chance(0.02)) m.sender = UINT32_MAX;
  double n = r.Unit();
  m.recipients = n < 0.80 ? 1 : n < 0.90 ? 2 : n < 0.98 ? 3 + r.Below(3) : 10 + r.Below(51);
  m.client = in ? r.Zipf(u.externalClients) : r.Zipf(u.internalClients);
  double a = r.Unit();
  const double acceptShare = in ? 0.72 : 0.96;
  const char* letters = "BSUTHX";
  std::strcpy(m.result, "A----");
  if (a < acceptShare) {
    m.accepted = true;
    m.code = r.Chance(0.01) ? 250 : 0;
    if (r.Chance(0.05)) m.result[1 + r.Below(4)] = "TSHX"[r.Below(4)];
  } else if (a < acceptShare + (1 - acceptShare) * 0.93) {
    m.result[0] = 'R';
    m.result[1 + r.Below(4)] = letters[r.Below(6)];
    if (r.Chance(0.2)) m.result[1 + r.Below(4)] = letters[r.Below(6)];
    if (r.Chance(0.05)) m.result[1] = '\0';  // a bare "R"
    static const int kReject[] = {550, 550, 550, 554, 554, 553, 450, 451, 421};
    m.code = kReject[r.Below(9)];
  } else {
    m.result[0] = r.Chance(0.7) ? 'T' : 'E';  // other outcomes: temporary failure, protocol error
    m.code = r.Chance(0.5) ? 451 : 421;
  }
  m.size = 800 + static_cast<uint64_t>(std::exp(r.Unit() * 14.0));  // 800 B .. ~1.2 MB, mostly small
  if (r.Chance(0.003)) m.size += 5000000 + r.Below(20000000);
  m.smtpFlags = static_cast<uint32_t>(r.Next() & (r.Chance(0.5) ? 0x3F : 0x1FF));
  m.rblDelay = r.Chance(0.9) ? r.Below(4) : 4 + r.Below(40);
  m.virus = r.Chance(in ? 0.01 : 0.002);
  m.spam = !m.virus ? r.Chance(in ? 0.18 : 0.01) : r.Chance(0.3);
  if (m.virus) {
    m.verdict = r.Chance(0.9) ? -1000 : 0;
  } else if (m.spam) {
    m.verdict = r.Chance(0.5) ? -1000 : r.Chance(0.5) ? 1000 : 0;
  } else {
    double v = r.Unit();
    m.verdict = v < 0.93 ? 0 : v < 0.985 ? 1000 : v < 0.993 ? 500 : -500;
  }
  m.rule = r.Zipf(sizeof kSpamRule / sizeof *kSpamRule);
  m.virusName = r.Zipf(sizeof kVirus / sizeof *kVirus);
  m.rblFlags = static_cast<uint32_t>(r.Next() & 0xFF) | (m.spam ? 0x100 : 0) | (m.virus ? 0x200 : 0);
  m.deliveries = std::min<uint32_t>(m.recipients, 4);
  return m;
}

void AppendId(Line* line, const Message& m) {
  uint64_t a = Mix64(m.seed ^ 0xA1), b = Mix64(m.seed ^ 0xB2), c = Mix64(m.seed ^ 0xC3);
  line->Hex(a, 16, true);
  line->Hex(b, 16, true);
  line->Hex(c & 0xFFFFFFFFull, 8, true);
}

void AppendSender(Line* line, const Message& m) {
  if (m.sender == UINT32_MAX) return;
  if (m.direction == kIn) ExternalAddress(line, m.sender);
  else InternalAddress(line, m.sender);
}

void AppendRecipient(Line* line, const Message& m, uint32_t j, const Universe& u) {
  uint32_t rank = RecipientRank(m, j, u);
  if (m.direction == kIn) InternalAddress(line, rank);
  else ExternalAddress(line, rank);
}

void AppendRecipients(Line* line, const Message& m, const Universe& u) {
  for (uint32_t j = 0; j < m.recipients; ++j) {
    if (j) line->Char(',');
    AppendRecipient(line, m, j, u);
  }
}

void AppendClient(Line* line, const Message& m) {
  if (m.direction == kIn) ExternalIp(line, m.client);
  else InternalIp(line, m.client);
}

void AppendTag(Line* line, const char* prefix, uint64_t serial) {
  line->Str(prefix);
  line->Hex(serial & 0xFFFFFF, 6, true);
}

// ---------------------------------------------------------------- lines

void SmtpLine(Line* line, const Message& m, uint32_t second, const Universe& u) {
  line->Clear();
  AppendTag(line, m.direction == kIn ? "mx1-" : "out1-", m.serial);
  line->Sep();
  line->Time(second);
  line->Sep();
  line->Int(m.code);
  line->Sep();
  AppendSender(line, m);
  line->Sep();
  AppendRecipients(line, m, u);
  line->Sep();
  AppendClient(line, m);
  line->Sep();
  line->Str(m.result);
  line->Sep();
  if (m.accepted || m.serial % 3 != 0) AppendId(line, m);  // some rejects never got an ID
  line->Sep();
  line->Uint(m.size);
  line->Sep();
  line->Str("smtp.");
  Domain(line, static_cast<uint32_t>(m.client % 40000));
  line->Sep();
  line->Str(m.seed % 4 ? "ESMTPS" : "ESMTP");
  line->Sep();
  if (m.seed & 0x100) line->Str("0x");
  line->Hex(m.smtpFlags, 1, (m.seed & 0x200) != 0);
  line->Char('\n');
}

void RblLine(Line* line, const Message& m, uint32_t second, const Universe& u) {
  line->Clear();
  AppendTag(line, m.direction == kIn ? "rbl-" : "rblo-", m.serial);
  line->Sep();
  line->Time(second);
  line->Sep();
  AppendSender(line, m);
  line->Sep();
  AppendRecipients(line, m, u);
  line->Sep();
  if (m.virus) line->Str("VIRUS");
  line->Sep();
  if (m.spam) line->Str("SPAM");
  line->Sep();
  line->Uint(m.size);
  line->Sep();
  AppendId(line, m);
  line->Sep();
  if (m.virus && m.seed % 5 == 0) line->Str(Pick(kEngine, m.seed >> 8));
  else AppendClient(line, m);
  line->Sep();
  if (m.spam) line->Str(kSpamRule[m.rule]);
  line->Sep();
  if (m.virus) line->Str(kVirus[m.virusName]);
  line->Sep();
  line->Int(m.verdict);
  line->Sep();
  line->Uint(m.seed % 100);
  line->Char('.');
  line->Uint(m.seed / 100 % 10);
  line->Sep();
  line->Hex(m.rblFlags, 4, true);
  line->Char('\n');
}

// ---------------------------------------------------------------- events

enum EventKind : uint8_t { kRbl, kPostStart, kPostStatus, kPostEnd };
enum Status : uint8_t { kSent, kStay, kDel, kTrash, kNd, kOther };

struct Event {
  uint64_t when;  // seconds since midnight of the first day
  uint64_t order;
  uint64_t serial;
  uint32_t delivery;
  uint16_t code;
  uint8_t kind;
  uint8_t status;
  uint8_t attempt;
};

struct Later {
  bool operator()(const Event& a, const Event& b) const {
    return a.when != b.when ? a.when > b.when : a.order > b.order;
  }
};

using EventQueue = std::priority_queue<Event, std::vector<Event>, Later>;

struct Scheduler {
  EventQueue queue;
  uint64_t order = 0;
  void Add(uint64_t when, uint64_t serial, uint8_t kind, uint32_t delivery = 0, uint8_t status = 0,
           uint16_t code = 0, uint8_t attempt = 0) {
    queue.push(Event{when, order++, serial, delivery, code, kind, status, attempt});
  }
};

uint16_t CodeFor(Status status, Rng* r) {
  switch (status) {
    case kSent: return r->Chance(0.03) ? 250 : 0;
    case kStay: { static const uint16_t c[] = {421, 450, 451, 452}; return c[r->Below(4)]; }
    case kNd: { static const uint16_t c[] = {550, 550, 551, 552, 553, 554}; return c[r->Below(6)]; }
    default: return 0;
  }
}

// Plans the postponer lines of one accepted message that passed the filter:
// the announcement, then per delivery its status lines (deferred ones retried
// with growing pauses, up to about ten days) and the end of the delivery.
void PlanDeliveries(const Message& m, uint64_t rblAt, Scheduler* s) {
  Rng r = RngFor(m.seed, 77);
  uint64_t t = rblAt + r.Below(3);
  s->Add(t, m.serial, kPostStart, m.deliveries);
  for (uint32_t j = 0; j < m.deliveries; ++j) {
    uint64_t at = t + 1 + r.Below(20);
    double p = r.Unit();
    uint8_t attempt = 1;
    Status final = kSent;
    if (p < 0.86) {
      final = kSent;
    } else if (p < 0.94) {
      // deferred: a chain of STAY lines, then delivered or returned
      uint32_t tries = 1 + r.Below(r.Chance(0.2) ? 14 : 5);
      uint64_t pause = 300;
      for (uint32_t k = 0; k < tries; ++k) {
        s->Add(at, m.serial, kPostStatus, j, kStay, CodeFor(kStay, &r), attempt++);
        at += pause + r.Below(static_cast<uint32_t>(pause));
        pause = std::min<uint64_t>(pause * 3, 86400);
      }
      final = r.Chance(0.75) ? kSent : kNd;
    } else if (p < 0.965) {
      final = kNd;
    } else if (p < 0.975) {
      final = kDel;
    } else if (p < (m.spam ? 0.995 : 0.985)) {
      final = kTrash;
    } else {
      s->Add(at, m.serial, kPostStatus, j, kOther, 0, attempt++);
      at += 60 + r.Below(7200);
      final = kSent;
    }
    s->Add(at, m.serial, kPostStatus, j, final, CodeFor(final, &r), attempt);
    if (!r.Chance(0.002)) s->Add(at + r.Below(2), m.serial, kPostEnd, j);  // a few never end
  }
}

void PostLine(Line* line, const Message& m, const Event& e, uint32_t second, const Universe& u) {
  static const char* const kWord[] = {"SENT", "STAY", "DEL", "TRASH", "ND"};
  line->Clear();
  AppendTag(line, m.direction == kIn ? "pp-" : "ppo-", m.serial);
  line->Sep();
  line->Time(second);
  line->Sep();
  if (e.kind == kPostStart) {
    line->Char('S');
    line->Sep();
    AppendId(line, m);
    line->Sep();
    line->Uint(e.delivery);
  } else if (e.kind == kPostEnd) {
    line->Char('E');
    line->Sep();
    AppendId(line, m);
    line->Sep();
    line->Uint(e.delivery + 1);
  } else {
    line->Uint(e.code);
    line->Sep();
    line->Hex((m.serial * 16 + e.delivery) & 0xFFFFFFF, 7, false);
    line->Sep();
    line->Uint(e.attempt);
    line->Sep();
    uint32_t rank = RecipientRank(m, e.delivery, u);
    if (m.direction == kIn) InternalIp(line, 200 + rank % 4);  // the internal mail servers
    else ExternalIp(line, rank % 40000 + 7);                    // the recipient's mail exchanger
    line->Sep();
    AppendRecipient(line, m, e.delivery, u);
    line->Sep();
    line->Str(e.status == kOther ? Pick(kOtherStatus, m.seed >> 3) : kWord[e.status]);
    line->Sep();
    AppendId(line, m);
    line->Sep();
    switch (e.status) {
      case kSent: line->Str("250 2.0.0 Ok: queued"); break;
      case kStay: line->Uint(e.code); line->Str(" 4.7.1 Try again later"); break;
      case kNd: line->Uint(e.code); line->Str(" 5.1.1 User unknown"); break;
      default: line->Str("-"); break;
    }
  }
  line->Char('\n');
}

// ---------------------------------------------------------------- hostile lines

enum LogKind { kSmtp, kRblLog, kPost };

// Position just behind the index-th ';' (start of field index), or the
// position of the line end when the line has fewer fields.
size_t FieldStart(const Line& line, int index) {
  size_t end = line.size && line.text[line.size - 1] == '\n' ? line.size - 1 : line.size;
  size_t i = 0;
  for (int f = 0; f < index && i < end; ++i)
    if (line.text[i] == ';') ++f;
  return i < end ? i : end;
}

size_t FieldEnd(const Line& line, size_t start) {
  size_t i = start;
  while (i < line.size && line.text[i] != ';' && line.text[i] != '\n') ++i;
  return i;
}

void Replace(Line* line, size_t from, size_t to, const char* with, size_t withSize) {
  size_t tail = line->size - to;
  if (from + withSize + tail > Line::kCapacity) return;
  std::memmove(line->text + from + withSize, line->text + to, tail);
  std::memcpy(line->text + from, with, withSize);
  line->size = from + withSize + tail;
}

// Turns a good line into one of the malformed shapes a reader must survive.
void MakeHostile(Line* line, LogKind kind, Rng* r) {
  const char recordKind = line->text[FieldStart(*line, 2)];
  const bool announceOrEnd = recordKind == 'S' || recordKind == 'E';
  const int idField = kind != kPost ? 7 : announceOrEnd ? 3 : 8;
  uint32_t pick = r->Below(100);
  if (pick < 20) {  // bad time of day
    static const char* const kTimes[] = {"24:00:00", "1:05:10", "12:60:00", "ab:cd:ef", "", "23:59:5",
                                         "99:99:99", "-1:00:00", "12:30"};
    const char* t = kTimes[r->Below(9)];
    size_t s = FieldStart(*line, 1);
    Replace(line, s, FieldEnd(*line, s), t, std::strlen(t));
  } else if (pick < 38) {  // missing fields: cut after some field
    size_t s = FieldStart(*line, 1 + static_cast<int>(r->Below(6)));
    line->size = s ? s - 1 : 0;
    line->Char('\n');
  } else if (pick < 52) {  // CR LF line end
    line->size--;
    line->Str("\r\n");
  } else if (pick < 56) {  // longer than a reader's line buffer
    std::string pad;
    size_t target = 32768 + r->Below(12000);
    while (pad.size() < target) pad += ",overflow" + std::to_string(pad.size()) + "@flood.example";
    size_t s = FieldStart(*line, kind == kPost ? 6 : 3);
    size_t e = FieldEnd(*line, s);
    Replace(line, e, e, pad.data(), pad.size());
  } else if (pick < 70) {  // non-ASCII and NUL bytes
    static const char kBytes[][4] = {{'\xC3', '\xA9', 0, 0}, {'\xFF', '\xFE', 0, 0}, {'\x80', 0, 0, 0},
                                     {'\xE2', '\x82', '\xAC', 0}};
    size_t s = FieldStart(*line, static_cast<int>(r->Below(5)));
    if (r->Chance(0.5)) {
      Replace(line, s, s, "\0", 1);
    } else {
      const char* b = kBytes[r->Below(4)];
      Replace(line, s, s, b, std::strlen(b));
    }
  } else if (pick < 84) {  // message ID that is not hexadecimal
    size_t s = FieldStart(*line, idField);
    size_t e = FieldEnd(*line, s);
    static const char* const kIds[] = {"NOT-AN-ID", "G00D", "12345Z", "<abc@host>", "0x1F2E3D"};
    if (e > s + 4 && r->Chance(0.5)) line->text[s + 1 + r->Below(static_cast<uint32_t>(e - s - 2))] = 'G';
    else { const char* id = kIds[r->Below(5)]; Replace(line, s, e, id, std::strlen(id)); }
  } else if (pick < 92) {  // garbage without separators
    line->Clear();
    uint32_t n = 1 + r->Below(80);
    for (uint32_t i = 0; i < n; ++i) {
      char c = static_cast<char>(32 + r->Below(95));
      line->Char(c == ';' ? '_' : c);
    }
    line->Char('\n');
  } else {  // empty line or a lone separator
    line->Clear();
    if (r->Chance(0.5)) line->Char(';');
    line->Char('\n');
  }
}

// ---------------------------------------------------------------- driver

struct Options {
  std::string outDir;
  int days = 3;
  int64_t startDay = 0;  // days since 1970-01-01
  uint64_t linesPerDay = 1000;
  int64_t outLines = -1;
  uint64_t seed = 1;
  double hostileRate = 0.0005;
  bool directions[2] = {true, true};
  bool logs[3] = {true, true, true};
  bool quiet = false;
};

struct DayFiles {
  Sink smtp, rbl, post;
  std::string smtpName, rblName, postName;
};

std::string DayName(const char* prefix, int64_t day) {
  int y;
  unsigned m, d;
  CivilFromDays(day, &y, &m, &d);
  char name[64];
  std::snprintf(name, sizeof name, "%s%04d%02u%02u.log", prefix, y, m, d);
  return name;
}

// Hourly traffic shape: quiet nights, busy office hours.
const double kHourWeight[24] = {1.0, 0.8, 0.7, 0.6, 0.6, 0.8, 1.5, 3.0, 6.0, 8.0, 8.5, 8.0,
                                6.5, 7.5, 8.0, 7.5, 6.5, 5.0, 3.5, 2.8, 2.4, 2.0, 1.6, 1.2};

struct DayShape {
  double cumulative[25];
  DayShape() {
    double total = 0;
    for (double w : kHourWeight) total += w;
    cumulative[0] = 0;
    for (int h = 0; h < 24; ++h) cumulative[h + 1] = cumulative[h] + kHourWeight[h] / total;
  }
  uint32_t SecondAt(double f) const {
    int h = 0;
    while (h < 23 && cumulative[h + 1] <= f) ++h;
    double within = (f - cumulative[h]) / (cumulative[h + 1] - cumulative[h]);
    uint32_t s = static_cast<uint32_t>(h * 3600 + within * 3600);
    return s > 86399 ? 86399 : s;
  }
};

struct Generator {
  Options opt;
  Universe universe;
  DayShape shape;
  Scheduler schedulers[2];
  uint64_t nextSerial[2] = {0, 0};
  Rng hostile{0};
  Line line;
  uint64_t totals[3] = {0, 0, 0};

  void Emit(Sink* sink, LogKind kind) {
    if (opt.hostileRate > 0 && hostile.Chance(opt.hostileRate)) MakeHostile(&line, kind, &hostile);
    sink->Write(line.text, line.size);
    ++totals[kind];
  }

  // Writes the waiting RBL and postponer lines due up to 'until' (inclusive).
  void Drain(int direction, uint64_t until, int64_t dayIndex, DayFiles* files) {
    EventQueue& q = schedulers[direction].queue;
    while (!q.empty() && q.top().when <= until) {
      Event e = q.top();
      q.pop();
      Message m = MakeMessage(opt.seed, direction, e.serial, universe);
      uint32_t second = static_cast<uint32_t>(e.when - static_cast<uint64_t>(dayIndex) * 86400);
      if (e.kind == kRbl) {
        if (opt.logs[kRblLog]) {
          RblLine(&line, m, second, universe);
          Emit(&files->rbl, kRblLog);
        }
        if (m.verdict != -1000 && opt.logs[kPost]) PlanDeliveries(m, e.when, &schedulers[direction]);
      } else if (opt.logs[kPost]) {
        PostLine(&line, m, e, second, universe);
        Emit(&files->post, kPost);
      }
    }
  }

  void RunDay(int direction, int64_t dayIndex) {
    const bool in = direction == kIn;
    const int64_t day = opt.startDay + dayIndex;
    DayFiles files;
    files.smtpName = DayName(in ? "smtp" : "smtp-out", day);
    files.rblName = DayName(in ? "rbl" : "rbl-out", day);
    files.postName = DayName(in ? "postponer" : "postponer-out", day);
    namespace fs = std::filesystem;
    if (opt.logs[kSmtp]) files.smtp.Open((fs::path(opt.outDir) / files.smtpName).string());
    if (opt.logs[kRblLog]) files.rbl.Open((fs::path(opt.outDir) / files.rblName).string());
    if (opt.logs[kPost]) files.post.Open((fs::path(opt.outDir) / files.postName).string());

    const uint64_t count = in ? opt.linesPerDay
                              : (opt.outLines >= 0 ? static_cast<uint64_t>(opt.outLines) : opt.linesPerDay * 2 / 5);
    Rng times = RngFor(opt.seed ^ 0x7153, static_cast<uint64_t>(dayIndex) * 2 + direction);
    const uint64_t base = static_cast<uint64_t>(dayIndex) * 86400;
    for (uint64_t i = 0; i < count; ++i) {
      uint32_t second = shape.SecondAt((static_cast<double>(i) + times.Unit()) / static_cast<double>(count));
      Drain(direction, base + second, dayIndex, &files);
      Message m = MakeMessage(opt.seed, direction, nextSerial[direction]++, universe);
      if (opt.logs[kSmtp]) {
        SmtpLine(&line, m, second, universe);
        Emit(&files.smtp, kSmtp);
      }
      if (m.accepted) schedulers[direction].Add(base + second + m.rblDelay, m.serial, kRbl);
    }
    Drain(direction, base + 86399, dayIndex, &files);
    files.smtp.Close(files.smtpName);
    files.rbl.Close(files.rblName);
    files.post.Close(files.postName);
  }

  void Run() {
    hostile = RngFor(opt.seed, 0x4057);
    for (int64_t d = 0; d < opt.days; ++d)
      for (int dir = 0; dir < 2; ++dir)
        if (opt.directions[dir]) RunDay(dir, d);
  }
};

void Usage(FILE* to) {
  std::fputs(
      "Usage: genlogs --out DIR [options]\n"
      "Writes deterministic gateway mail logs (smtp, rbl, postponer; in and out) per day.\n"
      "  --out DIR            target directory (created when missing)\n"
      "  --days N             number of days (default 3)\n"
      "  --start YYYYMMDD     first day (default 20240101)\n"
      "  --lines-per-day L    incoming SMTP lines per day (default 1000)\n"
      "  --out-lines M        outgoing SMTP lines per day (default 2/5 of L)\n"
      "  --seed S             PRNG seed (default 1)\n"
      "  --hostile-rate R     share of malformed lines, 0 to 1 (default 0.0005)\n"
      "  --directions in|out|both   which directions to write (default both)\n"
      "  --logs LIST          comma list of smtp,rbl,postponer (default all)\n"
      "  --quiet              no summary on standard error\n",
      to);
}

bool ParseDate(const char* text, int64_t* day) {
  if (std::strlen(text) != 8) return false;
  for (int i = 0; i < 8; ++i)
    if (text[i] < '0' || text[i] > '9') return false;
  int v = std::atoi(text);
  int y = v / 10000;
  unsigned m = static_cast<unsigned>(v / 100 % 100), d = static_cast<unsigned>(v % 100);
  if (m < 1 || m > 12 || d < 1 || d > 31) return false;
  *day = DaysFromCivil(y, m, d);
  int y2;
  unsigned m2, d2;
  CivilFromDays(*day, &y2, &m2, &d2);
  return y2 == y && m2 == m && d2 == d;
}

bool ParseUnsigned(const char* text, uint64_t* out) {
  char* end = nullptr;
  if (!*text || *text == '-') return false;
  unsigned long long v = std::strtoull(text, &end, 10);
  if (*end) return false;
  *out = v;
  return true;
}

bool ParseOptions(int argc, char** argv, Options* opt) {
  ParseDate("20240101", &opt->startDay);
  for (int i = 1; i < argc; ++i) {
    std::string name = argv[i];
    std::string value;
    size_t eq = name.find('=');
    if (eq != std::string::npos) {
      value = name.substr(eq + 1);
      name.resize(eq);
    } else if (name != "--quiet" && name != "--help" && name != "-h") {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "genlogs: %s needs a value\n", name.c_str());
        return false;
      }
      value = argv[++i];
    }
    uint64_t n = 0;
    bool ok = true;
    if (name == "--help" || name == "-h") {
      Usage(stdout);
      std::exit(0);
    } else if (name == "--quiet") {
      opt->quiet = true;
    } else if (name == "--out") {
      opt->outDir = value;
    } else if (name == "--days") {
      ok = ParseUnsigned(value.c_str(), &n) && n <= 3660;
      opt->days = static_cast<int>(n);
    } else if (name == "--start") {
      ok = ParseDate(value.c_str(), &opt->startDay);
    } else if (name == "--lines-per-day") {
      ok = ParseUnsigned(value.c_str(), &opt->linesPerDay);
    } else if (name == "--out-lines") {
      ok = ParseUnsigned(value.c_str(), &n);
      opt->outLines = static_cast<int64_t>(n);
    } else if (name == "--seed") {
      ok = ParseUnsigned(value.c_str(), &opt->seed);
    } else if (name == "--hostile-rate") {
      char* end = nullptr;
      opt->hostileRate = std::strtod(value.c_str(), &end);
      ok = !value.empty() && !*end && opt->hostileRate >= 0 && opt->hostileRate <= 1;
    } else if (name == "--directions") {
      opt->directions[kIn] = value == "in" || value == "both";
      opt->directions[kOut] = value == "out" || value == "both";
      ok = opt->directions[kIn] || opt->directions[kOut];
    } else if (name == "--logs") {
      opt->logs[kSmtp] = opt->logs[kRblLog] = opt->logs[kPost] = false;
      size_t start = 0;
      while (ok && start <= value.size()) {
        size_t comma = value.find(',', start);
        std::string item = value.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (item == "smtp") opt->logs[kSmtp] = true;
        else if (item == "rbl") opt->logs[kRblLog] = true;
        else if (item == "postponer") opt->logs[kPost] = true;
        else ok = false;
        if (comma == std::string::npos) break;
        start = comma + 1;
      }
    } else {
      std::fprintf(stderr, "genlogs: unknown option %s\n", name.c_str());
      return false;
    }
    if (!ok) {
      std::fprintf(stderr, "genlogs: bad value for %s: %s\n", name.c_str(), value.c_str());
      return false;
    }
  }
  if (opt->outDir.empty()) {
    std::fprintf(stderr, "genlogs: --out DIR is required\n");
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  static Generator generator;  // large line buffer: keep it off the stack
  if (!ParseOptions(argc, argv, &generator.opt)) {
    Usage(stderr);
    return 2;
  }
  std::error_code error;
  std::filesystem::create_directories(generator.opt.outDir, error);
  if (error) {
    std::fprintf(stderr, "genlogs: cannot create %s: %s\n", generator.opt.outDir.c_str(), error.message().c_str());
    return 1;
  }
  generator.Run();
  if (!generator.opt.quiet)
    std::fprintf(stderr, "genlogs: %d day(s) in %s: %llu smtp, %llu rbl, %llu postponer lines\n",
                 generator.opt.days, generator.opt.outDir.c_str(),
                 static_cast<unsigned long long>(generator.totals[kSmtp]),
                 static_cast<unsigned long long>(generator.totals[kRblLog]),
                 static_cast<unsigned long long>(generator.totals[kPost]));
  return 0;
}
