#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "tests/support/Files.h"
#include "tests/support/Process.h"

namespace fs = std::filesystem;

namespace {

ProcessResult Krvo(std::vector<std::string> args) {
  args.insert(args.begin(), KrvoPath());
  return RunProcess(args, {"LC_ALL=C", "KRVO_DEBUG=0"});
}

// A meter whose group 1 logs two keys and group 2 one, once a minute (a day
// file of 20 kB and 14 kB), the other groups nothing.
std::vector<std::string> Meter(const std::string& root, const std::string& g1,
                               const std::string& g2, std::vector<std::string> extra = {}) {
  std::vector<std::string> args = {"--data-root", root,      "--records", "3000",    "--log-start",
                                   "2026-11-01",  "--group", g1,          "--group", g2};
  for (int g = 3; g <= 6; ++g) args.insert(args.end(), {"--group", std::to_string(g) + ":60:"});
  args.insert(args.end(), extra.begin(), extra.end());
  return args;
}

// Group NN's fields of a sync's stdout: fetched, records, kept.
std::vector<long> GroupLine(const std::string& out, int group) {
  std::istringstream in(out);
  char head[16];
  std::snprintf(head, sizeof head, "Group %.2d\t", group);
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

TEST(CliSync, KeepsEarlierFilesAndFetchesOnlyWhatChanged) {
  TempDir dir;
  const std::string root = dir.Path() + "/meter", data = dir.Path() + "/data";
  const std::string remote1 = root + "/DataLog/Group1", local1 = data + "/Panel A/DataLog/Group1";
  std::vector<std::string> days;
  {
    SimProcess sim(Meter(root, "1:60:1,10", "2:60:1"));
    ASSERT_EQ(Krvo(MeterCommand("download", sim, data)).ExitCode, 0);
    days = FolderNames(remote1);
    ASSERT_EQ(days.size(), 3u);  // 3000 minutes
    // Nothing changed: nothing fetched, every file kept.
    const ProcessResult r = Krvo(MeterCommand("sync", sim, data));
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(GroupLine(r.Out, 1), (std::vector<long>{0, 3000, 3}));
    EXPECT_EQ(GroupLine(r.Out, 2), (std::vector<long>{0, 3000, 3}));
    EXPECT_EQ(GroupLine(r.Out, 7), (std::vector<long>{0, 0, 0}));
    EXPECT_EQ(r.Out.substr(r.Out.rfind('\n', r.Out.size() - 2) + 1),
              data + "/Panel A/DataLog/template.xlsx\n");

    // The meter's day grows, a new day starts, an old day is dropped.
    AppendAll(remote1 + "/" + days[2], DatRecord({1, 2}, {26, 11, 3, 23, 59, 0}));
    fs::copy_file(remote1 + "/" + days[1], remote1 + "/20261104.dat");
    fs::remove(remote1 + "/" + days[0]);
    const ProcessResult again = Krvo(MeterCommand("sync", sim, data));
    ASSERT_EQ(again.ExitCode, 0) << again.Err;
    // Fetched: the grown and the new file; kept: the dropped and the unchanged one.
    EXPECT_EQ(GroupLine(again.Out, 1), (std::vector<long>{2, 3000 + 1 + 1440, 2}));
    EXPECT_EQ(ReadAll(local1 + "/" + days[2]), ReadAll(remote1 + "/" + days[2]));
    EXPECT_TRUE(fs::exists(local1 + "/" + days[0]));
    const ProcessResult quiet = Krvo(MeterCommand("sync", sim, data));
    EXPECT_EQ(GroupLine(quiet.Out, 1), (std::vector<long>{0, 3000 + 1 + 1440, 4}));
  }
  {
    // Group 1 now logs three keys: its files written with two move aside; a
    // changed interval alone (group 2) moves nothing.
    SimProcess sim(Meter(dir.Path() + "/meter2", "1:60:1,10,11", "2:120:1"));
    std::vector<std::string> args = MeterCommand("sync", sim, data);
    args.push_back("--no-workbook");
    const ProcessResult r = Krvo(args);
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    std::string aside;
    for (const std::string& n : FolderNames(data + "/Panel A/DataLog"))
      if (n.rfind("Group1.", 0) == 0 && n != "Group1.keys") aside = n;
    ASSERT_FALSE(aside.empty());
    EXPECT_NE(r.Err.find("moved to " + aside), std::string::npos) << r.Err;
    EXPECT_EQ(FolderNames(data + "/Panel A/DataLog/" + aside).size(), 4u);
    EXPECT_EQ(FolderNames(local1), FolderNames(dir.Path() + "/meter2/DataLog/Group1"));
    EXPECT_EQ(GroupLine(r.Out, 1)[1], 3000);
    for (const std::string& n :
         FolderNames(data + "/Panel A/DataLog"))  // group 2's interval alone changed
      EXPECT_NE(n.rfind("Group2.", 0) == 0 && n != "Group2.keys", true) << n;
    EXPECT_EQ(r.Out.find("template.xlsx"), std::string::npos);
  }
}

TEST(CliSync, AKilledSyncLeavesNoPartOfAFileUnderItsName) {
  TempDir dir;
  const std::string root = dir.Path() + "/meter", data = dir.Path() + "/data";
  const std::string local1 = data + "/Panel A/DataLog/Group1";
  std::vector<std::string> days;
  {
    SimProcess sim(Meter(root, "1:60:1,10", "2:60:1"));
    ASSERT_EQ(Krvo(MeterCommand("sync", sim, data)).ExitCode, 0);
    days = FolderNames(root + "/DataLog/Group1");
  }
  const std::string before = ReadAll(local1 + "/" + days[2]);
  auto temps = [&] {
    size_t n = 0;
    for (const std::string& f : FolderNames(local1)) n += f.find(".~krvo-") != std::string::npos;
    return n;
  };
  {
    SimProcess sim(Meter(root, "1:60:1,10", "2:60:1", {"--ftp-stall-after", "500000"}));
    // The day grows by a megabyte, and the server stalls inside it.
    AppendAll(root + "/DataLog/Group1/" + days[2], std::vector<uint8_t>(1 << 20, 7));
    std::vector<std::string> args = MeterCommand("sync", sim, data);
    args.insert(args.begin(), KrvoPath());
    const pid_t pid = StartProcess(args, {"LC_ALL=C"});
    while (temps() == 0 && !ProcessEnded(pid)) {
    }
    ASSERT_EQ(temps(), 1u);
    KillProcess(pid);
  }
  EXPECT_EQ(ReadAll(local1 + "/" + days[2]), before);  // the earlier copy, whole
  {
    SimProcess sim(Meter(root, "1:60:1,10", "2:60:1"));
    AppendAll(root + "/DataLog/Group1/" + days[2], std::vector<uint8_t>(1 << 20, 7));
    const ProcessResult r = Krvo(MeterCommand("sync", sim, data));
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(GroupLine(r.Out, 1)[0], 1);
    EXPECT_EQ(temps(), 0u);  // the killed run's part is cleared
    EXPECT_EQ(ReadAll(local1 + "/" + days[2]), ReadAll(root + "/DataLog/Group1/" + days[2]));
  }
}
