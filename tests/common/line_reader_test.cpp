// The line reader gives the same pieces as fgets with a 32 768-byte buffer,
// each with its offset and the bytes consumed up to its end.
#include "common/line_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "../scratch.h"
#include "platform/stream.h"

namespace {

namespace fs = std::filesystem;

struct Piece {
  std::string text;
  uint64_t offset;
  uint64_t consumed;
};

// One log file in a folder of its own.
class LineReaderTest : public ::testing::Test {
 protected:
  void Put(const std::string& bytes) { scratch::WriteFile(path_, bytes); }
  scratch::Folder folder_{"lines"};
  const fs::path path_ = folder_ / "day.log";
};

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

TEST_F(LineReaderTest, LongLinesComeInFgetsPieces) {
  std::string data;
  data += std::string(32766, 'a') + "\n";  // fits with its LF
  data += std::string(32767, 'b') + "\n";  // LF comes as an empty piece
  data += std::string(100000, 'c') + "\r\n\n";
  data += "short\nlast";
  Put(data);
  FILE* in = OpenStream(path_.wstring().c_str(), "rb");
  ASSERT_NE(in, nullptr);
  const std::vector<std::string> expected = ReadWithFgets(in);
  std::rewind(in);
  LineReader reader;
  ASSERT_EQ(LineReaderInit(&reader, in, 0), kOk);
  LinePiece piece;
  std::vector<Piece> pieces;
  int rc;
  while ((rc = LineReaderNext(&reader, &piece)) == 1) {
    EXPECT_EQ(std::strlen(piece.text), piece.length);  // NUL-terminated in place
    pieces.push_back({std::string(piece.text, piece.length), piece.offset, piece.consumed});
  }
  EXPECT_EQ(rc, 0);
  ASSERT_EQ(pieces.size(), expected.size());
  uint64_t offset = 0;
  for (size_t i = 0; i < pieces.size(); ++i) {
    EXPECT_EQ(pieces[i].text, expected[i]) << i;
    EXPECT_EQ(pieces[i].offset, offset) << i;
    offset = pieces[i].consumed;
  }
  EXPECT_EQ(offset, data.size());
  LineReaderFree(&reader);
  std::fclose(in);
}

}  // namespace
