// Reading a .dat file of 100,000 records x 64 keys from the page cache:
// ReadDataLogFile, the same file with numpy, and a plain read of its bytes.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "meter/ZelDef.h"
#include "tests/support/Process.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRecords = 100000;
constexpr int kKeys = 64;
constexpr int kRepeats = 9;

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

template <typename F>
double MedianMBps(double mb, F run) {
  std::vector<double> rates;
  for (int i = 0; i < kRepeats; ++i) {
    const auto t0 = Clock::now();
    run();
    rates.push_back(mb / std::chrono::duration<double>(Clock::now() - t0).count());
  }
  return Median(rates);
}

}  // namespace

int main() {
  TempDir dir;
  const std::string path = dir.Path() + "/big.dat";

  std::vector<uint16_t> keys;
  for (uint16_t id = 1; id <= 42; ++id) keys.push_back(id);
  for (uint16_t id = 2000; id <= 2009; ++id) keys.push_back(id);
  for (uint16_t id = 1740; id <= 1749; ++id) keys.push_back(id);
  keys.push_back(1834);
  keys.push_back(1835);
  GroupSetups = {};
  GroupSetups[5].KeyNum = kKeys;
  std::copy(keys.begin(), keys.end(), GroupSetups[5].keyArr);

  {
    std::mt19937 rng(1);
    std::vector<uint8_t> rec(4 * kKeys + 6);
    FILE* f = std::fopen(path.c_str(), "wb");
    for (int r = 0; r < kRecords; ++r) {
      for (size_t i = 0; i < 4 * kKeys; ++i) rec[i] = static_cast<uint8_t>(rng());
      const uint8_t stamp[6] = {
          26, 12, static_cast<uint8_t>(1 + r % 28), static_cast<uint8_t>(r % 24), 0, 0};
      std::copy(stamp, stamp + 6, rec.begin() + 4 * kKeys);
      std::fwrite(rec.data(), 1, rec.size(), f);
    }
    std::fclose(f);
  }
  const double mb = kRecords * (4.0 * kKeys + 6) / 1e6;

  std::vector<uint8_t> buf(static_cast<size_t>(mb * 1e6) + 1);
  auto plainRead = [&] {
    const int fd = open(path.c_str(), O_RDONLY);
    size_t got = 0;
    for (ssize_t n; (n = read(fd, buf.data() + got, buf.size() - got)) > 0;)
      got += static_cast<size_t>(n);
    close(fd);
  };
  plainRead();  // into the page cache
  const double plain = MedianMBps(mb, plainRead);
  const double krvo = MedianMBps(mb, [&] {
    LogRecords.Clear();
    CZELMeterObj::ReadDataLogFile(5, path);
  });
  if (LogRecords.Count() != kRecords) {
    std::fprintf(stderr, "read %zu records, expected %d\n", LogRecords.Count(), kRecords);
    return 1;
  }

  std::string cmd = "/usr/bin/python3 " KRVO_BENCH_DIR "/numpy_dat_reader.py " + path + " " +
                    std::to_string(kRepeats);
  for (uint16_t id : keys) cmd += " " + std::to_string(static_cast<int>(KeyDivisor(id)));
  double numpy = 0;
  if (FILE* p = popen(cmd.c_str(), "r")) {
    if (std::fscanf(p, "%lf", &numpy) != 1) numpy = 0;
    pclose(p);
  }

  std::printf("file_mb: %.1f\n", mb);
  std::printf("plain_read_mb_per_s: %.0f\n", plain);
  std::printf("krvo_read_mb_per_s: %.0f\n", krvo);
  std::printf("numpy_read_mb_per_s: %.0f\n", numpy);
  std::printf("ratio_plain_vs_krvo: %.2f\n", plain / krvo);
  std::printf("ratio_krvo_vs_numpy: %.2f\n", numpy > 0 ? krvo / numpy : 0.0);
  return 0;
}
