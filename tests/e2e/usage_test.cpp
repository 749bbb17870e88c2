// The built program's usage messages, help, version and exit codes.
#include "usage_support.h"

namespace {

using namespace stat_e2e;

TEST(Usage, ExitCodesAndMessages) {
  const UsageCase cases[] = {
      {{"--version"}, 0, kBanner, ""},
      {{"--vers"}, 0, kBanner, ""},
      {{"--help", "--version"}, 1, "", Usage("You may not specify more than one option.")},
      {{"--stat=SMTP", "--merge"}, 1, "", Usage("You may not specify more than one option.")},
      {{"--help", "--search=from=x"}, 1, "", Usage("You may not specify more than one option.")},
      {{"--bogus"}, 1, "", Usage("Unrecognized option '--bogus'.")},
      {{"-x"}, 1, "", Usage("Unrecognized option '-x'.")},
      {{"-"}, 1, "", Usage("Unrecognized option '-'.")},
      {{"--ver"}, 1, "", Usage("Option '--ver' is ambiguous.")},
      {{"--"}, 1, "", Usage("Option '--' is ambiguous.")},
      {{"--top"}, 1, "", Usage("Option '--top' requires an argument.")},
      {{"-v", "--search"}, 1, "", Usage("Option '--search' requires an argument.")},
      {{"--diff=1"}, 1, "", Usage("Option '--diff=1' doesn't allow an argument.")},
      {{"--version=x"}, 1, "", Usage("Option '--version=x' doesn't allow an argument.")},
      {{"--top=12abc"}, 1, "", Value("Invalid count value \"12abc\".", -29)},
      {{"--paging", "x"}, 1, "", Value("Invalid count value \"x\".", -29)},
      {{"--units=KiBi"}, 1, "", Value("Invalid units \"KiBi\".", -29)},
      {{"--quantum=5x"}, 1, "", Value("Invalid quantum \"5x\".", -29)},
      {{"--outform=both"}, 1, "", Value("Invalid output form \"both\".", -29)},
      {{"--sort=size"}, 1, "", Value("Invalid sort column\n\t\"size\"\nEC: -29", -29)},
      {{"--stat"}, 1, "", "An error occured. EC: -14\n"},
      {{"--stat=BOGUS"}, 1, "", Value("Invalid statistic category \"BOGUS\".", -28)},
      {{"--stat=SMTP,FOO"}, 1, "", Value("Invalid statistic category \"FOO\".", -28)},
      {{"--stat=,"}, 1, "", Value("Invalid statistic category \",\".", -28)},
      {{"--jobname=a.b", "--version"}, 1, "", Value("Invalid job name \"a.b\"", -29)},
      {{"--cancel=x/y"}, 1, "", Value("Invalid job name \"x/y\"", -29)},
      {{"--cancel= Nightly_Run-2 extra"}, 0, "", ""},  // a name no process uses
      {{"--search", "way=in,sideways"}, 1, "", Value("Invalid condition\n\t\"way=in,sideways\"\nEC: -29", -29)},
      // --search takes the next element whatever it looks like.
      {{"--search", "--sort=time"}, 1, "", Value("Invalid condition\n\t\"--sort=time\"\nEC: -29", -29)},
      {{"--search=from=x", "--search=to=y", "a", "b"}, 0, "", "Specify only one path to log directory.\n"},
      {{"--stat=SMTP", "--exec=notify.sh", "a"}, 1, "", Value("Invalid argument to postprocessor.", -29)},
      {{"--dbg_set_log=/nonexistent-varno-dir/x.txt", "--version"}, 0, kBanner, ""},
  };
  ExpectUsageCases(cases, Workspace("usage").root);
}

TEST(Usage, HelpFailingPostprocessorAndConsoleCopy) {
  const Workspace ws("usage");
  const fs::path& folder = ws.root;
  const Outcome none = RunVarno({}, folder);
  EXPECT_EQ(none.exitCode, 0);
  ASSERT_EQ(none.out.rfind(kBanner + "\nUsage: varno OPTIONS [LOGDIR]\n\nOptions:\n", 0), 0u);
  EXPECT_EQ(std::count(none.out.begin(), none.out.end(), '\n'), 3 + 239);
  for (const char* text : {"\n  Common options\n\n", "\n  Metadata generator\n\n", "\n  Delivery doctor\n\n",
                           "\n  Web statistics\n\n", "\n  Merge results\n\n",
                           "Data are precessed\n\t\tin fixed order.", "\t    --jobname=JOBNAME\n"}) {
    EXPECT_NE(none.out.find(text), std::string::npos) << text;
  }
  for (const char* hidden : {"dbfeed", "dbg_set_level", "dbg_set_log"}) {
    EXPECT_EQ(none.out.find(hidden), std::string::npos) << hidden;
  }
  EXPECT_EQ(RunVarno({"--help"}, folder).out, none.out);
  EXPECT_EQ(RunVarno({"-hv"}, folder).out, none.out);
  // A failing post-processor and the console copy.
  const std::string logs = "--srcdir=" + (folder / "logs").string();
  const std::string out = "--outdir=" + (folder / "out").string();
  const Outcome post = RunVarno({"--stat=SMTP-IN", logs, out, "--exec=/nonexistent/varno-post", "a b", ";", "-v"}, folder);
  EXPECT_EQ(post.exitCode, 1);
  EXPECT_EQ(post.err,
            "There is nothing to do.\nExecuting: /nonexistent/varno-post \"a b\"\n"
            "Postprocessor execution failed. EC:-3\nOne or more error occured during execution. EC:-3\n");
  EXPECT_FALSE(fs::exists(folder / "out" / "_varno.run"));
  const fs::path copy = folder / "copy.txt";
  RunVarno({"--dbg_set_log=" + copy.string(), "--top=bad"}, folder);
  EXPECT_EQ(ReadFile(copy), "Invalid count value \"bad\".\r\nAn error occured. EC: -29\r\n");
}

}  // namespace
