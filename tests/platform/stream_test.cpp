// Text-mode and binary streams: CR LF on disk, CR LF and LF accepted on input.
#include "platform/stream.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

class StreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device seed;
    folder_ = fs::temp_directory_path() / ("varno-stream-" + std::to_string(seed()));
    fs::create_directories(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }

  std::wstring Path(const char* name) const { return (folder_ / name).wstring(); }
  std::string Bytes(const char* name) const {
    std::ifstream in(folder_ / name, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
  }
  void Put(const char* name, const std::string& bytes) const {
    std::ofstream out(folder_ / name, std::ios::binary);
    out << bytes;
  }

  fs::path folder_;
};

TEST_F(StreamTest, TextModeWritesCrLf) {
  FILE* out = OpenStream(Path("t.txt").c_str(), "wt");
  ASSERT_NE(out, nullptr);
  std::fputs("a=1\n\nb\n", out);
  std::fprintf(out, "%s\n", std::string(100000, 'x').c_str());  // larger than any buffer
  ASSERT_EQ(FlushStreamToDisk(out), kOk);
  ASSERT_EQ(std::fclose(out), 0);
  EXPECT_EQ(Bytes("t.txt"), "a=1\r\n\r\nb\r\n" + std::string(100000, 'x') + "\r\n");
}

TEST_F(StreamTest, TextAppendAddsAtTheEnd) {
  Put("a.txt", "old\r\n");
  FILE* out = OpenStream(Path("a.txt").c_str(), "at");
  ASSERT_NE(out, nullptr);
  std::fputs("new\n", out);
  std::fclose(out);
  EXPECT_EQ(Bytes("a.txt"), "old\r\nnew\r\n");
}

TEST_F(StreamTest, BinaryModesKeepBytes) {
  FILE* out = OpenStream(Path("b.bin").c_str(), "wb");
  ASSERT_NE(out, nullptr);
  std::fwrite("a\nb\r\n\0c", 1, 7, out);
  std::fclose(out);
  EXPECT_EQ(Bytes("b.bin"), std::string("a\nb\r\n\0c", 7));
  out = OpenStream(Path("b.bin").c_str(), "ab");
  std::fputs("\n", out);
  std::fclose(out);
  EXPECT_EQ(Bytes("b.bin").size(), 8u);
}

TEST_F(StreamTest, TextReadAcceptsLfAndCrLf) {
  Put("r.txt", "one\r\ntwo\nthree\rfour\r\n\r");
  FILE* in = OpenStream(Path("r.txt").c_str(), "rt");
  ASSERT_NE(in, nullptr);
  std::string all;
  char chunk[7];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, in)) > 0) all.append(chunk, got);
  std::fclose(in);
  EXPECT_EQ(all, "one\ntwo\nthree\rfour\n\r");  // a lone CR stays
}

TEST_F(StreamTest, MissingFileFailsWithErrno) {
  EXPECT_EQ(OpenStream(Path("none/x.txt").c_str(), "rb"), nullptr);
  EXPECT_NE(StreamLastError(), 0);
  EXPECT_EQ(OpenStream(Path("none/x.txt").c_str(), "wt"), nullptr);
  EXPECT_EQ(OpenStream(Path("x").c_str(), "q"), nullptr);
  EXPECT_EQ(FlushStreamToDisk(nullptr), kErrInvalidArgument);
}

TEST_F(StreamTest, SeekAndTellBeyondBuffers) {
  Put("s.bin", std::string(300000, 'a') + "tail");
  FILE* in = OpenStream(Path("s.bin").c_str(), "rb");
  ASSERT_NE(in, nullptr);
  ASSERT_EQ(SeekStream(in, 300000), kOk);
  EXPECT_EQ(TellStream(in), 300000);
  char text[5] = {};
  EXPECT_EQ(std::fread(text, 1, 4, in), 4u);
  EXPECT_STREQ(text, "tail");
  std::fclose(in);
}

}  // namespace
