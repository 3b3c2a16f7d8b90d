// The local mirror under downloads and syncs that are interrupted, meet a
// dropped FTP session or a listing that fails, or come from another meter:
// never fewer complete files than before, never a partial file under a
// real name.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <filesystem>
#include <map>
#include <set>

#include "tests/support/Files.h"
#include "tests/support/Process.h"
#include "tests/support/ScriptedFtpServer.h"

namespace fs = std::filesystem;

namespace {

ProcessResult Krvo(std::vector<std::string> args) {
  args.insert(args.begin(), KrvoPath());
  return RunProcess(args, {"LC_ALL=C", "KRVO_DEBUG=0"});
}

// Groups 1 and 2 log once a minute: three day files each for 3000 records.
std::vector<std::string> Meter(const std::string& root, std::vector<std::string> extra = {}) {
  std::vector<std::string> args = {"--data-root", root,      "--records", "3000",    "--log-start",
                                   "2026-11-01",  "--group", "1:60:1,10", "--group", "2:60:1"};
  args.insert(args.end(), extra.begin(), extra.end());
  return args;
}

// Every file below folder (relative path -> bytes).
std::map<std::string, std::string> Tree(const std::string& folder) {
  std::map<std::string, std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(folder))
    if (e.is_regular_file()) out[fs::relative(e.path(), folder).string()] = ReadAll(e.path());
  return out;
}

// The group folders' files of the mirror and of the meter, compared by name and bytes.
std::map<std::string, std::string> Groups(const std::string& dataLog) {
  std::map<std::string, std::string> out;
  for (const auto& [path, bytes] : Tree(dataLog))
    if (path.rfind("Group", 0) == 0 && path.find('/') != std::string::npos) out[path] = bytes;
  return out;
}

size_t Leftovers(const std::string& folder) {
  size_t n = 0;
  for (const auto& e : fs::recursive_directory_iterator(folder)) {
    const std::string name = e.path().filename().string();
    n += name.find(".~krvo-") != std::string::npos || name.find(".partial") != std::string::npos;
  }
  return n;
}

// Starts krvo, waits for a fetch under way (a temporary file in the group
// folder), then sends it sig; returns its exit status (-1 when killed).
int StopMidFetch(const std::vector<std::string>& args, const std::string& groupFolder, int sig) {
  std::vector<std::string> argv = args;
  argv.insert(argv.begin(), KrvoPath());
  const pid_t pid = StartProcess(argv, {"LC_ALL=C"});
  auto fetching = [&] {
    for (const std::string& f : FolderNames(groupFolder))
      if (f.find(".~krvo-") != std::string::npos) return true;
    return false;
  };
  while (!fetching()) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) return 1000;  // ended before it could be stopped
  }
  if (sig == SIGKILL) {
    KillProcess(pid);
    return -1;
  }
  kill(pid, sig);
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST(CliMirror, StaleSessionsAndInterruptionsKeepEveryCompleteFile) {
  TempDir dir;
  const std::string root = dir.Path() + "/meter", data = dir.Path() + "/data";
  const std::string dataLog = data + "/Panel A/DataLog";
  const std::string meterLog = root + "/DataLog";
  {
    SimProcess sim(Meter(root));
    ASSERT_EQ(Krvo(MeterCommand("download", sim, data)).ExitCode, 0);
  }
  // What an earlier sync moved aside, and a stray file: a full download leaves neither.
  fs::create_directories(dataLog + "/Group1.20261201-1200/sub");
  WriteAll(dataLog + "/Group1.20261201-1200/sub/old.dat", "old");
  WriteAll(dataLog + "/stale.txt", "x");
  {
    // The server drops each session after nine commands, as a restart or an
    // idle time-out does: listings and fetches meet dead sessions.
    SimProcess sim(Meter(root, {"--ftp-close-after-commands", "9"}));
    const ProcessResult r = Krvo(MeterCommand("download", sim, data));
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_NE(r.Out.find("Group 01\t3\t3000\n"), std::string::npos) << r.Out;
    EXPECT_NE(r.Out.find("Group 02\t3\t3000\n"), std::string::npos) << r.Out;
  }
  EXPECT_EQ(Groups(dataLog), Groups(meterLog));
  EXPECT_FALSE(fs::exists(dataLog + "/Group1.20261201-1200"));
  EXPECT_FALSE(fs::exists(dataLog + "/stale.txt"));
  const auto whole = Tree(dataLog);
  ASSERT_TRUE(whole.count("template.xlsx"));
  const std::string ini = whole.at("DataLogSetup.ini");
  EXPECT_NE(ini.find("[PanelName]"), std::string::npos);
  EXPECT_NE(ini.find("[Group0]"), std::string::npos);

  // The meter's logs grow; a download stopped inside its first file (Ctrl-C,
  // then a kill) changes nothing of the mirror.
  const std::vector<std::string> days = FolderNames(meterLog + "/Group1");
  ASSERT_EQ(days.size(), 3u);
  for (const int sig : {SIGINT, SIGKILL}) {
    SimProcess sim(Meter(root, {"--ftp-stall-after", "5000"}));
    AppendAll(meterLog + "/Group1/" + days[0], std::vector<uint8_t>(200000, 1));
    const int status = StopMidFetch(MeterCommand("download", sim, data), dataLog + "/Group1", sig);
    EXPECT_EQ(status, sig == SIGINT ? 1 : -1) << sig;
    std::map<std::string, std::string> now;
    for (const auto& [path, bytes] : Tree(dataLog))
      if (path.find(".~krvo-") == std::string::npos) now[path] = bytes;
    EXPECT_EQ(now, whole) << sig;
    if (sig == SIGINT) {
      EXPECT_EQ(Leftovers(dataLog), 0u);
    }
  }
  {
    SimProcess sim(Meter(root));
    ASSERT_EQ(Krvo(MeterCommand("download", sim, data)).ExitCode, 0);
  }
  EXPECT_EQ(Groups(dataLog), Groups(meterLog));
  EXPECT_EQ(Leftovers(dataLog), 0u);  // the killed run's temporary files went

  // A file the server cuts keeps its earlier copy; what arrived waits under a
  // name no load reads, and the next sync fetches the file whole.
  const std::string earlier = ReadAll(dataLog + "/Group1/" + days[2]);
  // (The simulator writes its files anew when it starts.)
  const auto grow = [&] {
    AppendAll(meterLog + "/Group1/" + days[2], std::vector<uint8_t>(30000, 2));
  };
  {
    SimProcess sim(Meter(root, {"--ftp-426-after", "25000"}));
    grow();
    const ProcessResult r = Krvo(MeterCommand("download", sim, data));
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_NE(r.Err.find("Get file failed: " + dataLog + "/Group1/" + days[2]), std::string::npos)
        << r.Err;
  }
  EXPECT_EQ(ReadAll(dataLog + "/Group1/" + days[2]), earlier);
  const std::string partial = ReadAll(dataLog + "/Group1/" + days[2] + ".partial");
  EXPECT_EQ(partial.size(), 25000u);
  EXPECT_EQ(partial, ReadAll(meterLog + "/Group1/" + days[2]).substr(0, 25000));
  {
    SimProcess sim(Meter(root));
    grow();
    const ProcessResult r = Krvo(MeterCommand("sync", sim, data));
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
  }
  EXPECT_EQ(ReadAll(dataLog + "/Group1/" + days[2]), ReadAll(meterLog + "/Group1/" + days[2]));
  EXPECT_EQ(Leftovers(dataLog), 0u);
}

