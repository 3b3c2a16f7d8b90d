#pragma once
// File names of "Save As...": the proposed name and the file-type change.
#include <ctime>
#include <string>

// DeviceName + "_" + YYYYMMDD_HHmm + "_" + ".xlsx", from the local time t;
// the device name made safe as a file name.
std::string DefaultExportName(const std::string& deviceName, const std::tm& t);

// The extension of the dialog's file type (1-based): 1 ".xlsx", 2 ".xls";
// false for any other.
bool ExtensionForFileType(int index, std::string& extension);

// The path with every occurrence of its present extension in its name part
// (letter case ignored) replaced by extension; the folder part unchanged.
std::string ReplaceExtension(const std::string& path, const std::string& extension);
