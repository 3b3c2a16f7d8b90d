#include "cli/FolderLock.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "app/OfflineLoad.h"
#include "meter/DataFolder.h"
#include "meter/ZelDef.h"

std::string ProcessOwner(const std::string& command) {
  return "krvo " + command + " (process " + std::to_string(getpid()) + ")";
}

bool LockDeviceFolder(CDeviceLock& lock, const std::string& dataLogFolder, const std::string& owner,
                      TLockMode mode) {
  // "DEVICE/DataLog/." and "DEVICE/DataLog" must lock the same file as a writer does.
  std::error_code ec;
  std::string folder = std::filesystem::absolute(dataLogFolder, ec).lexically_normal().string();
  if (ec) folder = dataLogFolder;
  std::string error;
  const bool locked = lock.Acquire(
      folder, owner,
      [&](const std::string& holder) {
        std::fprintf(stderr, "Waiting for %s: %s is writing it.\n", folder.c_str(), holder.c_str());
      },
      error, mode);
  if (!locked) std::fprintf(stderr, "%s\n", error.c_str());
  return locked;
}

std::string AbsoluteFolder(const std::string& path) {
  std::error_code ec;
  std::string abs = std::filesystem::absolute(path, ec).lexically_normal().string();
  if (ec) abs = path;
  return WithSeparator(abs);
}

bool LockChosenFolder(CDeviceLock& lock, const std::string& chosen, const std::string& command,
                      TLockMode mode) {
  std::string dataLog;
  if (!DataLogFolderOf(chosen, dataLog) || !FileExists(dataLog + kSetupFileName)) return true;
  return LockDeviceFolder(lock, dataLog, ProcessOwner(command), mode);
}
