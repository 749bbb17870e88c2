// The line reader gives the same pieces as fgets with a 32 768-byte buffer.
#include "common/line_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "platform/stream.h"

namespace {

namespace fs = std::filesystem;

struct Piece {
  std::string text;
  uint64_t offset;
  uint64_t consumed;
};

class LineReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device seed;
    path_ = fs::temp_directory_path() / ("varno-lines-" + std::to_string(seed()) + ".log");
  }
  void TearDown() override { fs::remove(path_); }

  void Put(const std::string& bytes) {
    std::ofstream out(path_, std::ios::binary);
    out << bytes;
  }

  std::vector<Piece> ReadAll(uint64_t start = 0) {
    std::vector<Piece> pieces;
    FILE* in = OpenStream(path_.wstring().c_str(), "rb");
    EXPECT_NE(in, nullptr);
    if (in == nullptr) return pieces;
    SeekStream(in, start);
    LineReader reader;
    EXPECT_EQ(LineReaderInit(&reader, in, start), kOk);
    LinePiece piece;
    int rc;
    while ((rc = LineReaderNext(&reader, &piece)) == 1) {
      EXPECT_EQ(std::strlen(piece.text), piece.length);  // NUL-terminated in place
      pieces.push_back({std::string(piece.text, piece.length), piece.offset, piece.consumed});
    }
    EXPECT_EQ(rc, 0);
    LineReaderFree(&reader);
    std::fclose(in);
    return pieces;
  }

  // Reference: what fgets with a 32 768-byte buffer returns, LF removed.
  std::vector<std::string> ReadWithFgets() {
    std::vector<std::string> lines;
    FILE* in = OpenStream(path_.wstring().c_str(), "rb");
    std::vector<char> buffer(32768);
    while (std::fgets(buffer.data(), 32768, in) != nullptr) {
      std::string line(buffer.data());
      if (!line.empty() && line.back() == '\n') line.pop_back();
      lines.push_back(line);
    }
    std::fclose(in);
    return lines;
  }

  fs::path path_;
};

TEST_F(LineReaderTest, LongLinesComeInFgetsPieces) {
  std::string data;
  data += std::string(32766, 'a') + "\n";  // fits with its LF
  data += std::string(32767, 'b') + "\n";  // LF comes as an empty piece
  data += std::string(100000, 'c') + "\n";
  data += "short\n";
  Put(data);
  auto pieces = ReadAll();
  auto expected = ReadWithFgets();
  ASSERT_EQ(pieces.size(), expected.size());
  uint64_t offset = 0;
  for (size_t i = 0; i < pieces.size(); ++i) {
    EXPECT_EQ(pieces[i].text, expected[i]) << i;
    EXPECT_EQ(pieces[i].offset, offset);
    offset = pieces[i].consumed;
  }
  EXPECT_EQ(offset, data.size());
}

}  // namespace
