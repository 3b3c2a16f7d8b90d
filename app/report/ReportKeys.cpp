#include "app/report/ReportKeys.h"

#include "meter/KeyCatalogue.h"

bool IsEnergyKey(int keyId) { return keyId >= 2000 && keyId <= 2581; }

bool IsLoadingKey(int keyId) { return keyId >= 200 && keyId <= 1739 && keyId % 10 == 5; }

TEnergyUnit EnergyUnitOf(int keyId) {
  const std::string caption = GetKeyName(keyId);
  if (caption.find("kvarh") != std::string::npos) return TEnergyUnit::kvarh;
  if (caption.find("kVAh") != std::string::npos) return TEnergyUnit::kVAh;
  return TEnergyUnit::kWh;
}

const char* EnergyUnitName(TEnergyUnit unit) {
  switch (unit) {
    case TEnergyUnit::kvarh:
      return "kvarh";
    case TEnergyUnit::kVAh:
      return "kVAh";
    case TEnergyUnit::kWh:
      break;
  }
  return "kWh";
}

std::string CircuitOf(int keyId, const TPanelName& names) {
  const std::string caption = GetKeyName(keyId);
  const std::string singlePhase = "1-Phase SM#";
  if (caption.compare(0, singlePhase.size(), singlePhase) == 0 &&
      caption.size() >= singlePhase.size() + 2) {
    const char a = caption[singlePhase.size()], b = caption[singlePhase.size() + 1];
    if (a >= '0' && a <= '9' && b >= '0' && b <= '9') {
      const int branch = (a - '0') * 10 + (b - '0');
      if (branch >= 1 && branch <= kBranchCount)
        return names.BranchName[static_cast<size_t>(branch - 1)];
    }
    return "";
  }
  // The first input's quantities, then the second's (Frequency included).
  if (keyId >= 1 && keyId <= 42) return names.MainsIName;
  if (keyId >= 43 && keyId <= 84) return names.MainsIIName;
  for (const char* second : {"Mains-II", "Voltage-II"})
    if (caption.rfind(second, 0) == 0) return names.MainsIIName;
  for (const char* first : {"Mains-I", "Voltage-I"})
    if (caption.rfind(first, 0) == 0) return names.MainsIName;
  return "";
}
