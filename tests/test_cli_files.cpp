#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "tests/support/Files.h"
#include "tests/support/Process.h"

namespace fs = std::filesystem;

namespace {

ProcessResult Krvo(std::vector<std::string> args, std::vector<std::string> prefix = {}) {
  args.insert(args.begin(), KrvoPath());
  // A FIFO or a device in a file's place must not hang the test: give up after a minute.
  prefix.insert(prefix.begin(), {"/usr/bin/timeout", "60"});
  args.insert(args.begin(), prefix.begin(), prefix.end());
  return RunProcess(args, {"LC_ALL=C", "KRVO_DEBUG=0"});
}

// A simulator and a data folder that krvo setup has filled.
struct SetupFolder {
  TempDir dir;
  std::string data = dir.Path() + "/data";
  std::string dataLog = data + "/Panel A/DataLog/";
  std::string ini = dataLog + "DataLogSetup.ini";
  SimProcess sim{{"--data-root", dir.Path() + "/sim", "--log-start", "2026-12-01"}};
  SetupFolder() { EXPECT_EQ(Setup().ExitCode, 0); }
  ProcessResult Setup(std::vector<std::string> prefix = {}) {
    return Krvo({"setup", "--host", "127.0.0.1", "--port", std::to_string(sim.ModbusPort()),
                 "--data-dir", data},
                prefix);
  }
};

}  // namespace

TEST(CliFiles, OnlyRegularFilesAreRead) {
  SetupFolder f;
  fs::copy(f.dir.Path() + "/sim/DataLog/Group1", f.dataLog + "Group1");
  ProcessResult before = Krvo({"show", f.dataLog, "--group", "1"});
  ASSERT_EQ(before.ExitCode, 0) << before.Err;
  ASSERT_EQ(mkfifo((f.dataLog + "Group1/p.dat").c_str(), 0644), 0);
  fs::create_symlink("/dev/zero", f.dataLog + "Group1/z.dat");
  ProcessResult show = Krvo({"show", f.dataLog, "--group", "1"});
  EXPECT_EQ(show.ExitCode, 0) << show.Err;
  EXPECT_EQ(show.Out, before.Out);

  fs::remove(f.ini);
  ASSERT_EQ(mkfifo(f.ini.c_str(), 0644), 0);
  ProcessResult setup = f.Setup();
  EXPECT_EQ(setup.ExitCode, 1);
  EXPECT_EQ(setup.Err, f.ini + " is not a regular file.\n");
}

TEST(CliFiles, ASetupFileFarTooLargeIsRefused) {
  SetupFolder f;
  const std::string big = ReadAll(f.ini) + std::string(2 * 1024 * 1024, ';');
  WriteAll(f.ini, big);
  ProcessResult show = Krvo({"show", f.dataLog, "--group", "1"});
  EXPECT_EQ(show.ExitCode, 1);
  EXPECT_EQ(show.Err, f.ini + " is larger than 1048576 bytes; such a file is not read.\n");
  EXPECT_EQ(f.Setup().ExitCode, 1);
  EXPECT_EQ(ReadAll(f.ini), big);
}

TEST(CliFiles, ASaveNeverReplacesWhatItCannotRead) {
  SetupFolder f;
  // Replacing keeps the file's mode.
  chmod(f.ini.c_str(), 0600);
  ASSERT_EQ(f.Setup().ExitCode, 0);
  struct stat st {};
  ASSERT_EQ(stat(f.ini.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);

  // A link to a file elsewhere is neither read nor written through.
  const std::string elsewhere = f.dir.Path() + "/elsewhere.ini";
  WriteAll(elsewhere, "[Other]\nx=1\n");
  fs::remove(f.ini);
  fs::create_symlink(elsewhere, f.ini);
  ProcessResult linked = f.Setup();
  EXPECT_EQ(linked.ExitCode, 1);
  EXPECT_EQ(linked.Err, f.ini + " is a symbolic link; it is neither read nor replaced.\n");
  EXPECT_TRUE(fs::is_symlink(f.ini));
  EXPECT_EQ(ReadAll(elsewhere), "[Other]\nx=1\n");

  // A file that cannot be read (run as an ordinary user: root reads anything).
  fs::remove(f.ini);
  WriteAll(f.ini, "[Group0]\nKeyNum=1\n");
  chmod(f.ini.c_str(), 0);
  std::vector<std::string> user;
  if (geteuid() == 0) {
    user = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    for (const std::string& d : {f.dir.Path(), f.data, f.data + "/Panel A", f.dataLog})
      chmod(d.c_str(), 0777);
  }
  ProcessResult unreadable = f.Setup(user);
  EXPECT_EQ(unreadable.ExitCode, 1);
  EXPECT_EQ(unreadable.Err, "Cannot read " + f.ini + ": Permission denied\n");
  chmod(f.ini.c_str(), 0644);
  EXPECT_EQ(ReadAll(f.ini), "[Group0]\nKeyNum=1\n");
}

TEST(CliFiles, StaleTemporariesOfKilledSavesAreRemoved) {
  SetupFolder f;
  const std::string old = f.ini + ".krvo-tmp-AbC123";
  const std::string young = f.ini + ".krvo-tmp-xYz789";
  const std::string other = f.ini + ".backup";
  for (const std::string& p : {old, young, other}) WriteAll(p, "[Group0]\n");
  WriteAll(f.ini, "[Group0]\nKeyNum=77\n");  // so that the next setup saves
  const timespec hourAgo[2] = {{time(nullptr) - 3600, 0}, {time(nullptr) - 3600, 0}};
  utimensat(AT_FDCWD, old.c_str(), hourAgo, 0);
  utimensat(AT_FDCWD, other.c_str(), hourAgo, 0);
  ASSERT_EQ(f.Setup().ExitCode, 0);
  EXPECT_FALSE(fs::exists(old));
  EXPECT_TRUE(fs::exists(young));  // perhaps a save under way elsewhere
  EXPECT_TRUE(fs::exists(other));
}

TEST(CliFiles, NoControlCharacterOfADeviceNameReachesAPath) {
  // Bytes that Windows-1252 leaves undefined decode to C1 controls.
  TempDir dir;
  SimProcess sim({"--device-name", "P\x81\x8D\x8F\x90\x9DQ"});
  ProcessResult r = Krvo({"setup", "--host", "127.0.0.1", "--port",
                          std::to_string(sim.ModbusPort()), "--data-dir", dir.Path()});
  EXPECT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_EQ(r.Out, dir.Path() + "/P_____Q/DataLog/DataLogSetup.ini\n");
}