namespace {

// An FTP server whose group 1 lists listing (other groups have no folder)
// and serves each file as one record holding the name's length and its
// second byte; dropAtList closes the session when group 1 is listed.
ScriptedFtpServer Server(const std::string& listing, bool dropAtList = false) {
  return ScriptedFtpServer([listing, dropAtList](FtpPeer& p) {
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
        if (group1 && dropAtList) return;  // the server restarts
        p.Send(group1 ? "250 ok\r\n" : "550 no\r\n");
      } else if (verb == "PASV") {
        const int port = p.Listen();
        p.Send("227 Entering Passive Mode (127,0,0,1," + std::to_string(port / 256) + "," +
               std::to_string(port % 256) + ")\r\n");
      } else if (verb == "LIST" || verb == "RETR") {
        p.Send("150 here\r\n");
        const int fd = p.AcceptData();
        if (verb == "LIST" && group1) p.SendOn(fd, listing);
        if (verb == "RETR") {
          const std::string name = c.substr(5);
          const auto rec =
              DatRecord({static_cast<int32_t>(name.size()), name[1]}, {26, 12, 1, 0, 0, 0});
          p.SendOn(fd, std::string(rec.begin(), rec.end()));
        }
        FtpPeer::CloseFd(fd);
        p.Send("226 done\r\n");
      } else if (verb == "QUIT") {
        p.Send("221 bye\r\n");
        return;
      } else {
        p.Send("200 ok\r\n");
      }
    }
  });
}

}  // namespace

