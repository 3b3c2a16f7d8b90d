#include "meter/DataFolder.h"
#include "meter/IniFile.h"
#include "meter/SetupFile.h"
#include "meter/TextCodec.h"
#include "meter/ZelDef.h"

namespace {

constexpr const char* kSection = "PanelName";

std::string BranchKey(int n) { return "BranchName" + std::to_string(n); }

std::string NameAt(const TModbusBuffer& reply, int index) {
  return DecodeNameField(reply.Bytes + 3 + MeterMap::kNameBytes * index, MeterMap::kNameBytes);
}

}  // namespace

bool CZELMeterObj::ReadPanelNames() {
  TModbusBuffer reply{};
  if (!ReadRegisters(MeterMap::kReadHolding, MeterMap::kNamesStart, reply, MeterMap::kNamesCount))
    return false;
  PanelNames.DeviceName = NameAt(reply, 0);
  PanelNames.MainsIName = NameAt(reply, 1);
  PanelNames.MainsIIName = NameAt(reply, 2);
  for (int b = 0; b < MeterMap::kBranchBlocks; ++b) {
    const auto start =
        static_cast<uint16_t>(MeterMap::kBranchStart + MeterMap::kBranchBlockCount * b);
    if (!ReadRegisters(MeterMap::kReadHolding, start, reply, MeterMap::kBranchBlockCount))
      return false;
    for (int i = 0; i < 6; ++i)
      PanelNames.BranchName[static_cast<size_t>(6 * b + i)] = NameAt(reply, i);
  }
  if (FSaveNames) SavePanelNames();
  return true;
}

void CZELMeterObj::SavePanelNames() {
  ForceFolders(DeviceDataLogFolder(PanelNames.DeviceName));
  CIniFile ini(DevicePath(), TIniAccess::Update);
  WriteNamesInto(ini);
  // The window re-reads the names every 3 s: only a change rewrites the file.
  if (ini.Modified() || !ini.Exists()) ini.Save();
}

void CZELMeterObj::WriteNamesInto(CIniFile& ini) {
  ini.WriteString(kSection, "DeviceName", PanelNames.DeviceName);
  ini.WriteString(kSection, "MainsIName", PanelNames.MainsIName);
  ini.WriteString(kSection, "MainsIIName", PanelNames.MainsIIName);
  for (int n = 1; n <= kBranchCount; ++n)
    ini.WriteString(kSection, BranchKey(n), PanelNames.BranchName[static_cast<size_t>(n - 1)]);
}

bool CZELMeterObj::LoadPanelNames(const std::string& folder) {
  const std::string path = SetupFileOf(folder);
  if (!FileExists(path)) {
    ShowMissingSetupFile(path);
    return false;
  }
  const CIniFile ini(path, TIniAccess::Read);
  PanelNames.DeviceName = ini.ReadString(kSection, "DeviceName", "");
  PanelNames.MainsIName = ini.ReadString(kSection, "MainsIName", "");
  PanelNames.MainsIIName = ini.ReadString(kSection, "MainsIIName", "");
  for (int n = 1; n <= kBranchCount; ++n)
    PanelNames.BranchName[static_cast<size_t>(n - 1)] = ini.ReadString(kSection, BranchKey(n), "");
  return true;
}
