// The split readers of proxy lines give what the cursor readers give, on
// random and hostile lines: split at once, in steps, and from the separators
// the block reader found.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "../scratch.h"
#include "common/line_reader.h"
#include "common/proxy_log.h"
#include "platform/stream.h"

namespace {

// Every value the readers give, as one text ("-" when the time is bad).
std::string Values(bool head, const ProxyLine& l) {
  if (!head) return "-";
  std::string id(reinterpret_cast<const char*>(l.id), sizeof l.id);
  return std::to_string(l.timeOfDay) + "|" + l.kind + "|" + id + "|" + std::to_string(l.size5) + "|" +
         std::to_string(l.size6) + "|" + l.ip + "|" + l.user + "|" + l.host + "|" + l.code + "|" +
         l.reason + "|" + l.detail + "|" + std::to_string(l.categories1) + "|" +
         std::to_string(l.categories2) + "|" + std::to_string(l.webFilterFlag) + "|" + l.content;
}

// The cursor readers on the line as the old parser saw it: a trailing CR
// cut, the text ending at its first NUL.
std::string ByCursor(std::string line) {
  static ProxyLine out;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  const bool head = ReadProxyHead(line.c_str(), &out) == kOk;
  if (head) {
    ReadProxyTraffic(&out);
    ReadProxyEnd(&out);
  }
  return Values(head, out);
}

std::string BySplit(ProxyFields* fields) {
  static ProxyLine out;
  const bool head = ReadProxyHeadSplit(fields, &out) == kOk;
  if (head) {
    ReadProxyTrafficSplit(fields, &out);
    ReadProxyEndSplit(fields, &out, true);
  }
  return Values(head, out);
}

void ExpectSame(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) {
    const std::string expected = ByCursor(line);
    for (uint32_t first : {1u, 4u, 9u, kProxyFieldsMax}) {
      ProxyFields fields;
      SplitProxyFields(line.data(), line.size(), &fields, first);
      ASSERT_EQ(BySplit(&fields), expected) << line;
    }
  }
  // The same lines as pieces of the block reader.
  scratch::Folder folder("proxysplit");
  std::string all;
  for (const std::string& line : lines) all += line + "\n";
  scratch::WriteFile(folder / "kelb.log", all);
  for (uint32_t wanted : {3u, kPieceSeparatorsMax}) {
    FILE* file = OpenStream(folder.Wide("kelb.log").c_str(), "rb");
    BlockLineReader reader;
    ASSERT_EQ(BlockLineReaderInit(&reader, file), kOk);
    LineView piece;
    PieceFields found;
    while (BlockLineReaderNextSplit(&reader, ';', wanted, &piece, &found) == 1) {
      ProxyFields fields;
      SplitProxyPiece(piece.text, piece.length, found, wanted, &fields);
      ASSERT_EQ(BySplit(&fields), ByCursor(std::string(piece.text, piece.length)));
    }
    BlockLineReaderFree(&reader);
    std::fclose(file);
  }
}

TEST(ProxySplit, HostileAndRandomLinesReadAsTheCursorReadersReadThem) {
  const std::string longText(40000, 'x');
  const std::string id = "00c0ffee0000000000000000000000000000abcd";
  const std::string e = "2024/01/01;10:00:00;E;";
  ExpectSame({
      "",
      "\r",
      "2024/01/01;10:00:00;B;" + id + ";1;-;10.0.0.1;u;h",
      " 2024/01/01 ; 10:00 ; E ;" + id + "; -3 ; +7 ;\t1.2.3.4 ; Al ice ; h ;200;x;virus;Eicar \t;0x10 , 0x2;;;1;;;;text/html_charset=x\r",
      e + id.substr(0, 13) + "g;99999999999999999999;-99999999999999999999",
      e + id + std::string(1, '\0') + "1;2;3;4",
      e + "zz;1;2;" + longText + ";" + longText + ";" + longText + ";" + longText,
      e + "1;2;3;4;5;6;7;8;" + std::string(70, 'd') + ";4294967296,-1;;;-1;;;;" + longText,
      "2024/01/01;23:59:59\r\r",
      "2024/01/01;24:00:00;B;1",
      "2024/01/01;10:00:00;T;;-;-;;;;;;;;;;;;;;;;;;;;;;;;;",
      e + "1;2;3;4;5;6;7;8;9;detail \r",
      e + "1;2;3;4;5;6;7;8;9;0x;0X1g;;;007;;;;",
      e + "1;2;3;4;5;6;7;8;9;;;;;;;1234567890;;;;",
      e + "ABCDEF0123456789abcdef0123456789ABCDEF01;1",
      e + "0123456789abcdef0123456789abcdef012345g7;1",
      e + ":@`/Gg0123456789abcdef0123456789abcdef01;1",
      e + "0123456789abcdef0123456789abcdef0123456\xc1;1",
      e + "1;2;3;4;5;6;7;8;9;10;11;12;13;14;15;16;17;18;19;20;21;22",
      e + "1;2;3;4;5;6;7;8;9;10;11;12;13;14;15;16",
      e + "1;2;3;4;5;6;7;8;9;10;11;12;13;14;15;16;",
  });
  std::mt19937 random(20240101);
  // Pieces that make fields of every kind, separators and blanks among them;
  // the empty one stands for a NUL.
  const char* const parts[] = {";", ";", ";", ";", ";", ";", " ", "\t", "\r", "", "10:00:00",
                               "9:5", "B", "E", "T", "R", "-", "+", "0x1f", "017", "12",
                               "99999999999999999999", "abcdef0123456789", "G", ",", " , ",
                               "VIRUS", "site", "_charset", "_ x", "text/html", "10.0.0.1"};
  std::vector<std::string> lines;
  for (int n = 0; n < 20000; ++n) {
    std::string line = random() % 4 != 0 ? "2024/01/01;10:00:00;" : "2024/01/01;";
    for (int k = static_cast<int>(random() % 60); k > 0; --k) {
      const char* part = parts[random() % (sizeof parts / sizeof parts[0])];
      line += *part != '\0' ? std::string(part) : std::string(1, '\0');
    }
    lines.push_back(line);
  }
  ExpectSame(lines);
}

}  // namespace
