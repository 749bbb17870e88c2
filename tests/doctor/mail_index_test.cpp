// Differential tests of the doctor's fast paths against the plain ones:
// reading many lines by spans or from the kept lines against reading each
// line alone.
#include "doctor/mail_index.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "platform/stream.h"
#include "../scratch.h"

namespace {

// Keeps every `step`-th line of a.log as a pass would (file 0).
void KeepLines(MailIndex* mail, const std::string& whole, size_t step) {
  size_t index = 0;
  for (size_t start = 0; start < whole.size(); ++index) {
    size_t end = whole.find('\n', start);
    if (end == std::string::npos) end = whole.size();
    const size_t length = std::min<size_t>(end - start, 32767);
    if (index % step == 0) KeepLine(mail, 0, start, whole.data() + start, length);
    start += length + (length == end - start ? 1 : 0);
  }
}

// Kept lines serve their requests, the others are read; lines past a small
// budget are not kept.
TEST(ReadIndexedLines, SameLinesAsReadingEachAlone) {
 for (const size_t budget : {size_t{0}, kKeptLinesMax, size_t{1000}}) {
  scratch::Folder dir("mail_index");
  std::mt19937 random(11);
  std::vector<std::string> lines;
  const char bytes[] = {'a', 'b', ';', ' ', '\r', '\0', '\x9f'};
  for (int i = 0; i < 400; ++i) {
    size_t length = random() % 120;
    if (i % 97 == 3) length = 32760 + random() % 20;  // around the line limit
    std::string line(length, 'x');
    for (char& c : line) c = random() % 4 == 0 ? bytes[random() % sizeof bytes] : 'm';
    lines.push_back(line);
  }
  std::string whole;
  for (const std::string& line : lines) whole += line + "\n";
  scratch::WriteFile(dir / "a.log", whole);
  scratch::WriteFile(dir / "b.log", "no line feed at the end");
  MailIndex mail;
  mail.files.push_back(LogFileEntry{0, OpenStream(dir.Wide("a.log").c_str(), "rb"), L"a.log"});
  mail.files.push_back(LogFileEntry{0, nullptr, L"missing.log"});
  mail.files.push_back(LogFileEntry{0, OpenStream(dir.Wide("b.log").c_str(), "rb"), L"b.log"});
  mail.keptBudget = budget;
  KeepLines(&mail, whole, 3);
  if (budget == 1000) {
    EXPECT_GT(mail.kept.size(), 5u) << "lines within the budget are kept";
    EXPECT_LE(mail.keptText.size() + mail.kept.size() * sizeof(KeptLine), budget);
  }
  if (budget == kKeptLinesMax) {
    EXPECT_GT(mail.kept.size(), 100u);
  }
  std::vector<LineRequest> requests;
  for (int i = 0; i < 3000; ++i) {
    const uint32_t file = random() % 4;  // 3 is no file at all
    uint32_t offset = static_cast<uint32_t>(random() % (whole.size() + 50));
    if (i % 2 == 0 && offset > 0) {  // mostly line starts, as the listing asks
      size_t start = whole.rfind('\n', offset - 1);
      offset = start == std::string::npos ? 0 : static_cast<uint32_t>(start + 1);
    }
    if (file == 2) offset %= 30;
    requests.push_back(LineRequest{file, offset, 0, 0});
  }
  std::vector<char> text;
  ASSERT_EQ(ReadIndexedLines(&mail, &requests, &text), kOk);
  std::vector<char> buffer(32768);
  for (const LineRequest& request : requests) {
    const size_t length =
        ReadIndexedLine(&mail, request.fileIndex, request.offset, buffer.data(), buffer.size());
    ASSERT_EQ(std::string(RequestedText(&mail, text, request), request.textLength),
              std::string(buffer.data(), length))
        << "file " << request.fileIndex << " offset " << request.offset << " budget " << budget;
  }
  MailIndexRelease(&mail);
 }
}

}  // namespace
