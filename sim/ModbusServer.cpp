#include "sim/ModbusServer.h"

#include <arpa/inet.h>
#include <modbus/modbus.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <set>
#include <thread>
#include <vector>

ModbusServer::ModbusServer(const SimFaults& faults, modbus_mapping_t* mapping)
    : faults_(faults), mapping_(mapping) {}

ModbusServer::~ModbusServer() {
  if (listen_ >= 0) close(listen_);
  if (ctx_ != nullptr) modbus_free(ctx_);
}

bool ModbusServer::Listen(int port, std::string& error) {
  ctx_ = modbus_new_tcp("127.0.0.1", port);
  if (ctx_ == nullptr) {
    error = modbus_strerror(errno);
    return false;
  }
  listen_ = modbus_tcp_listen(ctx_, 16);
  if (listen_ < 0) {
    error = modbus_strerror(errno);
    return false;
  }
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  getsockname(listen_, reinterpret_cast<sockaddr*>(&addr), &len);
  port_ = ntohs(addr.sin_port);
  return true;
}

// Builds the reply bytes itself for the faults that libmodbus cannot make.
void ModbusServer::SendOwnReply(int fd, const uint8_t* q) {
  std::vector<uint8_t> r;
  uint16_t tid = static_cast<uint16_t>((q[0] << 8) | q[1]);
  if (faults_.WrongTid) ++tid;
  const uint8_t unit = q[6], fc = q[7];
  const uint16_t start = static_cast<uint16_t>((q[8] << 8) | q[9]);
  const uint16_t count = static_cast<uint16_t>((q[10] << 8) | q[11]);
  r = {static_cast<uint8_t>(tid >> 8), static_cast<uint8_t>(tid & 0xFF), 0, 0, 0, 0, unit};
  if (faults_.Exception || faults_.FailStarts.count(start) != 0 || fc != 3 || count == 0 ||
      count > 125 || start + count > mapping_->nb_registers) {
    r.push_back(static_cast<uint8_t>(fc | 0x80));
    r.push_back(0x02);  // illegal data address
  } else {
    r.push_back(fc);
    r.push_back(static_cast<uint8_t>(2 * count));
    for (uint16_t i = 0; i < count; ++i) {
      const uint16_t v = mapping_->tab_registers[start + i];
      r.push_back(static_cast<uint8_t>(v >> 8));
      r.push_back(static_cast<uint8_t>(v & 0xFF));
    }
  }
  const size_t follow = r.size() - 6;
  r[4] = static_cast<uint8_t>(follow >> 8);
  r[5] = static_cast<uint8_t>(follow & 0xFF);
  size_t n = r.size();
  if (faults_.CutAfter >= 0 && static_cast<size_t>(faults_.CutAfter) < n)
    n = static_cast<size_t>(faults_.CutAfter);
  if (faults_.DribbleMs <= 0) {
    if (n > 0) (void)send(fd, r.data(), n, MSG_NOSIGNAL);
    return;
  }
  for (size_t i = 0; i < n; ++i) {
    if (i > 0 && !Pause(faults_.DribbleMs)) return;
    if (send(fd, &r[i], 1, MSG_NOSIGNAL) != 1) return;
  }
}

bool ModbusServer::Pause(long ms) {
  // Stop signals are blocked outside waits that unblock them, as this one does.
  sigset_t none;
  sigemptyset(&none);
  const timespec ts{ms / 1000, (ms % 1000) * 1000000L};
  (void)ppoll(nullptr, 0, &ts, &none);
  return !stop_->load();
}

bool ModbusServer::Serve(int fd, void (*cb)(void*), void* arg) {
  uint8_t query[MODBUS_TCP_MAX_ADU_LENGTH];
  modbus_set_socket(ctx_, fd);
  const int rc = modbus_receive(ctx_, query);
  if (rc <= 0) return rc == 0;  // 0: a request for another unit, ignored by libmodbus
  ++requests_;
  if (faults_.StopAfter >= 0 && requests_ > faults_.StopAfter) return true;
  if (faults_.CloseAfter >= 0 && requests_ > faults_.CloseAfter) return false;
  cb(arg);
  if (faults_.DelayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(faults_.DelayMs));
  const int start = rc >= 10 ? (query[8] << 8) | query[9] : -1;
  if (faults_.WrongTid || faults_.Exception || faults_.CutAfter >= 0 || faults_.DribbleMs > 0 ||
      faults_.FailStarts.count(start) != 0) {
    if (rc >= 12) SendOwnReply(fd, query);
    return true;
  }
  return modbus_reply(ctx_, query, rc, mapping_) >= 0;
}

void ModbusServer::RunLoop(const std::atomic<bool>& stop, void (*cb)(void*), void* arg) {
  stop_ = &stop;
  std::set<int> clients;
  sigset_t none;
  sigemptyset(&none);
  while (!stop.load()) {
    fd_set rd;
    FD_ZERO(&rd);
    FD_SET(listen_, &rd);
    int maxfd = listen_;
    for (int c : clients) {
      FD_SET(c, &rd);
      if (c > maxfd) maxfd = c;
    }
    // Signals are blocked outside pselect, so a SIGTERM cannot slip between check and wait.
    const int n = pselect(maxfd + 1, &rd, nullptr, nullptr, nullptr, &none);
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (FD_ISSET(listen_, &rd)) {
      const int c = accept(listen_, nullptr, nullptr);
      if (c >= 0) {
        if (c >= FD_SETSIZE)
          close(c);
        else
          clients.insert(c);
      }
    }
    std::vector<int> gone;
    for (int c : clients) {
      if (FD_ISSET(c, &rd) && !Serve(c, cb, arg)) gone.push_back(c);
    }
    for (int c : gone) {
      close(c);
      clients.erase(c);
    }
  }
  for (int c : clients) close(c);
}
