#include <gtest/gtest.h>

#include <algorithm>
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

std::vector<std::vector<std::string>> Table(const std::string& out) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> cells;
    size_t start = 0;
    for (size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
      cells.push_back(line.substr(start, tab - start));
    cells.push_back(line.substr(start));
    rows.push_back(cells);
  }
  return rows;
}

}  // namespace

TEST(CliShow, SetupThenShowTheSimulatorsLogs) {
  TempDir dir;
  const std::string simRoot = dir.Path() + "/sim";
  SimProcess sim({"--data-root", simRoot, "--log-start", "2026-12-01", "--records", "200"});
  ProcessResult setup =
      Krvo({"setup", "--host", "127.0.0.1", "--port", std::to_string(sim.ModbusPort()),
            "--data-dir", dir.Path() + "/data"});
  ASSERT_EQ(setup.ExitCode, 0) << setup.Err;
  const std::string dataLog = dir.Path() + "/data/Panel A/DataLog";
  EXPECT_EQ(setup.Out, dataLog + "/DataLogSetup.ini\n");
  // What a download would do: the meter's group folders beside the setup.
  for (int g = 1; g <= 10; ++g)
    fs::copy(simRoot + "/DataLog/Group" + std::to_string(g), dataLog + "/Group" + std::to_string(g),
             fs::copy_options::recursive);

  ProcessResult r = Krvo({"show", dataLog, "--group", "1"});
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  auto rows = Table(r.Out);
  ASSERT_EQ(rows.size(), 201u);
  EXPECT_EQ(rows[0], (std::vector<std::string>{
                         "No.", "TimeStamp", "Voltage-I Ua", "Voltage-I Ub", "Voltage-I Uc",
                         "Frequency", "Mains-I  Ia", "Mains-I  Ib", "Mains-I  Ic",
                         "Mains-I  kW total", "Mains-I  kvar total", "Mains-I  kVA total",
                         "Mains-I  PF total", "Mains-I kWh Import", "Mains-I kvarh Import"}));
  EXPECT_EQ(rows[1][0], "1");
  EXPECT_EQ(rows[1][1], "2026-12-01 00:00:00");
  EXPECT_EQ(rows[2][1], "2026-12-01 00:15:00");
  EXPECT_EQ(rows[200][1], "2026-12-03 01:45:00");  // files of three days, in order
  double lastEnergy = 0;
  for (size_t i = 1; i < rows.size(); ++i) {
    ASSERT_EQ(rows[i].size(), 15u);
    const double ua = std::stod(rows[i][2]);
    EXPECT_GT(ua, 220);
    EXPECT_LT(ua, 240);
    const double pf = std::stod(rows[i][12]);
    EXPECT_GT(pf, 0.8);
    EXPECT_LE(pf, 1.0);
    const double kwh = std::stod(rows[i][13]);
    EXPECT_GE(kwh, lastEnergy);
    lastEnergy = kwh;
  }

  ProcessResult newest = Krvo({"show", dataLog + "/", "--group", "1", "--sort", "newest"});
  auto sorted = Table(newest.Out);
  ASSERT_EQ(sorted.size(), 201u);
  EXPECT_EQ(sorted[1][0], "1");
  EXPECT_EQ(sorted[1][1], "2026-12-03 01:45:00");
  EXPECT_EQ(sorted[1][2], rows[200][2]);
  ProcessResult oldest = Krvo({"show", dataLog, "--group", "1", "--sort=oldest"});
  EXPECT_EQ(oldest.Out, r.Out);
  // A range: the records in [--from, --to), numbered from 1.
  auto range = Table(Krvo({"show", dataLog, "--group", "1", "--from", "2026-12-01 00:15", "--to",
                           "2026-12-01 01:00"})
                         .Out);
  ASSERT_EQ(range.size(), 4u);
  EXPECT_EQ(range[1][0], "1");
  EXPECT_EQ(range[1][1], "2026-12-01 00:15:00");
  EXPECT_EQ(range[3][1], "2026-12-01 00:45:00");
  EXPECT_EQ(range[3][2], rows[4][2]);
  EXPECT_EQ(Krvo({"show", dataLog, "--group", "1", "--from", "2026-12-02", "--to", "2026-12-01"})
                .ExitCode,
            2);

  // The harmonics group has a slot without a key.
  auto harmonics = Table(Krvo({"show", dataLog, "--group", "5"}).Out);
  ASSERT_GT(harmonics.size(), 1u);
  EXPECT_EQ(harmonics[0][20], "None");
  EXPECT_EQ(harmonics[1][20], "--");

  // An empty group, and a group folder that is not there.
  ProcessResult empty = Krvo({"show", dataLog, "--group", "7"});
  EXPECT_EQ(empty.ExitCode, 0);
  EXPECT_EQ(empty.Out, "No.\tTimeStamp\n");
  fs::remove_all(dataLog + "/Group2");
  ProcessResult gone = Krvo({"show", dataLog, "--group", "2"});
  EXPECT_EQ(gone.ExitCode, 0);
  EXPECT_EQ(Table(gone.Out).size(), 1u);
}

