// Untrusted files and peers met end to end through krvo: a lock held by
// another run, a FIFO where a file should be, a server that trickles, a
// killed fleet.
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>
#include <thread>

#include "app/DeviceLock.h"
#include "tests/support/Background.h"
#include "tests/support/CliRun.h"
#include "tests/support/Files.h"
#include "tests/support/Process.h"
#include "tests/support/Workbook.h"

namespace fs = std::filesystem;

// ---- Readers and writers take the device's lock first ----

namespace {

// A device folder whose group 1 logs keys (key ids as the meter numbers
// them), with one file of one record of values (raw, as logged).
struct LoggedFolder {
  TempDir dir;
  std::string data = dir.Path() + "/data";
  std::string dataLog = data + "/Meter L/DataLog";

  void Write(const std::vector<int>& keys, const std::vector<int32_t>& raw) {
    std::string ini =
        "[PanelName]\nBranchName1=one\n[Group0]\nKeyNum=" + std::to_string(keys.size()) + "\n";
    for (size_t i = 0; i < keys.size(); ++i) {
      char key[32];
      std::snprintf(key, sizeof key, "keyArr%.2zu", i);
      ini += std::string(key) + "=" + std::to_string(keys[i]) + "\n";
    }
    fs::create_directories(dataLog + "/Group1");
    WriteAll(dataLog + "/DataLogSetup.ini", ini);
    fs::remove(dataLog + "/Group1/a.dat");
    AppendAll(dataLog + "/Group1/a.dat", DatRecord(raw, {26, 12, 7, 14, 3, 7}));
  }
  std::vector<std::string> KrvoArgs(std::vector<std::string> args) const {
    args.insert(args.begin(), KrvoPath());
    args.insert(args.end(), {"--data-dir", data});
    return args;
  }
};

// Group 1 of the meter's Ua (key 1, in hundredths of a volt) and Ia (key 10,
// in thousandths of an ampere).
const std::vector<int> kUa = {1}, kUaIa = {1, 10};

}  // namespace

TEST(CliGuards, AnExportWaitingForASyncReadsTheSetupTheSyncLeft) {
  LoggedFolder dev;
  dev.Write(kUa, {22000});
  ASSERT_EQ(Krvo({"export", dev.dataLog, "--data-dir", dev.data}).ExitCode, 0);
  const std::string workbook = dev.dataLog + "/template.xlsx";
  const std::string good = ReadAll(workbook);
  ASSERT_EQ(DumpWorkbook(workbook).Cell("Data Log #01!C2").Value, "220");

  // A sync holds the folder: the export waits, and writes nothing meanwhile.
  CDeviceLock sync;
  std::string error;
  ASSERT_TRUE(sync.Acquire(dev.dataLog, "a sync in the test", {}, error)) << error;
  BackgroundProcess exporter(dev.KrvoArgs({"export", dev.dataLog}), dev.dir.Path(), {"LC_ALL=C"});
  ASSERT_TRUE(WaitFor(exporter, [&] {
    return exporter.Err().find("Waiting for " + dev.dataLog +
                               "/: a sync in the test is writing it.") != std::string::npos &&
           BlockedOnLock(exporter.Pid(), CDeviceLock::PathOf(dev.dataLog));
  })) << exporter.Wait().Err;
  EXPECT_EQ(ReadAll(workbook), good);
  EXPECT_EQ(FolderNames(dev.dataLog),
            (std::vector<std::string>{"DataLogSetup.ini", "Group1", "template.xlsx"}));

  // The sync changes the keys and the files together, then lets go.
  dev.Write(kUaIa, {23000, 5000});
  sync.Release();
  const ProcessResult r = exporter.Wait();
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  const WorkbookDump d = DumpWorkbook(workbook);
  ASSERT_EQ(d.ExitCode, 0) << d.Error;
  EXPECT_EQ(d.Cell("Data Log #01!C1").Value, "'Voltage-I Ua'");
  EXPECT_EQ(d.Cell("Data Log #01!D1").Value, "'Mains-I  Ia'");
  EXPECT_EQ(d.Cell("Data Log #01!C2").Value, "230");
  EXPECT_EQ(d.Cell("Data Log #01!D2").Value, "5");
  EXPECT_EQ(d.Size.at("Data Log #01"), std::make_pair(2, 4));
}

