#pragma once
// Child processes for the tests: krvo-sim started on free loopback ports, and
// krvo run to completion with its output captured.
#include <sys/types.h>

#include <string>
#include <vector>

struct ProcessResult {
  int ExitCode = -1;
  std::string Out;
  std::string Err;
};

// Runs argv[0] with the arguments and extra environment entries (NAME=VALUE),
// feeding nothing on stdin; waits for it to end.
ProcessResult RunProcess(const std::vector<std::string>& argv,
                         const std::vector<std::string>& env = {});

// Starts argv in the background, its output discarded; KillProcess ends it
// with SIGKILL and reaps it.
pid_t StartProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env = {});
void KillProcess(pid_t pid);
// True once the process has ended (reaped).
bool ProcessEnded(pid_t pid);

// A server process that announces itself with one line on stdout.
class ServerProcess {
 public:
  // Starts argv and waits (10 s at most) for its first line; throws when it
  // does not come.
  explicit ServerProcess(const std::vector<std::string>& argv);
  ~ServerProcess();
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  const std::string& Line() const { return line_; }
  // The number after " key " in the line, 0 when there is none.
  int Field(const std::string& key) const;
  // Sends SIGTERM and returns the exit status (-1 when it did not end normally).
  int Stop();

 private:
  pid_t pid_ = -1;
  std::string line_;
};

// krvo-sim with extra arguments, on free loopback ports.
class SimProcess : public ServerProcess {
 public:
  explicit SimProcess(const std::vector<std::string>& args = {});
  int ModbusPort() const { return Field("modbus"); }
  int FtpPort() const { return Field("ftp"); }
};

// pyftpdlib serving folder read-only to anonymous users, on a free port.
class PyFtpdProcess : public ServerProcess {
 public:
  explicit PyFtpdProcess(const std::string& folder);
  int Port() const { return Field("port"); }
};

// The arguments of a krvo subcommand that talks to a meter on loopback,
// without pauses by default.
inline std::vector<std::string> MeterCommand(const std::string& sub, int modbusPort, int ftpPort,
                                             const std::string& data,
                                             const std::string& pace = "0") {
  return {sub,
          "--host",
          "127.0.0.1",
          "--port",
          std::to_string(modbusPort),
          "--ftp-port",
          std::to_string(ftpPort),
          "--data-dir",
          data,
          "--pace-ms",
          pace};
}
inline std::vector<std::string> MeterCommand(const std::string& sub, const SimProcess& sim,
                                             const std::string& data,
                                             const std::string& pace = "0") {
  return MeterCommand(sub, sim.ModbusPort(), sim.FtpPort(), data, pace);
}

std::string KrvoPath();
// The tests' source folder (scripts and data beside the tests).
std::string TestSourceDir();
std::string SimPath();
// A fresh empty folder under /tmp, removed by the destructor.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};
