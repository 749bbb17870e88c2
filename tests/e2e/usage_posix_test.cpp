// Usage messages that depend on Linux: UTF-8 arguments, the 128 KiB limit
// of one argument and many arguments, the /proc and /sys folders.
#include "stat_support.h"

namespace {

using namespace stat_e2e;

const std::string kTry = "Try 'varno --help' for more information.\n";
const std::string kFailed = "An error occured.\n";
const std::string kBanner =
    "varno log analysis utility\nVersion 1.0.0\nCopyright (C) Vexmoor. All rights reserved.\n";

std::string Usage(const std::string& line) { return line + "\n" + kTry + kFailed; }
std::string Value(const std::string& line, int code) {
  return line + "\nAn error occured. EC: " + std::to_string(code) + "\n";
}

fs::path Scratch() {
  fs::path folder = fs::temp_directory_path() / ("varno_usage_" + std::to_string(CurrentProcessId()));
  fs::create_directories(folder / "logs");
  return folder;
}

struct Case {
  std::vector<std::string> args;
  int exitCode;
  std::string out;
  std::string err;
};

TEST(UsagePosix, LinuxArgumentsAndFolders) {
  const std::string bigValue(128 * 1024 - 16, '7');  // Linux passes at most 128 KiB per argument
  const Case cases[] = {
      // Bytes that are no UTF-8 are taken as the characters U+0080..U+00FF.
      {{"--\xff\xfe"}, 1, "", Usage("Unrecognized option '--\xc3\xbf\xc3\xbe'.")},
      {{"--top=\x80" "1"}, 1, "", Value("Invalid count value \"\xc2\x80" "1\".", -29)},
      {{"--units=" + bigValue}, 1, "", Value("Invalid units \"" + bigValue + "\".", -29)},
      {{"--stat=SMTP-IN", "--outdir=/proc/self/varno-out"}, 1, "",
       "Cannot access output directory.\nDirectory: /proc/self/varno-out\nEC: -22\n"
       "One or more error occured during execution. EC:-22\n"},
      // A folder without write access (sysfs refuses even root): access denied.
      {{"--stat=SMTP-IN", "--outdir=/sys"}, 1, "",
       "Another instance already running.\nOne or more error occured during execution. EC:-13\n"},
  };
  const fs::path folder = Scratch();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0].substr(0, 60));
    const Outcome o = RunVarno(c.args, folder);
    EXPECT_EQ(o.exitCode, c.exitCode);
    EXPECT_EQ(o.out, c.out);
    EXPECT_EQ(o.err, c.err);
  }
  fs::remove_all(folder);
}

TEST(Usage, AcceptedValuesAndManyArguments) {
  const fs::path folder = Scratch();
  std::vector<std::vector<std::string>> accepted = {
      {"--top=0x10"}, {"--top=12 abc"}, {"--units=kib"}, {"--quantum=2 m"}, {"--sort=host"},
      {"--outform=search,summary"}, {"--dbg_set_level=0"}, std::vector<std::string>(100000, "x")};
  for (std::vector<std::string>& args : accepted) {
    args.push_back("--version");
    EXPECT_EQ(RunVarno(args, folder).out, kBanner) << args.front();
  }
  std::vector<std::string> options(100000, "-v");
  options.push_back("--bogus");
  EXPECT_EQ(RunVarno(options, folder).err, Usage("Unrecognized option '--bogus'."));
  fs::remove_all(folder);
}

}  // namespace
