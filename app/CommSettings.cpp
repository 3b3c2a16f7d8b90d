#include "app/CommSettings.h"

#include <charconv>

#include "meter/DataFolder.h"
#include "meter/IniFile.h"

namespace {
constexpr const char* kSection = "ConnectPara";
}

std::string CommSettingsPath() { return BaseFolder() + "CommSet.ini"; }

TCommSettings LoadCommSettings() {
  const CIniFile ini(CommSettingsPath());
  TCommSettings s;
  s.IP = ini.ReadString(kSection, "IP", s.IP);
  s.ModbusPort = ini.ReadString(kSection, "MODBUSTCPPort", s.ModbusPort);
  s.FtpPort = static_cast<int>(ini.ReadInteger(kSection, "FTPPort", s.FtpPort));
  if (s.FtpPort < 1 || s.FtpPort > 65535) s.FtpPort = 21;
  s.FilePauseMs = static_cast<int>(ini.ReadInteger(kSection, "FilePauseMs", s.FilePauseMs));
  if (s.FilePauseMs < 0) s.FilePauseMs = 0;
  return s;
}

void SaveCommSettings(const std::string& ip, const std::string& modbusPort) {
  CIniFile ini(CommSettingsPath());
  ini.WriteString(kSection, "IP", ip);
  ini.WriteString(kSection, "MODBUSTCPPort", modbusPort);
  ini.Save();
}

bool IsValidIP(const std::string& text) {
  int dots = 0;
  for (char c : text) {
    if (c == '.') {
      ++dots;
    } else if (c < '0' || c > '9') {
      return false;
    }
  }
  if (dots != 3) return false;
  size_t start = 0;
  for (int part = 0; part < 4; ++part) {
    size_t end = text.find('.', start);
    if (end == std::string::npos) end = text.size();
    int32_t value = 0;
    auto [p, ec] = std::from_chars(text.data() + start, text.data() + end, value);
    if (end == start || ec != std::errc() || p != text.data() + end) return false;
    if (value < 0 || value > 255) return false;
    start = end + 1;
  }
  return true;
}
