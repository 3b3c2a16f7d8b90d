#include <cstdio>

#include "cli/Commands.h"
#include "cli/MeterSession.h"

const char* const kInfoUsage =
    "usage: krvo info --host HOST [--port N] [--data-dir DIR]\n"
    "  Connects to the meter and prints its clock, model and versions.\n";

int CmdInfo(int argc, char** argv) {
  std::string host;
  int port = 0;
  if (!ParseMeterArgs(argc, argv, kInfoUsage, host, port)) return 0;

  MeterSession session(host, port);
  if (!session.Open()) return 1;
  return session.ReadDeviceInfo(true) ? 0 : 1;
}
