#include <cstdio>

#include "cli/CliArgs.h"
#include "cli/Commands.h"
#include "cli/DataDir.h"
#include "cli/MeterSession.h"

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

  MeterSession session(host, port);
  if (!session.Open()) return 1;
  return session.ReadDeviceInfo(true) ? 0 : 1;
}
