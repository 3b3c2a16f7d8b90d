// Setup files and .dat files as an old folder or another program left them.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "meter/IniFile.h"
#include "meter/ZelDef.h"

namespace {

// The setup file is read by path, so the inputs need a folder; it goes when
// the fuzzer exits.
struct TScratch {
  std::string dir;
  TScratch() {
    char tmpl[] = "/tmp/krvo-fuzz-XXXXXX";
    dir = std::string(mkdtemp(tmpl)) + "/";
  }
  ~TScratch() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
};

const std::string& Scratch() {
  static const TScratch scratch;
  return scratch.dir;
}

void Write(const std::string& path, const uint8_t* data, size_t size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  std::fwrite(data, 1, size, f);
  std::fclose(f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& folder = Scratch();
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
    for (int g = 0; g < kGroupCount; ++g) {
      try {
        CZELMeterObj::ReadDataLogBytes(g, {data, size}, "g.dat", LogRecords);
      } catch (const std::exception&) {
      }
    }
    LogRecords.Clear();
  }
  return 0;
}
