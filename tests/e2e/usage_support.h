// The usage tests' messages and their table of runs with exact results.
#pragma once

#include "stat_support.h"

namespace stat_e2e {

inline const std::string kTry = "Try 'varno --help' for more information.\n";
inline const std::string kBanner =
    "varno log analysis utility\nVersion 1.0.0\nCopyright (C) Vexmoor. All rights reserved.\n";

inline std::string Usage(const std::string& line) { return line + "\n" + kTry + "An error occured.\n"; }
inline std::string Value(const std::string& line, int code) {
  return line + "\nAn error occured. EC: " + std::to_string(code) + "\n";
}

struct UsageCase {
  std::vector<std::string> args;
  int exitCode;
  std::string out;
  std::string err;
};

// Runs every case in folder and compares exit code and both outputs.
template <size_t N>
void ExpectUsageCases(const UsageCase (&cases)[N], const fs::path& folder) {
  for (const UsageCase& c : cases) {
    SCOPED_TRACE(c.args[0].substr(0, 60));
    const Outcome o = RunVarno(c.args, folder);
    EXPECT_EQ(o.exitCode, c.exitCode);
    EXPECT_EQ(o.out, c.out);
    EXPECT_EQ(o.err, c.err);
  }
}

}  // namespace stat_e2e
