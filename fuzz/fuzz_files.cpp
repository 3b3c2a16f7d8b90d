// Setup files and .dat files as an old folder or another program left them.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "meter/IniFile.h"
#include "meter/ZelDef.h"

namespace {

std::string Scratch() {
  static const std::string dir = [] {
    char tmpl[] = "/tmp/krvo-fuzz-XXXXXX";
    return std::string(mkdtemp(tmpl));
  }();
  return dir + "/";
}

void Write(const std::string& path, const uint8_t* data, size_t size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  std::fwrite(data, 1, size, f);
  std::fclose(f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string folder = Scratch();
  Write(folder + "DataLogSetup.ini", data, size);
  CIniFile ini(folder + "DataLogSetup.ini");
  ini.WriteString("PanelName", "DeviceName",
                  std::string(reinterpret_cast<const char*>(data), size));
  ini.ReadInteger("Group0", "KeyNum", 0);
  bool loaded = false;
  try {  // a file past the size limit is refused with an error
    loaded = CZELMeterObj::LoadDataLogSetup(folder) && CZELMeterObj::LoadPanelNames(folder);
  } catch (const EIniReadError&) {
  }
  if (loaded) {
    Write(folder + "g.dat", data, size);
    for (int g = 0; g < kGroupCount; ++g) {
      try {
        CZELMeterObj::ReadDataLogFile(g, folder + "g.dat");
      } catch (const std::exception&) {
      }
    }
    LogRecords.Clear();
  }
  return 0;
}
