#include "sim/SimOptions.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool ToLong(const char* text, long lo, long hi, long& out) {
  if (text == nullptr || *text == '\0') return false;
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(text, &end, 10);
  if (*end != '\0' || errno != 0 || v < lo || v > hi) return false;
  out = v;
  return true;
}

}  // namespace

const char* SimUsage() {
  return "usage: krvo-sim [--port N] [identity options] [fault switches]\n"
         "  --port N               Modbus TCP port on 127.0.0.1 (0 = any free port; default 0)\n"
         "identity:\n"
         "  --model TEXT           model text (at most 40 bytes)\n"
         "  --firmware-version N   firmware version as MMmmpp (10203 = V1.02.03)\n"
         "  --modbus-version N     Modbus map version in tenths\n"
         "  --web-version N        web pages version in tenths\n"
         "  --firmware-date Y-M-D  firmware date (values are sent as given)\n"
         "  --serial N             serial number\n"
         "faults:\n"
         "  --stop-after N         answer nothing after N requests\n"
         "  --close-after N        close the connection on each request after the first N\n"
         "  --wrong-tid            answer with a transaction id one above the request's\n"
         "  --exception            answer every read with an exception reply (0x83)\n"
         "  --cut-after K          send only the first K bytes of every reply\n"
         "  --delay MS             delay every reply by MS milliseconds\n";
}

bool ParseSimOptions(int argc, char** argv, SimOptions& o, std::string& error) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
    long n = 0;
    auto number = [&](long lo, long hi) {
      if (!ToLong(v, lo, hi, n)) {
        error = "bad value for " + a;
        return false;
      }
      ++i;
      return true;
    };
    if (a == "--port") {
      if (!number(0, 65535)) return false;
      o.ModbusPort = static_cast<int>(n);
    } else if (a == "--model") {
      if (v == nullptr || std::strlen(v) > 40) { error = "--model needs a text of at most 40 bytes"; return false; }
      o.Identity.Model = v;
      ++i;
    } else if (a == "--firmware-version") {
      if (!number(0, 65535)) return false;
      o.Identity.FirmwareVersion = static_cast<uint16_t>(n);
    } else if (a == "--modbus-version") {
      if (!number(0, 65535)) return false;
      o.Identity.ModbusVersion = static_cast<uint16_t>(n);
    } else if (a == "--web-version") {
      if (!number(0, 65535)) return false;
      o.Identity.WebVersion = static_cast<uint16_t>(n);
    } else if (a == "--firmware-date") {
      int y, m, d;
      if (v == nullptr || std::sscanf(v, "%d-%d-%d", &y, &m, &d) != 3) { error = "--firmware-date needs Y-M-D"; return false; }
      o.Identity.FirmwareYear = y;
      o.Identity.FirmwareMonth = m;
      o.Identity.FirmwareDay = d;
      ++i;
    } else if (a == "--serial") {
      if (!number(0, 4294967295L)) return false;
      o.Identity.SerialNumber = static_cast<uint32_t>(n);
    } else if (a == "--stop-after") {
      if (!number(0, 1L << 30)) return false;
      o.Faults.StopAfter = n;
    } else if (a == "--close-after") {
      if (!number(0, 1L << 30)) return false;
      o.Faults.CloseAfter = n;
    } else if (a == "--wrong-tid") {
      o.Faults.WrongTid = true;
    } else if (a == "--exception") {
      o.Faults.Exception = true;
    } else if (a == "--cut-after") {
      if (!number(0, 1000)) return false;
      o.Faults.CutAfter = n;
    } else if (a == "--delay") {
      if (!number(0, 600000)) return false;
      o.Faults.DelayMs = n;
    } else {
      error = "unknown option " + a;
      return false;
    }
  }
  return true;
}
