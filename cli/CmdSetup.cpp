#include <cstdio>
#include <exception>

#include "cli/Commands.h"
#include "cli/MeterSession.h"

const char* const kSetupUsage =
    "usage: krvo setup --host HOST [--port N] [--data-dir DIR]\n"
    "  Reads the meter's names and data log setup, saves them into the device's\n"
    "  DataLogSetup.ini and prints that file's path.\n";

int CmdSetup(int argc, char** argv) {
  std::string host;
  int port = 0;
  if (!ParseMeterArgs(argc, argv, kSetupUsage, host, port)) return 0;

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
