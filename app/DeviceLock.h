#pragma once
// One writer per device folder: a lock file beside the device's DataLog
// folder ("DataLog.lock"), holding the meter of the run that writes it
// (HOST:MODBUS_PORT). A second run waits for the first to end, or (the
// window) is told who holds it; the two never write the same folder at once.
// Runs that only read the folder take the lock shared: they wait for a
// writer but not for each other.
#include <functional>
#include <string>

enum class TLockMode { Exclusive, Shared };

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
               const std::function<void(const std::string& holder)>& waiting, std::string& error,
               TLockMode mode = TLockMode::Exclusive);

  // As Acquire, without waiting: false when another run holds it (holder
  // then names it, error is empty) or the lock file can't be made (error).
  bool TryAcquire(const std::string& dataLogFolder, const std::string& owner, std::string& holder,
                  std::string& error, TLockMode mode = TLockMode::Exclusive);

  bool Held() const { return fd_ >= 0; }
  void Release();

  // The lock file of a DataLog folder ("DEVICE/DataLog.lock").
  static std::string PathOf(const std::string& dataLogFolder);

 private:
  bool Open(const std::string& dataLogFolder, std::string& error, TLockMode mode);
  std::string Holder() const;
  void Note(const std::string& owner, TLockMode mode);

  int fd_ = -1;
};
