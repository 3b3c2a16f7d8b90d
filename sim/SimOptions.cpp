#include "sim/SimOptions.h"

#include <arpa/inet.h>

#include <cctype>
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
         "  -h, --help             print this help and exit\n"
         "  -V, --version          print the version and exit\n"
         "  --port N               Modbus TCP port on 127.0.0.1 (0 = any free port; default 0)\n"
         "identity:\n"
         "  --model TEXT           model text (at most 40 bytes)\n"
         "  --firmware-version N   firmware version as MMmmpp (10203 = V1.02.03)\n"
         "  --modbus-version N     Modbus map version in tenths\n"
         "  --web-version N        web pages version in tenths\n"
         "  --firmware-date Y-M-D  firmware date (values are sent as given)\n"
         "  --serial N             serial number\n"
         "  --clock \"Y-M-D H:M:S.mmm\"  a clock that stands still (values are sent as given)\n"
         "meter:\n"
         "  --device-name TEXT     device name (at most 40 bytes; default \"Panel A\")\n"
         "  --mains1-name TEXT     name of mains input I\n"
         "  --mains2-name TEXT     name of mains input II\n"
         "  --branch-name N=TEXT   name of branch circuit N (1-84)\n"
         "  --group G:SECONDS:IDS  group G (1-10) logs key ids IDS (comma-separated,\n"
         "                         at most 64, may be empty) every SECONDS; group G\n"
         "                         carries trigger type G, record type 10+G, record\n"
         "                         count 2879+G and time offset 30+G\n"
         "  --data-root DIR        write the DataLog tree into DIR (default: a temporary folder)\n"
         "  --records N            records per group that logs (default 192)\n"
         "  --log-start Y-M-D[ H:M] time of the first record (default: logs end now)\n"
         "  --seed N               seed of the simulated values\n"
         "ftp:\n"
         "  --ftp-port N           FTP port on 127.0.0.1 (0 = any free port, the default; -1 = "
         "none)\n"
         "  --ftp-list STYLE       listing style: unix (default), dos, nogroup\n"
         "  --ftp-greeting CODE    greet with CODE instead of 220, then close\n"
         "  --ftp-refuse-login     answer USER and PASS with 530\n"
         "  --ftp-user-230         log in at USER, without PASS\n"
         "  --ftp-idle-close MS    answer 421 and close a session idle for MS\n"
         "  --ftp-close-after-commands N  answer 421 and close each session after N commands\n"
         "  --ftp-426-after N      end each transfer with 426 after N bytes\n"
         "  --ftp-stall-after N    stall each data connection after N bytes\n"
         "  --ftp-trickle-ms MS    send a file's data one byte at a time, MS milliseconds apart\n"
         "  --ftp-close-during-transfer  close the control connection mid-transfer\n"
         "  --ftp-hold-reply CMD   answer CMD (e.g. LIST) only after 11 s\n"
         "  --ftp-early-226        send 150 and 226 in one write before the data\n"
         "  --ftp-pasv-host ADDR   the address that PASV replies name\n"
         "faults:\n"
         "  --stop-after N         answer nothing after N requests\n"
         "  --close-after N        close the connection on each request after the first N\n"
         "  --wrong-tid            answer with a transaction id one above the request's\n"
         "  --exception            answer every read with an exception reply (0x83)\n"
         "  --cut-after K          send only the first K bytes of every reply\n"
         "  --delay MS             delay every reply by MS milliseconds\n"
         "  --dribble MS           send every reply one byte at a time, MS milliseconds apart\n"
         "  --fail-start REG       answer reads that start at REG with an exception (repeatable)\n";
}

bool Text40(const char* v, std::string& out) {
  if (v == nullptr || std::strlen(v) > 40) return false;
  out = v;
  return true;
}

