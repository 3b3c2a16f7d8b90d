// krvo report per day over a year of 1-minute records of one group of 64
// keys (16 energy registers), against the same computation in pandas, in
// alternating runs; ratio below 1: krvo is faster.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "meter/KeyCatalogue.h"
#include "tests/support/Process.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kDays = 365;
constexpr int kRecords = kDays * 1440;
constexpr int kEnergies = 16;
constexpr int kKeys = 64;
constexpr double kSeconds = 30.0;

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double Since(Clock::time_point t0) {
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

// The pandas side as a child started once, so that importing pandas costs no run.
class PandasReport {
 public:
  explicit PandasReport(const std::vector<std::string>& argv) {
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(in[0], 0);
      dup2(out[1], 1);
      std::vector<char*> args;
      for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      execv(args[0], args.data());
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    to_ = fdopen(in[1], "w");
    from_ = fdopen(out[0], "r");
    char line[128];
    ready_ = from_ != nullptr && std::fgets(line, sizeof line, from_) != nullptr;
    if (ready_) FirstTotal = std::strtod(line + 5, nullptr);
  }
  ~PandasReport() {
    if (to_ != nullptr) std::fclose(to_);
    if (from_ != nullptr) std::fclose(from_);
    if (pid_ > 0) waitpid(pid_, nullptr, 0);
  }
  PandasReport(const PandasReport&) = delete;
  PandasReport& operator=(const PandasReport&) = delete;

  bool Ready() const { return ready_; }
  double FirstTotal = 0;  // the first register's consumption over the year
  double Run() {
    double seconds = 0;
    if (!ready_ || std::fprintf(to_, "1\n") < 0 || std::fflush(to_) != 0 ||
        std::fscanf(from_, "%lf", &seconds) != 1)
      ready_ = false;
    return ready_ ? seconds : 0;
  }

 private:
  pid_t pid_ = -1;
  FILE* to_ = nullptr;
  FILE* from_ = nullptr;
  bool ready_ = false;
};

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

}  // namespace

