// Streams: CR LF on disk in text mode, bytes kept in binary mode, LF and
// CR LF accepted on input.
#include "platform/stream.h"

#include <gtest/gtest.h>

#include <string>

#include "../scratch.h"

namespace {

class StreamTest : public ::testing::Test {
 protected:
  std::wstring Path(const char* name) const { return folder_.Wide(name); }
  std::string Bytes(const char* name) const { return scratch::ReadFile(folder_ / name); }
  void Write(const char* name, const char* mode, const std::string& bytes) const {
    FILE* out = OpenStream(Path(name).c_str(), mode);
    ASSERT_NE(out, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), out);
    ASSERT_EQ(FlushStreamToDisk(out), kOk);
    std::fclose(out);
  }
  std::string Read(const char* name, const char* mode) const {
    FILE* in = OpenStream(Path(name).c_str(), mode);
    std::string all;
    char chunk[7];
    for (size_t got; in != nullptr && (got = std::fread(chunk, 1, sizeof chunk, in)) > 0;) all.append(chunk, got);
    if (in != nullptr) std::fclose(in);
    return all;
  }
  scratch::Folder folder_{"stream"};
};

TEST_F(StreamTest, TextAndBinaryModes) {
  const std::string big(100000, 'x');  // larger than any buffer
  Write("t.txt", "wt", "a=1\n\nb\n" + big + "\n");
  EXPECT_EQ(Bytes("t.txt"), "a=1\r\n\r\nb\r\n" + big + "\r\n");
  Write("t.txt", "at", "new\n");
  EXPECT_EQ(Bytes("t.txt").substr(Bytes("t.txt").size() - 5), "new\r\n");
  Write("b.bin", "wb", std::string("a\nb\r\n\0c", 7));
  Write("b.bin", "ab", "\n");
  EXPECT_EQ(Bytes("b.bin"), std::string("a\nb\r\n\0c\n", 8));
  Write("r.txt", "wb", "one\r\ntwo\nthree\rfour\r\n\r");
  EXPECT_EQ(Read("r.txt", "rt"), "one\ntwo\nthree\rfour\n\r");  // a lone CR stays
  EXPECT_EQ(Read("r.txt", "rb"), "one\r\ntwo\nthree\rfour\r\n\r");
}

TEST_F(StreamTest, SeekTellAndFailures) {
  Write("s.bin", "wb", std::string(300000, 'a') + "tail");
  FILE* in = OpenStream(Path("s.bin").c_str(), "rb");
  ASSERT_NE(in, nullptr);
  ASSERT_EQ(SeekStream(in, 300000), kOk);
  EXPECT_EQ(TellStream(in), 300000);
  // Positioned reads neither use nor move the stream's position.
  char bytes[8] = {};
  size_t got = 0;
  ASSERT_EQ(ReadStreamAt(in, 299998, bytes, sizeof bytes, &got), kOk);
  EXPECT_EQ(std::string(bytes, got), "aatail");
  ASSERT_EQ(ReadStreamAt(in, 400000, bytes, sizeof bytes, &got), kOk);
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(TellStream(in), 300000);
  EXPECT_EQ(ReadStreamAt(in, 0, nullptr, 1, &got), kErrInvalidArgument);
  std::fclose(in);
  EXPECT_EQ(OpenStream(Path("none/x.txt").c_str(), "rb"), nullptr);
  EXPECT_NE(StreamLastError(), 0);
  EXPECT_EQ(OpenStream(Path("none/x.txt").c_str(), "wt"), nullptr);
  EXPECT_EQ(OpenStream(Path("x").c_str(), "q"), nullptr);
  EXPECT_EQ(FlushStreamToDisk(nullptr), kErrInvalidArgument);
}

}  // namespace
