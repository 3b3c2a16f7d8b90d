#include "cli/ErrorText.h"

#include <cstring>

#include "meter/IniFile.h"

std::string ErrorText(const std::exception& e) {
  if (const auto* ini = dynamic_cast<const EIniWriteError*>(&e); ini != nullptr && ini->Errno != 0)
    return std::string(e.what()) + ": " + std::strerror(ini->Errno);
  return e.what();
}
