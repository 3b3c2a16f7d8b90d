#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "cli/CliArgs.h"
#include "cli/Commands.h"
#include "cli/DataDir.h"
#include "meter/DataFolder.h"

const char* const kFleetUsage =
    "usage: krvo fleet FILE [--jobs N] [--json] [--data-dir DIR]\n"
    "                  [--pace-ms MS] [--timeout S] [--low-speed BYTES] [--no-workbook]\n"
    "                  [--db URL]\n"
    "  Syncs every meter that FILE lists, one per line as HOST [MODBUS_PORT\n"
    "  [FTP_PORT]] ('#' starts a comment), each in a krvo sync of its own, at\n"
    "  most N at a time (4). Each meter's progress and errors go to\n"
    "  DATA/logs/HOST_PORT.log. Prints one line per meter: HOST:MODBUS_PORT,\n"
    "  device, files fetched, files kept, records, seconds, and ok or\n"
    "  failed: REASON (TAB-separated), or with --json one JSON object per line.\n"
    "  --db URL: each sync loads its records into that one database.\n"
    "  Exit 0 when every meter succeeded.\n";

namespace {

using Clock = std::chrono::steady_clock;

struct Meter {
  std::string Host;
  int ModbusPort = 502;
  int FtpPort = 21;
  // Results.
  pid_t Pid = -1;
  Clock::time_point Start;
  double Seconds = 0;
  bool Ok = false;
  bool HasDevice = false;
  std::string Device;
  long Fetched = 0, Kept = 0, Records = 0;
  std::string Error;
  std::string Id() const { return Host + ":" + std::to_string(ModbusPort); }
};

bool ParsePort(const std::string& text, int& port) {
  char* end = nullptr;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || v < 1 || v > 65535) return false;
  port = static_cast<int>(v);
  return true;
}

// The meters of FILE; a file that can't be read or has a bad line is the
// operation's failure, not a usage error. Empty when read, else why not.
std::string ReadFleet(const std::string& path, std::vector<Meter>& meters) {
  std::ifstream in(path);
  if (!in) return "Cannot read " + path + ": " + std::strerror(errno);
  std::string line;
  for (int n = 1; std::getline(in, line); ++n) {
    if (const size_t hash = line.find('#'); hash != std::string::npos) line.erase(hash);
    std::istringstream fields(line);
    std::vector<std::string> f;
    for (std::string x; fields >> x;) f.push_back(x);
    if (f.empty()) continue;
    const std::string where = path + ":" + std::to_string(n) + ": ";
    if (f.size() > 3) return where + "HOST [MODBUS_PORT [FTP_PORT]] expected";
    Meter m;
    m.Host = f[0];
    for (size_t i = 1; i < f.size(); ++i)
      if (!ParsePort(f[i], i == 1 ? m.ModbusPort : m.FtpPort))
        return where + "'" + f[i] + "' is no port from 1 to 65535";
    meters.push_back(m);
  }
  if (in.bad()) return "Cannot read " + path + ": " + std::strerror(errno);
  return "";
}

std::string SelfPath() {
  char buf[4096];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, static_cast<size_t>(n)) : "krvo";
}

// The last line of a child's log, from its last 64 kB; a log that is no
// regular file (a FIFO, a link planted in DATA/logs) is not read.
std::string LastLine(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return "";
  struct stat st {};
  std::string text;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    const off_t tail = 65536;
    const off_t from = st.st_size > tail ? st.st_size - tail : 0;
    text.resize(static_cast<size_t>(st.st_size - from));
    const ssize_t n = pread(fd, text.data(), text.size(), from);
    text.resize(n > 0 ? static_cast<size_t>(n) : 0);
  }
  ::close(fd);
  std::istringstream in(text);
  std::string line, last;
  while (std::getline(in, line)) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    // A progress line drawn over itself keeps only what was drawn last.
    if (const size_t cr = line.rfind('\r'); cr != std::string::npos) line.erase(0, cr + 1);
    if (!line.empty()) last = line;
  }
  return last;
}

constexpr const char* kRunPrefix = ".fleet-run-";

