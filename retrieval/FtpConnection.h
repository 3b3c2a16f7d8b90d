#pragma once
// One TCP connection of the FTP client. Every wait is cut into slices and a
// hook runs between them, so the caller's event loop stays alive and its
// handlers may close this connection while a wait is under way.
#include <netinet/in.h>

#include <cstddef>
#include <functional>
#include <string>

class CFtpConnection {
 public:
  static constexpr int kWaitSliceMs = 250;
  static constexpr int kConnectSliceMs = 125;

  CFtpConnection() = default;
  ~CFtpConnection() { Close(); }
  CFtpConnection(const CFtpConnection&) = delete;
  CFtpConnection& operator=(const CFtpConnection&) = delete;

  bool IsOpen() const { return fd_ >= 0; }
  void Close();

  // Connects within limitMs, polling in 125 ms slices. Throws "Connect timed
  // out.", the socket error text, or "Not connected." when the hook closed it.
  void Connect(const sockaddr_in& to, int limitMs, const std::function<void()>& betweenSlices);

  enum class WaitResult { Ready, TimedOut, Closed };
  // Waits until input (or the peer's close) is readable; timeoutMs <= 0 waits
  // without limit. Closed: the hook closed the connection meanwhile.
  WaitResult WaitReadable(int timeoutMs, const std::function<void()>& betweenSlices);

  // What one receive returned: > 0 bytes, 0 when the peer closed, -1 on error.
  long Receive(char* buf, size_t n);
  // Sends everything; throws the socket error text on failure.
  void SendAll(const std::string& data);

  sockaddr_in Peer() const;

 private:
  int fd_ = -1;
};

// "Socket Error # %d" and the system's message for err, on two lines.
std::string SocketErrorText(int err);
// Dotted text of an IPv4 address.
std::string AddressText(const sockaddr_in& a);
