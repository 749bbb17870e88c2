// Key-value files: layout kept through load and save, quoting, trailers,
// CR LF on disk and robustness against odd input.
#include "common/key_value_file.h"

#include <gtest/gtest.h>

#include <string>

#include "../scratch.h"

namespace {

class KeyValueFileTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(file_, nullptr); }
  void TearDown() override { KeyValueFileFree(file_); }
  std::wstring Path(const char* name = "state") const { return folder_.Wide(name); }
  void Put(const std::string& bytes, const char* name = "state") const { scratch::WriteFile(folder_ / name, bytes); }
  std::string Bytes(const char* name = "state") const { return scratch::ReadFile(folder_ / name); }
  // Loads the bytes and gives what a save writes.
  std::string RoundTrip(const std::string& bytes) {
    Put(bytes, "in");
    EXPECT_EQ(KeyValueFileLoad(file_, Path("in").c_str()), kOk);
    EXPECT_EQ(KeyValueFileSave(file_, Path("out").c_str()), kOk);
    return Bytes("out");
  }

  scratch::Folder folder_{"kv"};
  KeyValueFile* file_ = KeyValueFileCreate(nullptr, 0, 0);
};

TEST_F(KeyValueFileTest, SavedFormOfLoadedLines) {
  const std::pair<const char*, const char*> cases[] = {
      {"a=b=c\n", "a = \"b=c\"\r\n"},  // only the first separator splits
      {"a = \"b=c\"\r\n", "a = \"b=c\"\r\n"},
      {"# one\n# two\n\n  \nk=v\n#three\n", "# one\r\n# two\r\n\r\n  \r\nk = v\r\n#three\r\n"},
      {"\"a b\" c = 1\nkeep = 2\n", "keep = 2\r\n"},  // a quoted key followed by a word is dropped
      {"\"a # b\" = \" x = y \"   # c\n", "\"a # b\" = \" x = y \"   # c\r\n"},
      {"k =\nonly\nt = # c\n", "k = \r\nonly = \r\nt = # c\r\n"},
      {"only  # c\n", "only =  # c\r\n"},
      {"a=1\rb=2\r\nc=3", "a = 1\r\nb = 2\r\nc = 3\r\n"},  // CR alone ends a line too
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(RoundTrip(in), out) << in;
  EXPECT_STREQ(KeyValueFileGet(file_, "b"), "2");
  RoundTrip("\"a # b\" = \" x = y \"   # c\n");
  EXPECT_STREQ(KeyValueFileGet(file_, "a # b"), " x = y ");
  EXPECT_EQ(KeyValueFileGet(file_, "b"), nullptr);  // a load discards earlier entries
}

TEST_F(KeyValueFileTest, KeysIgnoreCaseAndSetAppendsNewOnes) {
  RoundTrip("# header\nLast_Day = 1\n");
  EXPECT_STREQ(KeyValueFileGet(file_, "LAST_DAY"), "1");
  ASSERT_EQ(KeyValueFileSet(file_, "last_day", "2"), kOk);
  ASSERT_EQ(KeyValueFileSet(file_, "new_key", "value"), kOk);
  ASSERT_EQ(KeyValueFileSave(file_, Path("out").c_str()), kOk);
  EXPECT_EQ(Bytes("out"), "# header\r\nLast_Day = 2\r\nnew_key = value\r\n");
}

TEST_F(KeyValueFileTest, ErrorsAndHandleChecks) {
  EXPECT_EQ(KeyValueFileLoad(file_, Path("missing").c_str()), kErrOpenFailed);
  EXPECT_EQ(KeyValueFileSave(file_, (folder_ / "no/dir").wstring().c_str()), kErrCannotCreate);
  EXPECT_EQ(KeyValueFileLoad(file_, nullptr), kErrInvalidArgument);
  EXPECT_EQ(KeyValueFileGet(nullptr, "a"), nullptr);
  EXPECT_EQ(KeyValueFileCreate("=#", '#', 2), nullptr);
  EXPECT_EQ(KeyValueFileCreate("=\n", '#', 2), nullptr);
  EXPECT_EQ(KeyValueFileCreate("=", '\r', 2), nullptr);
  char fake[64] = "nope";
  EXPECT_EQ(KeyValueFileFree(reinterpret_cast<KeyValueFile*>(fake)), kErrInvalidHandle);
}

TEST_F(KeyValueFileTest, BlankSeparatorIsWrittenAlone) {
  KeyValueFile* spaced = KeyValueFileCreate(" ", ';', 2);
  ASSERT_NE(spaced, nullptr);
  Put("key value with blanks ; note\n");
  ASSERT_EQ(KeyValueFileLoad(spaced, Path().c_str()), kOk);
  EXPECT_STREQ(KeyValueFileGet(spaced, "key"), "value with blanks");
  ASSERT_EQ(KeyValueFileSave(spaced, Path("out").c_str()), kOk);
  EXPECT_EQ(Bytes("out"), "key \"value with blanks\" ; note\r\n");
  KeyValueFileFree(spaced);
}

}  // namespace
