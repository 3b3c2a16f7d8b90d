#pragma once
// The setup a group's local .dat files were written with. The files have no
// header: read with another group's keys they give plausible, wrong numbers.
// So the keys are kept in a small file beside the group folder
// ("Group1.keys"), and a group whose KeyNum or key ids changed has its older
// files moved aside ("Group1.20261208-1930"), where no display reads them.
#include <string>

#include "meter/MeterState.h"

// DataLog folder + "GroupN.keys".
std::string GroupKeysPath(const std::string& dataLogFolder, int group);

// True when the keys file is missing or names the same KeyNum and key ids.
bool SameGroupKeys(const std::string& dataLogFolder, int group, const TDataLogSetup& setup);

// Records the group's KeyNum and key ids; false when the file can't be written.
bool WriteGroupKeys(const std::string& dataLogFolder, int group, const TDataLogSetup& setup);

// Moves the group folder aside to "GroupN." + the local date and time (a
// suffix keeps an earlier move of the same minute); returns the new folder's
// name, empty when there was nothing to move or the move failed.
std::string MoveGroupAside(const std::string& dataLogFolder, int group);
