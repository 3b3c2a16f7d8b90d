#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "tests/support/Files.h"
#include "tests/support/Process.h"
#include "tests/support/ScriptedFtpServer.h"
#include "tests/support/Workbook.h"

namespace fs = std::filesystem;

namespace {

ProcessResult Krvo(std::vector<std::string> args) {
  args.insert(args.begin(), KrvoPath());
  return RunProcess(args, {"LC_ALL=C", "KRVO_DEBUG=0"});
}

// A meter whose group 1 logs two keys once a minute (seven day files for
// 9000 records) and group 6 sixty-four keys every 10 s (a first day file
// above 2 MB); the other groups log nothing.
std::vector<std::string> MeterArgs(const std::string& root, std::vector<std::string> extra = {}) {
  std::string ids;
  for (int id = 1; id <= 64; ++id) ids.append(id > 1 ? "," : "").append(std::to_string(id));
  std::vector<std::string> args = {"--data-root", root,      "--records", "9000",    "--log-start",
                                   "2026-11-01",  "--group", "1:60:1,10", "--group", "6:10:" + ids};
  for (int g : {2, 3, 4, 5}) {
    args.push_back("--group");
    args.push_back(std::to_string(g) + ":60:");
  }
  args.insert(args.end(), extra.begin(), extra.end());
  return args;
}

ProcessResult Download(const SimProcess& sim, const std::string& data,
                       std::vector<std::string> extra = {}) {
  std::vector<std::string> args = MeterCommand("download", sim, data);
  args.insert(args.end(), extra.begin(), extra.end());
  return Krvo(args);
}

}  // namespace

TEST(CliDownload, TheMeterIntoTheMirrorAndAgain) {
  TempDir dir;
  const std::string root = dir.Path() + "/sim", data = dir.Path() + "/data";
  const std::string mirror = data + "/Panel A/DataLog";
  const size_t bigRecord = 4 * 64 + 6;
  {
    SimProcess sim(MeterArgs(root));
    const ProcessResult r = Download(sim, data);
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    const std::regex out(
        "Group 01\t7\t9000\nGroup 02\t0\t0\nGroup 03\t0\t0\nGroup 04\t0\t0\nGroup 05\t0\t0\n"
        "Group 06\t2\t9000\nGroup 07\t0\t0\nGroup 08\t0\t0\nGroup 09\t0\t0\nGroup 10\t0\t0\n"
        "Finished to download logs, elapsed time: \\d\\d:\\d\\d:\\d\\d\n" +
        std::regex_replace(mirror, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)") +
        "/template.xlsx\n");
    EXPECT_TRUE(std::regex_match(r.Out, out)) << r.Out;
    // The big file shows its progress line; each group its listing.
    EXPECT_TRUE(
        std::regex_search(r.Err, std::regex("DowndLoad Speed \\d+\\.\\d\\d KB/s; Time remaining "
                                            "\\d\\d:\\d\\d:\\d\\d; Finished \\d+\\.\\d\\d%")))
        << r.Err;
    EXPECT_NE(r.Err.find("/DataLog/Group10/"), std::string::npos);
  }
  // The mirror holds the meter's files byte for byte, and the names first.
  for (int g = 1; g <= 10; ++g) {
    const std::string remote = root + "/DataLog/Group" + std::to_string(g);
    const std::string local = mirror + "/Group" + std::to_string(g);
    EXPECT_EQ(FolderNames(local), FolderNames(remote)) << g;
    for (const std::string& f : FolderNames(remote))
      EXPECT_EQ(ReadAll(local + "/" + f), ReadAll(remote + "/" + f)) << f;
  }
  const std::vector<std::string> bigDays = FolderNames(root + "/DataLog/Group6");
  ASSERT_EQ(bigDays.size(), 2u);
  ASSERT_GT(fs::file_size(root + "/DataLog/Group6/" + bigDays[0]), 2048000u);
  EXPECT_EQ(ReadAll(mirror + "/DataLogSetup.ini").rfind("[PanelName]", 0), 0u);
  const WorkbookDump book = DumpWorkbook(mirror + "/template.xlsx", 2, true);
  ASSERT_EQ(book.ExitCode, 0) << book.Error;
  EXPECT_EQ(book.Sheets[1], "Data Log #01");
  EXPECT_EQ(book.Sheets[6], "Data Log #06");
  EXPECT_EQ(book.Size.at("Data Log #06").first, 9001);

  // A second download replaces the first: a file the meter no longer has goes.
  WriteAll(mirror + "/Group1/gone.dat", "x");
  const std::string before = ReadAll(mirror + "/Group6/" + bigDays[1]);
  {
    // The big file is cut by the server: it fails alone, and its bytes are read.
    SimProcess sim(MeterArgs(root, {"--ftp-426-after", "1000000"}));
    const ProcessResult r = Download(sim, data);
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_FALSE(fs::exists(mirror + "/Group1/gone.dat"));
    EXPECT_NE(r.Err.find("Get file failed: " + mirror + "/Group6/" + bigDays[0] + "\n"),
              std::string::npos)
        << r.Err;
    EXPECT_NE(r.Err.find("\n1 file could not be fetched.\n"), std::string::npos) << r.Err;
    const size_t secondDay = before.size() / bigRecord;
    EXPECT_NE(r.Out.find("Group 06\t1\t" + std::to_string(1000000 / bigRecord + secondDay) + "\n"),
              std::string::npos)
        << r.Out;
    EXPECT_EQ(ReadAll(mirror + "/Group6/" + bigDays[1]), before);  // the next file arrived
    EXPECT_NE(r.Out.find("Group 01\t7\t9000\n"), std::string::npos);
  }
  // A server that refuses the login, or none at all: the earlier mirror stays.
  const std::vector<std::string> kept = FolderNames(mirror + "/Group1");
  {
    SimProcess sim(MeterArgs(root, {"--ftp-refuse-login"}));
    const ProcessResult r = Download(sim, data);
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_NE(r.Err, "");
    EXPECT_EQ(FolderNames(mirror + "/Group1"), kept);
    EXPECT_TRUE(fs::exists(mirror + "/template.xlsx"));
  }
  {
    SimProcess sim(MeterArgs(root, {"--ftp-port", "-1"}));
    std::vector<std::string> args = {
        "download",   "--host", "127.0.0.1",  "--port", std::to_string(sim.ModbusPort()),
        "--ftp-port", "1",      "--data-dir", data,     "--timeout",
        "5"};
    const ProcessResult r = Krvo(args);
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_EQ(FolderNames(mirror + "/Group1"), kept);
  }
  // A server that stalls inside the big file: --timeout gives up on it alone.
  {
    SimProcess sim(MeterArgs(root, {"--ftp-stall-after", "1000000"}));
    const ProcessResult r = Download(sim, data, {"--timeout", "1"});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_NE(r.Err.find("1 file could not be fetched."), std::string::npos) << r.Err;
    EXPECT_EQ(ReadAll(mirror + "/Group6/" + bigDays[1]), before);
  }
}

