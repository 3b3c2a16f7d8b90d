// krvo export of device folders of 10 groups x 25,000, 100,000 and 400,000
// records x 64 keys: seconds, peak memory and seconds per million cells for
// each (linear when the largest is within 20% of the smallest), then the
// export of the 100,000-record folder against LibreOffice converting that
// same workbook to CSV, the cost a user knows for opening such a file.
// Usage: bench_export_scale [RECORDS ...] (the three sizes by default).
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "tests/support/Process.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
constexpr int kGroups = 10;
constexpr int kKeys = 64;
constexpr int kPerFile = 1440;  // a day of one-minute records

struct TRun {
  int Exit = -1;
  double Seconds = 0;
  long PeakKb = 0;
};

// Runs argv to its end; the peak resident size is the child's own.
TRun Run(const std::vector<std::string>& args, bool quiet = true) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (quiet) posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  const auto t0 = Clock::now();
  pid_t pid = 0;
  TRun r;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    r.Exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.PeakKb = usage.ru_maxrss;
  }
  r.Seconds = std::chrono::duration<double>(Clock::now() - t0).count();
  posix_spawn_file_actions_destroy(&actions);
  return r;
}

// The setup from krvo-sim through krvo setup, then the day files written here.
std::string MakeFolder(const std::string& data, long records) {
  std::vector<std::string> sim = {"--device-name", "Scale"};
  std::string ids;
  for (int k = 0; k < kKeys; ++k)
    ids.append(k ? "," : "").append(std::to_string(k < 32 ? 1 + k : 10 + k));
  for (int g = 1; g <= kGroups; ++g)
    sim.insert(sim.end(), {"--group", std::to_string(g) + ":60:" + ids});
  SimProcess meter(sim);
  if (Run({KrvoPath(), "setup", "--host", "127.0.0.1", "--port", std::to_string(meter.ModbusPort()),
           "--data-dir", data})
          .Exit != 0) {
    std::fprintf(stderr, "bench_export_scale: krvo setup failed\n");
    std::exit(1);
  }
  const std::string dataLog = data + "/Scale/DataLog";
  std::mt19937 rng(3);
  std::vector<char> record(kKeys * 4 + 6);
  for (int g = 1; g <= kGroups; ++g) {
    const std::string folder = dataLog + "/Group" + std::to_string(g);
    fs::create_directories(folder);
    std::ofstream out;
    for (long i = 0; i < records; ++i) {
      const long day = i / kPerFile, minute = i % kPerFile;
      if (minute == 0) {
        out.close();
        out.open(folder + "/" + std::to_string(100000 + day) + ".dat", std::ios::binary);
      }
      for (int k = 0; k < kKeys; ++k) {
        const uint32_t v = rng() % 50000;
        for (int b = 0; b < 4; ++b)
          record[static_cast<size_t>(4 * k + b)] = static_cast<char>(v >> (8 * b));
      }
      // Time bytes: years from 2000 on, a day of 1440 minutes each.
      const long d = day % 28, m = day / 28;
      const char t[6] = {static_cast<char>(20 + m / 12), static_cast<char>(1 + m % 12),
                         static_cast<char>(1 + d),       static_cast<char>(minute / 60),
                         static_cast<char>(minute % 60), 0};
      std::copy(t, t + 6, record.end() - 6);
      out.write(record.data(), static_cast<std::streamsize>(record.size()));
    }
  }
  return dataLog;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<long> sizes;
  for (int i = 1; i < argc; ++i) sizes.push_back(std::atol(argv[i]));
  if (sizes.empty()) sizes = {25000, 100000, 400000};
  std::vector<double> perMillion;
  double export100k = 0;
  std::string workbook100k;
  TempDir dir;
  const char* keep =
      std::getenv("KRVO_BENCH_KEEP");  // a folder to leave the data in, for profiling
  for (long records : sizes) {
    const std::string data =
        (keep ? std::string(keep) : dir.Path()) + "/data" + std::to_string(records);
    const std::string dataLog = MakeFolder(data, records);
    const TRun r = Run({KrvoPath(), "export", dataLog, "--data-dir", data});
    if (r.Exit != 0) {
      std::fprintf(stderr, "bench_export_scale: export of %ld records failed (%d)\n", records,
                   r.Exit);
      return 1;
    }
    const double cells = static_cast<double>(records) * kGroups * (kKeys + 2);
    perMillion.push_back(r.Seconds / (cells / 1e6));
    std::printf("records_%ld: %.2f s, peak %.0f MB, %.4f s per million cells, workbook %.0f MB\n",
                records, r.Seconds, r.PeakKb / 1024.0, perMillion.back(),
                fs::file_size(dataLog + "/template.xlsx") / 1e6);
    std::fflush(stdout);
    if (records == 100000) {
      export100k = r.Seconds;
      workbook100k = dataLog + "/template.xlsx";
    } else if (!keep) {
      fs::remove_all(data);  // the largest folder takes gigabytes
    }
  }
  if (perMillion.size() > 1)
    std::printf("ratio_largest_vs_smallest_per_cell: %.2f\n",
                perMillion.back() / perMillion.front());
  if (workbook100k.empty()) return 0;
  const std::string soffice = "/usr/bin/soffice";
  if (!fs::exists(soffice)) {
    std::printf(
        "ratio_export_vs_libreoffice_csv: left out: %s is not installed "
        "(Debian's libreoffice-calc-nogui)\n",
        soffice.c_str());
    return 0;
  }
  const TRun lo =
      Run({soffice, "--headless", "-env:UserInstallation=file://" + dir.Path() + "/lo-profile",
           "--convert-to", "csv", "--outdir", dir.Path() + "/csv", workbook100k});
  if (lo.Exit != 0) {
    std::printf("ratio_export_vs_libreoffice_csv: left out: soffice failed (%d)\n", lo.Exit);
    return 0;
  }
  std::printf("libreoffice_csv_s: %.2f\n", lo.Seconds);
  std::printf("ratio_export_vs_libreoffice_csv: %.3f\n", export100k / lo.Seconds);
  return 0;
}
