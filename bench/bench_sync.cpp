// A meter of 500 day files (five groups of 100): a first sync into an empty
// data folder, then, with 5 files changed on the meter, a second one. Both
// with --pace-ms 20 (a stand-in for a meter's pacing) and --no-workbook. One
// side takes seconds: one pair, back to back.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/Files.h"
#include "tests/support/Process.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point t0) {
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

}  // namespace

int main() {
  namespace fs = std::filesystem;
  TempDir dir;
  const std::string root = dir.Path() + "/meter";
  // One record every 864 s: 100 a day, 100 days.
  std::vector<std::string> args = {"--data-root", root,          "--records",
                                   "10000",       "--log-start", "2026-01-01"};
  for (int g = 1; g <= 10; ++g)
    args.insert(args.end(), {"--group", std::to_string(g) + (g <= 5 ? ":864:1,10" : ":864:")});
  SimProcess sim(args);
  size_t files = 0;
  std::vector<std::string> paths;
  for (const auto& e : fs::recursive_directory_iterator(root + "/DataLog"))
    if (e.is_regular_file()) {
      ++files;
      paths.push_back(e.path());
    }
  const std::vector<std::string> sync = {KrvoPath(),     "sync",
                                         "--host",       "127.0.0.1",
                                         "--port",       std::to_string(sim.ModbusPort()),
                                         "--ftp-port",   std::to_string(sim.FtpPort()),
                                         "--data-dir",   dir.Path() + "/data",
                                         "--pace-ms",    "20",
                                         "--no-workbook"};
  auto t0 = Clock::now();
  const ProcessResult first = RunProcess(sync);
  const double full = Seconds(t0);
  for (size_t i = 0; i < 5; ++i)
    AppendAll(paths[i * 97 % paths.size()], DatRecord({1, 2}, {26, 4, 10, 23, 59, 0}));
  t0 = Clock::now();
  const ProcessResult second = RunProcess(sync);
  const double resync = Seconds(t0);
  if (first.ExitCode != 0 || second.ExitCode != 0) {
    std::fprintf(stderr, "sync failed: %s%s\n", first.Err.c_str(), second.Err.c_str());
    return 1;
  }
  size_t fetched = 0;
  for (size_t at = 0; (at = second.Out.find("Group ", at)) != std::string::npos; ++at) {
    unsigned g = 0, f = 0;
    if (std::sscanf(second.Out.c_str() + at, "Group %u\t%u", &g, &f) == 2) fetched += f;
  }
  std::printf("files: %zu\n", files);
  std::printf("files_fetched_by_resync: %zu\n", fetched);
  std::printf("full_sync_s: %.2f\n", full);
  std::printf("resync_s: %.2f\n", resync);
  std::printf("ratio_resync_vs_full: %.3f\n", resync / full);
  return 0;
}
