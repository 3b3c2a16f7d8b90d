#pragma once
// The device's working workbook: one .xlsx file updated one sheet at a time.
// Sheet 1 "Panel Name" (the active sheet), sheet g + 2 "Data Log #NN" for
// group g, at least 11 sheets; a group with more rows than a worksheet holds
// continues on sheets "Data Log #NN (2)", ... after the eleventh.
//
// A save writes a new file holding the sheet being updated and every sheet's
// name, takes the sheets of earlier saves from the previous file as they are
// (their compressed parts are copied, not rewritten), and renames it over the
// previous file.
#include <stdexcept>
#include <string>

#include "app/PumpHook.h"

class EWorkbookError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct TWorkbookUpdate {
  bool Written = false;  // false: nothing to write, or stopped by the pump
  bool Stopped = false;  // the pump said the application is closing
  int Sheets = 0;        // sheets that hold this group's rows
};

// Writes the names sheet (group -1) from PanelNames or group g's sheet from
// LogRecords and LogColumns(g) into the workbook at path; a group without
// records writes nothing. Throws EWorkbookError when the file can't be
// written; the previous file then stays as it was.
TWorkbookUpdate UpdateWorkbook(const std::string& path, int group, const PumpHook& pump = {});

// Rows of one worksheet, the header included.
constexpr long kSheetRows = 1048576;
