// Reading a .dat file of 100,000 records x 64 keys from the page cache:
// ReadDataLogFile, the same file with numpy, and a plain read of its bytes,
// in alternating rounds.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "meter/ZelDef.h"
#include "tests/support/Process.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRecords = 100000;
constexpr int kKeys = 64;
constexpr int kBatch = 3;          // reads per batch, one side at a time
constexpr double kSeconds = 24.0;  // all sides together

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double Since(Clock::time_point t0) {
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

// The numpy reader as a child that reads the file a number of times on
// request and answers with the seconds it took: started once, so that the
// interpreter's start costs no batch.
class NumpyReader {
 public:
  explicit NumpyReader(const std::vector<std::string>& argv) {
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
    char line[64];
    ready_ = from_ != nullptr && std::fgets(line, sizeof line, from_) != nullptr;
  }
  ~NumpyReader() {
    if (to_ != nullptr) std::fclose(to_);  // its end of input: it exits
    if (from_ != nullptr) std::fclose(from_);
    if (pid_ > 0) waitpid(pid_, nullptr, 0);
  }
  NumpyReader(const NumpyReader&) = delete;
  NumpyReader& operator=(const NumpyReader&) = delete;

  bool Ready() const { return ready_; }
  // Seconds of n reads, 0 when the child failed.
  double Reads(int n) {
    double seconds = 0;
    if (!ready_ || std::fprintf(to_, "%d\n", n) < 0 || std::fflush(to_) != 0 ||
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
  auto krvoRead = [&] {
    LogRecords.Clear();
    CZELMeterObj::ReadDataLogFile(5, path);
  };
  auto batch = [](const std::function<void()>& read) {
    const auto t0 = Clock::now();
    for (int i = 0; i < kBatch; ++i) read();
    return Since(t0);
  };
  std::vector<std::string> python = {"/usr/bin/python3", KRVO_BENCH_DIR "/numpy_dat_reader.py",
                                     path};
  for (uint16_t id : keys) python.push_back(std::to_string(static_cast<int>(KeyDivisor(id))));
  signal(SIGPIPE, SIG_IGN);  // a numpy reader that died is a failed batch, not our end
  NumpyReader numpy(python);

  // A batch of each side in turn, the order rotating, so that load from
  // elsewhere on the machine falls on all alike; each round gives one ratio
  // of each pair of sides, and the medians of them are the results.
  plainRead();  // into the page cache
  krvoRead();
  std::vector<double> plainRates, krvoRates, numpyRates, plainVsKrvo, krvoVsNumpy;
  const auto start = Clock::now();
  for (int round = 0; round < 3 || Since(start) < kSeconds; ++round) {
    double p = 0, k = 0, n = 0;
    for (int side = 0; side < 3; ++side) {
      switch ((round + side) % 3) {
        case 0:
          p = batch(plainRead);
          break;
        case 1:
          k = batch(krvoRead);
          break;
        default:
          n = numpy.Reads(kBatch);
          break;
      }
    }
    if (LogRecords.Count() != kRecords) {
      std::fprintf(stderr, "read %zu records, expected %d\n", LogRecords.Count(), kRecords);
      return 1;
    }
    plainRates.push_back(kBatch * mb / p);
    krvoRates.push_back(kBatch * mb / k);
    plainVsKrvo.push_back(k / p);
    if (n > 0) {
      numpyRates.push_back(kBatch * mb / n);
      krvoVsNumpy.push_back(n / k);
    }
  }

  std::printf("file_mb: %.1f\n", mb);
  std::printf("rounds: %zu\n", plainVsKrvo.size());
  std::printf("plain_read_mb_per_s: %.0f\n", Median(plainRates));
  std::printf("krvo_read_mb_per_s: %.0f\n", Median(krvoRates));
  std::printf("numpy_read_mb_per_s: %.0f\n", numpyRates.empty() ? 0.0 : Median(numpyRates));
  std::printf("ratio_plain_vs_krvo: %.2f\n", Median(plainVsKrvo));
  std::printf("ratio_krvo_vs_numpy: %.2f\n", krvoVsNumpy.empty() ? 0.0 : Median(krvoVsNumpy));
  return 0;
}
