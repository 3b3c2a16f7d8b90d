#pragma once
// The simulator's small read-only FTP server over its DataLog tree: anonymous
// login, passive transfers, Unix or DOS listings, and fault switches.
#include <atomic>
#include <string>
#include <thread>

#include "sim/FtpOptions.h"

class FtpServer {
 public:
  FtpServer(SimFtpOptions options, std::string root);
  ~FtpServer();
  FtpServer(const FtpServer&) = delete;
  FtpServer& operator=(const FtpServer&) = delete;

  // Binds 127.0.0.1 and starts accepting on a thread of its own.
  bool Start(std::string& error);
  int Port() const { return port_; }

 private:
  void AcceptLoop();

  SimFtpOptions options_;
  std::string root_;
  int listen_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// Serves one control connection until QUIT or close (FtpSession.cpp).
void RunFtpSession(int control, const SimFtpOptions& options, const std::string& root);
