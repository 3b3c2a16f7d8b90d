#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "meter/DataFolder.h"
#include "meter/FileReplace.h"
#include "tests/support/Process.h"

namespace fs = std::filesystem;

TEST(DataFolder, UntrustedDeviceNamesStayInsideTheBaseFolder) {
  TempDir dir;
  setenv("KRVO_DATA_DIR", dir.Path().c_str(), 1);
  const std::string base = BaseFolder();
  EXPECT_EQ(base, dir.Path() + "/");
  EXPECT_EQ(DeviceDataLogFolder("Panel A"), base + "Panel A/DataLog/");
  EXPECT_EQ(DeviceDataLogFolder(""), base + "DataLog/");
  EXPECT_EQ(SafePathComponent("Panel A"), "Panel A");
  EXPECT_EQ(SafePathComponent("M\xC3\xBChle 3.1"), "M\xC3\xBChle 3.1");

  const fs::path canonicalBase = fs::weakly_canonical(base);
  for (const std::string& name : std::vector<std::string>{
           "../../etc", "..", ".", "a/b", "C:\\x", "/abs", "x\n[y]", std::string("t\0ab", 4),
           "a\x7F", "<>:\"|?*", "....", std::string(300, 'n') + "\xC3\xBC"}) {
    const std::string component = SafePathComponent(name);
    EXPECT_EQ(component.find('/'), std::string::npos) << name;
    EXPECT_EQ(component.find(".."), std::string::npos) << name;
    EXPECT_NE(component, ".");
    EXPECT_LE(component.size(), 255u);
    const std::string folder = DeviceDataLogFolder(name);
    ASSERT_TRUE(ForceFolders(folder)) << folder;
    const fs::path real = fs::canonical(folder);
    const auto rel = real.lexically_relative(canonicalBase);
    EXPECT_FALSE(rel.empty() || *rel.begin() == "..") << name << " -> " << real;
  }
  unsetenv("KRVO_DATA_DIR");
}

TEST(DataFolder, ForceFoldersMakesEachLevel) {
  TempDir dir;
  const std::string deep = dir.Path() + "/a/b/c/";
  EXPECT_TRUE(ForceFolders(deep));
  EXPECT_TRUE(FolderExists(deep));
  EXPECT_TRUE(ForceFolders(deep));  // existing folders are no error
  std::ofstream(dir.Path() + "/file") << "x";
  EXPECT_FALSE(ForceFolders(dir.Path() + "/file/sub"));
}

TEST(DataFolder, CommitWithoutFolderSyncReplacesWholeFiles) {
  TempDir dir;
  const std::string target = dir.Path() + "/a.dat";
  std::ofstream(target) << "old";
  const std::string temp = CreateTempBeside(target);
  std::ofstream(temp) << "new";
  ASSERT_TRUE(CommitTempNoFolderSync(temp, target));
  std::ifstream in(target);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "new");
  EXPECT_FALSE(fs::exists(temp));
  // A rename that fails takes the temporary file with it.
  const std::string lost = CreateTempBeside(target);
  EXPECT_FALSE(CommitTempNoFolderSync(lost, dir.Path() + "/no/such/folder/a.dat"));
  EXPECT_FALSE(fs::exists(lost));
  EXPECT_TRUE(SyncFolder(dir.Path() + "/"));
  EXPECT_FALSE(SyncFolder(dir.Path() + "/missing/"));
}
