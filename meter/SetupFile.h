#pragma once
// Where DataLogSetup.ini is, shared by the setup and the names.
#include <string>

// folder + "DataLogSetup.ini", or the device path when folder is empty.
std::string SetupFileOf(const std::string& folder);
// The operator's message for a folder without the setup file.
void ShowMissingSetupFile(const std::string& path);
