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
  // Every wait of a command: each connect, each reply (never longer than the
  // session's own limit) and a silent data connection.
  const int limitMs = static_cast<int>(args.Number("--timeout", 1, 86400, 60)) * 1000;
  client.DataIdleTimeout = limitMs;
  client.ConnectTimeout = limitMs;
  if (client.ReadTimeout > limitMs) client.ReadTimeout = limitMs;
  // A server that trickles keeps every wait short and a transfer going for
  // days: below --low-speed bytes/s (1024) over the same time, it fails.
  client.LowSpeedLimit = args.Number("--low-speed", 0, 1L << 40, 1024);
  client.LowSpeedTime = limitMs;
  CatchInterrupt();
  client.Pump = [] { return Interrupted(); };
  if (args.Has("--verbose")) {
    client.OnStatus = [](TFtpStatus, const std::string& text) {
      std::fprintf(stderr, "%s\n", text.c_str());
    };
  }
}
