#pragma once
// CommSet.ini in the base folder: the meter's address and ports.
#include <string>

struct TCommSettings {
  std::string IP = "127.0.0.1";
  std::string ModbusPort = "502";
  int FtpPort = 21;        // FTPPort: a non-root meter simulator listens elsewhere
  int FilePauseMs = 1000;  // FilePauseMs: the pause after each fetched file
};

std::string CommSettingsPath();
// Missing keys (or a missing file) give the defaults above.
TCommSettings LoadCommSettings();
// Writes IP and MODBUSTCPPort, both, every time; other keys stay.
void SaveCommSettings(const std::string& ip, const std::string& modbusPort);

// Four decimal parts 0-255 separated by exactly three dots, nothing else.
bool IsValidIP(const std::string& text);
