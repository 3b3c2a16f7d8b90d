#include <cstdio>
#include <exception>

#include "app/DeviceLock.h"
#include "cli/Commands.h"
#include "cli/ErrorText.h"
#include "cli/MeterSession.h"
#include "meter/DataFolder.h"

const char* const kInfoUsage =
    "usage: krvo info --host HOST [--port N] [--data-dir DIR]\n"
    "  Connects to the meter and prints its clock, model and versions.\n";

int CmdInfo(int argc, char** argv) {
  std::string host;
  int port = 0;
  if (!ParseMeterArgs(argc, argv, kInfoUsage, host, port)) return 0;

  MeterSession session(host, port);
  if (!session.Open()) return 1;
  // The names are saved as the window's connect saves them, but only while
  // no other run writes the device's folder: that run saves them itself.
  session.Meter().SetSaveNames(false);
  if (!session.ReadDeviceInfo(true)) return 1;
  if (!session.Meter().NamesRead()) return 0;
  CDeviceLock lock;
  std::string holder, error;
  if (!lock.TryAcquire(DeviceDataLogFolder(PanelNames.DeviceName),
                       host + ":" + std::to_string(port), holder, error)) {
    if (!error.empty()) std::fprintf(stderr, "%s\n", error.c_str());
    return error.empty() ? 0 : 1;
  }
  try {
    CZELMeterObj::SavePanelNames();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", ErrorText(e).c_str());
    return 1;
  }
  return 0;
}