TEST(CliShow, ErrorsAndUsage) {
  TempDir dir;
  ProcessResult none = Krvo({"show", dir.Path(), "--group", "1"});
  EXPECT_EQ(none.ExitCode, 1);
  EXPECT_EQ(none.Err, dir.Path() +
                          "/DataLogSetup.ini\n\nNot find file DataLogSetup.ini.\n"
                          "Please select a folder containing with 'DataLogSetup.ini'.\n");
  for (const auto& args :
       std::vector<std::vector<std::string>>{{"show", dir.Path()},
                                             {"show", dir.Path(), "--group", "0"},
                                             {"show", dir.Path(), "--group", "11"},
                                             {"show", dir.Path(), "--group", "1", "--sort", "up"},
                                             {"show", "--group", "1"},
                                             {"keyname"},
                                             {"keyname", "12x"},
                                             {"setup"}}) {
    ProcessResult r = Krvo(args);
    EXPECT_EQ(r.ExitCode, 2) << args.back();
    EXPECT_NE(r.Err.find("usage: krvo"), std::string::npos);
  }
  ProcessResult names = Krvo({"keyname", "10", "2581", "0", "-3"});
  EXPECT_EQ(names.ExitCode, 0);
  EXPECT_EQ(names.Out,
            "10\tMains-I  Ia\n2581\tVirtual total SM#10 T2 kVAh Export\n0\tNone\n-3\tNone\n");
}

TEST(CliShow, MemoryFollowsTheKeyCountAndRunningOutNamesTheFile) {
#ifdef KRVO_SANITIZED
  GTEST_SKIP() << "AddressSanitizer reserves far more address space than the limit this test sets";
#endif
  TempDir dir;
  const std::string dataLog = dir.Path() + "/Meter/DataLog/";
  fs::create_directories(dataLog + "Group1");
  WriteAll(dataLog + "DataLogSetup.ini", "[Group0]\nKeyNum=1\nkeyArr00=10\n");
  const std::string dat = dataLog + "Group1/a.dat";
  WriteAll(dat, "");
  auto showIn256MiB = [&] {
    return RunProcess({"/bin/sh", "-c", "ulimit -v 262144 && exec \"$0\" show \"$1\" --group 1",
                       KrvoPath(), dataLog},
                      {"LC_ALL=C", "KRVO_DEBUG=0"});
  };
  // A million records of one key: 10 MB of file (sparse, all zero).
  fs::resize_file(dat, 10'000'000);
  const ProcessResult fits = showIn256MiB();
  ASSERT_EQ(fits.ExitCode, 0) << fits.Err;
  EXPECT_EQ(std::count(fits.Out.begin(), fits.Out.end(), '\n'), 1'000'001);
  const std::string last = "\n1000000\tInvalid Time\t0\n";
  EXPECT_EQ(fits.Out.substr(fits.Out.size() - last.size()), last);

  fs::resize_file(dat, 200'000'000);
  const ProcessResult beyond = showIn256MiB();
  EXPECT_EQ(beyond.ExitCode, 1);
  EXPECT_EQ(beyond.Out, "");
  EXPECT_EQ(beyond.Err.rfind("Not enough memory to read \"" + dat + "\": its 20000000 records", 0),
            0u)
      << beyond.Err;
}

TEST(CliShow, SetupFailures) {
  TempDir dir;
  SimProcess sim({"--fail-start", "8250"});
  ProcessResult r = Krvo({"setup", "--host", "127.0.0.1", "--port",
                          std::to_string(sim.ModbusPort()), "--data-dir", dir.Path()});
  EXPECT_EQ(r.ExitCode, 1);
  EXPECT_EQ(r.Err, "Read SnapShot Setup failed.\n");
  EXPECT_EQ(r.Out, "");
  // The names were read and saved before the setup failed.
  EXPECT_TRUE(fs::exists(dir.Path() + "/Panel A/DataLog/DataLogSetup.ini"));
}

TEST(CliShow, SetupWithoutTheNamesSavesTheSetupAndFails) {
  // The first names block fails: no device name, so the data folder's own DataLog/.
  // A later branch block fails: the device name was read, but no names were saved.
  for (const auto& [block, device] :
       std::vector<std::pair<std::string, std::string>>{{"6050", ""}, {"50600", "Panel A/"}}) {
    TempDir dir;
    SimProcess sim({"--fail-start", block});
    ProcessResult r = Krvo({"setup", "--host", "127.0.0.1", "--port",
                            std::to_string(sim.ModbusPort()), "--data-dir", dir.Path()});
    const std::string setup = dir.Path() + "/" + device + "DataLog/DataLogSetup.ini";
    EXPECT_EQ(r.ExitCode, 1) << block;
    EXPECT_EQ(r.Err, "The device and circuit names could not be read.\n") << block;
    EXPECT_EQ(r.Out, setup + "\n") << block;
    const std::string ini = ReadAll(setup);
    EXPECT_NE(ini.find("[Group9]"), std::string::npos) << block;
    EXPECT_EQ(ini.find("[PanelName]"), std::string::npos) << block;
  }
}
