// Fetching a 200 MB file on loopback from krvo-sim's FTP server (sendfile):
// TFtpClient::FetchFile against curl on the same server and file, in
// alternating pairs.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "retrieval/FtpClient.h"
#include "tests/support/Process.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t kBytes = 200u * 1000 * 1000;
constexpr double kSeconds = 24.0;  // both sides together
constexpr int kMaxPairs = 41;

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double Since(Clock::time_point t0) {
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

}  // namespace

int main() {
  namespace fs = std::filesystem;
  TempDir dir;
  const std::string root = dir.Path() + "/sim";
  SimProcess sim({"--data-root", root, "--records", "1"});
  {
    std::ofstream out(root + "/DataLog/Group1/big.dat", std::ios::binary);
    std::vector<char> chunk(1 << 20);
    for (size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<char>(i * 7);
    for (size_t done = 0; done < kBytes; done += chunk.size())
      out.write(chunk.data(), static_cast<std::streamsize>(std::min(chunk.size(), kBytes - done)));
  }
  // Fetched into memory where the machine has it: writing 200 MB to a disk
  // again and again would measure the disk's write-back, not the two clients.
  std::string local = dir.Path() + "/got.dat";
  if (fs::is_directory("/dev/shm"))
    local = "/dev/shm/krvo-bench-ftp-" + std::to_string(getpid()) + ".dat";
  struct Remove {
    const std::string& path;
    ~Remove() { std::remove(path.c_str()); }
  } removeLocal{local};
  const double mb = kBytes / 1e6;

  // Seconds of one fetch by each side; false when it failed.
  auto krvoFetch = [&](double& seconds) {
    TFtpClient ftp;
    ftp.Host = "127.0.0.1";
    ftp.Port = sim.FtpPort();
    ftp.Username = "anonymous";
    ftp.Password = "bench@localhost";
    ftp.OpenSession();
    ftp.ChangeFolder("/DataLog/Group1");
    const auto t0 = Clock::now();
    ftp.FetchFile("big.dat", local);
    seconds = Since(t0);
    ftp.CloseSession();
    if (fs::file_size(local) == kBytes) return true;
    std::fprintf(stderr, "FetchFile got %ju bytes\n", static_cast<uintmax_t>(fs::file_size(local)));
    return false;
  };
  const std::string cmd = "curl -s -o " + local +
                          " ftp://127.0.0.1:" + std::to_string(sim.FtpPort()) +
                          "/DataLog/Group1/big.dat";
  auto curlFetch = [&](double& seconds) {
    const auto t0 = Clock::now();
    const int status = std::system(cmd.c_str());
    seconds = Since(t0);
    if (status != 0) std::fprintf(stderr, "curl failed (status %d)\n", status);
    return status == 0;
  };

  // One fetch of each side in turn, the order alternating, so that load from
  // elsewhere on the machine falls on both alike; each pair gives one ratio,
  // and the median of them is the result.
  // A pair with a failed fetch is left out.
  std::vector<double> krvo, curl, ratios;
  int failed = 0;
  const auto start = Clock::now();
  for (int pair = 0; pair < kMaxPairs && (pair < 3 || Since(start) < kSeconds); ++pair) {
    double k = 0, c = 0;
    const bool ok = pair % 2 == 0 ? krvoFetch(k) && curlFetch(c) : curlFetch(c) && krvoFetch(k);
    if (!ok) {
      if (++failed > kMaxPairs / 2) return 1;
      continue;
    }
    krvo.push_back(mb / k);
    curl.push_back(mb / c);
    ratios.push_back(c / k);
  }
  if (ratios.empty()) return 1;
  std::printf("file_mb: %.0f\n", mb);
  std::printf("pairs: %zu\n", ratios.size());
  std::printf("failed_pairs: %d\n", failed);
  std::printf("krvo_fetch_mb_per_s: %.0f\n", Median(krvo));
  std::printf("curl_fetch_mb_per_s: %.0f\n", Median(curl));
  std::printf("ratio_krvo_vs_curl: %.2f\n", Median(ratios));
  return 0;
}
