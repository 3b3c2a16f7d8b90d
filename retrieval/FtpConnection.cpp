#include "retrieval/FtpConnection.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "retrieval/FtpErrors.h"

namespace {

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

}  // namespace

std::string SocketErrorText(int err) {
  return "Socket Error # " + std::to_string(err) + "\n" + std::strerror(err);
}

std::string AddressText(const sockaddr_in& a) {
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &a.sin_addr, text, sizeof text);
  return text;
}

void CFtpConnection::Close() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

void CFtpConnection::Connect(const sockaddr_in& to, int limitMs,
                             const std::function<void()>& betweenSlices) {
  Close();
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd_ < 0) throw EFtpError(SocketErrorText(errno));
  const int me = fd_;
  int rc = ::connect(fd_, reinterpret_cast<const sockaddr*>(&to), sizeof to);
  if (rc != 0 && errno != EINPROGRESS) {
    const int err = errno;
    Close();
    throw EFtpError(SocketErrorText(err));
  }
  const auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
  while (rc != 0) {
    pollfd p{fd_, POLLOUT, 0};
    const int n = ::poll(&p, 1, std::min(kConnectSliceMs, MsLeft(deadline)));
    if (n > 0) {
      int err = 0;
      socklen_t len = sizeof err;
      getsockopt(fd_, SOL_SOCKET, SO_ERROR, &err, &len);
      if (err != 0) {
        Close();
        throw EFtpError(SocketErrorText(err));
      }
      break;
    }
    if (n < 0 && errno != EINTR) {
      const int err = errno;
      Close();
      throw EFtpError(SocketErrorText(err));
    }
    if (MsLeft(deadline) == 0) {
      Close();
      throw EFtpError("Connect timed out.");
    }
    if (betweenSlices) betweenSlices();
    if (fd_ != me) throw EFtpError("Not connected.");
  }
  const int flags = fcntl(fd_, F_GETFL, 0);
  fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK);
  int one = 1;
  setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

CFtpConnection::WaitResult CFtpConnection::WaitReadable(
    int timeoutMs, const std::function<void()>& betweenSlices) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 0);
  for (;;) {
    if (fd_ < 0) return WaitResult::Closed;
    const int slice = timeoutMs > 0 ? std::min(kWaitSliceMs, MsLeft(deadline)) : kWaitSliceMs;
    pollfd p{fd_, POLLIN, 0};
    const int n = ::poll(&p, 1, slice);
    if (n > 0) return WaitResult::Ready;
    if (timeoutMs > 0 && MsLeft(deadline) == 0) return WaitResult::TimedOut;
    if (betweenSlices) betweenSlices();
  }
}

long CFtpConnection::Receive(char* buf, size_t n) {
  if (fd_ < 0) return -1;
  ssize_t got;
  do {
    got = ::recv(fd_, buf, n, 0);
  } while (got < 0 && errno == EINTR);
  return static_cast<long>(got);
}

void CFtpConnection::SendAll(const std::string& data) {
  if (fd_ < 0) throw EFtpError("Not connected.");
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::send(fd_, data.data() + done, data.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw EFtpError(SocketErrorText(errno));
    done += static_cast<size_t>(n);
  }
}

sockaddr_in CFtpConnection::Peer() const {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  if (fd_ >= 0) getpeername(fd_, reinterpret_cast<sockaddr*>(&a), &len);
  return a;
}
