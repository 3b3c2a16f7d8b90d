#include <cmath>
#include <cstdio>

#include "meter/DataFolder.h"
#include "meter/IniFile.h"
#include "meter/SetupFile.h"
#include "meter/UserMessages.h"
#include "meter/ZelDef.h"

namespace {

// Which meter filled the folder, so that another one with the same device
// name can't take it over unawares.
constexpr const char* kMeterSection = "Meter";
constexpr const char* kSerialKey = "SerialNumber";

std::string GroupSection(int g) { return "Group" + std::to_string(g); }

std::string KeyIdName(int i) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "keyArr%.2d", i);
  return buf;
}

uint32_t Decoded(const TModbusBuffer& reply, int reg, int format) {
  double v = 0;
  CModbusProtocol::DecodeValue(format, reply.Bytes + 3 + 2 * reg, v);
  return static_cast<uint32_t>(std::lround(v));
}

}  // namespace

std::string CZELMeterObj::DevicePath() {
  return DeviceDataLogFolder(PanelNames.DeviceName) + kSetupFileName;
}

std::string SetupFileOf(const std::string& folder) {
  return folder.empty() ? CZELMeterObj::DevicePath() : WithSeparator(folder) + kSetupFileName;
}

void ShowMissingSetupFile(const std::string& path) {
  ShowMessageBox(path +
                 "\n\nNot find file DataLogSetup.ini.\n"
                 "Please select a folder containing with 'DataLogSetup.ini'.");
}

bool CZELMeterObj::ReadSnapShotSetup() {
  GroupSetups = {};
  TModbusBuffer reply{};
  for (int g = 0; g < kGroupCount; ++g) {
    const auto start = static_cast<uint16_t>(MeterMap::kSetupStart + MeterMap::kSetupCount * g);
    if (!ReadRegisters(MeterMap::kReadHolding, start, reply, MeterMap::kSetupCount)) return false;
    TDataLogSetup& s = GroupSetups[static_cast<size_t>(g)];
    s.TriggerType = static_cast<uint16_t>(Decoded(reply, 0, 0));
    s.recordType = static_cast<uint16_t>(Decoded(reply, 1, 0));
    s.RecordNum = static_cast<uint16_t>(Decoded(reply, 2, 0));
    s.TimeInterval = Decoded(reply, 3, 2);
    s.TimeOffset = static_cast<uint16_t>(Decoded(reply, 5, 0));
    s.KeyNum = static_cast<uint16_t>(Decoded(reply, 6, 0));
    for (int i = 0; i < kMaxKeys; ++i)
      s.keyArr[i] = static_cast<uint16_t>(Decoded(reply, 7 + i, 0));
  }
  return true;
}

void CZELMeterObj::SaveDataLogSetup() {
  ForceFolders(DeviceDataLogFolder(PanelNames.DeviceName));
  CIniFile ini(DevicePath(), TIniAccess::Update);
  WriteSetupInto(ini);
  if (ini.Modified() || !ini.Exists()) ini.Save();
}

void CZELMeterObj::SaveSetupAndNames(uint32_t serialNumber) {
  ForceFolders(DeviceDataLogFolder(PanelNames.DeviceName));
  CIniFile ini(DevicePath(), TIniAccess::Update);
  WriteNamesInto(ini);
  WriteSetupInto(ini);
  if (serialNumber != 0) ini.WriteString(kMeterSection, kSerialKey, std::to_string(serialNumber));
  if (ini.Modified() || !ini.Exists()) ini.Save();
}

std::string CZELMeterObj::FolderSerialNumber(const std::string& dataLogFolder) {
  const std::string path = SetupFileOf(dataLogFolder);
  if (!FileExists(path)) return "";
  return CIniFile(path, TIniAccess::Lenient).ReadString(kMeterSection, kSerialKey, "");
}

void CZELMeterObj::WriteSetupInto(CIniFile& ini) {
  for (int g = 0; g < kGroupCount; ++g) {
    const TDataLogSetup& s = GroupSetups[static_cast<size_t>(g)];
    const std::string sec = GroupSection(g);
    ini.WriteInteger(sec, "TriggerType", s.TriggerType);
    ini.WriteInteger(sec, "recordType", s.recordType);
    ini.WriteInteger(sec, "RecordNum", s.RecordNum);
    ini.WriteInteger(sec, "TimeInterval", s.TimeInterval);
    ini.WriteInteger(sec, "TimeOffset", s.TimeOffset);
    ini.WriteInteger(sec, "KeyNum", s.KeyNum);
    for (int i = 0; i < kMaxKeys; ++i) {
      ini.WriteInteger(sec, KeyIdName(i), s.keyArr[i]);
      ini.WriteString(sec, KeyIdName(i) + "_Name", ::GetKeyName(s.keyArr[i]));
    }
  }
}

bool CZELMeterObj::LoadDataLogSetup(const std::string& folder) {
  GroupSetups = {};
  const std::string path = SetupFileOf(folder);
  if (!FileExists(path)) {
    ShowMissingSetupFile(path);
    return false;
  }
  const CIniFile ini(path, TIniAccess::Read);
  for (int g = 0; g < kGroupCount; ++g) {
    TDataLogSetup& s = GroupSetups[static_cast<size_t>(g)];
    const std::string sec = GroupSection(g);
    auto u16 = [&](const char* key, long long fallback) {
      return static_cast<uint16_t>(ini.ReadInteger(sec, key, fallback));
    };
    s.TriggerType = u16("TriggerType", 0);
    s.recordType = u16("recordType", 0);
    s.RecordNum = u16("RecordNum", 0);
    s.TimeInterval = static_cast<uint32_t>(ini.ReadInteger(sec, "TimeInterval", 60));
    s.TimeOffset = u16("TimeOffset", 0);
    s.KeyNum = u16("KeyNum", 0);
    for (int i = 0; i < kMaxKeys; ++i) s.keyArr[i] = u16(KeyIdName(i).c_str(), 0);
  }
  return true;
}
