#include "link/TcpClientClass.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "link/DebugOutput.h"

using krvo::DebugOutput;

namespace {

constexpr int kConnectTimeoutMs = 2000;
constexpr int kFlushLimitBytes = 64 * 1024;
constexpr int kFlushLimitMs = 100;

// Decimal integer with optional sign and surrounding blanks; false otherwise.
bool ParseDecimal(const std::string& text, long long& value) {
  const char* s = text.c_str();
  while (*s == ' ') ++s;
  if (*s == '\0') return false;
  char* end = nullptr;
  errno = 0;
  value = std::strtoll(s, &end, 10);
  if (end == s || errno == ERANGE) return false;
  while (*end == ' ') ++end;
  return *end == '\0';
}

bool SetNonBlocking(int fd, bool on) {
  int flags = fcntl(fd, F_GETFL, 0);
  if (flags < 0) return false;
  flags = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
  return fcntl(fd, F_SETFL, flags) == 0;
}

// poll() that survives signals, keeping the overall deadline.
int PollFor(int fd, short events, int timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    pollfd p{fd, events, 0};
    int left = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
    if (left < 0) left = 0;
    int rc = poll(&p, 1, left);
    if (rc >= 0 || errno != EINTR) return rc;
  }
}

}  // namespace

CSocketClientComm::CSocketClientComm(std::string hostname_, std::string porttext_)
    : hostname(std::move(hostname_)), porttext(std::move(porttext_)) {}

CSocketClientComm::~CSocketClientComm() {
  cleanupsockets();
  // Callers close before letting go; a forgotten socket must not leak anyway.
  closesocket();
}

bool CSocketClientComm::resolvehost(const std::string& host, std::string& dotted) {
  if (host.size() > 255) return false;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* res = nullptr;
  if (getaddrinfo(host.c_str(), nullptr, &hints, &res) != 0 || res == nullptr) return false;
  bool ok = false;
  if (res->ai_addr != nullptr && res->ai_family == AF_INET) {
    const auto* sin = reinterpret_cast<const sockaddr_in*>(res->ai_addr);
    const auto* b = reinterpret_cast<const uint8_t*>(&sin->sin_addr.s_addr);
    char text[16];
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", b[0], b[1], b[2], b[3]);
    dotted = text;
    ok = true;
  }
  freeaddrinfo(res);
  return ok;
}

bool CSocketClientComm::initsocket() {
  if (!resolvehost(hostname, ipaddress)) return false;
  long long value = 0;
  if (!ParseDecimal(porttext, value)) return false;
  port = static_cast<uint16_t>(value & 0xFFFF);
  sock = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  return sock >= 0;
}

void CSocketClientComm::cleanupsockets() {
  // POSIX sockets need no library start or clean-up.
}

void CSocketClientComm::closesocket() {
  if (sock >= 0) {
    ::close(sock);
    sock = -1;
  }
}

int CSocketClientComm::openport() {
  state = -1;
  closesocket();  // a reopen must not leak the previous socket
  if (!initsocket()) {
    closesocket();
    return -1;
  }

  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = inet_addr(ipaddress.c_str());

  if (!SetNonBlocking(sock, true)) {
    DebugOutput("Set nonblocking mode error.error[%d]", errno);
    closesocket();
    return -1;
  }

  int rc = ::connect(sock, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
  int err = 0;
  if (rc != 0 && errno != EINPROGRESS) {
    err = errno;  // refused at once (loopback) or unreachable
  } else if (rc != 0) {
    int ready = PollFor(sock, POLLOUT, kConnectTimeoutMs);
    if (ready <= 0) {
      err = ready == 0 ? ETIMEDOUT : errno;
    } else {
      // Writable also means "failed": only a cleared pending error is a connection.
      socklen_t len = sizeof err;
      if (getsockopt(sock, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
    }
  }
  if (err != 0) {
    closesocket();
    DebugOutput("connect time out. error[%d]", err);
    errno = err;  // the caller may say why
    return -1;
  }

  if (!SetNonBlocking(sock, false)) {
    DebugOutput("Set blocking mode error.error[%d]", errno);
    closesocket();
    return -1;
  }
  int one = 1;
  setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  state = 1;
  return 1;
}

int CSocketClientComm::closeport() {
  closesocket();
  state = -1;
  return -1;
}

int CSocketClientComm::writeport(const uint8_t* buf, int count) {
  if (sock < 0 || count < 0) return -1;
  ssize_t sent = ::send(sock, buf, static_cast<size_t>(count), MSG_NOSIGNAL);
  return sent == count ? count : -1;
}

int CSocketClientComm::readport(uint8_t* buf, int maxcount) {
  if (sock < 0 || maxcount <= 0) return 0;
  ssize_t got;
  do {
    got = ::recv(sock, buf, static_cast<size_t>(maxcount), 0);
  } while (got < 0 && errno == EINTR);
  return static_cast<int>(got);
}

int CSocketClientComm::inqueuecount() {
  if (sock < 0) return 0;
  int n = 0;
  if (ioctl(sock, FIONREAD, &n) != 0) return 0;
  return n;
}

int CSocketClientComm::outqueuecount() { return 0; }

void CSocketClientComm::flushport(int which) {
  if (state <= 0 || (which != 1 && which != 2)) return;
  // A peer that keeps sending must not hold the caller: drain what stale
  // replies could plausibly hold, for a short while, and leave the rest.
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(kFlushLimitMs);
  uint8_t scratch[256];
  for (int drained = 0; drained < kFlushLimitBytes && Clock::now() < deadline; drained += 256) {
    int n = inqueuecount();
    if (n <= 0) break;
    if (n > 256) n = 256;
    if (readport(scratch, n) < n) break;
    DebugOutput("CSocketClientComm.flushport: %dbyte", n);
  }
}

bool CSocketClientComm::isopen() const { return state > 0; }

bool CSocketClientComm::waitinput(int timeoutMs) {
  if (sock < 0) return false;
  return PollFor(sock, POLLIN, timeoutMs) > 0;
}
