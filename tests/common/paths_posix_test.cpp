// Path macros on POSIX: the installation root, the folder macros and the XDG
// folders.
#include "common/paths.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/fs.h"

namespace {

std::wstring Expanded(const wchar_t* text) {
  std::wstring out = L"junk";
  EXPECT_EQ(ExpandPath(text, 0, &out), kOk) << text;
  return out;
}

// The test executable sits in <build>/bin, so the installation root is <build>/.
std::wstring InstallRoot() {
  std::wstring exe;
  EXPECT_EQ(GetExecutablePath(&exe), kOk);
  std::wstring dir = exe.substr(0, exe.rfind(L'/') + 1);
  std::wstring parent = dir.substr(0, dir.rfind(L'/', dir.size() - 2) + 1);
  return parent;
}

TEST(ExpandPath, InstallationMacros) {
  std::wstring root = InstallRoot();
  ASSERT_FALSE(root.empty());
  EXPECT_EQ(Expanded(L"@@x:"), root);
  EXPECT_EQ(Expanded(L"@@m:"), root);
  EXPECT_EQ(Expanded(L"@@x:B"), root + L"bin/");
  EXPECT_EQ(Expanded(L"@@x:q"), root);
  EXPECT_EQ(Expanded(L"@@x:l"), root + L"log/");
  EXPECT_EQ(Expanded(L"@@x:c/"), root + L"conf/");
  EXPECT_EQ(Expanded(L"@@x:b"), root + L"bin/");
  EXPECT_EQ(Expanded(L"@@x:t"), root + L"tmp/");
  EXPECT_EQ(Expanded(L"@@x:/htdocs/logs/"), root + L"htdocs/logs/");
  EXPECT_EQ(Expanded(L"@@x:c//a\\\\b"), root + L"conf/a/b");
  EXPECT_EQ(Expanded(L"@@x:\\a//b\\"), root + L"a/b/");
}

TEST(ExpandPath, FolderMacros) {
  EXPECT_EQ(Expanded(L"@@c:"), L"/usr/local/share/Vexmoor/");
  EXPECT_EQ(Expanded(L"@@c:c"), L"/usr/local/share/Vexmoor/conf/");
  EXPECT_EQ(Expanded(L"@@w:x"), L"/");
  EXPECT_EQ(Expanded(L"@@w:/x"), L"/x");
  EXPECT_EQ(Expanded(L"@@s:"), L"/usr/lib/");
  EXPECT_EQ(Expanded(L"@@ha:l"), L"/var/lib/log/");
  EXPECT_EQ(Expanded(L"@@hd:"), L"/etc/skel/.config/");
  EXPECT_EQ(Expanded(L"@@hd!:"), L"/etc/skel/.local/share/");

  std::string savedHome = getenv("HOME") ? getenv("HOME") : "";
  const char* savedConfig = getenv("XDG_CONFIG_HOME");
  std::string config = savedConfig ? savedConfig : "";
  const char* savedData = getenv("XDG_DATA_HOME");
  std::string data = savedData ? savedData : "";
  setenv("HOME", "/home/tester", 1);
  unsetenv("XDG_CONFIG_HOME");
  unsetenv("XDG_DATA_HOME");
  EXPECT_EQ(Expanded(L"@@h:"), L"/home/tester/.config/");
  EXPECT_EQ(Expanded(L"@@h!:t/x"), L"/home/tester/.local/share/tmp/x");
  setenv("XDG_CONFIG_HOME", "/cfg/", 1);
  EXPECT_EQ(Expanded(L"@@h:c"), L"/cfg/conf/");
  unsetenv("HOME");
  unsetenv("XDG_CONFIG_HOME");
  // Without any user folder the executable's own directory is used.
  EXPECT_EQ(Expanded(L"@@h:"), InstallRoot() + L"bin/");
  setenv("HOME", savedHome.c_str(), 1);
  if (savedConfig) setenv("XDG_CONFIG_HOME", config.c_str(), 1);
  if (savedData) setenv("XDG_DATA_HOME", data.c_str(), 1);
}

}  // namespace
