// Usage messages that depend on Linux: UTF-8 arguments, the 128 KiB limit
// of one argument and many arguments, the /proc and /sys folders.
#include "usage_support.h"

namespace {

using namespace stat_e2e;

TEST(UsagePosix, LinuxArgumentsAndFolders) {
  const std::string bigValue(128 * 1024 - 16, '7');  // Linux passes at most 128 KiB per argument
  const UsageCase cases[] = {
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
  ExpectUsageCases(cases, Workspace("usage_posix").root);
}

TEST(UsagePosix, AcceptedValuesAndManyArguments) {
  const Workspace ws("usage_many");
  const fs::path& folder = ws.root;
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
}

}  // namespace