TEST(CliGuards, ShowWaitsForAWriterButNotForAnotherReader) {
  LoggedFolder dev;
  dev.Write(kUa, {22000});
  auto lastCells = [](const std::string& out) {
    std::istringstream in(out);
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
  };
  {
    CDeviceLock reader;
    std::string error;
    ASSERT_TRUE(reader.Acquire(dev.dataLog, "a reader", {}, error, TLockMode::Shared)) << error;
    const ProcessResult r =
        RunProcess(dev.KrvoArgs({"show", dev.dataLog, "--group", "1"}), {"LC_ALL=C"});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(r.Err, "");
    EXPECT_EQ(lastCells(r.Out).at(0), "No.\tTimeStamp\tVoltage-I Ua");
  }
  CDeviceLock writer;
  std::string error;
  ASSERT_TRUE(writer.Acquire(dev.dataLog, "a writer", {}, error)) << error;
  BackgroundProcess show(dev.KrvoArgs({"show", dev.dataLog + "/.", "--group", "1"}), dev.dir.Path(),
                         {"LC_ALL=C"});
  ASSERT_TRUE(WaitFor(show, [&] {
    return show.Err().find("a writer is writing it.") != std::string::npos &&
           BlockedOnLock(show.Pid(), CDeviceLock::PathOf(dev.dataLog));
  })) << show.Wait().Err;
  dev.Write(kUaIa, {23000, 5000});
  writer.Release();
  const ProcessResult r = show.Wait();
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  const std::vector<std::string> lines = lastCells(r.Out);
  ASSERT_EQ(lines.size(), 2u) << r.Out;
  EXPECT_EQ(lines[0], "No.\tTimeStamp\tVoltage-I Ua\tMains-I  Ia");
  EXPECT_EQ(lines[1].substr(lines[1].rfind('\t', lines[1].rfind('\t') - 1)), "\t230\t5");
}

namespace {

// A small meter: group 1 logs two keys once a minute, over two days.
std::vector<std::string> SmallMeter(const std::string& root, std::vector<std::string> extra = {}) {
  std::vector<std::string> a = {"--data-root", root,         "--records", "2000",
                                "--log-start", "2026-11-01", "--group",   "1:60:1,10"};
  for (int g = 2; g <= 10; ++g) a.insert(a.end(), {"--group", std::to_string(g) + ":60:"});
  a.insert(a.end(), extra.begin(), extra.end());
  return a;
}

std::vector<std::string> SyncArgs(const SimProcess& sim, const std::string& data,
                                  std::vector<std::string> extra = {}) {
  std::vector<std::string> a = {KrvoPath(),   "sync",
                                "--host",     "127.0.0.1",
                                "--port",     std::to_string(sim.ModbusPort()),
                                "--ftp-port", std::to_string(sim.FtpPort()),
                                "--data-dir", data,
                                "--pace-ms",  "0"};
  a.insert(a.end(), extra.begin(), extra.end());
  return a;
}

}  // namespace

