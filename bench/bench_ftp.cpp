// Fetching a 200 MB file on loopback from krvo-sim's FTP server (sendfile):
// TFtpClient::FetchFile against curl on the same server and file.
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
constexpr int kRepeats = 5;

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
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
  const std::string local = dir.Path() + "/got.dat";
  const double mb = kBytes / 1e6;

  std::vector<double> krvo, curl;
  for (int i = 0; i < kRepeats; ++i) {
    TFtpClient ftp;
    ftp.Host = "127.0.0.1";
    ftp.Port = sim.FtpPort();
    ftp.Username = "anonymous";
    ftp.Password = "bench@localhost";
    ftp.OpenSession();
    ftp.ChangeFolder("/DataLog/Group1");
    const auto t0 = Clock::now();
    ftp.FetchFile("big.dat", local);
    krvo.push_back(mb / std::chrono::duration<double>(Clock::now() - t0).count());
    ftp.CloseSession();
    if (fs::file_size(local) != kBytes) {
      std::fprintf(stderr, "FetchFile got %ju bytes\n",
                   static_cast<uintmax_t>(fs::file_size(local)));
      return 1;
    }

    const std::string cmd = "curl -s -o " + local +
                            " ftp://127.0.0.1:" + std::to_string(sim.FtpPort()) +
                            "/DataLog/Group1/big.dat";
    const auto t1 = Clock::now();
    if (std::system(cmd.c_str()) != 0) {
      std::fprintf(stderr, "curl failed\n");
      return 1;
    }
    curl.push_back(mb / std::chrono::duration<double>(Clock::now() - t1).count());
  }
  std::printf("file_mb: %.0f\n", mb);
  std::printf("krvo_fetch_mb_per_s: %.0f\n", Median(krvo));
  std::printf("curl_fetch_mb_per_s: %.0f\n", Median(curl));
  std::printf("ratio_krvo_vs_curl: %.2f\n", Median(krvo) / Median(curl));
  return 0;
}
