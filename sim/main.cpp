// krvo-sim: a KRVO meter on loopback for the demo and the tests.
#include <modbus/modbus.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>

#include "sim/FtpServer.h"
#include "sim/LogWriter.h"
#include "sim/MeterImage.h"
#include "sim/ModbusServer.h"
#include "sim/SimOptions.h"

namespace {

std::atomic<bool> g_stop{false};
void OnSignal(int) { g_stop.store(true); }

// "Y-M-D" or "Y-M-D H:M" in local time; false when it is neither.
bool ParseLocalTime(const std::string& text, time_t& out) {
  tm t{};
  int y = 0, mo = 0, d = 0, h = 0, mi = 0;
  const int n = std::sscanf(text.c_str(), "%d-%d-%d %d:%d", &y, &mo, &d, &h, &mi);
  if (n != 3 && n != 5) return false;
  t.tm_year = y - 1900;
  t.tm_mon = mo - 1;
  t.tm_mday = d;
  t.tm_hour = h;
  t.tm_min = mi;
  t.tm_isdst = -1;
  out = mktime(&t);
  return out != static_cast<time_t>(-1);
}

void BlockStopSignals() {
  // SIGTERM and SIGINT are only delivered inside the server's wait.
  sigset_t block;
  sigemptyset(&block);
  sigaddset(&block, SIGTERM);
  sigaddset(&block, SIGINT);
  sigprocmask(SIG_BLOCK, &block, nullptr);
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(SimUsage(), stdout);
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0 || std::strcmp(argv[i], "-V") == 0) {
      std::printf("krvo-sim %s\n", KRVO_VERSION);
      return 0;
    }
  }
  SimOptions options;
  std::string error;
  if (!ParseSimOptions(argc, argv, options, error)) {
    std::fprintf(stderr, "krvo-sim: %s\n%s", error.c_str(), SimUsage());
    return 2;
  }
  LogWriterOptions logs;
  logs.RecordsPerGroup = options.Records;
  logs.Seed = options.Seed;
  if (!options.LogStart.empty() && !ParseLocalTime(options.LogStart, logs.Start)) {
    std::fprintf(stderr, "krvo-sim: --log-start needs Y-M-D or Y-M-D H:M\n");
    return 2;
  }
  bool ownRoot = false;
  if (options.DataRoot.empty()) {
    char tmpl[] = "/tmp/krvo-sim-XXXXXX";
    if (mkdtemp(tmpl) == nullptr) {
      std::fprintf(stderr, "krvo-sim: cannot make a temporary folder\n");
      return 1;
    }
    options.DataRoot = tmpl;
    ownRoot = true;
  }
  logs.Root = options.DataRoot;
  if (!WriteDataLogTree(options.Profile, logs, error)) {
    std::fprintf(stderr, "krvo-sim: %s\n", error.c_str());
    return 1;
  }

  BlockStopSignals();
  modbus_mapping_t* mapping = modbus_mapping_new(0, 0, 65536, 0);
  if (mapping == nullptr) {
    std::fprintf(stderr, "krvo-sim: out of memory\n");
    return 1;
  }
  MeterImage image(mapping->tab_registers);
  image.LoadIdentity(options.Identity);
  image.LoadProfile(options.Profile);

  int rc = 0;
  {
    ModbusServer modbus(options.Faults, mapping);
    FtpServer ftp(options.Ftp, options.DataRoot);
    if (!modbus.Listen(options.ModbusPort, error)) {
      std::fprintf(stderr, "krvo-sim: cannot listen on 127.0.0.1:%d: %s\n", options.ModbusPort,
                   error.c_str());
      rc = 1;
    } else if (options.Ftp.Port >= 0 && !ftp.Start(error)) {
      std::fprintf(stderr, "krvo-sim: cannot listen for FTP on 127.0.0.1:%d: %s\n",
                   options.Ftp.Port, error.c_str());
      rc = 1;
    } else {
      std::printf("krvo-sim: listening on 127.0.0.1 modbus %d ftp %d data %s\n", modbus.Port(),
                  options.Ftp.Port >= 0 ? ftp.Port() : 0, options.DataRoot.c_str());
      std::fflush(stdout);
      modbus.Run(g_stop, [&image] { image.UpdateClock(); });
    }
  }
  modbus_mapping_free(mapping);
  if (ownRoot) {
    std::error_code ec;
    std::filesystem::remove_all(options.DataRoot, ec);
  }
  return rc;
}
