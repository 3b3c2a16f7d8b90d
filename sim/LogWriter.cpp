#include "sim/LogWriter.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979;

// Load through the day: low at night, a peak in the afternoon.
double DailyLoad(const tm& t) {
  const double hour = t.tm_hour + t.tm_min / 60.0;
  return 0.55 + 0.45 * std::max(0.0, std::sin((hour - 6.0) / 14.0 * kPi));
}

// Raw logged integers for one key at one time, in the meter's own units
// (0.01 V, mA, W, 0.001 PF, 0.1 %, 0.1 kWh...). Energies accumulate.
class RawSource {
 public:
  explicit RawSource(unsigned seed) : rng_(seed) {}

  int32_t Next(uint16_t id, const tm& t, double hours) {
    const double load = DailyLoad(t);
    auto noise = [this](double spread) {
      return std::uniform_real_distribution<double>(-spread, spread)(rng_);
    };
    const uint16_t base = id >= 43 && id <= 84 ? static_cast<uint16_t>(id - 42) : id;
    if (id == 0) return static_cast<int32_t>(rng_() & 0xFFFF);               // ignored by readers
    if (base >= 1 && base <= 4) return Round(23000 + noise(250));            // 230 V
    if (base >= 5 && base <= 8) return Round(40000 + noise(400));            // 400 V
    if (base == 9) return Round(5000 + noise(4));                            // 50 Hz
    if (base >= 10 && base <= 15) return Round(60000 * load + noise(1500));  // A
    if (base >= 16 && base <= 18) return Round(600 * load + noise(20));      // %
    if (base >= 19 && base <= 30) return Round(40000 * load + noise(800));   // kW, kvar, kVA
    if (base >= 31 && base <= 34) return Round(930 + noise(40));             // PF
    if (base >= 35 && base <= 36) return Round(250 + noise(150));            // unbalance %
    if (base >= 37 && base <= 42) return Round(50000 * load + noise(500));   // demands
    if (id >= 100 && id <= 141) return Round(450 + noise(250));              // THD %
    if (id >= 200 && id <= 1739) {
      switch (id % 10) {
        case 4:
          return Round(900 + noise(80));  // PF
        case 5:
          return Round(450 * load + noise(40));  // loading %
        default:
          return Round(8000 * load + noise(600));  // A, kW, kvar...
      }
    }
    if (id >= 1740 && id <= 1749) return Round(15000 * load + noise(500));
    if (id >= 1750 && id <= 1833) return Round(350 + noise(150));
    if (id >= 1834 && id <= 1837) return Round(250 + noise(30));  // 25 degrees
    if (id >= 2000 && id <= 2581) {
      // Energy in 0.1 kWh only ever grows.
      double& e = energy_.try_emplace(id, 100000.0 + (id % 97) * 731.0).first->second;
      e += std::max(0.0, (40.0 * load + noise(2.0)) * hours * 10.0);
      return Round(e);
    }
    return 0;
  }

 private:
  static int32_t Round(double v) { return static_cast<int32_t>(std::lround(v)); }
  std::mt19937 rng_;
  std::map<uint16_t, double> energy_;
};

void PutLe32(std::vector<uint8_t>& out, int32_t v) {
  const auto u = static_cast<uint32_t>(v);
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(u >> (8 * i)));
}

bool WriteFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes,
               std::string& error) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) {
    error = "cannot write " + path.string();
    if (f) std::fclose(f);
    return false;
  }
  return std::fclose(f) == 0;
}

}  // namespace

bool WriteDataLogTree(const SimProfile& profile, const LogWriterOptions& o, std::string& error) {
  namespace fs = std::filesystem;
  const fs::path root = fs::path(o.Root) / "DataLog";
  std::error_code ec;
  for (size_t g = 0; g < profile.Groups.size(); ++g) {
    const SimGroup& group = profile.Groups[g];
    const fs::path folder = root / ("Group" + std::to_string(g + 1));
    fs::create_directories(folder, ec);
    if (ec) {
      error = "cannot create " + folder.string() + ": " + ec.message();
      return false;
    }
    if (group.Keys.empty()) continue;
    RawSource source(o.Seed * 131u + static_cast<unsigned>(g));
    const double hours = group.IntervalSeconds / 3600.0;
    std::vector<uint8_t> bytes;
    std::string day;
    auto flush = [&]() {
      if (bytes.empty()) return true;
      const bool ok = WriteFile(folder / (day + ".dat"), bytes, error);
      bytes.clear();
      return ok;
    };
    const time_t step = std::max<time_t>(1, group.IntervalSeconds);
    time_t start = o.Start;
    if (start == 0) {  // the log ends at the last whole interval before now
      const time_t now = time(nullptr);
      start = (now / step) * step - static_cast<time_t>(o.RecordsPerGroup) * step;
    }
    for (long r = 0; r < o.RecordsPerGroup; ++r) {
      const time_t when = start + static_cast<time_t>(r) * step;
      tm t{};
      localtime_r(&when, &t);
      char name[40];
      std::snprintf(name, sizeof name, "%04d%02d%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday);
      if (day != name) {
        if (!flush()) return false;
        day = name;
      }
      for (uint16_t id : group.Keys) PutLe32(bytes, source.Next(id, t, hours));
      const uint8_t stamp[6] = {static_cast<uint8_t>(t.tm_year + 1900 - 2000),
                                static_cast<uint8_t>(t.tm_mon + 1),
                                static_cast<uint8_t>(t.tm_mday),
                                static_cast<uint8_t>(t.tm_hour),
                                static_cast<uint8_t>(t.tm_min),
                                static_cast<uint8_t>(t.tm_sec)};
      bytes.insert(bytes.end(), stamp, stamp + 6);
    }
    if (!flush()) return false;
  }
  return true;
}
