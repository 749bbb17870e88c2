// Both modes over a folder of hostile logs: every log kind with lines of 0 to
// N-1 fields, empty fields, NUL bytes, CR-only ends, a 40 000-byte line,
// binary garbage, non-hexadecimal IDs and impossible times, beside FIFOs and
// a name with no calendar date. Every run ends with exit code 0 or 1, never
// a signal, and lists or counts exactly the lines that have a time.

#include "stat_support.h"

namespace {

using namespace stat_e2e;

// One log line and what a reader makes of it.
struct Line {
  std::string text;
  bool timed;  // field 1 is a valid time of day: the line is counted / listed
  bool ok;     // field 2 reads as 0 (SMTP and postponer traffic "ok")
};

// The first n fields of a full line, for n = 0 .. N-1.
std::vector<Line> Truncations(const std::string& full) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (size_t stop; (stop = full.find(';', start)) != std::string::npos; start = stop + 1) {
    fields.push_back(full.substr(start, stop - start));
  }
  fields.push_back(full.substr(start));
  std::vector<Line> lines;
  for (size_t n = 0; n < fields.size(); ++n) {
    std::string text;
    for (size_t i = 0; i < n; ++i) text += (i ? ";" : "") + fields[i];
    lines.push_back({text, n >= 2, n <= 2 || fields[2] == "0"});
  }
  return lines;
}

// Lines every kind gets after its truncations.
std::vector<Line> CommonHostileLines() {
  return {
      {"x;10:00:03;;;;;;;;;;;;;", true, true},
      {std::string("x;10:00:04;\0\0;a\0b;", 19), true, true},
      {"x;10:00:05;0;a@x.test\rx;10:00:06;1;b@x.test\r", true, true},
      {"x;10:00:07;0;" + std::string(40000, 'A'), true, true},  // the tail is a line of its own
      {"\x80\xff\xfe;\x01\x02;\xc3\x28;\xe2\x82", false, true},
      {"x;25:61:61;0;late", false, true},
      {"x;1:00:00;0;short hour", false, true},
      {"x;10:00:08;0;a@x.test;b@y.test;10.0.0.1;A----;ZZ-not-hex;1;h;E;4", true, true},
  };
}

struct Kind {
  const char* in;
  const char* out;
  std::string full;  // the line whose truncations are written
};

const Kind kKinds[] = {
    {"smtp", "smtp-out", "s;10:00:00;550;t@x.test;u@y.test;10.0.0.9;R----;FFFF01;1;h;ESMTP;4"},
    {"rbl", "rbl-out", "r;10:00:01;t@x.test;u@y.test;;SPAM;100;FFFF02;10.0.0.9;RULE;;0;1.0;0x1"},
    {"postponer", "postponer-out", "p;10:00:02;0;0000;1;10.0.0.9;u@y.test;SENT;FFFF03;250 ok"},
};

// One message that passes every log, listed in full.
const char kGoodSmtp[] = "s;09:00:00;0;alice@x.test;bob@y.test;10.0.0.1;A----;0A0B0C;0;h;ESMTP;4";
const char kGoodRbl[] = "r;09:00:01;alice@x.test;bob@y.test;;;500;0A0B0C;10.0.0.1;;;0;0;0";
const char* const kGoodPost[] = {"p;09:00:02;S;0A0B0C;1",
                                 "p;09:00:03;0;0;1;10.0.0.1;bob@y.test;SENT;0A0B0C;250 ok",
                                 "p;09:00:04;E;0A0B0C;1"};

std::vector<Line> KindLines(const Kind& kind) {
  std::vector<Line> lines = Truncations(kind.full);
  for (const Line& line : CommonHostileLines()) lines.push_back(line);
  return lines;
}

std::string Join(const std::vector<Line>& lines) {
  std::string bytes;
  for (const Line& line : lines) bytes += line.text + "\n";
  return bytes;
}

size_t Count(const std::vector<Line>& lines, bool Line::*flag) {
  size_t n = 0;
  for (const Line& line : lines) n += (line.timed && line.*flag) ? 1 : 0;
  return n;
}

class HostileLogsTest : public testing::Test {
 protected:
  void SetUp() override {
    for (const Kind& kind : kKinds) {
      std::string in = Join(KindLines(kind));
      if (std::string(kind.in) == "smtp") in = std::string(kGoodSmtp) + "\n" + in;
      if (std::string(kind.in) == "rbl") in = std::string(kGoodRbl) + "\n" + in;
      if (std::string(kind.in) == "postponer") {
        for (const char* line : kGoodPost) in = std::string(line) + "\n" + in;
      }
      WriteFile(ws_.logs / (std::string(kind.in) + "20240311.log"), in);
      WriteFile(ws_.logs / (std::string(kind.out) + "20240311.log"), Join(KindLines(kind)));
      // A FIFO named like the next day's log must neither block nor count.
      ASSERT_TRUE(MakeFifoWhereSupported(ws_.logs / (std::string(kind.in) + "20240312.log")));
    }
    // Eight digits that are no calendar date: searched with day 0.
    WriteFile(ws_.logs / "smtp20240231.log",
              "s;09:00:00;0;carol@x.test;dave@y.test;10.0.0.2;A----;0D0E0F;0;h;ESMTP;4\n");
  }
  Workspace ws_{"hostile"};
};

