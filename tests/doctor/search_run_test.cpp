// Search runs through RunSearch: the time order against a plain sort, and
// cancellation (the listings of fixture logs are cases in e2e/cases/search).
#include "doctor/search_command.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "doctor/search_conditions.h"
#include "../scratch.h"

namespace {


// Message IDs of the listed blocks of the search's output file, in order.
std::vector<std::string> SearchIds(const scratch::Folder& dir, uint32_t descending) {
  SearchConditions conditions;
  EXPECT_EQ(ParseSearchConditions(L"", &conditions), kOk);
  conditions.sortDescending = descending;
  const std::wstring output = dir.Wide("listing.txt");
  uint32_t matches = 0;
  EXPECT_EQ(RunSearch(dir.Wide().c_str(), &conditions, output.c_str(), nullptr, nullptr, &matches), kOk);
  ReleaseSearchConditions(&conditions);
  const std::string listing = scratch::ReadFile(dir / "listing.txt");
  std::vector<std::string> ids;
  for (size_t at = listing.find("smtp|"); at != std::string::npos; at = listing.find("smtp|", at + 1)) {
    size_t field = at;
    for (int i = 0; i < 9; ++i) field = listing.find(';', field) + 1;
    ids.push_back(listing.substr(field, listing.find(';', field) - field));
  }
  return ids;
}

// The time order against a plain stable sort of the lines by time, for logs
// nearly in order, in a few long runs and in no order at all.
TEST(SearchRun, TimeOrderIsAPlainSortWhateverTheDisorder) {
  std::mt19937 random(17);
  for (int shape = 0; shape < 3; ++shape) {
    scratch::Folder dir("search");
    std::string lines;
    std::vector<std::pair<int, size_t>> byTime;  // seconds, line index
    for (size_t i = 0; i < 3000; ++i) {
      int seconds = static_cast<int>(i) * 20;
      if (shape == 0) seconds += static_cast<int>(random() % 400) - (i % 500 == 7 ? 30000 : 0);
      if (shape == 1) seconds = static_cast<int>((i % 40) * 2000 + i / 40 * 20);
      if (shape == 2) seconds = static_cast<int>(random() % 86400);
      seconds = std::max(0, std::min(seconds, 86399));
      char time[16];
      std::snprintf(time, sizeof time, "%02d:%02d:%02d", seconds / 3600, seconds / 60 % 60,
                    seconds % 60);
      char id[16];
      std::snprintf(id, sizeof id, "%08zX", i);
      lines += std::string("mx;") + time + ";0;s@x;r@y;1.1.1.1;R;" + id + ";8;host;ESMTP;0\n";
      byTime.emplace_back(seconds, i);
    }
    scratch::WriteFile(dir / "smtp20240312.log", lines);
    std::stable_sort(byTime.begin(), byTime.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::string> want;
    for (const auto& entry : byTime) {
      char id[16];
      std::snprintf(id, sizeof id, "%08zX", entry.second);
      want.push_back(id);
    }
    EXPECT_EQ(SearchIds(dir, 0), want) << "shape " << shape;
    std::reverse(want.begin(), want.end());
    EXPECT_EQ(SearchIds(dir, 1), want) << "shape " << shape;
  }
}

int CancelAtOverall(void* context, int overall, int, const wchar_t*) {
  int* stopAt = static_cast<int*>(context);
  return overall == *stopAt ? kUserAbort : 0;
}

TEST(SearchRun, CancellationEndsTheRunWithoutAnOutputFile) {
  scratch::Folder dir("search");
  const std::wstring logs = (std::filesystem::path(VARNO_SOURCE_DIR) / "tests/e2e/fixtures/mailday").wstring();
  for (int stopAt : {0, 25, 50, 75, 80, 100}) {
    SearchConditions conditions;
    ASSERT_EQ(ParseSearchConditions(L"", &conditions), kOk);
    std::wstring output = dir.Wide("cancelled.txt");
    uint32_t matches = 0;
    EXPECT_EQ(RunSearch(logs.c_str(), &conditions, output.c_str(), CancelAtOverall, &stopAt,
                        &matches),
              kUserAbort)
        << stopAt;
    EXPECT_FALSE(std::filesystem::exists(dir / "cancelled.txt")) << stopAt;
    ReleaseSearchConditions(&conditions);
  }
}

TEST(SearchRun, MissingArgumentsAreRejected) {
  SearchConditions conditions;
  EXPECT_EQ(RunSearch(nullptr, &conditions, nullptr, nullptr, nullptr, nullptr),
            kErrInvalidArgument);
  EXPECT_EQ(RunSearch(L".", nullptr, nullptr, nullptr, nullptr, nullptr), kErrInvalidArgument);
}

}  // namespace
