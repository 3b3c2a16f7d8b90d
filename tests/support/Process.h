#pragma once
// Child processes for the tests: krvo-sim started on free loopback ports, and
// krvo run to completion with its output captured.
#include <string>
#include <sys/types.h>
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

class SimProcess {
 public:
  // Starts krvo-sim with the given extra arguments and waits for its
  // "listening" line; fails the test (throws) when it does not come.
  explicit SimProcess(const std::vector<std::string>& args = {});
  ~SimProcess();
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  int ModbusPort() const { return modbusPort_; }
  int FtpPort() const { return ftpPort_; }
  // Sends SIGTERM and returns the exit status (-1 when it did not end normally).
  int Stop();

 private:
  pid_t pid_ = -1;
  int modbusPort_ = 0;
  int ftpPort_ = 0;
};

std::string KrvoPath();
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
