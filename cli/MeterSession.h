#pragma once
// An open Modbus session for a krvo subcommand: the transport opened as the
// window's connect opens it, and the meter object on it.
#include <memory>
#include <string>

#include "meter/ZelDef.h"

// Parses the options of a meter subcommand (--host, --port, --data-dir,
// nothing positional). False when --help printed usage and nothing is to be done.
bool ParseMeterArgs(int argc, char** argv, const char* usage, std::string& host, int& port);

class MeterSession {
 public:
  MeterSession(const std::string& host, int port);
  ~MeterSession();
  // False (with the window's message on stderr) when the connect failed.
  bool Open();
  CZELMeterObj& Meter() { return *meter_; }
  CStringListMemo& Memo() { return memo_; }
  // Runs ReadDeviceInfo and prints the memo's lines; false (message on stderr) on failure.
  bool ReadDeviceInfo(bool printLines);

 private:
  CSocketClientComm comm_;
  CStringListMemo memo_;
  std::unique_ptr<CZELMeterObj> meter_;
};
