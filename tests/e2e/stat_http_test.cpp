// HTTP metadata end to end: "_kelb_cs" files byte for byte for a day with the
// combined log only, one with the compact logs only and one with both; --diff
// over a grown day and --date.
#include "stat_support.h"

namespace {

using namespace stat_e2e;

std::string Combined(const std::string& date) {
  return date + ";08:00:00;B;aa;0;0;10.0.0.1;ann;a.com\n" +
         date + ";08:00:05;E;aa;0;100;10.0.0.1;ann;a.com;200;x;VIRUS;Eicar;0x4;;;0;;;;text/html\n" +
         date + ";09:10:00;E;bb;0;-;10.0.0.2;bob;b.com;403;x;SITE;;0;;;0;;;;text/html\n";
}

struct CompactLogs {
  std::string al, tr, wf;
};

CompactLogs Compact(const std::string& date) {
  return {date + ";07:00:00;10.0.0.9;x;BANNED;bad word\r\n",
          date + ";07:00:00;10.0.0.9;c.com;2048\r\n",
          date + ";07:00:00;x;carol;10.0.0.9;c.com;0x2\r\n"};
}

// "S" line, 24 hour lines (zeros except the given hours), then the lists.
std::string Metadata(const std::string& sLine, const std::string& zeros,
                     const std::vector<std::pair<int, std::string>>& hours, const std::string& lists) {
  std::string text = sLine + "\r\n";
  for (int hour = 0; hour < 24; ++hour) {
    std::string values = zeros;
    for (const auto& h : hours) {
      if (h.first == hour) values = h.second;
    }
    char prefix[8];
    snprintf(prefix, sizeof prefix, "H;%02d;", hour);
    text += prefix + values + "\r\n";
  }
  return text + lists;
}

constexpr const char* kAlertZeros = "0;0;0;0;0;0;0";

void WriteDay(const Workspace& ws, const std::string& ymd, const std::string& date, bool combined,
              bool compact) {
  if (combined) WriteFile(ws.logs / ("kelb" + ymd + ".log"), Combined(date));
  if (!compact) return;
  const CompactLogs logs = Compact(date);
  WriteFile(ws.logs / ("kelb-al" + ymd + ".log"), logs.al);
  WriteFile(ws.logs / ("kelb-tr" + ymd + ".log"), logs.tr);
  WriteFile(ws.logs / ("kelb-wf" + ymd + ".log"), logs.wf);
}

std::string CsFile(const Workspace& ws, const std::string& name) { return ReadFile(ws.out / "_kelb_cs" / name); }

TEST(StatHttpTest, CombinedCompactAndBothLogs) {
  Workspace ws("http");
  WriteDay(ws, "20240311", "2024-03-11", true, false);
  WriteDay(ws, "20240312", "2024-03-12", false, true);
  WriteDay(ws, "20240313", "2024-03-13", true, true);
  Outcome run = RunVarno(ws.Args({"--stat=HTTP"}), ws.root);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  // Combined log only: "E" lines alone are counted; "-" is no volume.
  EXPECT_EQ(CsFile(ws, "_kelb-al20240311.csv"),
            Metadata("S;2;1;0;0;0;0;1", kAlertZeros, {{8, "1;1;0;0;0;0;0"}, {9, "1;0;0;0;0;0;1"}},
                     "IP;10.0.0.1;1\r\nIP;10.0.0.2;1\r\nVIR;Eicar;1\r\n"));
  EXPECT_EQ(CsFile(ws, "_kelb-tr20240311.csv"),
            Metadata("S;102400", "0", {{8, "102400"}}, "IP;10.0.0.1;102400\r\nDM;a.com;102400\r\n"));
  EXPECT_EQ(CsFile(ws, "_kelb-wf20240311.csv"),
            "MUC;0x00000004;1\r\nMUD;a.com;1\r\nMUU;ann;1\r\nMUI;10.0.0.1;1\r\n");
  // Compact logs only.
  EXPECT_EQ(CsFile(ws, "_kelb-al20240312.csv"),
            Metadata("S;1;0;0;1;0;0;0", kAlertZeros, {{7, "1;0;0;1;0;0;0"}}, "IP;10.0.0.9;1\r\n"));
  EXPECT_EQ(CsFile(ws, "_kelb-tr20240312.csv"),
            Metadata("S;2048", "0", {{7, "2048"}}, "IP;10.0.0.9;2048\r\nDM;c.com;2048\r\n"));
  EXPECT_EQ(CsFile(ws, "_kelb-wf20240312.csv"),
            "MUC;0x00000002;1\r\nMUD;c.com;1\r\nMUU;carol;1\r\nMUI;10.0.0.9;1\r\n");
  // Both: one file with the counts of both logs.
  EXPECT_EQ(CsFile(ws, "_kelb-al20240313.csv"),
            Metadata("S;3;1;0;1;0;0;1", kAlertZeros,
                     {{7, "1;0;0;1;0;0;0"}, {8, "1;1;0;0;0;0;0"}, {9, "1;0;0;0;0;0;1"}},
                     "IP;10.0.0.1;1\r\nIP;10.0.0.2;1\r\nIP;10.0.0.9;1\r\nVIR;Eicar;1\r\n"));
  EXPECT_EQ(CsFile(ws, "_kelb-tr20240313.csv"),
            Metadata("S;104448", "0", {{7, "2048"}, {8, "102400"}},
                     "IP;10.0.0.1;102400\r\nIP;10.0.0.9;2048\r\nDM;a.com;102400\r\nDM;c.com;2048\r\n"));
  EXPECT_EQ(CsFile(ws, "_kelb-wf20240313.csv"),
            "MUC;0x00000002;1\r\nMUC;0x00000004;1\r\nMUD;a.com;1\r\nMUD;c.com;1\r\n"
            "MUU;ann;1\r\nMUU;carol;1\r\nMUI;10.0.0.1;1\r\nMUI;10.0.0.9;1\r\n");

  // --date forces a day again and keeps the stored state.
  const std::string state = ReadFile(ws.out / "_varno.stat");
  const std::string day11 = CsFile(ws, "_kelb-al20240311.csv");
  fs::remove(ws.out / "_kelb_cs" / "_kelb-al20240311.csv");
  Outcome forced = RunVarno(ws.Args({"--stat=HTTP-AL", "--date=20240311"}), ws.root);
  ASSERT_EQ(forced.exitCode, 0) << forced.err;
  EXPECT_EQ(CsFile(ws, "_kelb-al20240311.csv"), day11);
  EXPECT_EQ(ReadFile(ws.out / "_varno.stat"), state);
}

TEST(StatHttpTest, DiffOverGrownDays) {
  // Combined log only: the new file holds the added lines alone.
  Workspace ws("httpdiff");
  WriteDay(ws, "20240311", "2024-03-11", true, false);
  ASSERT_EQ(RunVarno(ws.Args({"--stat=HTTP-TR"}), ws.root).exitCode, 0);
  AppendFile(ws.logs / "kelb20240311.log",
             "2024-03-11;10:00:00;E;cc;0;1;10.0.0.3;dan;d.com;200;x;;;0;;;0;;;;\n");
  Outcome diff = RunVarno(ws.Args({"--stat=HTTP-TR", "--diff"}), ws.root);
  ASSERT_EQ(diff.exitCode, 0) << diff.err;
  EXPECT_EQ(CsFile(ws, "_kelb-tr20240311.csv"),
            Metadata("S;1024", "0", {{10, "1024"}}, "IP;10.0.0.3;1024\r\nDM;d.com;1024\r\n"));

  // Both logs, new lines in the compact one: the combined log is read from its
  // start; the compact line that first passes the stored time only moves the
  // resume point (the log counts as changed), the lines after it count.
  Workspace both("httpboth");
  WriteDay(both, "20240313", "2024-03-13", true, true);
  ASSERT_EQ(RunVarno(both.Args({"--stat=HTTP-TR"}), both.root).exitCode, 0);
  AppendFile(both.logs / "kelb-tr20240313.log",
             "2024-03-13;10:00:00;10.0.0.9;c.com;1\r\n2024-03-13;10:30:00;10.0.0.8;e.com;4096\r\n");
  diff = RunVarno(both.Args({"--stat=HTTP-TR", "--diff"}), both.root);
  ASSERT_EQ(diff.exitCode, 0) << diff.err;
  EXPECT_EQ(CsFile(both, "_kelb-tr20240313.csv"),
            Metadata("S;106496", "0", {{8, "102400"}, {10, "4096"}},
                     "IP;10.0.0.1;102400\r\nIP;10.0.0.8;4096\r\nDM;a.com;102400\r\nDM;e.com;4096\r\n"));
}

}  // namespace