TEST_F(HostileLogsTest, SearchListsEveryTimedSmtpLineAndTheWholeGoodMessage) {
  struct Case {
    std::vector<std::string> args;
    size_t smtpBlocks;  // expected "smtp|" blocks
  };
  const size_t timed = Count(KindLines(kKinds[0]), &Line::timed);
  const Case cases[] = {
      // Both directions, plus the good line of the impossible-date file (day 0).
      {{"--search="}, 2 * timed + 1 + 1},
      {{"--search=to=*"}, 2 * timed + 1 + 1},
      {{"--search=from=*;to=*;ip=*;way=in"}, timed + 1 + 1},
      {{"--search=start=2024/03/11;way=out"}, timed},
      {{"--search=start=99999999999999999999y"}, 0},
      {{"--search=end=-9223372036854775807m"}, 0},
      {{"--search=end=9223372036854775807m;way=in"}, timed + 1 + 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0]);
    std::vector<std::string> args = c.args;
    args.push_back(ws_.logs.string());
    const Outcome o = RunVarno(args, ws_.root);
    ASSERT_EQ(o.exitCode, c.smtpBlocks != 0 ? 0 : 1) << o.err;
    size_t blocks = 0;
    const std::string text = "\n" + o.out;
    for (size_t at = text.find("\nsmtp|"); at != std::string::npos; at = text.find("\nsmtp|", at + 1)) ++blocks;
    EXPECT_EQ(blocks, c.smtpBlocks);
    if (c.smtpBlocks > timed) {
      std::string good = std::string("smtp|in;1;1|") + kGoodSmtp + "\nrbl|" + kGoodRbl + "\npost|" +
                         kGoodPost[1] + "\n\n";
      EXPECT_NE(o.out.find(good), std::string::npos) << o.out.substr(0, 2000);
    }
  }
}

TEST_F(HostileLogsTest, MetadataCountsEveryTimedLine) {
  const Outcome o = RunVarno(ws_.Args({"--stat=ALL", "--date=20240311,20240312"}), ws_.root);
  ASSERT_EQ(o.exitCode, 0) << o.err;
  EXPECT_EQ(o.err, "");
  const std::vector<Line> smtp = KindLines(kKinds[0]);
  const std::vector<Line> post = KindLines(kKinds[2]);
  const size_t rblTimed = Count(KindLines(kKinds[1]), &Line::timed);
  struct Case {
    const char* file;
    std::string summary;  // the file's first line
  };
  auto counts = [](size_t total, size_t ok) {
    return std::to_string(total) + ";" + std::to_string(ok) + ";" + std::to_string(total - ok);
  };
  const Case cases[] = {
      {"_smtp20240311.csv", "S;" + counts(Count(smtp, &Line::timed) + 1, Count(smtp, &Line::ok) + 1)},
      {"_smtp-out20240311.csv", "S;" + counts(Count(smtp, &Line::timed), Count(smtp, &Line::ok))},
      // The good message's "S" and "E" lines are no status lines.
      {"_postponer20240311.csv", "S;" + counts(Count(post, &Line::timed) + 1, Count(post, &Line::ok) + 1)},
      {"_postponer-out20240311.csv", "S;" + counts(Count(post, &Line::timed), Count(post, &Line::ok))},
      {"_rbl-out20240311.csv", "S;" + std::to_string(rblTimed) + ";"},
      {"_rbl20240311.csv", "S;" + std::to_string(rblTimed + 1) + ";"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string text = ReadFile(ws_.out / c.file);
    EXPECT_EQ(text.substr(0, c.summary.size()), c.summary) << text.substr(0, 200);
  }
  for (const char* file : {"_smtpstat/_smtp20240311.csv", "_smtpstat/_rbl20240311.csv", "_bip20240311.csv"}) {
    EXPECT_TRUE(fs::exists(ws_.out / file)) << file;
  }
  // The FIFO day has no file of any type, and the run stored its state.
  EXPECT_FALSE(fs::exists(ws_.out / "_smtp20240312.csv"));
  EXPECT_FALSE(fs::exists(ws_.out / "_varno.stat"));  // --date alone stores nothing
  const Outcome scan = RunVarno(ws_.Args({"--stat=ALL"}), ws_.root);
  EXPECT_EQ(scan.exitCode, 0) << scan.err;
  EXPECT_NE(ReadFile(ws_.out / "_varno.stat").find("last_smtp_in = 2024-03-11,"), std::string::npos);
}

}  // namespace