TEST(CliGuards, SyncAndSetupWaitForTheRunThatHoldsTheFolder) {
  TempDir dir;
  const std::string root = dir.Path() + "/meter", data = dir.Path() + "/data";
  const std::string device = data + "/Panel A", dataLog = device + "/DataLog";
  SimProcess sim(SmallMeter(root));
  CDeviceLock other;
  std::string error;
  ASSERT_TRUE(other.Acquire(dataLog, "another run", {}, error)) << error;

  BackgroundProcess sync(SyncArgs(sim, data), dir.Path(), {"LC_ALL=C"});
  ASSERT_TRUE(WaitFor(sync, [&] {
    return sync.Err().find("Waiting for the folder of \"Panel A\": another run is writing it.") !=
               std::string::npos &&
           BlockedOnLock(sync.Pid(), CDeviceLock::PathOf(dataLog));
  })) << sync.Wait().Err;
  EXPECT_EQ(FolderNames(device),
            std::vector<std::string>{"DataLog.lock"});  // nothing of the folder written
  other.Release();
  ProcessResult r = sync.Wait();
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  const std::vector<std::string> days = FolderNames(root + "/DataLog/Group1");
  ASSERT_EQ(days.size(), 2u);
  EXPECT_EQ(FolderNames(dataLog + "/Group1"), days);
  for (const std::string& day : days)
    EXPECT_EQ(ReadAll(dataLog + "/Group1/" + day), ReadAll(root + "/DataLog/Group1/" + day)) << day;

  // krvo setup writes the same folder: it waits too.
  ASSERT_TRUE(other.Acquire(dataLog, "another run", {}, error)) << error;
  BackgroundProcess setup({KrvoPath(), "setup", "--host", "127.0.0.1", "--port",
                           std::to_string(sim.ModbusPort()), "--data-dir", data},
                          dir.Path(), {"LC_ALL=C"});
  ASSERT_TRUE(WaitFor(setup, [&] {
    return BlockedOnLock(setup.Pid(), CDeviceLock::PathOf(dataLog));
  })) << setup.Wait().Err;
  // The setup saves only once it holds the folder: a save made before would
  // be lost under what the other run writes now.
  WriteAll(dataLog + "/DataLogSetup.ini",
           "[PanelName]\nDeviceName=Panel A\nMainsIName=by the other run\n");
  other.Release();
  r = setup.Wait();
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_EQ(r.Err, "Waiting for " + dataLog + "/: another run is writing it.\n");
  const std::string after = ReadAll(dataLog + "/DataLogSetup.ini");
  EXPECT_NE(after.find("[Group0]"), std::string::npos) << after;
  EXPECT_NE(after.find("\nKeyNum=2\n"), std::string::npos) << after;
  EXPECT_NE(after.find("MainsIName="), std::string::npos) << after;
}

// ---- A FIFO where a file should be ----

TEST(CliGuards, FifosInTheDeviceFolderHangNothing) {
  TempDir dir;
  const std::string root = dir.Path() + "/meter", data = dir.Path() + "/data";
  const std::string dataLog = data + "/Panel A/DataLog";
  SimProcess sim(SmallMeter(root));
  ASSERT_EQ(RunProcess(SyncArgs(sim, data), {"LC_ALL=C"}).ExitCode, 0);
  const std::string keys = ReadAll(dataLog + "/Group1.keys");
  ASSERT_FALSE(keys.empty());
  // Opening a FIFO for reading waits for a writer that never comes.
  for (const char* name : {"/Group1.keys", "/Group2.keys"}) {
    fs::remove(dataLog + name);
    ASSERT_EQ(mkfifo((dataLog + name).c_str(), 0644), 0);
  }
  ASSERT_EQ(mkfifo((dataLog + "/Group1/zz.dat").c_str(), 0644), 0);

  ProcessResult r = RunProcess(SyncArgs(sim, data), {"LC_ALL=C"});
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  // The keys are known again, in a file of their own; the group stays in place.
  EXPECT_EQ(ReadAll(dataLog + "/Group1.keys"), keys);
  for (const std::string& n : FolderNames(dataLog))
    EXPECT_EQ(n.find("Group1."), n.rfind("Group1.keys", 0)) << n;
  EXPECT_TRUE(
      fs::is_fifo(dataLog + "/Group1/zz.dat"));  // not the meter's: left as it is, read as nothing

  // The readers pass it by too.
  r = Krvo({"show", dataLog, "--group", "1", "--data-dir", data});
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_EQ(std::count(r.Out.begin(), r.Out.end(), '\n'), 2001);
  fs::remove(dataLog + "/Group3.keys");
  ASSERT_EQ(mkfifo((dataLog + "/Group3.keys").c_str(), 0644), 0);
  r = Krvo({"export", dataLog, "--data-dir", data});
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
}

// ---- A server that trickles ----

