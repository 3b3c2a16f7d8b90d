#include "app/report/ReportFolder.h"

#include <vector>

#include "app/GroupFiles.h"
#include "meter/ZelDef.h"

bool AddFolderGroups(const std::string& dataLogFolder, CReportBuilder& builder,
                     const PumpHook& pump) {
  TLogRecordList records;
  for (int g = 0; g < kGroupCount; ++g) {
    std::vector<std::string> files;
    FindFiles(dataLogFolder + "Group" + std::to_string(g + 1) + "/", ".dat", files, pump);
    records.Clear();
    for (const std::string& f : files) {
      if (pump && pump()) return false;
      CZELMeterObj::ReadDataLogFile(g, f, records);
    }
    if (pump && pump()) return false;
    builder.AddGroup(g, records, GroupSetups[static_cast<size_t>(g)], PanelNames);
  }
  return true;
}