// Removes the run folders (".fleet-run-PID-XXXXXX") that fleets killed
// meanwhile left in base: those whose process is gone. Only real folders
// directly in base; a link of that name is not ours and is left alone.
void RemoveDeadRuns(const std::string& base) {
  DIR* dir = opendir(base.c_str());
  if (dir == nullptr) return;
  std::vector<std::string> dead;
  const std::string prefix = kRunPrefix;
  while (const dirent* e = readdir(dir)) {
    const std::string name = e->d_name;
    if (name.compare(0, prefix.size(), prefix) != 0) continue;
    char* end = nullptr;
    const long pid = std::strtol(name.c_str() + prefix.size(), &end, 10);
    if (pid <= 0 || end == name.c_str() + prefix.size() || *end != '-') continue;
    if (kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM) continue;  // still running
    struct stat st {};
    if (lstat((base + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) dead.push_back(base + name);
  }
  closedir(dir);
  for (const std::string& path : dead) {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);  // removes links inside, never what they point at
  }
}

// Opens a file for a child's output: never through a link, never a FIFO or
// a device; /dev/null when the file can't be had.
int OpenOutput(const std::string& path) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
  struct stat st {};
  if (fd >= 0 && (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || ftruncate(fd, 0) != 0)) {
    ::close(fd);
    fd = -1;
  }
  if (fd < 0) fd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  return fd;
}

// Starts argv as a child that dies with this process: a killed fleet must
// not leave its syncs running. -1 when it can't be started.
pid_t StartChild(std::vector<std::string>& argv, const std::string& outPath,
                 const std::string& errPath) {
  std::vector<char*> cargv;
  for (std::string& a : argv) cargv.push_back(a.data());
  cargv.push_back(nullptr);
  const int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  const int out = OpenOutput(outPath), err = OpenOutput(errPath);
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid == 0) {
    // The parent may have died before the signal was asked for: then it's gone already.
    if (prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || getppid() != parent) _exit(127);
    if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0)
      _exit(127);
    execv(cargv[0], cargv.data());
    _exit(127);
  }
  for (int fd : {in, out, err})
    if (fd >= 0) ::close(fd);
  return pid;
}

// A JSON string; bytes that are not UTF-8 (a host name from FILE, a log's
// line) become U+FFFD rather than make the line invalid JSON.
std::string Json(const std::string& s) {
  return nlohmann::json(s).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string Tsv(std::string s) {
  for (char& c : s)
    if (c == '\t' || c == '\n' || c == '\r') c = ' ';
  return s;
}

}  // namespace

