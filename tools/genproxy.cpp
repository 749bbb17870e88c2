// genproxy: writes deterministic, realistic HTTP proxy logs ("kelbYYYYMMDD.log")
// for N days into a directory, for examples, tests and benchmarks. The same
// options always give the same bytes.
//
// Each day has exactly --lines-per-day lines, spread evenly over the day. A
// line slot writes the earliest due event of an open transaction (traffic
// reports "T", the closing "E") or, when none is due, opens a new one ("B").
// A share of transactions lasts hours, so thousands stay open at once and some
// run into the next day. A proxy reset ("R") now and then ends every open
// transaction. Blocked transactions carry a reason (viruses with their names,
// banned content, web filter verdicts), many carry web filter categories, and
// a low rate of hostile lines (cut short, bad times, unknown kinds, NUL bytes,
// bad ids, very long lines) is mixed in.
//
// --layout picks the files: the combined log, the compact per-kind logs
// ("kelb-alYYYYMMDD.log": blocked transactions with a reason, "kelb-tr…": the
// volume of every finished transaction, "kelb-wf…": categorised ones), or
// both. --close-at-end ends the last day with a proxy reset, so that no
// transaction stays open past the generated days.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <queue>
#include <unordered_map>
#include <string>
#include <vector>

namespace {

uint64_t Mix64(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

struct Rng {
  uint64_t state;
  uint64_t Next() { return Mix64(state += 0x9E3779B97F4A7C15ull); }
  double Unit() { return static_cast<double>(Next() >> 11) * (1.0 / 9007199254740992.0); }
  uint32_t Below(uint32_t n) { return n ? static_cast<uint32_t>((Next() >> 32) * n >> 32) : 0; }
  bool Chance(double p) { return Unit() < p; }
  // Rank in [0, n) with probability about 1/(rank+1).
  uint32_t Zipf(uint32_t n) {
    double k = std::exp(Unit() * std::log(static_cast<double>(n) + 1.0)) - 1.0;
    uint32_t r = static_cast<uint32_t>(k);
    return r >= n ? n - 1 : r;
  }
};

struct Options {
  std::string outDir = "proxy-logs";
  int days = 3;
  int startYear = 2024, startMonth = 3, startDay = 11;
  uint64_t linesPerDay = 20000;
  uint64_t seed = 1;
  double hostileRate = 0.0005;
  double longShare = 0.05;  // transactions that last from half an hour to six hours
  bool quiet = false;
  bool closeAtEnd = false;
  bool combined = true;  // write kelbYYYYMMDD.log
  bool compact = false;  // write kelb-al/-tr/-wfYYYYMMDD.log
};

const char* const kFirstNames[] = {"alice", "bob",   "carol", "dave",  "erin",  "frank", "grace",
                                   "heidi", "ivan",  "judy",  "mallory", "niaj", "olivia", "peggy",
                                   "rupert", "sybil", "trent", "victor", "walter", "yvonne"};
const char* const kWords[] = {"news",  "mail",   "shop",  "video", "cdn",   "static", "api",
                              "games", "bank",   "maps",  "music", "photos", "forum", "jobs",
                              "wiki",  "travel", "sport", "chat",  "cloud", "ads"};
const char* const kDomains[] = {"example.com", "example.org", "example.net", "sample.de",
                                "demo.co.uk",  "test.io",     "corp.local"};
const char* const kContent[] = {"text/html_charset=UTF-8", "image/png",    "image/jpeg",
                                "application/json",        "text/css",     "application/javascript",
                                "video/mp4",               "application/octet-stream",
                                "text/html_ charset=iso-8859-1"};
const char* const kVirus[] = {"EICAR-Test-File", "Win32.Trojan.Agent", "JS.Downloader.Nemucod",
                              "W97M.Macro.Dropper", "Android.Adware.Airpush"};
const char* const kReasons[] = {"CONTENT", "BANNED", "NOTALLOWED", "BANCON", "SITE", "PHISHING"};
const char* const kMethods[] = {"GET", "GET", "GET", "POST", "CONNECT", "HEAD"};
constexpr uint32_t kUsers = 400;
constexpr uint32_t kHosts = 3000;

std::string UserName(uint32_t user, Rng& rng) {
  std::string name = kFirstNames[user % 20];
  if (user >= 20) name += std::to_string(user / 20);
  // A few log the same user in capitals.
  if (rng.Chance(0.02)) {
    for (char& c : name) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  }
  return name;
}

std::string HostName(uint32_t host) {
  uint64_t h = Mix64(host + 77);
  std::string name = host % 4 == 0 ? "www." : "";
  name += kWords[h % 20];
  if (host >= 20) name += std::to_string(host % 97);
  name += '.';
  name += kDomains[(h >> 8) % 7];
  return name;
}

// Category bits of a host (stable), and a second mask now and then.
uint32_t HostCategories(uint32_t host) {
  uint64_t h = Mix64(host * 31 + 5);
  if (h % 10 < 6) return 0;
  uint32_t bits = 1u << ((h >> 8) % 23);
  if ((h >> 16) % 5 == 0) bits |= 1u << ((h >> 24) % 23);
  return bits;
}

struct Transaction {
  uint64_t serial;
  uint32_t user, host, ip;
  uint64_t finalKiB;
  uint32_t reports;  // traffic lines to write
  uint32_t written;  // traffic lines written
  uint64_t step;     // seconds between the events of the transaction
};

struct Event {
  uint64_t due;  // seconds since the first day's midnight
  uint64_t serial;
  bool operator>(const Event& other) const {
    return due != other.due ? due > other.due : serial > other.serial;
  }
};

class Generator {
 public:
  explicit Generator(const Options& options) : opt_(options), rng_{Mix64(options.seed)} {}

  int Run() {
    for (int d = 0; d < opt_.days; ++d) {
      if (!WriteDay(d)) return 1;
    }
    if (!opt_.quiet) {
      std::fprintf(stderr, "genproxy: %d day(s) in %s: %llu lines, %llu transactions, peak %zu open\n",
                   opt_.days, opt_.outDir.c_str(), static_cast<unsigned long long>(lines_),
                   static_cast<unsigned long long>(serial_), peakOpen_);
    }
    return 0;
  }

 private:
  bool WriteDay(int d) {
    int year = 0, month = 0, day = 0;
    CivilDate(d, &year, &month, &day);
    char name[64];
    std::snprintf(name, sizeof name, "kelb%04d%02d%02d.log", year, month, day);
    FILE* file = opt_.combined ? Create(name) : nullptr;
    std::vector<char> buffer(1 << 20);
    if (file != nullptr) std::setvbuf(file, buffer.data(), _IOFBF, buffer.size());
    FILE* compact[3] = {nullptr, nullptr, nullptr};
    if (opt_.compact) {
      const char* const kinds[3] = {"al", "tr", "wf"};
      for (int k = 0; k < 3; ++k) {
        std::snprintf(name, sizeof name, "kelb-%s%04d%02d%02d.log", kinds[k], year, month, day);
        compact[k] = Create(name);
      }
    }
    if ((opt_.combined && file == nullptr) ||
        (opt_.compact && (compact[0] == nullptr || compact[1] == nullptr || compact[2] == nullptr))) {
      return false;
    }
    std::snprintf(date_, sizeof date_, "%04d/%02d/%02d", year, month, day);
    // A reset on every third day, at a time of the day that depends on the day.
    uint64_t resetSlot = d % 3 == 1 ? Mix64(opt_.seed * 1000 + d) % opt_.linesPerDay : ~0ull;
    for (uint64_t slot = 0; slot < opt_.linesPerDay; ++slot) {
      const uint64_t second = slot * 86400 / opt_.linesPerDay;
      const uint64_t now = static_cast<uint64_t>(d) * 86400 + second;
      std::snprintf(time_, sizeof time_, "%02u:%02u:%02u", static_cast<unsigned>(second / 3600),
                    static_cast<unsigned>(second / 60 % 60), static_cast<unsigned>(second % 60));
      line_.clear();
      for (std::string& line : compactLines_) line.clear();
      if (slot == resetSlot) {
        Reset();
      } else if (rng_.Chance(opt_.hostileRate)) {
        Hostile(now);
      } else if (!events_.empty() && events_.top().due <= now) {
        Event event = events_.top();
        events_.pop();
        Advance(event.serial, now);
      } else {
        Open(now);
      }
      Emit(file, compact);
    }
    if (opt_.closeAtEnd && d + 1 == opt_.days) {
      std::snprintf(time_, sizeof time_, "23:59:59");
      line_.clear();
      for (std::string& line : compactLines_) line.clear();
      Reset();
      Emit(file, compact);
    }
    bool closed = file == nullptr || std::fclose(file) == 0;
    for (FILE* f : compact) {
      if (f != nullptr && std::fclose(f) != 0) closed = false;
    }
    return closed;
  }

  FILE* Create(const char* name) {
    std::string path = opt_.outDir + "/" + name;
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) std::fprintf(stderr, "genproxy: cannot create %s\n", path.c_str());
    return file;
  }

  void Emit(FILE* file, FILE* const compact[3]) {
    if (file != nullptr) std::fwrite(line_.data(), 1, line_.size(), file);
    for (int k = 0; k < 3; ++k) {
      if (compact[k] != nullptr) std::fwrite(compactLines_[k].data(), 1, compactLines_[k].size(), compact[k]);
    }
    ++lines_;
  }

  // The compact lines of a finished transaction.
  void CompactLines(const Transaction& t) {
    std::string head = std::string(date_) + ";" + time_ + ";";
    char text[512];
    if (!lastReason_.empty()) {
      std::snprintf(text, sizeof text, "%s;%s;%s;%s\r\n", lastIp_.c_str(), lastCode_.c_str(),
                    lastReason_.c_str(), lastDetail_.c_str());
      compactLines_[0] += head + text;
    }
    std::snprintf(text, sizeof text, "%s;%s;%llu\r\n", lastIp_.c_str(), lastHost_.c_str(),
                  static_cast<unsigned long long>(t.finalKiB * 1024));
    compactLines_[1] += head + text;
    if (lastCategories_ != 0) {
      std::snprintf(text, sizeof text, "%s;%s;%s;%s;0x%x\r\n", lastCode_.c_str(), lastUser_.c_str(),
                    lastIp_.c_str(), lastHost_.c_str(), lastCategories_);
      compactLines_[2] += head + text;
    }
  }

  void CivilDate(int offset, int* year, int* month, int* day) const {
    *year = opt_.startYear;
    *month = opt_.startMonth;
    *day = opt_.startDay + offset;
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    for (;;) {
      int length = kDays[*month - 1];
      if (*month == 2 && ((*year % 4 == 0 && *year % 100 != 0) || *year % 400 == 0)) length = 29;
      if (*day <= length) return;
      *day -= length;
      if (++*month > 12) {
        *month = 1;
        ++*year;
      }
    }
  }

  void Id(uint64_t serial) {
    // Worker number in the first four bytes, so many ids share them.
    char id[48];
    std::snprintf(id, sizeof id, "%08x%016llx%016llx", static_cast<unsigned>(serial % 8) * 0x1111u,
                  static_cast<unsigned long long>(Mix64(serial)),
                  static_cast<unsigned long long>(serial));
    line_ += id;
  }

  void Head(char kind, uint64_t serial) {
    line_ += date_;
    line_ += ';';
    line_ += time_;
    line_ += ';';
    line_ += kind;
    line_ += ';';
    Id(serial);
  }

  void Names(const Transaction& t) {
    char text[64];
    std::snprintf(text, sizeof text, "10.%u.%u.%u", t.ip >> 16 & 255, t.ip >> 8 & 255, t.ip & 255);
    lastIp_ = text;
    Rng names{Mix64(t.serial ^ 0xABCDEF)};
    lastUser_ = UserName(t.user, names);
    lastHost_ = HostName(t.host);
    line_ += ';';
    line_ += lastIp_;
    line_ += ';';
    line_ += lastUser_;
    line_ += ';';
    line_ += lastHost_;
  }

  void Open(uint64_t now) {
    Transaction t{};
    t.serial = serial_++;
    t.user = rng_.Zipf(kUsers);
    t.host = rng_.Zipf(kHosts);
    t.ip = (t.user * 2654435761u) % 65000 + 256;
    bool longLived = rng_.Chance(opt_.longShare);
    double kib = std::exp(rng_.Unit() * 8.0) * (longLived ? 40.0 : 1.0);
    t.finalKiB = static_cast<uint64_t>(kib);
    t.reports = longLived ? 1 + rng_.Below(4) : (rng_.Chance(0.2) ? 1 : 0);
    uint64_t duration = longLived ? 1800 + rng_.Below(6 * 3600) : rng_.Below(30);
    Head('B', t.serial);
    char sizes[32];
    std::snprintf(sizes, sizeof sizes, ";%u;-", rng_.Below(3));
    line_ += sizes;
    Names(t);
    line_ += "\r\n";
    t.step = (t.reports > 0 ? duration / (t.reports + 1) : duration) + 1;
    open_[t.serial] = t;
    events_.push({now + t.step, t.serial});
    if (open_.size() > peakOpen_) peakOpen_ = open_.size();
  }

  void Advance(uint64_t serial, uint64_t now) {
    auto found = open_.find(serial);
    if (found == open_.end()) return Open(now);  // dropped by a reset
    Transaction& t = found->second;
    char sizes[48];
    if (t.written < t.reports) {
      ++t.written;
      Head('T', serial);
      std::snprintf(sizes, sizeof sizes, ";-;%llu",
                    static_cast<unsigned long long>(t.finalKiB * t.written / (t.reports + 1)));
      line_ += sizes;
      Names(t);
      line_ += "\r\n";
      events_.push({now + t.step, serial});
      return;
    }
    Head('E', serial);
    std::snprintf(sizes, sizeof sizes, ";-;%llu", static_cast<unsigned long long>(t.finalKiB));
    line_ += sizes;
    Names(t);
    EndFields(t);
    line_ += "\r\n";
    if (opt_.compact) CompactLines(t);
    open_.erase(found);
  }

  void EndFields(const Transaction& t) {
    Rng end{Mix64(t.serial * 7 + 3)};
    uint32_t categories = HostCategories(t.host);
    uint32_t all = categories != 0 && end.Chance(0.3) ? categories | 0x80000000u : 0;
    const char* reason = "";
    std::string detail;
    int webFilter = 0;
    double roll = end.Unit();
    if (roll < 0.004) {
      reason = "VIRUS";
      detail = kVirus[end.Zipf(5)];
    } else if (roll < 0.02) {
      reason = kReasons[end.Below(6)];
      detail = "rule " + std::to_string(end.Below(40));
    } else if (roll < 0.05 && categories != 0) {
      webFilter = 1;
    }
    const bool blocked = reason[0] != '\0' || webFilter != 0;
    const char* code = blocked ? "403" : (roll < 0.85 ? "200" : (roll < 0.93 ? "304" : (roll < 0.97 ? "302" : "404")));
    lastReason_ = reason;
    lastDetail_ = detail;
    lastCode_ = code;
    lastCategories_ = categories;
    char text[256];
    std::snprintf(text, sizeof text, ";%s;%s;%s;%s;", code, kMethods[end.Below(6)], reason,
                  detail.c_str());
    line_ += text;
    if (categories == 0) {
      line_ += "0";
    } else if (all != 0) {
      std::snprintf(text, sizeof text, "0x%x, 0x%x", categories, all);
      line_ += text;
    } else {
      std::snprintf(text, sizeof text, "0x%x", categories);
      line_ += text;
    }
    std::snprintf(text, sizeof text, ";%u;-;%d;-;-;-;%s", 80 + 363 * end.Below(2), webFilter,
                  kContent[end.Zipf(9)]);
    line_ += text;
  }

  void Reset() {
    line_ += date_;
    line_ += ';';
    line_ += time_;
    line_ += ";R\r\n";
    open_.clear();
  }

  void Hostile(uint64_t now) {
    uint32_t kind = rng_.Below(20);
    std::string saved;
    if (kind < 6) {
      // A line cut short anywhere.
      Transaction t{serial_++, rng_.Zipf(kUsers), rng_.Zipf(kHosts), 300, 5, 0, 0, 0};
      Head('E', t.serial);
      line_ += ";-;5";
      Names(t);
      EndFields(t);
      line_.resize(1 + rng_.Below(static_cast<uint32_t>(line_.size())));
      line_ += "\r\n";
    } else if (kind < 9) {
      line_ += date_;
      line_ += ";99:99:99;B;";
      Id(serial_++);
      line_ += ";1;-;10.0.0.1;x;y\r\n";
    } else if (kind < 12) {
      Head('X', serial_++);
      line_ += ";1;2;10.0.0.1;x;y\r\n";
    } else if (kind < 14) {
      Head('E', serial_++);
      line_ += std::string(";-;3;10.0.0.1;", 14);
      line_ += '\0';
      line_ += "nul;y\r\n";
    } else if (kind < 17) {
      Head('B', 0);
      line_.resize(line_.size() - 40);
      line_ += "not-a-hex-id;1;-;10.0.0.2;bad;id.example\r\n";
    } else if (kind < 19) {
      line_ += "\r\n";
    } else {
      Head('E', serial_++);
      line_ += ";-;1;10.0.0.3;long;";
      line_ += std::string(40000, 'x');
      line_ += "\r\n";
    }
    (void)now;
  }

  Options opt_;
  Rng rng_;
  std::string line_;
  char date_[16] = {};
  char time_[16] = {};
  std::string compactLines_[3];  // al, tr, wf lines of the current slot
  std::string lastIp_, lastUser_, lastHost_, lastReason_, lastDetail_, lastCode_;
  uint32_t lastCategories_ = 0;
  uint64_t serial_ = 1;
  uint64_t lines_ = 0;
  size_t peakOpen_ = 0;
  std::unordered_map<uint64_t, Transaction> open_;
  std::priority_queue<Event, std::vector<Event>, std::greater<Event>> events_;
};

void Usage(FILE* out) {
  std::fputs(
      "Usage: genproxy [options]\n"
      "Writes deterministic HTTP proxy logs kelbYYYYMMDD.log, one per day.\n"
      "  --out DIR             output directory (default proxy-logs)\n"
      "  --days N              number of days (default 3)\n"
      "  --start YYYYMMDD      first day (default 20240311)\n"
      "  --lines-per-day N     lines per day (default 20000)\n"
      "  --seed N              random seed (default 1)\n"
      "  --hostile-rate P      share of hostile lines (default 0.0005)\n"
      "  --long-share P        share of transactions lasting hours (default 0.05)\n"
      "  --layout L            combined, compact or both (default combined)\n"
      "  --close-at-end        end the last day with a proxy reset\n"
      "  --quiet               no summary on standard error\n",
      out);
}

bool ParseOptions(int argc, char** argv, Options* opt) {
  for (int i = 1; i < argc; ++i) {
    std::string name = argv[i];
    std::string value;
    size_t eq = name.find('=');
    if (eq != std::string::npos) {
      value = name.substr(eq + 1);
      name.resize(eq);
    } else if (name != "--quiet" && name != "--help" && name != "-h" && name != "--close-at-end") {
      if (i + 1 >= argc) return false;
      value = argv[++i];
    }
    char* end = nullptr;
    if (name == "--help" || name == "-h") {
      Usage(stdout);
      std::exit(0);
    } else if (name == "--quiet") {
      opt->quiet = true;
    } else if (name == "--close-at-end") {
      opt->closeAtEnd = true;
    } else if (name == "--layout") {
      if (value != "combined" && value != "compact" && value != "both") return false;
      opt->combined = value != "compact";
      opt->compact = value != "combined";
    } else if (name == "--out") {
      opt->outDir = value;
    } else if (name == "--days") {
      opt->days = static_cast<int>(std::strtol(value.c_str(), &end, 10));
      if (*end != '\0' || opt->days < 0 || opt->days > 3660) return false;
    } else if (name == "--start") {
      if (value.size() != 8 || std::sscanf(value.c_str(), "%4d%2d%2d", &opt->startYear,
                                           &opt->startMonth, &opt->startDay) != 3 ||
          opt->startMonth < 1 || opt->startMonth > 12 || opt->startDay < 1 || opt->startDay > 31) {
        return false;
      }
    } else if (name == "--lines-per-day") {
      opt->linesPerDay = std::strtoull(value.c_str(), &end, 10);
      if (*end != '\0' || opt->linesPerDay == 0) return false;
    } else if (name == "--seed") {
      opt->seed = std::strtoull(value.c_str(), &end, 10);
      if (*end != '\0') return false;
    } else if (name == "--hostile-rate" || name == "--long-share") {
      double rate = std::strtod(value.c_str(), &end);
      if (value.empty() || *end != '\0' || rate < 0 || rate > 1) return false;
      (name == "--hostile-rate" ? opt->hostileRate : opt->longShare) = rate;
    } else {
      std::fprintf(stderr, "genproxy: unknown option %s\n", name.c_str());
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, &options)) {
    Usage(stderr);
    return 2;
  }
  std::error_code error;
  std::filesystem::create_directories(options.outDir, error);
  if (error) {
    std::fprintf(stderr, "genproxy: cannot create %s: %s\n", options.outDir.c_str(),
                 error.message().c_str());
    return 1;
  }
  static Generator* generator = new Generator(options);
  int status = generator->Run();
  delete generator;
  return status;
}
