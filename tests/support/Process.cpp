#include "tests/support/Process.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>

extern char** environ;

namespace {

struct Pipe {
  int r = -1, w = -1;
  Pipe() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    r = fds[0];
    w = fds[1];
  }
  ~Pipe() {
    if (r >= 0) close(r);
    if (w >= 0) close(w);
  }
};

std::vector<char*> CStrings(std::vector<std::string>& v) {
  std::vector<char*> out;
  for (auto& s : v) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

std::vector<std::string> MergedEnv(const std::vector<std::string>& extra) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('='));
    bool overridden = false;
    for (const auto& x : extra) overridden |= x.substr(0, x.find('=')) == name;
    if (!overridden) env.push_back(entry);
  }
  env.insert(env.end(), extra.begin(), extra.end());
  return env;
}

pid_t Spawn(std::vector<std::string> argv, const std::vector<std::string>& extraEnv, int in,
            int out, int err) {
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, in, 0);
  posix_spawn_file_actions_adddup2(&fa, out, 1);
  posix_spawn_file_actions_adddup2(&fa, err, 2);
  std::vector<std::string> env = MergedEnv(extraEnv);
  auto cargv = CStrings(argv);
  auto cenv = CStrings(env);
  pid_t pid = -1;
  int rc = posix_spawn(&pid, cargv[0], &fa, nullptr, cargv.data(), cenv.data());
  posix_spawn_file_actions_destroy(&fa);
  if (rc != 0) throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(rc));
  return pid;
}

int WaitExit(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

pid_t StartProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
  const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  const pid_t pid = Spawn(argv, env, null, null, null);
  ::close(null);
  return pid;
}

void KillProcess(pid_t pid) {
  kill(pid, SIGKILL);
  WaitExit(pid);
}

bool ProcessEnded(pid_t pid) {
  int status = 0;
  return waitpid(pid, &status, WNOHANG) == pid;
}

std::string KrvoPath() { return KRVO_BIN; }
std::string SimPath() { return KRVO_SIM_BIN; }

ProcessResult RunProcess(const std::vector<std::string>& argv,
                         const std::vector<std::string>& env) {
  Pipe out, err;
  int devnull = open("/dev/null", O_RDONLY | O_CLOEXEC);
  pid_t pid = Spawn(argv, env, devnull, out.w, err.w);
  close(devnull);
  close(out.w);
  out.w = -1;
  close(err.w);
  err.w = -1;

  ProcessResult result;
  pollfd fds[2] = {{out.r, POLLIN, 0}, {err.r, POLLIN, 0}};
  std::string* sinks[2] = {&result.Out, &result.Err};
  int open = 2;
  while (open > 0) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
      char buf[65536];
      ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        sinks[i]->append(buf, static_cast<size_t>(n));
      } else {
        fds[i].fd = -1;
        --open;
      }
    }
  }
  result.ExitCode = WaitExit(pid);
  return result;
}

namespace {
std::vector<std::string> WithSim(std::vector<std::string> args) {
  args.insert(args.begin(), SimPath());
  return args;
}
}  // namespace

ServerProcess::ServerProcess(const std::vector<std::string>& argv) {
  Pipe out;
  int devnull = open("/dev/null", O_RDONLY | O_CLOEXEC);
  pid_ = Spawn(argv, {}, devnull, out.w, 2);
  close(devnull);
  close(out.w);
  out.w = -1;
  char c;
  for (;;) {
    pollfd p{out.r, POLLIN, 0};
    if (poll(&p, 1, 10000) <= 0 || read(out.r, &c, 1) != 1) break;
    if (c == '\n') break;
    line_ += c;
  }
  if (line_.empty()) {
    Stop();
    throw std::runtime_error(argv[0] + " did not announce itself");
  }
}

int ServerProcess::Field(const std::string& key) const {
  const auto at = line_.find(" " + key + " ");
  return at == std::string::npos ? 0 : std::atoi(line_.c_str() + at + key.size() + 2);
}

int ServerProcess::Stop() {
  if (pid_ <= 0) return -1;
  kill(pid_, SIGTERM);
  int rc = WaitExit(pid_);
  pid_ = -1;
  return rc;
}

ServerProcess::~ServerProcess() { Stop(); }

SimProcess::SimProcess(const std::vector<std::string>& args) : ServerProcess(WithSim(args)) {
  if (ModbusPort() == 0) throw std::runtime_error("krvo-sim did not report a port: " + Line());
}

PyFtpdProcess::PyFtpdProcess(const std::string& folder)
    : ServerProcess({"/usr/bin/python3", KRVO_TEST_DIR "/support/pyftpd.py", folder}) {}

TempDir::TempDir() {
  char tmpl[] = "/tmp/krvo-test-XXXXXX";
  if (mkdtemp(tmpl) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string TestSourceDir() { return KRVO_TEST_DIR; }
