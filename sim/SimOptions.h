#pragma once
// Command line of krvo-sim: what the simulated meter holds and which faults it injects.
#include <cstdint>
#include <string>

struct SimIdentity {
  std::string Model = "KRVO-PMC84 Multi-Circuit Meter";
  uint16_t FirmwareVersion = 10203;
  uint16_t ModbusVersion = 10;
  uint16_t WebVersion = 12;
  int FirmwareYear = 2026, FirmwareMonth = 3, FirmwareDay = 15;
  uint32_t SerialNumber = 12345;
};

struct SimFaults {
  long StopAfter = -1;   // answer nothing after this many requests
  long CloseAfter = -1;  // close the connection after this many requests
  bool WrongTid = false;
  bool Exception = false;
  long CutAfter = -1;  // send only the first K bytes of each reply
  long DelayMs = 0;
};

struct SimOptions {
  int ModbusPort = 0;  // 0 picks a free port
  SimIdentity Identity;
  SimFaults Faults;
};

// Parses argv; on error returns false with a message in error.
bool ParseSimOptions(int argc, char** argv, SimOptions& options, std::string& error);
const char* SimUsage();
