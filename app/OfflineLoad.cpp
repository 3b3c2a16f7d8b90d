#include "app/OfflineLoad.h"

#include <strings.h>

#include <vector>

#include "app/GroupFiles.h"
#include "app/SheetText.h"
#include "app/Workbook.h"
#include "meter/DataFolder.h"
#include "meter/DateTimeUtil.h"
#include "meter/ZelDef.h"

namespace {

void RemoveAllNoCase(std::string& text, const std::string& what) {
  for (size_t at = 0; at + what.size() <= text.size();) {
    if (strncasecmp(text.c_str() + at, what.c_str(), what.size()) == 0) {
      text.erase(at, what.size());
    } else {
      ++at;
    }
  }
}

}  // namespace

bool DataLogFolderOf(const std::string& chosen, std::string& folder) {
  const size_t at = chosen.find("DataLog");
  if (at == std::string::npos) return false;
  folder = chosen.substr(0, at + 7) + "/";
  return true;
}

std::string DeviceNameFromPath(const std::string& dataLogFolder, const std::string& base) {
  if (!base.empty() && dataLogFolder.compare(0, base.size(), base) == 0) {
    std::string name = dataLogFolder.substr(base.size());
    for (const char* what : {"DataLog", "/", "\\"}) RemoveAllNoCase(name, what);
    return name;
  }
  // Outside the base folder: the folder that holds the DataLog folder.
  const size_t at = dataLogFolder.find("DataLog");
  std::string parent = dataLogFolder.substr(0, at == std::string::npos ? 0 : at);
  while (!parent.empty() && parent.back() == '/') parent.pop_back();
  const size_t slash = parent.rfind('/');
  return slash == std::string::npos ? parent : parent.substr(slash + 1);
}

bool OpenOfflineFolder(const std::string& chosen, std::string& dataLogFolder,
                       COfflineLoadView& view) {
  std::string folder;
  if (!DataLogFolderOf(chosen, folder)) {
    view.ShowMessage(chosen +
                     "\n\nGet *.dat file failed.\nPlease select a path containing with 'DataLog'.");
    return false;
  }
  if (!CZELMeterObj::LoadDataLogSetup(folder)) return false;
  if (!CZELMeterObj::LoadPanelNames(folder)) return false;
  PanelNames.DeviceName = DeviceNameFromPath(folder, BaseFolder());
  if (PanelNames.DeviceName.empty()) {
    view.ShowMessage(
        folder +
        "\n\nIt not be found Device Name.\nPlease select a path containing with KVRO Decive Name.");
    return false;
  }
  dataLogFolder = folder;
  return true;
}

void ReadGroupRecords(const std::string& dataLogFolder, int group, const PumpHook& pump) {
  // A day file is listed and read in microseconds: events run every few
  // milliseconds, not after each file.
  const PumpHook paced = PacedPump(pump, std::chrono::milliseconds(5));
  std::vector<std::string> files;
  FindFiles(dataLogFolder + "Group" + std::to_string(group + 1) + "/", ".dat", files, paced);
  LogRecords.Clear();
  for (const std::string& f : files) {
    if (paced && paced()) return;
    CZELMeterObj::ReadDataLogFile(group, f);
  }
}

std::string WorkbookPathOf(const std::string& dataLogFolder) {
  return dataLogFolder + "template.xlsx";
}

bool LoadAllGroups(const std::string& dataLogFolder, COfflineLoadView& view) {
  // Built beside the workbook in use, which stays until every group is in the new one.
  CWorkbookBuild build(WorkbookPathOf(dataLogFolder));
  const PumpHook pump = [&view] { return view.Pump(); };
  if (UpdateWorkbook(build, -1, pump).Stopped) return false;
  view.ShowStatus("Starting to load logs...");
  for (int g = 0; g < kGroupCount; ++g) {
    if (view.Pump()) return false;
    std::string caption;
    if (!view.SelectGroup(g, caption)) return false;
    view.ShowStatus("Loading logs of " + caption);
    view.BeginGroup(g, caption);
    ReadGroupRecords(dataLogFolder, g, pump);
    view.ShowGroup(g, LogRecords.Count());
    try {
      view.SetTimeRange();
    } catch (const EConvertError& e) {
      // One bad first or last time stamp must not keep the group's records,
      // or the later groups, out of the workbook.
      view.ShowError(e.what());
    }
    const TWorkbookUpdate u = UpdateWorkbook(build, g, pump);
    if (u.Stopped) return false;
    if (u.Sheets > 1)
      view.ShowStatus(SheetName(g) + ": " + std::to_string(LogRecords.Count()) + " records on " +
                      std::to_string(u.Sheets) + " sheets, continued on \"" + SheetName(g) +
                      " (2)\" and after");
  }
  if (!build.Commit()) throw EWorkbookError("Unable to write the workbook " + build.Target());
  view.ShowStatus("Finished to load logs.");
  return true;
}
