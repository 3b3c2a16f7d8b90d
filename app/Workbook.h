#pragma once
// The device's working workbook, built one sheet at a time (CWorkbookBuild).
// Sheet 1 "Panel Name" (the active sheet), sheet g + 2 "Data Log #NN" for
// group g, at least 11 sheets; a group with more rows than a worksheet holds
// continues on sheets "Data Log #NN (2)", ... after the eleventh.
#include <string>

#include "app/PumpHook.h"
#include "app/WorkbookBuild.h"

struct TWorkbookUpdate {
  bool Written = false;  // false: nothing to write, or stopped by the pump
  bool Stopped = false;  // the pump said the application is closing
  int Sheets = 0;        // sheets that hold this group's rows
};

// Writes the names sheet (group -1) from PanelNames or group g's sheet from
// LogRecords and LogColumns(g) into the build, each at most once; a group
// without records writes nothing. Throws EWorkbookError when the sheet can't
// be written; the build then holds what it held before.
TWorkbookUpdate UpdateWorkbook(CWorkbookBuild& build, int group, const PumpHook& pump = {});
