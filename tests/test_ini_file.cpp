#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "meter/IniFile.h"
#include "tests/support/Files.h"
#include "tests/support/Process.h"

namespace {}  // namespace

TEST(IniFile, InPlaceUpdatesKeepEverythingElse) {
  TempDir dir;
  const std::string path = dir.Path() + "/a.ini";
  WriteAll(path,
           "; written by hand\n"
           "[Other]\n"
           "Keep=1\n"
           "\n"
           "[group0]\n"
           "KEYNUM = 3\n"
           "garbage line without equals\n"
           "\n"
           "[Tail]\n"
           "x=y\n");
  CIniFile ini(path);
  EXPECT_EQ(ini.ReadInteger("Group0", "KeyNum", 0), 3);
  ini.WriteInteger("Group0", "keynum", 4);          // replaced in place
  ini.WriteInteger("Group0", "TimeInterval", 900);  // appended to its section
  ini.WriteString("New", "A", "b");                 // a new section at the end
  EXPECT_TRUE(ini.Modified());
  ini.Save();
  EXPECT_EQ(ReadAll(path),
            "; written by hand\n"
            "[Other]\n"
            "Keep=1\n"
            "\n"
            "[group0]\n"
            "keynum=4\n"
            "garbage line without equals\n"
            "TimeInterval=900\n"
            "\n"
            "[Tail]\n"
            "x=y\n"
            "[New]\n"
            "A=b\n");
  // Nothing but the file itself is left in the folder.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);

  CIniFile again(path);
  again.WriteInteger("GROUP0", "KeyNum", 4);
  EXPECT_FALSE(again.Modified());
}

TEST(IniFile, ReadsDefaultsNumbersAndOldFiles) {
  TempDir dir;
  const std::string path = dir.Path() + "/b.ini";
  WriteAll(path,
           "[S]\r\n"
           "dec=70000\r\n"
           "hex=0x1A\r\n"
           "neg=-5\r\n"
           "bad=12abc\r\n"
           "empty=\r\n"
           "name=M\xFChle\r\n"
           "utf=M\xC3\xBChle\r\n");
  const CIniFile ini(path);
  EXPECT_EQ(ini.ReadInteger("S", "dec", 0), 70000);
  EXPECT_EQ(ini.ReadInteger("s", "HEX", 0), 26);
  EXPECT_EQ(ini.ReadInteger("S", "neg", 0), -5);
  EXPECT_EQ(ini.ReadInteger("S", "bad", 60), 60);
  EXPECT_EQ(ini.ReadInteger("S", "empty", 60), 60);
  EXPECT_EQ(ini.ReadInteger("S", "missing", 60), 60);
  EXPECT_EQ(ini.ReadInteger("Nope", "dec", 7), 7);
  EXPECT_EQ(ini.ReadString("S", "name", ""), "M\xC3\xBChle");  // Windows-1252 line
  EXPECT_EQ(ini.ReadString("S", "utf", ""), "M\xC3\xBChle");
  EXPECT_EQ(ini.ReadString("S", "missing", "d"), "d");

  // A rewritten CRLF file keeps its line ends and its untouched bytes.
  CIniFile edit(path);
  edit.WriteInteger("S", "dec", 1);
  edit.Save();
  const std::string text = ReadAll(path);
  EXPECT_NE(text.find("dec=1\r\n"), std::string::npos);
  EXPECT_NE(text.find("name=M\xFChle\r\n"), std::string::npos);
}

TEST(IniFile, ValuesCannotAddLinesAndWriteFailuresAreReported) {
  TempDir dir;
  const std::string path = dir.Path() + "/c.ini";
  CIniFile ini(path);
  EXPECT_FALSE(ini.Exists());
  ini.WriteString("PanelName", "DeviceName", "Evil\r\n[Group0]\nKeyNum=64");
  ini.Save();
  EXPECT_EQ(ReadAll(path), "[PanelName]\nDeviceName=Evil  [Group0] KeyNum=64\n");
  const CIniFile back(path);
  EXPECT_EQ(back.ReadString("Group0", "KeyNum", "none"), "none");

  CIniFile nowhere(dir.Path() + "/missing/folder/x.ini");
  nowhere.WriteString("A", "b", "c");
  try {
    nowhere.Save();
    FAIL() << "no error";
  } catch (const EIniWriteError& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to write to " + dir.Path() + "/missing/folder/x.ini");
  }
}

TEST(IniFile, ProfileIntegers) {
  long long v = 0;
  EXPECT_TRUE(ParseProfileInteger(" 42 ", v));
  EXPECT_EQ(v, 42);
  EXPECT_TRUE(ParseProfileInteger("0xFFFF", v));
  EXPECT_EQ(v, 65535);
  EXPECT_TRUE(ParseProfileInteger("+7", v));
  EXPECT_EQ(v, 7);
  for (const char* bad : {"", "0x", "x10", "1.5", "1e3", "--1", "99999999999999999999", "0xG"})
    EXPECT_FALSE(ParseProfileInteger(bad, v)) << bad;
}