int main() {
  TempDir dir;
  const std::string dataLog = dir.Path() + "/Bench/DataLog";
  std::filesystem::create_directories(dataLog + "/Group1");
  std::vector<int> keys;
  for (int id = 2010; id < 2010 + kEnergies; ++id) keys.push_back(id);
  for (int id = 1; id <= 42; ++id) keys.push_back(id);
  for (int id = 200; id < 206; ++id) keys.push_back(id);
  std::string ini = "[PanelName]\nDeviceName=Bench\n[Group0]\nTimeInterval=60\nKeyNum=64\n";
  for (int j = 0; j < kKeys; ++j)
    ini += "keyArr" + std::string(j < 10 ? "0" : "") + std::to_string(j) + "=" +
           std::to_string(keys[static_cast<size_t>(j)]) + "\n";
  {
    FILE* f = std::fopen((dataLog + "/DataLogSetup.ini").c_str(), "wb");
    std::fputs(ini.c_str(), f);
    std::fclose(f);
  }
  const std::string dat = dataLog + "/Group1/year.dat";
  {
    FILE* f = std::fopen(dat.c_str(), "wb");
    std::vector<uint8_t> rec(4 * kKeys + 6);
    int32_t energy[kEnergies] = {};
    const int monthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int year = 2025, month = 1, day = 1;
    uint32_t x = 1;
    for (int r = 0; r < kRecords; ++r) {
      if (r > 0 && r % 1440 == 0 && ++day > monthDays[month - 1] + (month == 2 && IsLeap(year))) {
        day = 1;
        if (++month > 12) month = 1, ++year;
      }
      for (int j = 0; j < kKeys; ++j) {
        x = x * 1664525u + 1013904223u;
        int32_t v = static_cast<int32_t>(x >> 12);
        if (j < kEnergies) v = energy[j] += static_cast<int32_t>(x >> 28);
        if (j < kEnergies && r % 100000 == 99999) v = energy[j] = 0;  // a reset now and then
        for (int b = 0; b < 4; ++b)
          rec[static_cast<size_t>(4 * j + b)] =
              static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * b));
      }
      const uint8_t stamp[6] = {
          static_cast<uint8_t>(year - 2000), static_cast<uint8_t>(month),
          static_cast<uint8_t>(day),         static_cast<uint8_t>(r % 1440 / 60),
          static_cast<uint8_t>(r % 60),      0};
      std::copy(stamp, stamp + 6, rec.begin() + 4 * kKeys);
      std::fwrite(rec.data(), 1, rec.size(), f);
    }
    std::fclose(f);
  }

  const std::vector<std::string> krvo = {KrvoPath(), "report",     dataLog,   "--period",
                                         "day",      "--data-dir", dir.Path()};
  double krvoTotal = 0;
  auto runKrvo = [&](size_t& lines) {
    const auto t0 = Clock::now();
    const ProcessResult r = RunProcess(krvo, {"LC_ALL=C"});
    const double s = Since(t0);
    lines = static_cast<size_t>(std::count(r.Out.begin(), r.Out.end(), '\n'));
    // The first register's days, summed, to compare with pandas.
    krvoTotal = 0;
    const std::string tag = "\tGroup 01\t" + GetKeyName(keys[0]) + "\t";
    for (size_t at = r.Out.find(tag); at != std::string::npos; at = r.Out.find(tag, at + 1)) {
      const size_t begin = r.Out.rfind('\n', at) + 1;  // npos + 1: the first line
      if (r.Out.compare(begin, 7, "energy\t") != 0) continue;
      const size_t end = r.Out.find('\n', at);
      krvoTotal += std::strtod(r.Out.c_str() + r.Out.rfind('\t', end) + 1, nullptr);
    }
    return r.ExitCode == 0 ? s : 0;
  };
  std::vector<std::string> python = {"/usr/bin/python3", KRVO_BENCH_DIR "/pandas_report.py", dat,
                                     std::to_string(kEnergies)};
  for (int id : keys) python.push_back(std::to_string(static_cast<int>(KeyDivisor(id))));
  signal(SIGPIPE, SIG_IGN);
  size_t lines = 0;
  runKrvo(lines);  // into the page cache
  PandasReport pandas(python);

  std::vector<double> krvoTimes, pandasTimes, ratios;
  const auto start = Clock::now();
  for (int round = 0; round < 3 || (round < 15 && Since(start) < kSeconds); ++round) {
    double k = 0, p = 0;
    if (round % 2 == 0) {
      k = runKrvo(lines);
      p = pandas.Run();
    } else {
      p = pandas.Run();
      k = runKrvo(lines);
    }
    if (k <= 0) {
      std::fprintf(stderr, "krvo report failed\n");
      return 1;
    }
    krvoTimes.push_back(k);
    if (p > 0) {
      pandasTimes.push_back(p);
      ratios.push_back(k / p);
    }
  }
  std::printf("records: %d\n", kRecords);
  std::printf("report_lines: %zu\n", lines);
  std::printf("rounds: %zu\n", krvoTimes.size());
  const bool agree =
      std::fabs(krvoTotal - pandas.FirstTotal) <= 1e-9 * std::fabs(pandas.FirstTotal);
  std::printf("first_register_kwh: krvo %.3f pandas %.3f (%s)\n", krvoTotal, pandas.FirstTotal,
              agree ? "agree" : "DIFFER");
  std::printf("krvo_report_s: %.3f\n", Median(krvoTimes));
  std::printf("pandas_report_s: %.3f\n", pandasTimes.empty() ? 0.0 : Median(pandasTimes));
  std::printf("ratio_krvo_vs_pandas: %.2f\n", ratios.empty() ? 0.0 : Median(ratios));
  return 0;
}
