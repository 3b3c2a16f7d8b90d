#pragma once
// The .dat files of a group folder, found recursively.
#include <string>
#include <vector>

#include "app/PumpHook.h"

// Appends to files every file below folder whose extension (from its last
// "." on) equals extension without regard to case, or every file for ".*".
// Entries are taken in name order, a sub-folder's files where the sub-folder
// comes; ".svn" folders are skipped and symbolic links are not followed into
// folders. A folder that does not exist leaves files empty.
void FindFiles(const std::string& folder, const std::string& extension,
               std::vector<std::string>& files, const PumpHook& pump = {});
