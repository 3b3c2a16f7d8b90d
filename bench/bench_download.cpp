// The fetch phase of a download of ten groups, 100 day files each (about
// 20 kB to 190 kB, some 100 MB in all), from krvo-sim on loopback with the
// pauses at 0: listing, fetching and reading every group's files into
// LogRecords, against wget -r of the same tree from the same server. The
// sides alternate, pair by pair; the ratio is the median of the pairs. The
// workbook's time (ten sheets) is measured once, on a line of its own.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/Workbook.h"
#include "meter/ZelDef.h"
#include "retrieval/GroupFetch.h"
#include "tests/support/Process.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kPairs = 3;
constexpr int kKeys[10] = {6, 12, 19, 25, 32, 38, 45, 51, 58, 64};

double Seconds(Clock::time_point t0) {
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main() {
  namespace fs = std::filesystem;
  TempDir dir;
  const std::string root = dir.Path() + "/sim";
  // One record every 120 s: 720 a day, 100 days.
  std::vector<std::string> args = {"--data-root", root,          "--records",
                                   "72000",       "--log-start", "2026-01-01"};
  GroupSetups = {};
  for (int g = 0; g < 10; ++g) {
    std::string ids;
    GroupSetups[g].KeyNum = static_cast<uint16_t>(kKeys[g]);
    for (int j = 0; j < kKeys[g]; ++j) {
      ids.append(j ? "," : "").append(std::to_string(j + 1));
      GroupSetups[g].keyArr[j] = static_cast<uint16_t>(j + 1);
    }
    args.push_back("--group");
    args.push_back(std::to_string(g + 1) + ":120:" + ids);
  }
  SimProcess sim(args);
  uintmax_t bytes = 0;
  size_t files = 0;
  for (const auto& e : fs::recursive_directory_iterator(root + "/DataLog"))
    if (e.is_regular_file()) {
      bytes += e.file_size();
      ++files;
    }

  const std::string mirror = dir.Path() + "/mirror/";
  size_t records = 0;
  double workbook = 0;
  auto krvo = [&](bool withWorkbook) {
    fs::remove_all(mirror);
    TFtpClient ftp;
    ftp.Host = "127.0.0.1";
    ftp.Port = sim.FtpPort();
    ftp.Username = "anonymous";
    ftp.Password = kAnonymousFtpPassword;
    CGroupFetcher fetcher(ftp, 0);
    TGroupFetchEvents events;
    records = 0;
    const auto t0 = Clock::now();
    double sheets = 0;
    fetcher.EnsureSession(events);
    std::unique_ptr<CWorkbookBuild> build;
    if (withWorkbook) build = std::make_unique<CWorkbookBuild>(mirror + "template.xlsx");
    for (int g = 0; g < 10; ++g) {
      const std::string local = mirror + "Group" + std::to_string(g + 1) + "/";
      fs::create_directories(local);
      LogRecords.Clear();
      events.FileArrived = [g](const std::string& path, const std::string&) {
        CZELMeterObj::ReadDataLogFile(g, path);
      };
      fetcher.FetchGroup(g, local, events, TFetchMode::All);
      records += LogRecords.Count();
      if (withWorkbook) {
        const auto t1 = Clock::now();
        UpdateWorkbook(*build, g);
        sheets += Seconds(t1);
      }
    }
    if (build) {
      const auto t1 = Clock::now();
      build->Commit();
      sheets += Seconds(t1);
    }
    ftp.CloseSession();
    if (withWorkbook) workbook = sheets;
    return Seconds(t0) - sheets;
  };
  auto wget = [&] {
    const std::string into = dir.Path() + "/wget";
    fs::remove_all(into);
    const std::string cmd = "wget -q -r -nH -P " + into +
                            " ftp://127.0.0.1:" + std::to_string(sim.FtpPort()) + "/DataLog/";
    const auto t0 = Clock::now();
    if (std::system(cmd.c_str()) != 0) return -1.0;
    return Seconds(t0);
  };

  std::vector<double> ours, theirs, ratios;
  for (int i = 0; i < kPairs; ++i) {
    ours.push_back(krvo(i == 0));
    theirs.push_back(wget());
    if (theirs.back() <= 0) {
      std::fprintf(stderr, "wget failed\n");
      return 1;
    }
    ratios.push_back(ours.back() / theirs.back());
  }
  std::printf("files: %zu\n", files);
  std::printf("megabytes: %.1f\n", bytes / 1e6);
  std::printf("records: %zu\n", records);
  std::printf("krvo_fetch_phase_s: %.2f\n", Median(ours));
  std::printf("wget_s: %.2f\n", Median(theirs));
  std::printf("workbook_s: %.2f\n", workbook);
  std::printf("ratio_krvo_vs_wget: %.2f\n", Median(ratios));
  return 0;
}
