#include <cstdio>
#include <exception>

#include "cli/CliArgs.h"
#include "cli/Commands.h"
#include "cli/DataDir.h"
#include "meter/ZelDef.h"

const char* const kInfoUsage =
    "usage: krvo info --host HOST [--port N] [--data-dir DIR]\n"
    "  Connects to the meter and prints its clock, model and versions.\n";

int CmdInfo(int argc, char** argv) {
  CliArgs args(argc, argv, 2, {"--host", "--port", "--data-dir"}, {});
  if (args.Help()) {
    std::fputs(kInfoUsage, stdout);
    return 0;
  }
  if (!args.Positional().empty()) throw UsageError{"unexpected argument " + args.Positional()[0]};
  const std::string host = args.Require("--host");
  const int port = args.Port("--port", 502);
  ApplyDataDir(args);

  CSocketClientComm comm(host, std::to_string(port));
  if (comm.openport() != 1) {
    std::fprintf(stderr, "Can not to Connect with KRVO.\n");
    return 1;
  }
  CStringListMemo memo;
  CZELMeterObj meter(comm, memo);
  bool ok = false;
  std::string error = "Read Device infomation fail.";
  try {
    ok = meter.ReadDeviceInfo();
  } catch (const std::exception& e) {
    error = e.what();
  }
  comm.closeport();
  for (const std::string& line : memo.Lines) std::printf("%s\n", line.c_str());
  std::fflush(stdout);
  if (!ok) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  return 0;
}
