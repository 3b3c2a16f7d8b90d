#pragma once
// Command line of krvo-sim: what the simulated meter holds and which faults it injects.
#include <cstdint>
#include <set>
#include <string>

#include "sim/FtpOptions.h"
#include "sim/SimProfile.h"

struct SimIdentity {
  std::string Model = "KRVO-PMC84 Multi-Circuit Meter";
  uint16_t FirmwareVersion = 10203;
  uint16_t ModbusVersion = 10;
  uint16_t WebVersion = 12;
  int FirmwareYear = 2026, FirmwareMonth = 3, FirmwareDay = 15;
  uint32_t SerialNumber = 12345;
  // A clock that stands still at these bytes (year - 2000, month, day, hour,
  // minute, second) and milliseconds; empty: the local time.
  std::string Clock;
  int ClockBytes[6] = {};
  int ClockMs = 0;
};

struct SimFaults {
  long StopAfter = -1;   // answer nothing after this many requests
  long CloseAfter = -1;  // close the connection after this many requests
  bool WrongTid = false;
  bool Exception = false;
  long CutAfter = -1;  // send only the first K bytes of each reply
  long DelayMs = 0;
  long DribbleMs = 0;        // send each reply one byte at a time, this far apart
  std::set<int> FailStarts;  // reads starting at these registers get an exception reply
};

struct SimOptions {
  int ModbusPort = 0;  // 0 picks a free port
  SimIdentity Identity;
  SimFaults Faults;
  SimFtpOptions Ftp;
  SimProfile Profile = BuiltInProfile();
  std::string DataRoot;  // where the DataLog tree is written; empty = a temporary folder
  long Records = 192;    // records per group that logs
  std::string LogStart;  // "Y-M-D" or "Y-M-D H:M"; empty = so that the logs end now
  unsigned Seed = 1;
};

// Parses argv; on error returns false with a message in error.
bool ParseSimOptions(int argc, char** argv, SimOptions& options, std::string& error);
const char* SimUsage();
