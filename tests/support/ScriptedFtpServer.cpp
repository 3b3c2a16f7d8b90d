#include "tests/support/ScriptedFtpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "tests/support/Loopback.h"

int ListenLoopback(int& port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  listen(fd, 4);
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  port = ntohs(a.sin_port);
  return fd;
}

namespace {

int AcceptWithin(int fd, int ms) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, ms) > 0 ? accept4(fd, nullptr, nullptr, SOCK_CLOEXEC) : -1;
}

}  // namespace

FtpPeer::~FtpPeer() {
  CloseFd(passive_);
  CloseFd(control_);
}

void FtpPeer::CloseFd(int fd) {
  if (fd >= 0) close(fd);
}

void FtpPeer::Send(const std::string& raw) { SendOn(control_, raw); }

void FtpPeer::SendOn(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

std::string FtpPeer::Command() {
  for (;;) {
    const size_t lf = pending_.find("\r\n");
    if (lf != std::string::npos) {
      std::string line = pending_.substr(0, lf);
      pending_.erase(0, lf + 2);
      return line;
    }
    pollfd p{control_, POLLIN, 0};
    if (poll(&p, 1, 20000) <= 0) return "";
    char buf[1024];
    const ssize_t n = recv(control_, buf, sizeof buf, 0);
    if (n <= 0) return "";
    pending_.append(buf, static_cast<size_t>(n));
  }
}

int FtpPeer::Listen() {
  CloseFd(passive_);
  int port = 0;
  passive_ = ListenLoopback(port);
  return port;
}

int FtpPeer::AcceptData() {
  const int fd = AcceptWithin(passive_, 10000);
  CloseFd(passive_);
  passive_ = -1;
  return fd;
}

ScriptedFtpServer::ScriptedFtpServer(std::function<void(FtpPeer&)> script) {
  listen_ = ListenLoopback(port_);
  thread_ = std::thread([this, script = std::move(script)] {
    const int c = AcceptWithin(listen_, 30000);
    if (c < 0) return;
    FtpPeer peer(c);
    script(peer);
  });
}

ScriptedFtpServer::~ScriptedFtpServer() {
  thread_.join();
  close(listen_);
}
