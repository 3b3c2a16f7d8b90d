#include <cstdio>
#include <exception>

#include "cli/Commands.h"
#include "cli/ErrorText.h"
#include "cli/FolderLock.h"
#include "cli/MeterSession.h"
#include "meter/DataFolder.h"

const char* const kSetupUsage =
    "usage: krvo setup --host HOST [--port N] [--data-dir DIR]\n"
    "  Reads the meter's names and data log setup, saves them into the device's\n"
    "  DataLogSetup.ini and prints that file's path. When the names cannot be\n"
    "  read, the setup is still saved, and the command says so and exits 1.\n";

int CmdSetup(int argc, char** argv) {
  std::string host;
  int port = 0;
  if (!ParseMeterArgs(argc, argv, kSetupUsage, host, port)) return 0;

  MeterSession session(host, port);
  if (!session.Open()) return 1;
  // The names are saved once this run holds the device's folder.
  session.Meter().SetSaveNames(false);
  if (!session.ReadDeviceInfo(false)) return 1;
  // As the window does, a failed names read does not stop the setup; a script
  // still learns of it from the message and the exit code.
  const bool namesRead = session.Meter().NamesRead();
  CDeviceLock lock;
  if (!LockDeviceFolder(lock, DeviceDataLogFolder(PanelNames.DeviceName),
                        host + ":" + std::to_string(port), TLockMode::Exclusive))
    return 1;
  int rc = 0;
  try {
    if (namesRead) CZELMeterObj::SavePanelNames();
    if (session.Meter().ReadSnapShotSetup()) {
      CZELMeterObj::SaveDataLogSetup();
      std::printf("%s\n", CZELMeterObj::DevicePath().c_str());
    } else {
      std::fprintf(stderr, "Read SnapShot Setup failed.\n");
      rc = 1;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", ErrorText(e).c_str());
    rc = 1;
  }
  if (!namesRead) {
    std::fprintf(stderr, "The device and circuit names could not be read.\n");
    rc = 1;
  }
  return rc;
}
