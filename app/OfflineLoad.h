#pragma once
// Opening a device's DataLog folder saved earlier, with no meter: its setup
// and names, the device name from its path, and every group read in turn
// into LogRecords and the working workbook. Written once against a small
// view; the window implements it with its tree, table and status bar, krvo
// with the terminal.
#include <cstddef>
#include <string>

#include "app/PumpHook.h"

class COfflineLoadView {
 public:
  virtual ~COfflineLoadView() = default;
  virtual void ShowStatus(const std::string& text) = 0;
  // A plain message for the operator.
  virtual void ShowMessage(const std::string& text) = 0;
  // An error that ends one step; the load goes on with the next group.
  virtual void ShowError(const std::string& text) = 0;
  // Lets pending events run; true when the application is closing.
  virtual bool Pump() = 0;
  // Selects the node of group g; false when no group node is then selected.
  // caption receives the node's caption ("Group 01").
  virtual bool SelectGroup(int group, std::string& caption) = 0;
  // A group's display begins: its caption on the label, its columns, no rows.
  virtual void BeginGroup(int /*group*/, const std::string& /*caption*/) {}
  // Shows the group's records (now in LogRecords) in the table.
  virtual void ShowGroup(int group, size_t records) = 0;
  // Sets the time range from LogRecords; throws EConvertError for a first or
  // last record whose time can't be made.
  virtual void SetTimeRange() = 0;
};

// The DataLog folder (ending in "/") of a chosen path: the path cut right
// after its first "DataLog" (exact case). False when there is none.
bool DataLogFolderOf(const std::string& chosen, std::string& folder);

// The device name of a DataLog folder: below the base folder, the path
// relative to it with every "DataLog", "/" and "\" removed (letter case
// ignored); elsewhere, the name of the folder that holds "DataLog".
std::string DeviceNameFromPath(const std::string& dataLogFolder, const std::string& base);

// Chooses the folder: reads its setup and names, sets PanelNames.DeviceName
// from the path. False (with the message shown) when the path holds no
// "DataLog", the setup or names can't be read, or the name comes out empty.
bool OpenOfflineFolder(const std::string& chosen, std::string& dataLogFolder,
                       COfflineLoadView& view);

// Empties LogRecords and reads the .dat files of group g (0-9) below the
// DataLog folder into it, in name order.
void ReadGroupRecords(const std::string& dataLogFolder, int group, const PumpHook& pump);

// The working workbook of a DataLog folder.
std::string WorkbookPathOf(const std::string& dataLogFolder);

// Rebuilds the folder's working workbook: the names sheet, then every group
// 0 to 9 read, shown and written, beside the workbook in use, which the new
// one replaces at the end. False when stopped by the pump (the previous
// workbook then stays). A .dat file
// that can't be read, and a workbook that can't be written, end the load by
// their exception.
bool LoadAllGroups(const std::string& dataLogFolder, COfflineLoadView& view);
