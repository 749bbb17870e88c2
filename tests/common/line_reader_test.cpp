// The line reader gives the same pieces as fgets with a 32 768-byte buffer,
// each with its offset and the bytes consumed up to its end.
#include "common/line_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
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

// The pieces of the buffered reader over the whole stream, the reference the
// block reader is held to.
std::vector<Piece> BufferedPieces(FILE* in) {
  std::vector<Piece> pieces;
  LineReader buffered;
  EXPECT_EQ(LineReaderInit(&buffered, in, 0), kOk);
  LinePiece plain;
  while (LineReaderNext(&buffered, &plain) == 1) {
    pieces.push_back({std::string(plain.text, plain.length), plain.offset, plain.consumed});
  }
  LineReaderFree(&buffered);
  return pieces;
}

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

// Reference for the separators of a piece: the first `wanted` ';' before
// its first NUL, and its length up to that NUL.
PieceFields ReferenceFields(const std::string& piece, uint32_t wanted) {
  PieceFields fields;
  fields.length = std::min(piece.size(), piece.find('\0'));
  for (size_t i = 0; i < fields.length && fields.count < wanted; ++i) {
    if (piece[i] == ';') fields.at[fields.count++] = static_cast<uint32_t>(i);
  }
  return fields;
}

void ExpectSameFields(const PieceFields& got, const PieceFields& want, const std::string& where) {
  EXPECT_EQ(got.length, want.length) << where;
  ASSERT_EQ(got.count, want.count) << where;
  for (uint32_t i = 0; i < want.count; ++i) EXPECT_EQ(got.at[i], want.at[i]) << where << " " << i;
}

// The block reader gives the buffered reader's pieces, across block ends too,
// with their first separators (the completion finds the rest), and a piece
// stays readable while the next block is read.
TEST_F(LineReaderTest, BlockPiecesEqualBufferedPieces) {
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
    BlockLineReaderAllowAvx2(round % 4 < 2);  // both scans
    Put(data);
    FILE* in = OpenStream(path_.wstring().c_str(), "rb");
    ASSERT_NE(in, nullptr);
    const std::vector<Piece> expected = BufferedPieces(in);
    BlockLineReader reader;
    ASSERT_EQ(BlockLineReaderInit(&reader, in, 65536 + random() % 4096), kOk);
    const uint32_t wanted = static_cast<uint32_t>(random() % (kPieceSeparatorsMax + 2));
    LineView piece;
    LineView held;  // the piece before, maybe of the block before
    PieceFields fields;
    size_t count = 0;
    int rc;
    while ((rc = BlockLineReaderNextSplit(&reader, ';', wanted, &piece, &fields)) == 1) {
      ASSERT_LT(count, expected.size());
      const Piece& want = expected[count++];
      const std::string where = std::to_string(round) + " " + std::to_string(count);
      EXPECT_EQ(std::string(piece.text, piece.length), want.text) << where;
      PieceFields first = ReferenceFields(want.text, std::min(wanted, kPieceSeparatorsMax));
      if (!fields.nulSought) first.length = want.text.size();  // the NUL was not sought
      ExpectSameFields(fields, first, where);
      CompletePieceFields(piece.text, ';', &fields);
      ExpectSameFields(fields, ReferenceFields(want.text, kPieceSeparatorsMax), where);
      EXPECT_EQ(piece.offset, want.offset);
      EXPECT_EQ(piece.consumed, want.consumed);
      if (count > 1) {
        EXPECT_EQ(std::string(held.text, held.length), expected[count - 2].text)
            << "piece of the block before overwritten";
      }
      held = piece;
    }
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(count, expected.size());
    BlockLineReaderFree(&reader);
    std::fclose(in);
  }
  BlockLineReaderAllowAvx2(true);
}

// Whether the piece holds the word as a whole field: its letters (any case)
// with a ';', a byte up to 32 or the piece's end on both sides.
bool HoldsWord(const std::string& piece, const std::string& word) {
  auto bound = [](char c) { return static_cast<unsigned char>(c) <= 32 || c == ';'; };
  for (size_t i = 0; i + word.size() <= piece.size(); ++i) {
    bool same = i == 0 || bound(piece[i - 1]);
    for (size_t k = 0; k < word.size() && same; ++k) same = (piece[i + k] | 0x20) == word[k];
    if (same && (i + word.size() == piece.size() || bound(piece[i + word.size()]))) return true;
  }
  return false;
}

// Skipping passes over whole lines without the words only, up to its limit,
// and the pieces read between skips are the buffered reader's; a line read at
// its offset reads as the buffered one.
TEST_F(LineReaderTest, SkipPassesOverLinesWithoutTheWords) {
  std::mt19937 random(7);
  const std::string parts[] = {";", ";", " ", "\t", "\r", "\n", "\n", "\n", std::string(1, '\0'),
                               "v", "S", "ViRuS", "virus", "viruses", "site", "SITE", "sit", "x", "\xff"};
  LineWords words;
  words.words[words.count++] = "virus";
  words.words[words.count++] = "site";
  uint32_t skippedAll = 0;
  for (int round = 0; round < 8; ++round) {
    BlockLineReaderAllowAvx2(round % 2 == 0);  // both scans
    std::string data;
    while (data.size() < 200000) {
      if (random() % 500 == 0) data += std::string(32760 + random() % 16, 'v') + "\n";
      data += random() % 2 == 0 ? std::string(random() % 90, 'a') : "";
      data += parts[random() % (sizeof parts / sizeof parts[0])];
    }
    Put(data);
    FILE* in = OpenStream(path_.wstring().c_str(), "rb");
    ASSERT_NE(in, nullptr);
    const std::vector<Piece> expected = BufferedPieces(in);
    BlockLineReader reader;
    ASSERT_EQ(BlockLineReaderInit(&reader, in), kOk);
    size_t count = 0;
    LineView piece;
    PieceFields fields;
    for (;;) {
      const uint32_t limit = 1 + random() % 600;
      const uint32_t skipped = BlockLineReaderSkip(&reader, ';', words, limit);
      ASSERT_LE(skipped, limit);
      for (uint32_t i = 0; i < skipped; ++i, ++count) {
        ASSERT_LT(count, expected.size());
        const Piece& line = expected[count];
        EXPECT_FALSE(HoldsWord(line.text, "virus") || HoldsWord(line.text, "site")) << line.text;
        EXPECT_EQ(line.consumed, line.offset + line.text.size() + 1) << "not a whole line";
      }
      skippedAll += skipped;
      if (BlockLineReaderNextSplit(&reader, ';', 3, &piece, &fields) != 1) break;
      ASSERT_LT(count, expected.size());
      EXPECT_EQ(std::string(piece.text, piece.length), expected[count].text);
      EXPECT_EQ(piece.offset, expected[count].offset);
      char line[kLinePieceMax + 1];
      char direct[kLinePieceMax + 1];
      size_t length = 0;
      size_t directLength = 0;
      const ResultCode want = ReadLineAt(in, piece.offset, line, sizeof line, &length);
      EXPECT_EQ(ReadLineAtDirect(in, piece.offset, direct, sizeof direct, &directLength), want);
      EXPECT_EQ(std::string(direct, directLength), std::string(line, length));
      ++count;
    }
    EXPECT_EQ(count, expected.size());
    BlockLineReaderFree(&reader);
    std::fclose(in);
  }
  BlockLineReaderAllowAvx2(true);
#if defined(__SSE2__)
  EXPECT_GT(skippedAll, 1000u);
#endif
}
