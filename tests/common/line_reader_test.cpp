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

TEST_F(LineReaderTest, LinesOffsetsAndCr) {
  Put("a;b\r\n\nlast");
  auto pieces = ReadAll();
  ASSERT_EQ(pieces.size(), 3u);
  EXPECT_EQ(pieces[0].text, "a;b\r");
  EXPECT_EQ(pieces[0].offset, 0u);
  EXPECT_EQ(pieces[0].consumed, 5u);
  EXPECT_EQ(pieces[1].text, "");
  EXPECT_EQ(pieces[1].offset, 5u);
  EXPECT_EQ(pieces[2].text, "last");
  EXPECT_EQ(pieces[2].offset, 6u);
  EXPECT_EQ(pieces[2].consumed, 10u);
}

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

TEST_F(LineReaderTest, StartsAtAnOffset) {
  Put("first\nsecond\nthird\n");
  auto pieces = ReadAll(6);
  ASSERT_EQ(pieces.size(), 2u);
  EXPECT_EQ(pieces[0].text, "second");
  EXPECT_EQ(pieces[0].offset, 6u);
  EXPECT_EQ(pieces[1].consumed, 19u);
}

TEST_F(LineReaderTest, ReadLineAtCutsAtCrOrLf) {
  Put("one\r\ntwo\nthree");
  FILE* in = OpenStream(path_.wstring().c_str(), "rb");
  char buffer[32768];
  size_t length = 0;
  ASSERT_EQ(ReadLineAt(in, 0, buffer, sizeof buffer, &length), kOk);
  EXPECT_STREQ(buffer, "one");
  EXPECT_EQ(length, 3u);
  ASSERT_EQ(ReadLineAt(in, 9, buffer, sizeof buffer, &length), kOk);
  EXPECT_STREQ(buffer, "three");
  ASSERT_EQ(ReadLineAt(in, 5, buffer, 3, &length), kOk);  // capacity bounds the text
  EXPECT_STREQ(buffer, "tw");
  EXPECT_EQ(ReadLineAt(in, 100, buffer, sizeof buffer, &length), kErrNotFound);
  std::fclose(in);
}

}  // namespace

// The mapped reader gives the buffered reader's pieces, across window ends too.
TEST_F(LineReaderTest, MappedPiecesEqualBufferedPieces) {
  std::mt19937 random(3);
  const char bytes[] = {'a', ';', '\r', '\n', '\0', '\xff'};
  for (int round = 0; round < 12; ++round) {
    std::string data;
    const size_t target = 1000 + random() % 300000;
    while (data.size() < target) {
      size_t length = random() % 200;
      if (random() % 40 == 0) length = 32760 + random() % 16;  // around the piece limit
      for (size_t i = 0; i < length; ++i) data += bytes[random() % sizeof bytes];
      data += '\n';
    }
    if (round % 2 == 1) data.pop_back();  // no LF at the end
    Put(data);
    FILE* in = OpenStream(path_.wstring().c_str(), "rb");
    ASSERT_NE(in, nullptr);
    std::vector<Piece> expected;
    LineReader buffered;
    ASSERT_EQ(LineReaderInit(&buffered, in, 0), kOk);
    LinePiece plain;
    while (LineReaderNext(&buffered, &plain) == 1) {
      expected.push_back({std::string(plain.text, plain.length), plain.offset, plain.consumed});
    }
    LineReaderFree(&buffered);
    MappedLineReader reader;
    ASSERT_EQ(MappedLineReaderInit(&reader, in, 65536 + random() % 4096), kOk);
    LineView piece;
    size_t count = 0;
    int rc;
    while ((rc = MappedLineReaderNext(&reader, &piece)) == 1) {
      ASSERT_LT(count, expected.size());
      const Piece& want = expected[count++];
      EXPECT_EQ(std::string(piece.text, piece.length), want.text) << round << " " << count;
      EXPECT_EQ(piece.offset, want.offset);
      EXPECT_EQ(piece.consumed, want.consumed);
    }
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(count, expected.size());
    MappedLineReaderFree(&reader);
    std::fclose(in);
  }
}
