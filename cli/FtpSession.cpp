#include "cli/FtpSession.h"

#include <atomic>
#include <csignal>
#include <cstdio>

namespace {

std::atomic<bool> g_interrupted{false};
void OnInterrupt(int) { g_interrupted.store(true); }

}  // namespace

bool Interrupted() { return g_interrupted.load(); }

void CatchInterrupt() {
  struct sigaction sa {};
  sa.sa_handler = OnInterrupt;
  sigaction(SIGINT, &sa, nullptr);
}

void ConfigureFtpClient(TFtpClient& client, const CliArgs& args) {
  client.Host = args.Require("--host");
  client.Port = args.Port("--ftp-port", 21);
  client.Username = "anonymous";
  client.Password = kAnonymousFtpPassword;
  client.Passive = true;
  client.DataIdleTimeout = static_cast<int>(args.Number("--timeout", 1, 86400, 60)) * 1000;
  CatchInterrupt();
  client.Pump = [] { return Interrupted(); };
  if (args.Has("--verbose")) {
    client.OnStatus = [](TFtpStatus, const std::string& text) {
      std::fprintf(stderr, "%s\n", text.c_str());
    };
  }
}
