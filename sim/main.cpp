// krvo-sim: a KRVO meter on loopback for the demo and the tests.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <modbus/modbus.h>
#include <string>

#include "sim/MeterImage.h"
#include "sim/ModbusServer.h"
#include "sim/SimOptions.h"

namespace {
std::atomic<bool> g_stop{false};
void OnSignal(int) { g_stop.store(true); }
}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0) {
      std::fputs(SimUsage(), stdout);
      return 0;
    }
  }
  SimOptions options;
  std::string error;
  if (!ParseSimOptions(argc, argv, options, error)) {
    std::fprintf(stderr, "krvo-sim: %s\n%s", error.c_str(), SimUsage());
    return 2;
  }

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

  modbus_mapping_t* mapping = modbus_mapping_new(0, 0, 65536, 0);
  if (mapping == nullptr) {
    std::fprintf(stderr, "krvo-sim: out of memory\n");
    return 1;
  }
  MeterImage image(mapping->tab_registers);
  image.LoadIdentity(options.Identity);

  int rc = 0;
  {
    ModbusServer modbus(options.Faults, mapping);
    if (!modbus.Listen(options.ModbusPort, error)) {
      std::fprintf(stderr, "krvo-sim: cannot listen on 127.0.0.1:%d: %s\n", options.ModbusPort,
                   error.c_str());
      rc = 1;
    } else {
      std::printf("krvo-sim: listening on 127.0.0.1 modbus %d\n", modbus.Port());
      std::fflush(stdout);
      modbus.Run(g_stop, [&image] { image.UpdateClock(); });
    }
  }
  modbus_mapping_free(mapping);
  return rc;
}