bool ParseGroup(const char* v, SimProfile& p) {
  if (v == nullptr) return false;
  const std::string text = v;
  const size_t a = text.find(':'), b = text.find(':', a == std::string::npos ? 0 : a + 1);
  if (a == std::string::npos || b == std::string::npos) return false;
  long g = 0, seconds = 0;
  if (!ToLong(text.substr(0, a).c_str(), 1, 10, g) ||
      !ToLong(text.substr(a + 1, b - a - 1).c_str(), 0, 4294967295L, seconds))
    return false;
  SimGroup& group = p.Groups[static_cast<size_t>(g - 1)];
  group.IntervalSeconds = static_cast<uint32_t>(seconds);
  group.Keys.clear();
  size_t at = b + 1;
  while (at < text.size()) {
    size_t comma = text.find(',', at);
    if (comma == std::string::npos) comma = text.size();
    long id = 0;
    if (!ToLong(text.substr(at, comma - at).c_str(), 0, 65535, id)) return false;
    group.Keys.push_back(static_cast<uint16_t>(id));
    at = comma + 1;
  }
  return group.Keys.size() <= 64;
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
      if (v == nullptr || std::strlen(v) > 40) {
        error = "--model needs a text of at most 40 bytes";
        return false;
      }
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
      if (v == nullptr || std::sscanf(v, "%d-%d-%d", &y, &m, &d) != 3) {
        error = "--firmware-date needs Y-M-D";
        return false;
      }
      o.Identity.FirmwareYear = y;
      o.Identity.FirmwareMonth = m;
      o.Identity.FirmwareDay = d;
      ++i;
    } else if (a == "--clock") {
      int y, mo, d, h, mi, sec, ms;
      if (v == nullptr ||
          std::sscanf(v, "%d-%d-%d %d:%d:%d.%d", &y, &mo, &d, &h, &mi, &sec, &ms) != 7 ||
          y < 2000 || y > 2255 || ms < 0 || ms > 65535) {
        error = "--clock needs \"Y-M-D H:M:S.mmm\" with Y from 2000 to 2255";
        return false;
      }
      o.Identity.Clock = v;
      const int bytes[6] = {y - 2000, mo, d, h, mi, sec};
      for (int k = 0; k < 6; ++k) o.Identity.ClockBytes[k] = bytes[k] & 0xFF;
      o.Identity.ClockMs = ms;
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
    } else if (a == "--dribble") {
      if (!number(1, 600000)) return false;
      o.Faults.DribbleMs = n;
    } else if (a == "--device-name" || a == "--mains1-name" || a == "--mains2-name") {
      std::string& target = a == "--device-name"   ? o.Profile.DeviceName
                            : a == "--mains1-name" ? o.Profile.MainsIName
                                                   : o.Profile.MainsIIName;
      if (!Text40(v, target)) {
        error = a + " needs a text of at most 40 bytes";
        return false;
      }
      ++i;
    } else if (a == "--branch-name") {
      const char* eq = v ? std::strchr(v, '=') : nullptr;
      long n = 0;
      if (eq == nullptr || !ToLong(std::string(v, eq).c_str(), 1, 84, n) ||
          !Text40(eq + 1, o.Profile.BranchNames[static_cast<size_t>(n - 1)])) {
        error = "--branch-name needs N=TEXT with N from 1 to 84";
        return false;
      }
      ++i;
    } else if (a == "--group") {
      if (!ParseGroup(v, o.Profile)) {
        error = "--group needs G:SECONDS:ID,ID,...";
        return false;
      }
      ++i;
    } else if (a == "--data-root") {
      if (v == nullptr || *v == '\0') {
        error = "--data-root needs a folder";
        return false;
      }
      o.DataRoot = v;
      ++i;
    } else if (a == "--records") {
      if (!number(0, 2000000)) return false;
      o.Records = n;
    } else if (a == "--log-start") {
      if (v == nullptr) {
        error = "--log-start needs Y-M-D";
        return false;
      }
      o.LogStart = v;
      ++i;
    } else if (a == "--seed") {
      if (!number(0, 1000000000)) return false;
      o.Seed = static_cast<unsigned>(n);
    } else if (a == "--ftp-port") {
      if (!number(-1, 65535)) return false;
      o.Ftp.Port = static_cast<int>(n);
    } else if (a == "--ftp-list") {
      if (v == nullptr ||
          (std::strcmp(v, "unix") && std::strcmp(v, "dos") && std::strcmp(v, "nogroup"))) {
        error = "--ftp-list needs unix, dos or nogroup";
        return false;
      }
      o.Ftp.ListStyle = v;
      ++i;
    } else if (a == "--ftp-greeting") {
      if (!number(100, 599)) return false;
      o.Ftp.GreetingCode = static_cast<int>(n);
    } else if (a == "--ftp-refuse-login") {
      o.Ftp.RefuseLogin = true;
    } else if (a == "--ftp-user-230") {
      o.Ftp.UserLogsIn = true;
    } else if (a == "--ftp-426-after") {
      if (!number(0, 1L << 40)) return false;
      o.Ftp.AbortAfter = n;
    } else if (a == "--ftp-stall-after") {
      if (!number(0, 1L << 40)) return false;
      o.Ftp.StallAfter = n;
    } else if (a == "--ftp-trickle-ms") {
      if (!number(1, 600000)) return false;
      o.Ftp.TrickleMs = n;
    } else if (a == "--ftp-close-during-transfer") {
      o.Ftp.CloseDuringTransfer = true;
    } else if (a == "--ftp-hold-reply") {
      if (v == nullptr || *v == '\0') {
        error = "--ftp-hold-reply needs a command";
        return false;
      }
      o.Ftp.HoldCommand = v;
      for (char& c : o.Ftp.HoldCommand)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      ++i;
    } else if (a == "--ftp-idle-close") {
      if (!number(0, 86400000)) return false;
      o.Ftp.IdleCloseMs = n;
    } else if (a == "--ftp-close-after-commands") {
      if (!number(1, 1L << 30)) return false;
      o.Ftp.CloseAfterCommands = n;
    } else if (a == "--ftp-early-226") {
      o.Ftp.Early226 = true;
    } else if (a == "--ftp-pasv-host") {
      in_addr addr{};
      if (v == nullptr || inet_pton(AF_INET, v, &addr) != 1) {
        error = "--ftp-pasv-host needs an IPv4 address";
        return false;
      }
      o.Ftp.PasvHost = v;
      ++i;
    } else if (a == "--fail-start") {
      if (!number(0, 65535)) return false;
      o.Faults.FailStarts.insert(static_cast<int>(n));
    } else {
      error = "unknown option " + a;
      return false;
    }
  }
  return true;
}