TEST(CliGuards, ATricklingTransferFailsWithinTheLowSpeedWindow) {
  TempDir dir;
  const std::string root = dir.Path() + "/meter", data = dir.Path() + "/data";
  SimProcess trickle(SmallMeter(root, {"--ftp-trickle-ms", "100"}));  // 10 bytes/s
  // 40 bytes take 4 s: every wait is short, the whole is far below 1024 bytes/s.
  WriteAll(root + "/DataLog/small.bin", std::string(40, 'k'));
  auto get = [&](std::vector<std::string> extra) {
    std::vector<std::string> a = {"get",
                                  "--host",
                                  "127.0.0.1",
                                  "--ftp-port",
                                  std::to_string(trickle.FtpPort()),
                                  "--timeout",
                                  "2",
                                  "/DataLog/small.bin",
                                  dir.Path() + "/small.bin"};
    a.insert(a.end(), extra.begin(), extra.end());
    return Krvo(a);
  };
  ProcessResult r = get({});
  EXPECT_EQ(r.ExitCode, 1);
  EXPECT_EQ(r.Err.rfind("Transfer too slow: ", 0), 0u) << r.Err;
  EXPECT_FALSE(fs::exists(dir.Path() + "/small.bin"));
  // A limit below the trickle's speed, and none at all, let it through.
  for (const char* limit : {"1", "0"}) {
    r = get({"--low-speed", limit});
    EXPECT_EQ(r.ExitCode, 0) << limit << ": " << r.Err;
    EXPECT_EQ(ReadAll(dir.Path() + "/small.bin"), std::string(40, 'k')) << limit;
    fs::remove(dir.Path() + "/small.bin");
  }

  // A sync: each of group 1's day files fails in its turn, and counts as failed.
  fs::remove(root + "/DataLog/small.bin");
  r = RunProcess(
      SyncArgs(trickle, data, {"--timeout", "1", "--low-speed", "2048", "--no-workbook"}),
      {"LC_ALL=C"});
  EXPECT_EQ(r.ExitCode, 1);
  EXPECT_NE(r.Err.find("2 files could not be fetched."), std::string::npos) << r.Err;
  for (const std::string& day :
       FolderNames(root + "/DataLog/Group1"))  // no part under a day's name
    EXPECT_FALSE(fs::exists(data + "/Panel A/DataLog/Group1/" + day)) << day;
  // The same files at full speed pass under the same limit.
  SimProcess normal(SmallMeter(root));
  r = RunProcess(SyncArgs(normal, data, {"--timeout", "1", "--low-speed", "0", "--no-workbook"}),
                 {"LC_ALL=C"});
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  for (const std::string& day : FolderNames(root + "/DataLog/Group1"))
    EXPECT_EQ(ReadAll(data + "/Panel A/DataLog/Group1/" + day),
              ReadAll(root + "/DataLog/Group1/" + day))
        << day;
}

// ---- What killed runs leave ----