TEST(CliDownload, NamesFromTheMeterStayInsideTheDataFolder) {
  TempDir dir;
  const std::string data = dir.Path() + "/data";
  SimProcess sim({"--data-root", dir.Path() + "/sim", "--device-name", "../../escape", "--group",
                  "1:60:1,10"});
  // An FTP server whose group 1 lists names that climb out of their folder.
  ScriptedFtpServer server([](FtpPeer& p) {
    p.Send("220 hello\r\n");
    bool group1 = false;
    for (std::string c = p.Command(); !c.empty(); c = p.Command()) {
      const std::string verb = c.substr(0, 4);
      if (verb == "USER" || verb == "PASS") {
        p.Send("230 in\r\n");
      } else if (verb == "SYST") {
        p.Send("215 UNIX Type: L8\r\n");
      } else if (verb == "CWD ") {
        group1 = c == "CWD /DataLog/Group1/";
        p.Send(group1 ? "250 ok\r\n" : "550 no\r\n");
      } else if (verb == "PASV") {
        const int port = p.Listen();
        p.Send("227 Entering Passive Mode (127,0,0,1," + std::to_string(port / 256) + "," +
               std::to_string(port % 256) + ")\r\n");
      } else if (verb == "LIST" || verb == "RETR") {
        p.Send("150 here\r\n");
        const int fd = p.AcceptData();
        if (verb == "LIST" && group1) {
          p.SendOn(fd,
                   "-rw-r--r-- 1 u g 14 Dec 01 00:00 ../../evil.dat\r\n"
                   "-rw-r--r-- 1 u g 14 Dec 01 00:00 ..\\..\\worse.dat\r\n"
                   "-rw-r--r-- 1 u g 14 Dec 01 00:00 DATA.DAT\r\n");
        } else if (verb == "RETR") {
          p.SendOn(fd, std::string("\x10\x27\0\0\x88\x13\0\0\x1a\x0c\x01\0\0\0", 14));
        }
        FtpPeer::CloseFd(fd);
        p.Send("226 done\r\n");
      } else if (verb == "QUIT") {
        p.Send("221 bye\r\n");
        break;
      } else {
        p.Send("200 ok\r\n");
      }
    }
  });
  const ProcessResult r =
      Krvo({"download", "--host", "127.0.0.1", "--port", std::to_string(sim.ModbusPort()),
            "--ftp-port", std::to_string(server.Port()), "--data-dir", data, "--pace-ms", "0"});
  EXPECT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_NE(r.Out.find("Group 01\t3\t3\n"), std::string::npos) << r.Out;
  // Everything made lies in the data folder, the device's one folder there.
  EXPECT_EQ(FolderNames(dir.Path()), (std::vector<std::string>{"data", "sim"}));
  const std::vector<std::string> devices = FolderNames(data);
  ASSERT_EQ(devices.size(), 1u);
  EXPECT_EQ(devices[0].find('/'), std::string::npos);
  size_t fetched = 0;
  for (const auto& e : fs::recursive_directory_iterator(data)) {
    const std::string name = e.path().filename().string();
    if (name.find("evil") != std::string::npos || name.find("worse") != std::string::npos ||
        name == "DATA.DAT") {
      EXPECT_EQ(e.path().parent_path(), fs::path(data + "/" + devices[0] + "/DataLog/Group1"));
      ++fetched;
    }
  }
  EXPECT_EQ(fetched, 3u);
}
