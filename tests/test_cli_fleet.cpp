#include <gtest/gtest.h>

#include <filesystem>
#include <future>
#include <regex>
#include <sstream>

#include "tests/support/Files.h"
#include "tests/support/Process.h"

namespace fs = std::filesystem;

namespace {

ProcessResult Krvo(std::vector<std::string> args) {
  args.insert(args.begin(), KrvoPath());
  return RunProcess(args, {"LC_ALL=C", "KRVO_DEBUG=0"});
}

// A small meter: two groups of a few files.
std::vector<std::string> Meter(const std::string& root, const std::string& name,
                               std::vector<std::string> extra = {}) {
  std::vector<std::string> a = {"--data-root", root,        "--device-name", name,
                                "--records",   "2000",      "--log-start",   "2026-11-01",
                                "--group",     "1:60:1,10", "--group",       "2:120:1"};
  for (int g = 3; g <= 6; ++g) a.insert(a.end(), {"--group", std::to_string(g) + ":60:"});
  a.insert(a.end(), extra.begin(), extra.end());
  return a;
}

std::string Line(const SimProcess& sim) {
  return "127.0.0.1 " + std::to_string(sim.ModbusPort()) + " " + std::to_string(sim.FtpPort()) +
         "\n";
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

}  // namespace

TEST(CliFleet, ThreeMetersOneFailingThenTwoOfOneName) {
  TempDir dir;
  const std::string data = dir.Path() + "/data";
  SimProcess a(Meter(dir.Path() + "/a", "North"));
  SimProcess b(Meter(dir.Path() + "/b", "South"));
  SimProcess c(Meter(dir.Path() + "/c", "East", {"--ftp-refuse-login"}));
  const std::string fleet = dir.Path() + "/fleet.txt";
  WriteAll(fleet, "# the site's meters\n" + Line(a) + "\n   \n" + Line(b) + Line(c) + "  # done\n");
  const ProcessResult r =
      Krvo({"fleet", fleet, "--data-dir", data, "--jobs", "2", "--pace-ms", "0"});
  EXPECT_EQ(r.ExitCode, 1) << r.Err;
  const std::vector<std::string> rows = Lines(r.Out);
  ASSERT_EQ(rows.size(), 3u) << r.Out;
  // 2000 records: group 1 in two day files, group 2 in three.
  const std::string idA = "127.0.0.1:" + std::to_string(a.ModbusPort());
  EXPECT_TRUE(std::regex_match(rows[0], std::regex(idA + "\tNorth\t5\t0\t4000\t\\d+\\.\\d\tok")))
      << rows[0];
  EXPECT_TRUE(std::regex_match(rows[1], std::regex(".*\tSouth\t5\t0\t4000\t.*\tok"))) << rows[1];
  EXPECT_TRUE(
      std::regex_match(rows[2], std::regex(".*\tEast\t0\t0\t0\t.*\tfailed: Login incorrect\\.")))
      << rows[2];
  EXPECT_TRUE(fs::exists(data + "/logs/127.0.0.1_" + std::to_string(c.ModbusPort()) + ".log"));
  EXPECT_EQ(FolderNames(data + "/North/DataLog/Group1").size(), 2u);

  // Again, as JSON: nothing new to fetch.
  const ProcessResult j = Krvo({"fleet", fleet, "--data-dir", data, "--json", "--pace-ms", "0"});
  const std::vector<std::string> objs = Lines(j.Out);
  ASSERT_EQ(objs.size(), 3u);
  EXPECT_TRUE(std::regex_match(
      objs[0],
      std::regex("\\{\"host\": \"127.0.0.1\", \"modbus_port\": " + std::to_string(a.ModbusPort()) +
                 ", \"ftp_port\": " + std::to_string(a.FtpPort()) +
                 ", \"device\": \"North\", \"fetched\": 0, \"kept\": 5, \"records\": 4000, "
                 "\"seconds\": \\d+\\.\\d, \"ok\": true, \"error\": null\\}")))
      << objs[0];
  EXPECT_NE(objs[2].find("\"ok\": false, \"error\": \"Login incorrect.\"}"), std::string::npos)
      << objs[2];

  // Two meters that call themselves the same: the first to claim the name owns it.
  SimProcess twin(Meter(dir.Path() + "/twin", "North"));
  WriteAll(fleet, Line(a) + Line(twin));
  const ProcessResult t =
      Krvo({"fleet", fleet, "--data-dir", data, "--jobs", "1", "--pace-ms", "0"});
  EXPECT_EQ(t.ExitCode, 1);
  const std::vector<std::string> trows = Lines(t.Out);
  ASSERT_EQ(trows.size(), 2u);
  EXPECT_NE(trows[0].find("\tok"), std::string::npos) << trows[0];
  const std::string idTwin = "127.0.0.1:" + std::to_string(twin.ModbusPort());
  EXPECT_NE(trows[1].find("failed: The device name \"North\" of " + idTwin +
                          " is already taken in this run by " + idA + "."),
            std::string::npos)
      << trows[1];
  EXPECT_EQ(
      ReadAll(data + "/North/DataLog/Group1/" + FolderNames(dir.Path() + "/a/DataLog/Group1")[0]),
      ReadAll(dir.Path() + "/a/DataLog/Group1/" +
              FolderNames(dir.Path() + "/a/DataLog/Group1")[0]));

  // Two fleets at once on one data folder take turns per device; both end well.
  WriteAll(fleet, Line(a) + Line(b));
  auto first = std::async(std::launch::async, [&] {
    return Krvo({"fleet", fleet, "--data-dir", data, "--pace-ms", "5"});
  });
  const ProcessResult second = Krvo({"fleet", fleet, "--data-dir", data, "--pace-ms", "5"});
  const ProcessResult one = first.get();
  EXPECT_EQ(one.ExitCode, 0) << one.Out;
  EXPECT_EQ(second.ExitCode, 0) << second.Out;
  EXPECT_EQ(ReadAll(data + "/North/DataLog.lock").rfind(idA, 0), 0u);
  // Taking turns left each device whole: every file as the meter has it, a workbook that opens.
  for (const std::string& f : FolderNames(dir.Path() + "/b/DataLog/Group2"))
    EXPECT_EQ(ReadAll(data + "/South/DataLog/Group2/" + f),
              ReadAll(dir.Path() + "/b/DataLog/Group2/" + f))
        << f;
  EXPECT_EQ(RunProcess({"/usr/bin/python3", "-c",
                        "import openpyxl,sys; openpyxl.load_workbook(sys.argv[1])",
                        data + "/South/DataLog/template.xlsx"})
                .ExitCode,
            0);
}

// A host name that is not UTF-8 still gives a line of valid JSON.
TEST(CliFleet, JsonLinesStayValid) {
  TempDir dir;
  WriteAll(dir.Path() + "/fleet.txt", "bad\xffhost\n");
  const ProcessResult r = Krvo(
      {"fleet", dir.Path() + "/fleet.txt", "--json", "--data-dir", dir.Path(), "--timeout", "1"});
  EXPECT_EQ(r.ExitCode, 1);
  WriteAll(dir.Path() + "/out.json", r.Out);
  const ProcessResult parse = RunProcess({"/usr/bin/python3", "-c",
                                          "import json,sys; print(json.loads(open(sys.argv[1], "
                                          "encoding='utf-8', errors='strict').read())['ok'])",
                                          dir.Path() + "/out.json"});
  EXPECT_EQ(parse.Out, "False\n") << r.Out << parse.Err;
}

TEST(CliFleet, UsageErrors) {
  TempDir dir;
  const std::string fleet = dir.Path() + "/fleet.txt";
  WriteAll(fleet, "127.0.0.1 70000\n");
  for (const auto& args :
       std::vector<std::vector<std::string>>{{"fleet"}, {"fleet", fleet, "--jobs", "0"}}) {
    const ProcessResult r = Krvo(args);
    EXPECT_EQ(r.ExitCode, 2) << args.back();
    EXPECT_NE(r.Err.find("usage: krvo fleet"), std::string::npos);
  }
  // What FILE holds is the operation's failure, named by file and line.
  const ProcessResult bad = Krvo({"fleet", fleet, "--data-dir", dir.Path()});
  EXPECT_EQ(bad.ExitCode, 1);
  EXPECT_EQ(bad.Err, fleet + ":1: '70000' is no port from 1 to 65535\n");
}