namespace {

// The id of a process that has ended (and was reaped).
pid_t DeadPid() {
  const pid_t pid = StartProcess({"/bin/true"});
  while (!ProcessEnded(pid)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return pid;
}

}  // namespace

TEST(CliGuards, ASetupSaveClearsWhatAKilledSaveLeft) {
  TempDir dir;
  const std::string data = dir.Path() + "/data", dataLog = data + "/Panel A/DataLog/";
  SimProcess sim(SmallMeter(dir.Path() + "/meter"));
  const std::vector<std::string> setup = {KrvoPath(),   "setup",  "--host",
                                          "127.0.0.1",  "--port", std::to_string(sim.ModbusPort()),
                                          "--data-dir", data};
  ASSERT_EQ(RunProcess(setup).ExitCode, 0);
  const std::string dead = ".DataLogSetup.ini.~krvo-" + std::to_string(DeadPid()) + "-AbC123";
  const std::string live =
      ".DataLogSetup.ini.~krvo-" + std::to_string(getpid()) + "-XyZ789";  // a save under way
  WriteAll(dataLog + dead, "[Group0]\n");
  WriteAll(dataLog + live, "[Group0]\n");
  WriteAll(dataLog + "DataLogSetup.ini", "[Group0]\nKeyNum=77\n");  // so that the setup saves
  chmod((dataLog + "DataLogSetup.ini").c_str(), 0600);
  const ProcessResult r = RunProcess(setup);
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  std::vector<std::string> names = FolderNames(dataLog);
  EXPECT_EQ(std::count(names.begin(), names.end(), dead), 0);
  EXPECT_EQ(std::count(names.begin(), names.end(), live), 1);
  for (const std::string& n : names)
    EXPECT_TRUE(n == live || n.find("~krvo") == std::string::npos) << n;
  for (const std::string& n : names) EXPECT_EQ(n.find(".krvo-tmp-"), std::string::npos) << n;
  struct stat st {};
  ASSERT_EQ(stat((dataLog + "DataLogSetup.ini").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);  // the file's mode stays
}

namespace {

// The children of a process (from /proc), and whether a process still runs
// (a zombie no longer does).
std::vector<pid_t> ChildrenOf(pid_t parent) {
  std::vector<pid_t> out;
  for (const auto& e : fs::directory_iterator("/proc")) {
    const std::string name = e.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    const std::string stat = ReadAll(e.path().string() + "/stat");
    const size_t close = stat.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream f(stat.substr(close + 2));
    std::string state;
    long ppid = 0;
    if (f >> state >> ppid && ppid == parent) out.push_back(static_cast<pid_t>(std::stol(name)));
  }
  return out;
}

bool Running(pid_t pid) {
  const std::string stat = ReadAll("/proc/" + std::to_string(pid) + "/stat");
  const size_t close = stat.rfind(')');
  return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z';
}

std::vector<std::string> RunFolders(const std::string& data) {
  std::vector<std::string> out;
  for (const std::string& n : FolderNames(data))
    if (n.rfind(".fleet-run-", 0) == 0) out.push_back(n);
  return out;
}

}  // namespace

TEST(CliGuards, AKilledFleetTakesItsSyncsAlongAndTheNextRunClearsItsFolder) {
  TempDir dir;
  const std::string data = dir.Path() + "/data";
  SimProcess sim(SmallMeter(dir.Path() + "/meter"));
  const std::string fleet = dir.Path() + "/fleet.txt";
  WriteAll(fleet, "127.0.0.1 " + std::to_string(sim.ModbusPort()) + " " +
                      std::to_string(sim.FtpPort()) + "\n");
  // Ten minutes' pause after each file: the sync is still there when the fleet is killed.
  BackgroundProcess run({KrvoPath(), "fleet", fleet, "--data-dir", data, "--pace-ms", "600000"},
                        dir.Path(), {"LC_ALL=C"});
  std::vector<pid_t> syncs;
  ASSERT_TRUE(WaitFor(run, [&] {
    syncs = ChildrenOf(run.Pid());
    return !syncs.empty() &&
           ReadAll("/proc/" + std::to_string(syncs[0]) + "/cmdline").find("sync") !=
               std::string::npos;
  })) << run.Wait().Err;
  const std::vector<std::string> left = RunFolders(data);
  ASSERT_EQ(left.size(), 1u);
  kill(run.Pid(), SIGKILL);
  run.Wait();
  // The sync dies with it (polled; the bound is far beyond the sync's own end, were it left
  // running).
  bool gone = false;
  for (int i = 0; i < 30000 && !gone; ++i) {
    gone = !Running(syncs[0]);
    if (!gone) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  EXPECT_TRUE(gone) << "the killed fleet's sync runs on";
  if (!gone) kill(syncs[0], SIGKILL);
  EXPECT_EQ(RunFolders(data), left);

  // The next run clears the dead run's folder, and leaves a live run's and
  // a link that only looks like one (with what it points at).
  const std::string live = ".fleet-run-" + std::to_string(getpid()) + "-AbC123";
  fs::create_directories(data + "/" + live + "/claims");
  const std::string outside = dir.Path() + "/outside";
  fs::create_directories(outside);
  WriteAll(outside + "/keep", "x");
  const std::string link = ".fleet-run-" + std::to_string(DeadPid()) + "-link";
  fs::create_directory_symlink(outside, data + "/" + link);
  const ProcessResult again = Krvo({"fleet", fleet, "--data-dir", data, "--pace-ms", "0"});
  EXPECT_EQ(again.ExitCode, 0) << again.Out << again.Err;
  std::vector<std::string> stay = {link, live};
  std::sort(stay.begin(), stay.end());
  EXPECT_EQ(RunFolders(data), stay);
  EXPECT_EQ(ReadAll(outside + "/keep"), "x");
}

// ---- Faults that the other tests let through ----

namespace {

// Group NN's fields of a sync's stdout: fetched, records, kept.
std::vector<long> SyncGroupLine(const std::string& out, int group) {
  char head[16];
  std::snprintf(head, sizeof head, "Group %.2d\t", group);
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(head, 0) != 0) continue;
    std::vector<long> v;
    std::istringstream f(line.substr(9));
    for (std::string x; std::getline(f, x, '\t');) v.push_back(std::stol(x));
    return v;
  }
  return {};
}

}  // namespace

TEST(CliGuards, OneChangedKeyIdMovesTheGroupsOlderFilesAside) {
  TempDir dir;
  const std::string data = dir.Path() + "/data", dataLog = data + "/Panel A/DataLog";
  std::vector<std::string> days;
  {
    SimProcess sim(SmallMeter(dir.Path() + "/before"));
    ASSERT_EQ(RunProcess(SyncArgs(sim, data, {"--no-workbook"})).ExitCode, 0);
    days = FolderNames(dataLog + "/Group1");
    ASSERT_EQ(days.size(), 2u);
  }
  // As many keys as before, the second one another: Ia became Ib.
  std::vector<std::string> meter = SmallMeter(dir.Path() + "/after");
  meter[std::find(meter.begin(), meter.end(), "1:60:1,10") - meter.begin()] = "1:60:1,11";
  SimProcess sim(meter);
  const ProcessResult r = RunProcess(SyncArgs(sim, data, {"--no-workbook"}));
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  std::vector<std::string> aside;
  for (const std::string& n : FolderNames(dataLog))
    if (n.rfind("Group1.", 0) == 0 && n != "Group1.keys") aside.push_back(n);
  ASSERT_EQ(aside.size(), 1u) << r.Err;
  EXPECT_EQ(FolderNames(dataLog + "/" + aside[0]), days);
  EXPECT_NE(r.Err.find("moved to " + aside[0]), std::string::npos) << r.Err;
  EXPECT_EQ(SyncGroupLine(r.Out, 1),
            (std::vector<long>{2, 2000, 0}));  // only the new files are read
}

TEST(CliGuards, ADayFileTheMeterRewroteShorterIsFetchedAgain) {
  TempDir dir;
  const std::string root = dir.Path() + "/meter", data = dir.Path() + "/data";
  const std::string remote = root + "/DataLog/Group1", local = data + "/Panel A/DataLog/Group1";
  SimProcess sim(SmallMeter(root));
  ASSERT_EQ(RunProcess(SyncArgs(sim, data, {"--no-workbook"})).ExitCode, 0);
  const std::vector<std::string> days = FolderNames(remote);
  ASSERT_EQ(days.size(), 2u);
  // The meter starts the day anew: two records of other values, shorter than before.
  const std::string day = remote + "/" + days[1];
  const size_t before = ReadAll(day).size();
  fs::remove(day);
  AppendAll(day, DatRecord({123, 456}, {26, 11, 2, 0, 0, 0}));
  AppendAll(day, DatRecord({789, 12}, {26, 11, 2, 0, 1, 0}));
  ASSERT_LT(ReadAll(day).size(), before);
  const ProcessResult r = RunProcess(SyncArgs(sim, data, {"--no-workbook"}));
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_EQ(ReadAll(local + "/" + days[1]), ReadAll(day));
  EXPECT_EQ(SyncGroupLine(r.Out, 1)[0], 1);
}

TEST(CliGuards, FleetJsonHoldsABackslashAndQuotesOfADeviceName) {
  TempDir dir;
  const std::string data = dir.Path() + "/data";
  const std::string name = "Hall\\North \"A\"";
  SimProcess sim(SmallMeter(dir.Path() + "/meter", {"--device-name", name}));
  const std::string fleet = dir.Path() + "/fleet.txt";
  WriteAll(fleet, "127.0.0.1 " + std::to_string(sim.ModbusPort()) + " " +
                      std::to_string(sim.FtpPort()) + "\n");
  const ProcessResult r =
      Krvo({"fleet", fleet, "--json", "--data-dir", data, "--pace-ms", "0", "--no-workbook"});
  ASSERT_EQ(r.ExitCode, 0) << r.Out << r.Err;
  // Every line one JSON object; the name read back byte for byte.
  const std::string json = dir.Path() + "/out.json";
  WriteAll(json, r.Out);
  const ProcessResult parsed = RunProcess({"/usr/bin/python3", "-c",
                                           "import json,sys\nfor line in open(sys.argv[1]): "
                                           "print(json.loads(line)['device'].encode().hex())",
                                           json});
  ASSERT_EQ(parsed.ExitCode, 0) << parsed.Err << r.Out;
  EXPECT_EQ(parsed.Out, Hex(name) + "\n");
}
