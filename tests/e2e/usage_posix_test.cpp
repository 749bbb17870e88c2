// A command line of 100000 arguments (Linux passes that many); the usage
// messages themselves are cases in cases/usage.
#include "stat_support.h"

namespace {

using namespace stat_e2e;

TEST(UsagePosix, ManyArguments) {
  const Workspace ws("usage_many");
  const std::string banner =
      "varno log analysis utility\nVersion 1.0.0\nCopyright (C) Vexmoor. All rights reserved.\n";
  std::vector<std::string> args(100000, "x");
  args.push_back("--version");
  EXPECT_EQ(RunVarno(args, ws.root).out, banner);
  std::vector<std::string> options(100000, "-v");
  options.push_back("--bogus");
  EXPECT_EQ(RunVarno(options, ws.root).err,
            "Unrecognized option '--bogus'.\nTry 'varno --help' for more information.\nAn error occured.\n");
}

}  // namespace
