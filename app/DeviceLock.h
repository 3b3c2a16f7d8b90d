#pragma once
// One writer per device folder: a lock file beside the device's DataLog
// folder ("DataLog.lock"), holding the meter of the run that writes it
// (HOST:MODBUS_PORT). A second run waits for the first to end; the two never
// write the same folder at once.
#include <functional>
#include <string>

class CDeviceLock {
 public:
  CDeviceLock() = default;
  ~CDeviceLock();
  CDeviceLock(const CDeviceLock&) = delete;
  CDeviceLock& operator=(const CDeviceLock&) = delete;

  // Locks the folder that holds dataLogFolder. When another run holds it,
  // waiting(holder) is called once and the call waits. False (with error)
  // when the lock file can't be made or the wait was interrupted.
  bool Acquire(const std::string& dataLogFolder, const std::string& owner,
               const std::function<void(const std::string& holder)>& waiting, std::string& error);

 private:
  int fd_ = -1;
};
