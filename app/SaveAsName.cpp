#include "app/SaveAsName.h"

#include <strings.h>

#include <cstdio>

#include "meter/DataFolder.h"

std::string DefaultExportName(const std::string& deviceName, const std::tm& t) {
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%04d%02d%02d_%02d%02d", t.tm_year + 1900, t.tm_mon + 1,
                t.tm_mday, t.tm_hour, t.tm_min);
  return SafePathComponent(deviceName) + "_" + stamp + "_" + ".xlsx";
}

bool ExtensionForFileType(int index, std::string& extension) {
  if (index == 1) {
    extension = ".xlsx";
  } else if (index == 2) {
    extension = ".xls";
  } else {
    return false;
  }
  return true;
}

std::string ReplaceExtension(const std::string& path, const std::string& extension) {
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos) return path;
  const std::string present = name.substr(dot);
  for (size_t at = 0; at + present.size() <= name.size();) {
    if (strncasecmp(name.c_str() + at, present.c_str(), present.size()) == 0) {
      name.replace(at, present.size(), extension);
      at += extension.size();
    } else {
      ++at;
    }
  }
  return folder + name;
}