int CmdFleet(int argc, char** argv) {
  CliArgs args(argc, argv, 2,
               {"--jobs", "--data-dir", "--pace-ms", "--timeout", "--low-speed", "--db"},
               {"--json", "--no-workbook"});
  if (args.Help()) {
    std::fputs(kFleetUsage, stdout);
    return 0;
  }
  if (args.Positional().size() != 1) throw UsageError{"one FILE is needed"};
  const int jobs = static_cast<int>(args.Number("--jobs", 1, 256, 4));
  std::vector<Meter> meters;
  if (const std::string error = ReadFleet(args.Positional()[0], meters); !error.empty()) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  ApplyDataDir(args);
  const std::string base = BaseFolder();
  const std::string logs = base + "logs/";
  if (!ForceFolders(logs)) {
    std::fprintf(stderr, "Cannot make a folder in %s: %s\n", base.c_str(), std::strerror(errno));
    return 1;
  }
  RemoveDeadRuns(base);
  // The run's own folder: the claims of device names, the children's
  // reports; named with this process's id, so a later run can tell it is left over.
  std::string runTemplate = base + kRunPrefix + std::to_string(getpid()) + "-XXXXXX";
  if (mkdtemp(runTemplate.data()) == nullptr) {
    std::fprintf(stderr, "Cannot make a folder in %s: %s\n", base.c_str(), std::strerror(errno));
    return 1;
  }
  const std::string run = runTemplate + "/";
  ForceFolders(run + "claims/");

  std::vector<std::string> passOn;
  for (const char* o : {"--pace-ms", "--timeout", "--low-speed", "--db"})
    if (const auto v = args.Value(o)) passOn.insert(passOn.end(), {o, *v});
  if (args.Has("--no-workbook")) passOn.push_back("--no-workbook");

  const std::string self = SelfPath();
  std::map<pid_t, size_t> running;
  size_t next = 0;
  auto start = [&](size_t i) {
    Meter& m = meters[i];
    const std::string tag = std::to_string(i);
    std::vector<std::string> a = {self,          "sync",
                                  "--host",      m.Host,
                                  "--port",      std::to_string(m.ModbusPort),
                                  "--ftp-port",  std::to_string(m.FtpPort),
                                  "--data-dir",  base,
                                  "--claim-dir", run + "claims",
                                  "--report",    run + tag + ".report"};
    a.insert(a.end(), passOn.begin(), passOn.end());
    std::string logName = SafePathComponent(m.Host + "_" + std::to_string(m.ModbusPort)) + ".log";
    m.Start = Clock::now();
    m.Pid = StartChild(a, run + tag + ".out", logs + logName);
    if (m.Pid < 0) {
      m.Error = "cannot start krvo sync";
    } else {
      running[m.Pid] = i;
    }
  };
  auto finish = [&](size_t i, int status) {
    Meter& m = meters[i];
    const std::string tag = std::to_string(i);
    m.Seconds = std::chrono::duration<double>(Clock::now() - m.Start).count();
    std::ifstream report(run + tag + ".report");
    std::string word, read;
    if (report >> word >> read && word == "device" && read == "1") {
      report.get();
      std::getline(report, m.Device);
      m.HasDevice = true;
    }
    std::ifstream out(run + tag + ".out");
    for (std::string line; std::getline(out, line);) {
      long fetched = 0, records = 0, kept = 0;
      int g = 0;
      if (std::sscanf(line.c_str(), "Group %d\t%ld\t%ld\t%ld", &g, &fetched, &records, &kept) ==
          4) {
        m.Fetched += fetched;
        m.Records += records;
        m.Kept += kept;
      }
    }
    m.Ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!m.Ok) {
      m.Error =
          LastLine(logs + SafePathComponent(m.Host + "_" + std::to_string(m.ModbusPort)) + ".log");
      if (m.Error.empty())
        m.Error = WIFEXITED(status) ? "exit code " + std::to_string(WEXITSTATUS(status)) : "killed";
    }
  };

  while (next < meters.size() || !running.empty()) {
    while (next < meters.size() && static_cast<int>(running.size()) < jobs) start(next++);
    if (running.empty()) continue;
    int status = 0;
    const pid_t pid = waitpid(-1, &status, 0);
    if (pid < 0) break;
    auto it = running.find(pid);
    if (it == running.end()) continue;
    finish(it->second, status);
    running.erase(it);
  }
  std::error_code ec;
  std::filesystem::remove_all(runTemplate, ec);

  bool allOk = true;
  for (const Meter& m : meters) {
    allOk = allOk && m.Ok;
    if (args.Has("--json")) {
      std::printf(
          "{\"host\": %s, \"modbus_port\": %d, \"ftp_port\": %d, \"device\": %s, \"fetched\": %ld, "
          "\"kept\": %ld, \"records\": %ld, \"seconds\": %.1f, \"ok\": %s, \"error\": %s}\n",
          Json(m.Host).c_str(), m.ModbusPort, m.FtpPort,
          m.HasDevice ? Json(m.Device).c_str() : "null", m.Fetched, m.Kept, m.Records, m.Seconds,
          m.Ok ? "true" : "false", m.Ok ? "null" : Json(m.Error).c_str());
    } else {
      std::printf("%s\t%s\t%ld\t%ld\t%ld\t%.1f\t%s\n", m.Id().c_str(),
                  Tsv(m.HasDevice ? m.Device : "").c_str(), m.Fetched, m.Kept, m.Records, m.Seconds,
                  m.Ok ? "ok" : ("failed: " + Tsv(m.Error)).c_str());
    }
  }
  return allOk ? 0 : 1;
}
