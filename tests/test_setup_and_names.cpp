#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "meter/DataFolder.h"
#include "meter/IniFile.h"
#include "tests/support/Files.h"
#include "tests/support/MeterFixture.h"

namespace {

size_t Occurrences(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

ino_t Inode(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

}  // namespace

TEST(SetupAndNames, ReadSaveAndLoadTheGroupSetups) {
  std::string ids;
  for (int i = 0; i < 64; ++i) ids.append(i ? "," : "").append(std::to_string(2522 + i % 60));
  MeterFixture f({"--group", "3:70000:1,2,3", "--group", "10:60:" + ids});
  ASSERT_TRUE(f.Meter().ReadPanelNames());
  ASSERT_TRUE(f.Meter().ReadSnapShotSetup());
  const TDataLogSetup g2 = GroupSetups[2];
  EXPECT_EQ(g2.KeyNum, 3);
  EXPECT_EQ(g2.TimeInterval, 70000u);  // both registers of the 32-bit interval
  EXPECT_EQ(g2.keyArr[0], 1);
  EXPECT_EQ(g2.keyArr[2], 3);
  EXPECT_EQ(g2.keyArr[3], 0);
  EXPECT_EQ(GroupSetups[9].KeyNum, 64);  // group 9's block ends at register 8959
  EXPECT_EQ(GroupSetups[9].keyArr[63], 2522 + 63 % 60);
  EXPECT_EQ(GroupSetups[0].TimeInterval, 900u);
  EXPECT_EQ(GroupSetups[0].RecordNum, 2880);
  EXPECT_EQ(GroupSetups[6].KeyNum, 0);

  CZELMeterObj::SaveDataLogSetup();
  CZELMeterObj::SaveDataLogSetup();  // saving twice keeps one copy of every key
  const std::string path = f.DataDir() + "/Panel A/DataLog/DataLogSetup.ini";
  EXPECT_EQ(CZELMeterObj::DevicePath(), path);
  const std::string text = ReadAll(path);
  EXPECT_EQ(Occurrences(text, "[Group2]\n"), 1u);
  EXPECT_EQ(Occurrences(text, "keyArr63_Name="), 10u);
  EXPECT_EQ(Occurrences(text, "[PanelName]\n"), 1u);
  EXPECT_NE(text.find("[Group2]\nTriggerType=3\nrecordType=13\nRecordNum=2882\nTimeInterval=70000\n"
                      "TimeOffset=33\nKeyNum=3\nkeyArr00=1\nkeyArr00_Name=Voltage-I Ua\n"
                      "keyArr01=2\nkeyArr01_Name=Voltage-I Ub\nkeyArr02=3\n"
                      "keyArr02_Name=Voltage-I Uc\nkeyArr03=0\nkeyArr03_Name=None\n"),
            std::string::npos);

  // Every carried field of every group lands under its own key: the simulator
  // gives group G trigger type G, record type 10 + G, record count 2879 + G
  // and time offset 30 + G.
  for (int g = 0; g < 10; ++g) {
    const std::string head = "[Group" + std::to_string(g) + "]\n";
    const size_t at = text.find(head);
    ASSERT_NE(at, std::string::npos) << g;
    const std::string section = text.substr(at, text.find("\n[", at + 1) - at);
    EXPECT_EQ(section.rfind(head + "TriggerType=" + std::to_string(g + 1) +
                                "\nrecordType=" + std::to_string(g + 11) +
                                "\nRecordNum=" + std::to_string(g + 2880) + "\nTimeInterval=",
                            0),
              0u)
        << section.substr(0, 80);
    EXPECT_NE(section.find("\nTimeOffset=" + std::to_string(g + 31) + "\nKeyNum="),
              std::string::npos)
        << g;
  }

  GroupSetups = {};
  ASSERT_TRUE(CZELMeterObj::LoadDataLogSetup(f.DataDir() + "/Panel A/DataLog/"));
  const TDataLogSetup& back = GroupSetups[2];
  EXPECT_EQ(back.TriggerType, g2.TriggerType);
  EXPECT_EQ(back.recordType, g2.recordType);
  EXPECT_EQ(back.RecordNum, g2.RecordNum);
  EXPECT_EQ(back.TimeInterval, g2.TimeInterval);
  EXPECT_EQ(back.TimeOffset, g2.TimeOffset);
  EXPECT_EQ(back.KeyNum, g2.KeyNum);
  for (int i = 0; i < 64; ++i) EXPECT_EQ(back.keyArr[i], g2.keyArr[i]) << i;
  EXPECT_TRUE(f.Messages.empty());
}

TEST(SetupAndNames, LoadDefaultsTruncationAndTheMissingFile) {
  MeterFixture f;
  const std::string folder = f.DataDir() + "/Meter B/DataLog";
  ASSERT_TRUE(ForceFolders(folder));
  {
    std::ofstream(folder + "/DataLogSetup.ini") << "[Group0]\nKeyNum=70001\nkeyArr00=0x10\n"
                                                   "TimeInterval=4294967297\n[Group1]\nKeyNum=2\n";
  }
  GroupSetups[5].KeyNum = 9;
  ASSERT_TRUE(CZELMeterObj::LoadDataLogSetup(folder));  // no closing separator given
  EXPECT_EQ(GroupSetups[0].KeyNum, 70001 & 0xFFFF);
  EXPECT_EQ(GroupSetups[0].keyArr[0], 16);
  EXPECT_EQ(GroupSetups[0].TimeInterval, 1u);
  EXPECT_EQ(GroupSetups[1].TimeInterval, 60u);  // missing: 60
  EXPECT_EQ(GroupSetups[1].RecordNum, 0);
  EXPECT_EQ(GroupSetups[5].KeyNum, 0);  // everything was cleared first

  EXPECT_FALSE(CZELMeterObj::LoadDataLogSetup(f.DataDir() + "/Nowhere/"));
  ASSERT_EQ(f.Messages.size(), 1u);
  EXPECT_EQ(f.Messages[0], f.DataDir() +
                               "/Nowhere/DataLogSetup.ini\n\nNot find file DataLogSetup.ini.\n"
                               "Please select a folder containing with 'DataLogSetup.ini'.");
  EXPECT_EQ(GroupSetups[0].KeyNum, 0);
  PanelNames.DeviceName = "Kept";
  EXPECT_FALSE(CZELMeterObj::LoadPanelNames(f.DataDir() + "/Nowhere/"));
  EXPECT_EQ(PanelNames.DeviceName, "Kept");
  EXPECT_EQ(f.Messages.size(), 2u);
}

TEST(SetupAndNames, NamesAreReadSavedAndLoaded) {
  MeterFixture f({"--device-name", "  Panel A", "--mains1-name", "Main", "--branch-name",
                  "7=Seventh", "--branch-name", "84=Last One"});
  ASSERT_TRUE(f.Meter().ReadPanelNames());
  EXPECT_EQ(PanelNames.DeviceName, "Panel A");
  EXPECT_EQ(PanelNames.MainsIName, "Main");
  EXPECT_EQ(PanelNames.BranchName[6], "Seventh");    // second block, first name
  EXPECT_EQ(PanelNames.BranchName[83], "Last One");  // last block, sixth name
  EXPECT_EQ(PanelNames.BranchName[0], "Floor 1 Lighting");

  const std::string path = f.DataDir() + "/Panel A/DataLog/DataLogSetup.ini";
  const std::string text = ReadAll(path);
  EXPECT_EQ(text.rfind("[PanelName]\nDeviceName=Panel A\nMainsIName=Main\nMainsIIName=Incomer 2\n"
                       "BranchName1=Floor 1 Lighting\n",
                       0),
            0u);
  EXPECT_NE(text.find("BranchName84=Last One\n"), std::string::npos);

  // Unchanged names leave the file alone (the window reads them every 3 s).
  const ino_t before = Inode(path);
  ASSERT_TRUE(f.Meter().ReadPanelNames());
  EXPECT_EQ(Inode(path), before);

  // Names and group sections share the file without losing each other.
  ASSERT_TRUE(f.Meter().ReadSnapShotSetup());
  CZELMeterObj::SaveDataLogSetup();
  PanelNames.MainsIIName = "Changed";
  CZELMeterObj::SavePanelNames();
  const std::string both = ReadAll(path);
  EXPECT_EQ(Occurrences(both, "[Group9]\n"), 1u);
  EXPECT_EQ(Occurrences(both, "MainsIIName="), 1u);

  PanelNames = TPanelName{};
  ASSERT_TRUE(CZELMeterObj::LoadPanelNames(f.DataDir() + "/Panel A/DataLog/"));
  EXPECT_EQ(PanelNames.DeviceName, "Panel A");
  EXPECT_EQ(PanelNames.MainsIIName, "Changed");
  EXPECT_EQ(PanelNames.BranchName[83], "Last One");
}

TEST(SetupAndNames, AFailingTenthBranchBlockSavesNothing) {
  // Block 9 (branches 55-60) starts at 50000 + 120 x 9.
  MeterFixture f({"--fail-start", "51080", "--branch-name", "54=Fifty-four", "--branch-name",
                  "55=Fifty-five"});
  PanelNames.BranchName[54] = "old";
  EXPECT_FALSE(f.Meter().ReadPanelNames());
  EXPECT_EQ(PanelNames.DeviceName, "Panel A");
  EXPECT_EQ(PanelNames.BranchName[53], "Fifty-four");
  EXPECT_EQ(PanelNames.BranchName[54], "old");
  EXPECT_FALSE(FileExists(f.DataDir() + "/Panel A/DataLog/DataLogSetup.ini"));

  // The identity read ignores the names' failure.
  EXPECT_TRUE(f.Meter().ReadDeviceInfo());
}

TEST(SetupAndNames, ASetupReadFailureKeepsTheGroupsReadBefore) {
  MeterFixture f({"--fail-start", std::to_string(8250 + 71 * 4)});
  EXPECT_FALSE(f.Meter().ReadSnapShotSetup());
  EXPECT_EQ(GroupSetups[3].KeyNum, 10);
  EXPECT_EQ(GroupSetups[4].KeyNum, 0);
  EXPECT_EQ(GroupSetups[5].KeyNum, 0);
}

TEST(SetupAndNames, UnsafeDeviceNamesStayInTheDataFolder) {
  MeterFixture f({"--device-name", "../../x"});
  ASSERT_TRUE(f.Meter().ReadPanelNames());
  EXPECT_EQ(PanelNames.DeviceName, "../../x");
  const std::string path = CZELMeterObj::DevicePath();
  EXPECT_EQ(path.rfind(f.DataDir() + "/", 0), 0u);
  EXPECT_EQ(path.find("/../"), std::string::npos);
  EXPECT_TRUE(FileExists(path));
}
