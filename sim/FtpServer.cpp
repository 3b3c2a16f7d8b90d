#include "sim/FtpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

FtpServer::FtpServer(SimFtpOptions options, std::string root)
    : options_(std::move(options)), root_(std::move(root)) {}

FtpServer::~FtpServer() {
  stop_.store(true);
  if (thread_.joinable()) thread_.join();
  if (listen_ >= 0) close(listen_);
}

bool FtpServer::Start(std::string& error) {
  listen_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(options_.Port));
  if (listen_ < 0 || bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      listen(listen_, 16) != 0) {
    error = std::strerror(errno);
    return false;
  }
  socklen_t len = sizeof a;
  getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len);
  port_ = ntohs(a.sin_port);
  thread_ = std::thread([this] { AcceptLoop(); });
  return true;
}

void FtpServer::AcceptLoop() {
  while (!stop_.load()) {
    pollfd p{listen_, POLLIN, 0};
    if (poll(&p, 1, 200) <= 0) continue;
    const int c = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
    if (c < 0) continue;
    // Sessions end with their connection or with the process.
    std::thread([c, o = options_, r = root_] { RunFtpSession(c, o, r); }).detach();
  }
}
