#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <regex>

#include "tests/support/Process.h"

namespace {

ProcessResult Krvo(std::vector<std::string> args) {
  args.insert(args.begin(), KrvoPath());
  return RunProcess(args, {"LC_ALL=C", "KRVO_DEBUG=0"});
}

}  // namespace

TEST(CliInfo, PrintsTheThreeLines) {
  // Clock bytes 26, 12, 7, 14, 3, 7 and 0x00FA milliseconds.
  SimProcess sim({"--clock", "2026-12-07 14:03:07.250"});
  TempDir dir;
  ProcessResult r = Krvo({"info", "--host", "127.0.0.1", "--port", std::to_string(sim.ModbusPort()),
                          "--data-dir", dir.Path()});
  EXPECT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_EQ(r.Out,
            "Device Time: 2026-12-07 14:03:07.250\n"
            "Device Model: KRVO-PMC84 Multi-Circuit Meter\n"
            "Firmware Version: V1.02.03, Firmware Date: 2026-03-15, Modbus Version: V1.0, "
            "Web Version: V1.2, S/N: 0000012345 \n");
  EXPECT_EQ(r.Err, "");
}

TEST(CliInfo, FailuresAndTheirExitCodes) {
  {
    SimProcess sim;
    const std::string port = std::to_string(sim.ModbusPort());
    sim.Stop();
    ProcessResult r = Krvo({"info", "--host", "127.0.0.1", "--port", port});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_EQ(r.Err,
              std::string("Can not to Connect with KRVO: ") + std::strerror(ECONNREFUSED) + ".\n");
    EXPECT_EQ(r.Out, "");
  }
  {
    // The clock answers, the identity does not: the clock line, then the failure.
    SimProcess sim({"--stop-after", "1"});
    ProcessResult r =
        Krvo({"info", "--host", "127.0.0.1", "--port=" + std::to_string(sim.ModbusPort())});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_EQ(r.Out.rfind("Device Time: ", 0), 0u) << r.Out;
    EXPECT_EQ(std::count(r.Out.begin(), r.Out.end(), '\n'), 1);
    EXPECT_EQ(r.Err, "Read Device infomation fail.\n");
  }
  {
    SimProcess sim({"--firmware-date", "2026-02-30"});
    ProcessResult r =
        Krvo({"info", "--host", "127.0.0.1", "--port", std::to_string(sim.ModbusPort())});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_EQ(r.Err, "Invalid argument to date encode\n");
  }
  for (const auto& args :
       std::vector<std::vector<std::string>>{{"info"},
                                             {"info", "--host", "127.0.0.1", "--port", "0"},
                                             {"info", "--host", "127.0.0.1", "--port", "65536"},
                                             {"info", "--host", "127.0.0.1", "--port", "5o2"},
                                             {"info", "--host", "127.0.0.1", "--bogus"},
                                             {"info", "--host", "127.0.0.1", "extra"},
                                             {"nosuch"},
                                             {}}) {
    ProcessResult r = Krvo(args);
    EXPECT_EQ(r.ExitCode, 2) << (args.empty() ? "" : args.back());
    EXPECT_NE(r.Err.find("usage: krvo"), std::string::npos) << r.Err;
    EXPECT_EQ(r.Out, "");
  }
  ProcessResult help = Krvo({"info", "--help"});
  EXPECT_EQ(help.ExitCode, 0);
  EXPECT_EQ(help.Out.rfind("usage: krvo info", 0), 0u);
}

TEST(CliInfo, AReplyDribbledInsideTheGapIsGivenUpOn) {
  // Every byte comes before the gap ends, yet the reply is given up on as a whole.
  SimProcess sim({"--dribble", "1900"});
  ProcessResult r =
      Krvo({"info", "--host", "127.0.0.1", "--port", std::to_string(sim.ModbusPort())});
  EXPECT_EQ(r.ExitCode, 1);
  EXPECT_EQ(r.Out, "");
  EXPECT_EQ(r.Err, "Read Device infomation fail.\n");
}
