// The line reader gives the same pieces as fgets with a 32 768-byte buffer,
// each with its offset and the bytes consumed up to its end.
#include "common/line_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "../scratch.h"
#include "platform/stream.h"

namespace {

// Reference: what fgets with a 32 768-byte buffer returns, LF removed.
std::vector<std::string> ReadWithFgets(FILE* in) {
  std::vector<std::string> lines;
  std::vector<char> buffer(32768);
  while (std::fgets(buffer.data(), 32768, in) != nullptr) {
    std::string line(buffer.data());
    if (!line.empty() && line.back() == '\n') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

TEST(LineReader, LongLinesComeInFgetsPieces) {
  std::string data;
  data += std::string(32766, 'a') + "\n";  // fits with its LF
  data += std::string(32767, 'b') + "\n";  // LF comes as an empty piece
  data += std::string(100000, 'c') + "\r\n\n";
  data += "short\nlast";
  scratch::Folder folder("lines");
  scratch::WriteFile(folder / "day.log", data);
  FILE* in = OpenStream(folder.Wide("day.log").c_str(), "rb");
  ASSERT_NE(in, nullptr);
  const std::vector<std::string> expected = ReadWithFgets(in);
  std::rewind(in);
  LineReader reader;
  ASSERT_EQ(LineReaderInit(&reader, in, 0), kOk);
  LinePiece piece;
  uint64_t offset = 0;
  size_t count = 0;
  int rc;
  while ((rc = LineReaderNext(&reader, &piece)) == 1) {
    ASSERT_LT(count, expected.size());
    EXPECT_EQ(std::strlen(piece.text), piece.length);  // NUL-terminated in place
    EXPECT_EQ(std::string(piece.text, piece.length), expected[count]) << count;
    EXPECT_EQ(piece.offset, offset);
    offset = piece.consumed;
    ++count;
  }
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(count, expected.size());
  EXPECT_EQ(offset, data.size());
  LineReaderFree(&reader);
  std::fclose(in);
}

}  // namespace
