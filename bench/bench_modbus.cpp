// Register reads per second against one krvo-sim on loopback: the meter
// object's request cycle and libmodbus's own client on the same registers,
// in alternating batches.
#include <modbus/modbus.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "meter/ZelDef.h"
#include "tests/support/Process.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kSeconds = 8.0;  // both sides together
constexpr int kBatch = 100;       // reads per batch, one side at a time
constexpr uint16_t kStart = 50000;
constexpr uint16_t kCount = 120;

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Seconds one batch of reads takes.
template <typename F>
double Batch(F read, long& failures) {
  const auto t0 = Clock::now();
  for (int i = 0; i < kBatch; ++i)
    if (!read()) ++failures;
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

}  // namespace

int main() {
  SimProcess sim;
  const int port = sim.ModbusPort();

  CSocketClientComm comm("127.0.0.1", std::to_string(port));
  if (comm.openport() != 1) {
    std::fprintf(stderr, "cannot connect to krvo-sim\n");
    return 1;
  }
  CStringListMemo memo;
  CZELMeterObj meter(comm, memo);
  TModbusBuffer reply{};
  modbus_t* ctx = modbus_new_tcp("127.0.0.1", port);
  if (ctx == nullptr || modbus_connect(ctx) != 0) {
    std::fprintf(stderr, "libmodbus cannot connect to krvo-sim\n");
    return 1;
  }
  uint16_t regs[kCount];
  auto krvoRead = [&] { return meter.ReadRegisters(3, kStart, reply, kCount); };
  auto libRead = [&] { return modbus_read_registers(ctx, kStart, kCount, regs) == kCount; };

  // Short batches of the two sides in turn against the same simulator, so
  // that load from elsewhere on the machine falls on both alike; each pair
  // gives one ratio, and the median of them is the result.
  long krvoFailures = 0, mbFailures = 0, warm = 0;
  Batch(krvoRead, warm);
  Batch(libRead, warm);
  std::vector<double> krvoRates, libRates, ratios;
  const auto t0 = Clock::now();
  for (int pair = 0; std::chrono::duration<double>(Clock::now() - t0).count() < kSeconds; ++pair) {
    double k = 0, l = 0;
    if (pair % 2 == 0) {  // alternate which side goes first
      k = Batch(krvoRead, krvoFailures);
      l = Batch(libRead, mbFailures);
    } else {
      l = Batch(libRead, mbFailures);
      k = Batch(krvoRead, krvoFailures);
    }
    krvoRates.push_back(kBatch / k);
    libRates.push_back(kBatch / l);
    ratios.push_back(l / k);
  }
  comm.closeport();
  modbus_close(ctx);
  modbus_free(ctx);

  const double krvo = Median(krvoRates), lib = Median(libRates);
  std::printf("registers_per_read: %d\n", kCount);
  std::printf("pairs: %zu\n", ratios.size());
  std::printf("krvo_reads_per_s: %.0f\n", krvo);
  std::printf("krvo_us_per_read: %.1f\n", 1e6 / krvo);
  std::printf("krvo_failures: %ld\n", krvoFailures);
  std::printf("libmodbus_reads_per_s: %.0f\n", lib);
  std::printf("libmodbus_us_per_read: %.1f\n", 1e6 / lib);
  std::printf("libmodbus_failures: %ld\n", mbFailures);
  std::printf("ratio_krvo_vs_libmodbus: %.2f\n", Median(ratios));
  return 0;
}
