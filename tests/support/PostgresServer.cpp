#include "tests/support/PostgresServer.h"

#include <glob.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <stdexcept>

#include "tests/support/Loopback.h"

namespace {

constexpr const char* kAdmin = "krvo_admin";
constexpr const char* kAdminPassword = "cluster-admin";

// Debian keeps the server programs out of PATH, by major version.
std::string ServerBin(const std::string& program) {
  glob_t g{};
  std::string found;
  if (glob(("/usr/lib/postgresql/*/bin/" + program).c_str(), 0, nullptr, &g) == 0 && g.gl_pathc > 0)
    found = g.gl_pathv[g.gl_pathc - 1];
  globfree(&g);
  if (found.empty())
    throw std::runtime_error(program + " not found: scripts/setup.sh installs postgresql-15");
  return found;
}

int FreePort() {
  int port = 0;
  const int fd = ListenLoopback(port);
  if (fd < 0) throw std::runtime_error("no free loopback port");
  ::close(fd);
  return port;
}

}  // namespace

ProcessResult PostgresServer::AsServerUser(std::vector<std::string> argv) const {
  if (geteuid() == 0) argv.insert(argv.begin(), {"/usr/sbin/runuser", "-u", "nobody", "--"});
  return RunProcess(argv, {"PGPASSWORD=" + std::string(kAdminPassword), "LC_ALL=C"});
}

PostgresServer::PostgresServer() {
  try {
    Start();
  } catch (...) {
    Stop();  // no server may outlive a test that failed to set it up
    throw;
  }
}

void PostgresServer::Stop() {
  if (started_) AsServerUser({ServerBin("pg_ctl"), "-D", data_, "-m", "immediate", "-w", "stop"});
  started_ = false;
}

void PostgresServer::Start() {
  const std::string root = dir_.Path() + "/pg";
  data_ = root + "/data";
  ::mkdir(root.c_str(), 0700);
  if (geteuid() == 0) {
    // The folder above must let the server's user through to its own.
    ::chmod(dir_.Path().c_str(), 0711);
    const passwd* nobody = getpwnam("nobody");
    if (nobody == nullptr || ::chown(root.c_str(), nobody->pw_uid, nobody->pw_gid) != 0)
      throw std::runtime_error("cannot give " + root + " to the user nobody");
  }
  const std::string pwfile = root + "/admin.pw";
  std::ofstream(pwfile) << kAdminPassword << "\n";
  if (geteuid() == 0) {
    const passwd* nobody = getpwnam("nobody");
    if (::chown(pwfile.c_str(), nobody->pw_uid, nobody->pw_gid) != 0)
      throw std::runtime_error("cannot give " + pwfile + " to the user nobody");
  }
  ProcessResult init =
      AsServerUser({ServerBin("initdb"), "-D", data_, "-U", kAdmin, "--pwfile=" + pwfile,
                    "--auth=scram-sha-256", "-E", "UTF8", "--no-sync", "--no-instructions"});
  if (init.ExitCode != 0) throw std::runtime_error("initdb failed: " + init.Out + init.Err);
  // A port can be taken between the probe and the start: a few tries.
  for (int attempt = 0; attempt < 5 && !started_; ++attempt) {
    port_ = FreePort();
    ProcessResult start = AsServerUser(
        {ServerBin("pg_ctl"), "-D", data_, "-w", "-t", "60", "-l", root + "/server.log", "-o",
         "-c listen_addresses=127.0.0.1 -p " + std::to_string(port_) + " -k " + root +
             " -c fsync=off -c full_page_writes=off",
         "start"});
    started_ = start.ExitCode == 0;
  }
  if (!started_) {
    std::ifstream log(root + "/server.log");
    const std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    throw std::runtime_error("pg_ctl start failed: " + text);
  }
  ProcessResult setup =
      RunProcess({"/usr/bin/psql", "-X", "-q", "-v", "ON_ERROR_STOP=1", "-h", "127.0.0.1", "-p",
                  std::to_string(port_), "-U", kAdmin, "-d", "postgres", "-c",
                  "CREATE ROLE krvo LOGIN PASSWORD '" + Password() + "'", "-c",
                  "CREATE DATABASE krvo OWNER krvo"},
                 {"PGPASSWORD=" + std::string(kAdminPassword)});
  if (setup.ExitCode != 0) throw std::runtime_error("psql setup failed: " + setup.Err);
}

PostgresServer::~PostgresServer() { Stop(); }

std::string PostgresServer::Url() const {
  return "postgresql://krvo@127.0.0.1:" + std::to_string(port_) + "/krvo";
}

ProcessResult PostgresServer::Psql(const std::string& sql) const {
  return RunProcess({"/usr/bin/psql", "-X", "-q", "-At", "-F", "\t", "-v", "ON_ERROR_STOP=1", "-d",
                     Url(), "-c", sql},
                    {"PGPASSWORD=" + Password()});
}
