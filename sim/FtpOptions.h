#pragma once
// How the simulator's FTP server lists and which faults it injects.
#include <string>

struct SimFtpOptions {
  int Port = 0;                    // 0 = any free port; -1 = no FTP server
  std::string ListStyle = "unix";  // unix, dos, nogroup
  int GreetingCode = 220;
  bool RefuseLogin = false;            // 530 to USER
  bool UserLogsIn = false;             // 230 to USER, no PASS needed
  long AbortAfter = -1;                // a 426 after N bytes of a transfer
  long StallAfter = -1;                // the data connection stalls after N bytes
  long TrickleMs = 0;                  // a file's data one byte at a time, this far apart
  bool CloseDuringTransfer = false;    // the control connection closes mid-transfer
  std::string HoldCommand;             // the reply to this command comes 11 s late
  long IdleCloseMs = -1;               // 421 and close after so long without a command
  long CloseAfterCommands = -1;        // 421 and close after N commands of a session (a restart)
  bool Early226 = false;               // 150 and 226 in one write before any data
  std::string PasvHost = "127.0.0.1";  // the address the 227 reply names
};
