#pragma once
// A PostgreSQL server of the tests' own: a cluster made with initdb in a
// temporary folder, listening on a free loopback port, stopped and removed at
// the end. Run as "nobody" when the tests run as root (the server refuses root).
#include <string>
#include <vector>

#include "tests/support/Process.h"

class PostgresServer {
 public:
  // Starts the cluster with a database "krvo" owned by a login role "krvo"
  // whose password is Password(); throws with initdb's or pg_ctl's output.
  PostgresServer();
  ~PostgresServer();
  PostgresServer(const PostgresServer&) = delete;
  PostgresServer& operator=(const PostgresServer&) = delete;

  int Port() const { return port_; }
  // postgresql://krvo@127.0.0.1:PORT/krvo
  std::string Url() const;
  static std::string Password() { return "meter-logs"; }
  // Runs SQL as the role krvo; rows TAB-separated, one per line.
  ProcessResult Psql(const std::string& sql) const;

 private:
  void Start();
  void Stop();
  ProcessResult AsServerUser(std::vector<std::string> argv) const;

  TempDir dir_;
  std::string data_;
  int port_ = 0;
  bool started_ = false;
};
