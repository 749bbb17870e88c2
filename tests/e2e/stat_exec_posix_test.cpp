// Post-processors of a metadata run through the POSIX shell: run in order,
// after a successful run only (the cross-process tests cover both platforms
// with a recorder program).
#include "stat_support.h"

namespace {

using namespace stat_e2e;

TEST(StatExecTest, PostprocessorsRunInOrderAfterSuccessOnly) {
  Workspace ws("exec");
  ws.CopyFixtureLog("smtp20080428.log");
  const fs::path record = ws.root / "record.txt";
  const std::string append1 = "echo first >> " + record.string();
  const std::string append2 = "echo second >> " + record.string();
  const std::string append3 = "echo third >> " + record.string() + ".nowait";
  Outcome o = RunVarno(ws.Args({"--stat=SMTP-IN", "-v", "--exec=/bin/sh", "-c", append1, ";",
                                "--exec-nowait=/bin/sh", "-c", append3, ";", "--exec=/bin/sh", "-c",
                                append2, ";"}),
                       ws.root);
  EXPECT_EQ(o.exitCode, 0) << o.err;
  EXPECT_EQ(ReadFile(record), "first\nsecond\n");
  EXPECT_TRUE(WaitForFile(record.string() + ".nowait", 10000));
  EXPECT_NE(o.err.find("Executing: /bin/sh -c \"" + append1 + "\"\n"), std::string::npos) << o.err;
  EXPECT_LT(o.err.find("Executing: /bin/sh -c \"" + append1), o.err.find("Executing: /bin/sh -c \"" + append2));
  // The metadata file exists before the post-processors run.
  EXPECT_TRUE(fs::exists(ws.out / "_smtp20080428.csv"));

  // A failed run (its output folder is taken by a file) starts none.
  WriteFile(ws.logs / "kelb20080428.log", "1;10:00:00;x\r\n");
  WriteFile(ws.out / "_kelb_cs", "");
  fs::remove(record);
  Outcome failed = RunVarno(ws.Args({"--stat=HTTP-AL", "--exec=/bin/sh", "-c", append1, ";"}), ws.root);
  EXPECT_EQ(failed.exitCode, 1);
  EXPECT_FALSE(fs::exists(record));
  EXPECT_TRUE(fs::is_regular_file(ws.out / "_kelb_cs"));
}

}  // namespace
