#pragma once
// A one-connection FTP peer on a free loopback port whose every reply is
// written by the test, for server behaviour no real server shows on demand.
#include <functional>
#include <string>
#include <thread>

class FtpPeer {
 public:
  explicit FtpPeer(int control) : control_(control) {}
  ~FtpPeer();
  void Send(const std::string& raw);  // exactly these bytes
  // The next command line without CR LF; "" when the client closed.
  std::string Command();
  // Opens a passive listener and returns its port.
  int Listen();
  // Accepts the data connection on the passive listener.
  int AcceptData();
  void SendOn(int fd, const std::string& bytes);
  static void CloseFd(int fd);

 private:
  int control_;
  int passive_ = -1;
  std::string pending_;
};

class ScriptedFtpServer {
 public:
  // script runs on its own thread for the first connection.
  explicit ScriptedFtpServer(std::function<void(FtpPeer&)> script);
  ~ScriptedFtpServer();
  int Port() const { return port_; }

 private:
  int listen_ = -1;
  int port_ = 0;
  std::thread thread_;
};