TEST(CliMirror, ClashingLongAndUnlistableNamesLoseNothing) {
  TempDir dir;
  const std::string data = dir.Path() + "/data";
  const std::string group1 = data + "/Panel A/DataLog/Group1";
  SimProcess sim({"--data-root", dir.Path() + "/sim", "--group", "1:60:1,10"});
  const std::string longName = std::string(240, 'L') + ".dat";
  auto line = [](const std::string& name) {
    return "-rw-r--r-- 1 u g 16 Dec 01 00:00 " + name + "\r\n";
  };
  const std::string listing = line("x:1.dat") + line("x_1.dat") + line(longName);
  auto download = [&](const ScriptedFtpServer& server, std::vector<std::string> extra = {}) {
    std::vector<std::string> args = MeterCommand("download", sim.ModbusPort(), server.Port(), data);
    args.insert(args.end(), extra.begin(), extra.end());
    return Krvo(args);
  };
  std::vector<std::string> names;
  for (int run = 0; run < 2; ++run) {
    const ScriptedFtpServer server = Server(listing);
    const ProcessResult r = download(server);
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_NE(r.Out.find("Group 01\t3\t3\n"), std::string::npos) << r.Out;
    // Three files under three names, the same on every run; the safe name stays as it is.
    const std::vector<std::string> now = FolderNames(group1);
    ASSERT_EQ(now.size(), 3u);
    if (run == 1) {
      EXPECT_EQ(now, names);
    }
    names = now;
  }
  EXPECT_TRUE(fs::exists(group1 + "/x_1.dat"));
  EXPECT_TRUE(fs::exists(group1 + "/" + longName));
  std::set<std::string> contents;
  for (const std::string& n : names) {
    contents.insert(ReadAll(group1 + "/" + n));
    EXPECT_EQ(n.substr(n.size() - 4), ".dat") << n;
  }
  EXPECT_EQ(contents.size(), 3u);  // no file took another's place

  // A listing that can't be read, or a session lost while listing that
  // can't be had again: the group's files stay, and the run says so.
  const auto before = Tree(group1);
  {
    const ScriptedFtpServer server = Server("this is not a listing\r\n");
    const ProcessResult r = download(server);
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_NE(r.Err.find("could not be listed"), std::string::npos) << r.Err;
  }
  EXPECT_EQ(Tree(group1), before);
  {
    const ScriptedFtpServer server = Server(listing, true);
    const ProcessResult r = download(server, {"--timeout", "2"});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_NE(r.Err, "");
    EXPECT_EQ(r.Err.find("Finished to download"), std::string::npos) << r.Err;
  }
  EXPECT_EQ(Tree(group1), before);
}

TEST(CliMirror, ASyncWithoutItsSetupThroughALinkOrFromAnotherMeter) {
  TempDir dir;
  const std::string root = dir.Path() + "/meter", data = dir.Path() + "/data";
  const std::string dataLog = data + "/Panel A/DataLog";
  auto serial = [](const char* n) { return std::vector<std::string>{"--serial", n}; };
  {
    SimProcess sim(Meter(root, serial("111")));
    ASSERT_EQ(Krvo(MeterCommand("sync", sim, data)).ExitCode, 0);
  }
  const std::string keys1 = ReadAll(dataLog + "/Group1.keys");
  const std::string keys5 = ReadAll(dataLog + "/Group5.keys");
  ASSERT_NE(keys1, "");
  {
    // The setup read fails at group 4: nothing is taken for changed keys.
    std::vector<std::string> args = serial("111");
    args.insert(args.end(), {"--fail-start", std::to_string(8250 + 71 * 4)});
    SimProcess sim(Meter(root, args));
    const ProcessResult r = Krvo(MeterCommand("sync", sim, data));
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_NE(r.Err.find("setup could not be read"), std::string::npos) << r.Err;
    EXPECT_NE(r.Out.find("Group 01\t0\t3000\t3\n"), std::string::npos) << r.Out;
  }
  EXPECT_EQ(ReadAll(dataLog + "/Group1.keys"), keys1);
  EXPECT_EQ(ReadAll(dataLog + "/Group5.keys"), keys5);

  // A group folder swapped for a link: the sync never follows it.
  const std::string outside = dir.Path() + "/outside";
  fs::create_directories(outside);
  WriteAll(outside + "/.a.dat.~krvo-999999999-abcdef", "someone's");
  WriteAll(outside + "/keep.dat", "mine");
  fs::remove_all(dataLog + "/Group1");
  fs::create_directory_symlink(outside, dataLog + "/Group1");
  {
    SimProcess sim(Meter(root, serial("111")));
    const ProcessResult r = Krvo(MeterCommand("sync", sim, data));
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
  }
  for (const auto& [name, bytes] : std::map<std::string, std::string>{
           {".a.dat.~krvo-999999999-abcdef", "someone's"}, {"keep.dat", "mine"}})
    EXPECT_EQ(ReadAll(outside + "/" + name), bytes);
  EXPECT_EQ(FolderNames(outside).size(), 2u);
  EXPECT_FALSE(fs::is_symlink(dataLog + "/Group1"));
  EXPECT_EQ(FolderNames(dataLog + "/Group1"), FolderNames(root + "/DataLog/Group1"));
  for (const auto& n : FolderNames(dataLog)) EXPECT_EQ(n.find("Group1.2"), std::string::npos) << n;

  // Another meter with the same device name: stopped, naming both serial
  // numbers, unless told to go on.
  const auto before = Tree(dataLog);
  {
    SimProcess sim(Meter(root, serial("222")));
    for (const char* sub : {"sync", "download"}) {
      const ProcessResult r = Krvo(MeterCommand(sub, sim, data));
      EXPECT_EQ(r.ExitCode, 1) << sub;
      EXPECT_NE(r.Err.find("111"), std::string::npos) << r.Err;
      EXPECT_NE(r.Err.find("222"), std::string::npos) << r.Err;
      EXPECT_EQ(Tree(dataLog), before) << sub;
    }
    std::vector<std::string> args = MeterCommand("download", sim, data);
    args.push_back("--other-meter");
    ASSERT_EQ(Krvo(args).ExitCode, 0);
  }
  EXPECT_NE(ReadAll(dataLog + "/DataLogSetup.ini").find("SerialNumber=222"), std::string::npos);
}
