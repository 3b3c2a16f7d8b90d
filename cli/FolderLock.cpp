#include "cli/FolderLock.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>

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
