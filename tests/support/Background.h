#pragma once
// A child process left running while the test acts (holds a lock, changes a
// folder), its output kept in files to look at meanwhile, and what tells
// that it is blocked on a lock, without any timing.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/Files.h"
#include "tests/support/Process.h"

extern char** environ;

class BackgroundProcess {
 public:
  // Starts argv with env (NAME=VALUE) added to the test's environment; its
  // stdout and stderr go to files in folder.
  BackgroundProcess(std::vector<std::string> argv, const std::string& folder,
                    const std::vector<std::string>& env = {})
      : out_(folder + "/bg-" + std::to_string(++Count()) + ".out"),
        err_(out_.substr(0, out_.size() - 4) + ".err") {
    std::vector<std::string> envs;
    for (char** e = environ; *e != nullptr; ++e) {
      const std::string entry = *e;
      bool replaced = false;
      for (const std::string& x : env)
        replaced |= x.substr(0, x.find('=')) == entry.substr(0, entry.find('='));
      if (!replaced) envs.push_back(entry);
    }
    envs.insert(envs.end(), env.begin(), env.end());
    std::vector<char*> cargv, cenv;
    for (std::string& s : argv) cargv.push_back(s.data());
    cargv.push_back(nullptr);
    for (std::string& s : envs) cenv.push_back(s.data());
    cenv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&fa, 2, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int rc = posix_spawn(&pid_, cargv[0], &fa, nullptr, cargv.data(), cenv.data());
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0) throw std::runtime_error("cannot start " + argv[0]);
  }
  ~BackgroundProcess() {
    if (pid_ > 0 && !Ended()) {
      kill(pid_, SIGKILL);
      Wait();
    }
  }
  BackgroundProcess(const BackgroundProcess&) = delete;
  BackgroundProcess& operator=(const BackgroundProcess&) = delete;

  pid_t Pid() const { return pid_; }
  std::string Err() const { return ReadAll(err_); }
  // True once it ended (then reaped, its exit code kept).
  bool Ended() {
    if (ended_) return true;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) != pid_) return false;
    Keep(status);
    return true;
  }
  // Waits for the end; the exit code (-1 when killed) and the output.
  ProcessResult Wait() {
    int status = 0;
    while (!ended_) {
      if (waitpid(pid_, &status, 0) == pid_) {
        Keep(status);
      } else if (errno != EINTR) {
        break;
      }
    }
    return {exit_, ReadAll(out_), ReadAll(err_)};
  }

 private:
  static int& Count() {
    static int n = 0;
    return n;
  }
  void Keep(int status) {
    ended_ = true;
    exit_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::string out_, err_;
  pid_t pid_ = -1;
  bool ended_ = false;
  int exit_ = -1;
};

// Whether process pid waits for a flock on the file at path (a blocked
// request in /proc/locks: "N: -> FLOCK ADVISORY WRITE PID MAJ:MIN:INODE ...").
inline bool BlockedOnLock(pid_t pid, const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return false;
  std::ifstream locks("/proc/locks");
  for (std::string line; std::getline(locks, line);) {
    std::istringstream f(line);
    std::vector<std::string> t;
    for (std::string x; f >> x;) t.push_back(x);
    if (t.size() < 7 || t[1] != "->") continue;
    const std::string inode = ":" + std::to_string(st.st_ino);
    if (t[5] == std::to_string(pid) && t[6].size() > inode.size() &&
        t[6].compare(t[6].size() - inode.size(), inode.size(), inode) == 0)
      return true;
  }
  return false;
}

// Polls until done() holds; false when the process ended first. The bound
// (minutes) only keeps a broken build from hanging: no result depends on it.
inline bool WaitFor(BackgroundProcess& p, const std::function<bool()>& done) {
  const auto limit = std::chrono::steady_clock::now() + std::chrono::minutes(3);
  while (std::chrono::steady_clock::now() < limit) {
    if (done()) return true;
    if (p.Ended()) return done();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return false;
}
