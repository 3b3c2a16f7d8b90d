#include <cstdio>
#include <exception>

#include "cli/CliArgs.h"
#include "cli/Commands.h"
#include "cli/DataDir.h"
#include "cli/MeterSession.h"

const char* const kSetupUsage =
    "usage: krvo setup --host HOST [--port N] [--data-dir DIR]\n"
    "  Reads the meter's names and data log setup, saves them into the device's\n"
    "  DataLogSetup.ini and prints that file's path.\n";

int CmdSetup(int argc, char** argv) {
  CliArgs args(argc, argv, 2, {"--host", "--port", "--data-dir"}, {});
  if (args.Help()) {
    std::fputs(kSetupUsage, stdout);
    return 0;
  }
  if (!args.Positional().empty()) throw UsageError{"unexpected argument " + args.Positional()[0]};
  const std::string host = args.Require("--host");
  const int port = args.Port("--port", 502);
  ApplyDataDir(args);

  MeterSession session(host, port);
  if (!session.Open()) return 1;
  if (!session.ReadDeviceInfo(false)) return 1;
  try {
    if (!session.Meter().ReadSnapShotSetup()) {
      std::fprintf(stderr, "Read SnapShot Setup failed.\n");
      return 1;
    }
    CZELMeterObj::SaveDataLogSetup();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  std::printf("%s\n", CZELMeterObj::DevicePath().c_str());
  return 0;
}
