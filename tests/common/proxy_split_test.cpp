// The split readers of proxy lines give what the cursor readers give, on
// random and hostile lines.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "../scratch.h"
#include "common/line_reader.h"
#include "common/proxy_log.h"
#include "platform/stream.h"

namespace {

// The cursor readers on the line as the old parser saw it: a trailing CR
// cut, the text ending at its first NUL.
void ReadWithCursor(std::string line, ProxyLine* out, bool* head) {
  if (!line.empty() && line.back() == '\r') line.pop_back();
  *head = ReadProxyHead(line.c_str(), out) == kOk;
  if (!*head) return;
  ReadProxyTraffic(out);
  ReadProxyEnd(out);
}

// The split readers on split fields, each extending the split as it reads.
void ReadFields(ProxyFields* fields, ProxyLine* out, bool* head) {
  *head = ReadProxyHeadSplit(fields, out) == kOk;
  if (!*head) return;
  ReadProxyTrafficSplit(fields, out);
  ReadProxyEndSplit(fields, out, true);
}

void ExpectSameValues(const std::string& line, const ProxyLine& a, bool headA, ProxyFields* fields) {
  static ProxyLine b;
  bool headB = false;
  ReadFields(fields, &b, &headB);
  ASSERT_EQ(headA, headB) << line;
  if (!headA) return;
  EXPECT_EQ(a.timeOfDay, b.timeOfDay) << line;
  EXPECT_EQ(a.kind, b.kind) << line;
  EXPECT_EQ(0, std::memcmp(a.id, b.id, sizeof a.id)) << line;
  EXPECT_EQ(a.size5, b.size5) << line;
  EXPECT_EQ(a.size6, b.size6) << line;
  const std::pair<const char*, const char*> texts[] = {
      {a.ip, b.ip},         {a.user, b.user},     {a.host, b.host},       {a.code, b.code},
      {a.reason, b.reason}, {a.detail, b.detail}, {a.content, b.content}};
  for (const auto& [x, y] : texts) EXPECT_STREQ(x, y) << line;
  EXPECT_EQ(a.categories1, b.categories1) << line;
  EXPECT_EQ(a.categories2, b.categories2) << line;
  EXPECT_EQ(a.webFilterFlag, b.webFilterFlag) << line;
}

// A line split at once and split in steps from a few first fields.
void ExpectSame(const std::string& line) {
  static ProxyLine a;
  bool headA = false;
  ReadWithCursor(line, &a, &headA);
  for (uint32_t first : {1u, 4u, 9u, kProxyFieldsMax}) {
    ProxyFields fields;
    SplitProxyFields(line.data(), line.size(), &fields, first);
    ExpectSameValues(line, a, headA, &fields);
  }
}

// The lines as pieces of the block reader, split from the separators it found.
void ExpectSameAsPieces(const std::vector<std::string>& lines) {
  scratch::Folder folder("proxysplit");
  std::string all;
  for (const std::string& line : lines) all += line + "\n";
  scratch::WriteFile(folder / "kelb.log", all);
  for (uint32_t wanted : {3u, kPieceSeparatorsMax}) {
    FILE* file = OpenStream(folder.Wide("kelb.log").c_str(), "rb");
    ASSERT_NE(file, nullptr);
    BlockLineReader reader;
    ASSERT_EQ(BlockLineReaderInit(&reader, file), kOk);
    LineView piece;
    PieceFields found;
    while (BlockLineReaderNextSplit(&reader, ';', wanted, &piece, &found) == 1) {
      const std::string text(piece.text, piece.length);
      static ProxyLine a;
      bool headA = false;
      ReadWithCursor(text, &a, &headA);
      ProxyFields fields;
      SplitProxyPiece(piece.text, piece.length, found, wanted, &fields);
      ExpectSameValues(text, a, headA, &fields);
    }
    BlockLineReaderFree(&reader);
    std::fclose(file);
  }
}

TEST(ProxySplit, HostileLinesReadAsTheCursorReadersReadThem) {
  const std::string longText(40000, 'x');
  const std::string id = "00c0ffee0000000000000000000000000000abcd";
  const std::string lines[] = {
      "",
      "\r",
      "2024/01/01;10:00:00;B;" + id + ";1;-;10.0.0.1;u;h",
      " 2024/01/01 ; 10:00 ; E ;" + id + "; -3 ; +7 ;\t1.2.3.4 ; Al ice ; h ;200;x;virus;Eicar \t;0x10 , 0x2;;;1;;;;text/html_charset=x\r",
      "2024/01/01;10:00:00;E;" + id.substr(0, 13) + "g;99999999999999999999;-99999999999999999999",
      "2024/01/01;10:00:00;E;" + id + std::string(1, '\0') + "1;2;3;4",
      "2024/01/01;10:00:00;E;zz;1;2;" + longText + ";" + longText + ";" + longText + ";" + longText,
      "2024/01/01;10:00:00;E;1;2;3;4;5;6;7;8;" + std::string(70, 'd') + ";4294967296,-1;;;-1;;;;" + longText,
      "2024/01/01;23:59:59\r\r",
      "2024/01/01;10:00:00;E;1;2;3;4;5;6;7;8;9;detail \r",
      "2024/01/01;24:00:00;B;1",
      "2024/01/01;10:00:00;T;;-;-;;;;;;;;;;;;;;;;;;;;;;;;;",
      "2024/01/01;10:00:00;E;1;2;3;4;5;6;7;8;9;0x;0X1g;;;007;;;;",
      "2024/01/01;10:00:00;E;1;2;3;4;5;6;7;8;9;;;;;;;1234567890;;;;",
      "2024/01/01;10:00:00;B;ABCDEF0123456789abcdef0123456789ABCDEF01;1",
      "2024/01/01;10:00:00;B;0123456789abcdef0123456789abcdef012345g7;1",
      "2024/01/01;10:00:00;B;:@`/Gg0123456789abcdef0123456789abcdef01;1",
      "2024/01/01;10:00:00;B;0123456789abcdef0123456789abcdef0123456\xc1;1",
      "2024/01/01;10:00:00;E;1;2;3;4;5;6;7;8;9;10;11;12;13;14;15;16;17;18;19;20;21;22",
      "2024/01/01;10:00:00;E;1;2;3;4;5;6;7;8;9;10;11;12;13;14;15;16",
      "2024/01/01;10:00:00;E;1;2;3;4;5;6;7;8;9;10;11;12;13;14;15;16;",
  };
  for (const std::string& line : lines) ExpectSame(line);
  ExpectSameAsPieces(std::vector<std::string>(std::begin(lines), std::end(lines)));
}

TEST(ProxySplit, RandomLinesReadAsTheCursorReadersReadThem) {
  std::mt19937 random(20240101);
  // Pieces that make fields of every kind, separators and blanks among them.
  const char* const parts[] = {";", ";", ";", ";", ";", ";", " ", "\t", "\r", "" /* a NUL */,
                               "10:00:00", "9:5", "B", "E", "T", "R", "-", "+", "0x1f", "017",
                               "12", "99999999999999999999", "abcdef0123456789", "G", ",", " , ",
                               "VIRUS", "site", "_charset", "_ x", "text/html", "10.0.0.1"};
  std::vector<std::string> lines;
  for (int n = 0; n < 20000; ++n) {
    std::string line = "2024/01/01;";
    if (random() % 4 != 0) line += "10:00:00;";
    const int count = static_cast<int>(random() % 60);
    for (int k = 0; k < count; ++k) {
      const size_t pick = random() % (sizeof parts / sizeof parts[0]);
      line += pick == 9 ? std::string(1, '\0') : std::string(parts[pick]);
    }
    ExpectSame(line);
    lines.push_back(line);
  }
  ExpectSameAsPieces(lines);
}

}  // namespace
