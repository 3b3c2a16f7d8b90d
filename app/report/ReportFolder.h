#pragma once
// The report of a device's DataLog folder, its setup and names already
// loaded: each group's .dat files read in name order into a record list of
// the report's own (the table's LogRecords stay as they are), added to the
// report and dropped before the next group.
#include <string>

#include "app/PumpHook.h"
#include "app/report/Report.h"

// False when the pump stopped it. A .dat file that can't be read ends it by
// its exception.
bool AddFolderGroups(const std::string& dataLogFolder, CReportBuilder& builder,
                     const PumpHook& pump);
