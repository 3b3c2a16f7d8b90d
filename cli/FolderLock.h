#pragma once
// The lock of a device's DataLog folder for a krvo command.
#include <string>

#include "app/DeviceLock.h"

// Takes the lock of the DataLog folder (any spelling of its path), saying on
// stderr when it waits for the run that holds it. False, with the error on
// stderr, when the lock can't be had. owner names this run in the lock file.
bool LockDeviceFolder(CDeviceLock& lock, const std::string& dataLogFolder, const std::string& owner,
                      TLockMode mode);

// "krvo COMMAND (process PID)": the owner text of a run that names no meter.
std::string ProcessOwner(const std::string& command);

// The absolute, normalised form of a folder path, ending in "/".
std::string AbsoluteFolder(const std::string& path);

// Locks the DataLog folder of a path the user chose (cut after its first
// "DataLog") for a krvo command. Only a device's folder, one with a setup,
// gets a lock file beside it: a folder without one is left for the load to
// report. False, with the error on stderr, when the lock can't be had.
bool LockChosenFolder(CDeviceLock& lock, const std::string& chosen, const std::string& command,
                      TLockMode mode);
