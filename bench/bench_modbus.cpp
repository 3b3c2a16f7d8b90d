// Register reads per second against one krvo-sim on loopback: the meter
// object's request cycle, then libmodbus's own client on the same registers.
#include <modbus/modbus.h>

#include <chrono>
#include <cstdio>

#include "meter/ZelDef.h"
#include "tests/support/Process.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kSeconds = 4.0;
constexpr uint16_t kStart = 50000;
constexpr uint16_t kCount = 120;

template <typename F>
double ReadsPerSecond(F read, long& failures) {
  for (int i = 0; i < 200; ++i) read();  // warm up
  long n = 0;
  const auto t0 = Clock::now();
  double elapsed = 0;
  do {
    for (int i = 0; i < 100; ++i, ++n)
      if (!read()) ++failures;
    elapsed = std::chrono::duration<double>(Clock::now() - t0).count();
  } while (elapsed < kSeconds);
  return n / elapsed;
}

}  // namespace

int main() {
  SimProcess sim;
  const int port = sim.ModbusPort();

  long krvoFailures = 0;
  CSocketClientComm comm("127.0.0.1", std::to_string(port));
  if (comm.openport() != 1) {
    std::fprintf(stderr, "cannot connect to krvo-sim\n");
    return 1;
  }
  CStringListMemo memo;
  CZELMeterObj meter(comm, memo);
  TModbusBuffer reply{};
  const double krvo =
      ReadsPerSecond([&] { return meter.ReadRegisters(3, kStart, reply, kCount); }, krvoFailures);
  comm.closeport();

  long mbFailures = 0;
  modbus_t* ctx = modbus_new_tcp("127.0.0.1", port);
  if (ctx == nullptr || modbus_connect(ctx) != 0) {
    std::fprintf(stderr, "libmodbus cannot connect to krvo-sim\n");
    return 1;
  }
  uint16_t regs[kCount];
  const double lib = ReadsPerSecond(
      [&] { return modbus_read_registers(ctx, kStart, kCount, regs) == kCount; }, mbFailures);
  modbus_close(ctx);
  modbus_free(ctx);

  std::printf("registers_per_read: %d\n", kCount);
  std::printf("krvo_reads_per_s: %.0f\n", krvo);
  std::printf("krvo_us_per_read: %.1f\n", 1e6 / krvo);
  std::printf("krvo_failures: %ld\n", krvoFailures);
  std::printf("libmodbus_reads_per_s: %.0f\n", lib);
  std::printf("libmodbus_us_per_read: %.1f\n", 1e6 / lib);
  std::printf("libmodbus_failures: %ld\n", mbFailures);
  std::printf("ratio_krvo_vs_libmodbus: %.2f\n", krvo / lib);
  return 0;
}
