#pragma once
// An in-memory transport: each written request is answered by a script, so
// the request cycle can be fed replies no real server would send.
#include <algorithm>
#include <deque>
#include <functional>
#include <vector>

#include "link/TcpClientClass.h"

class ScriptedComm : public CSocketClientComm {
 public:
  using Script = std::function<std::vector<uint8_t>(const std::vector<uint8_t>& request)>;
  explicit ScriptedComm(Script script)
      : CSocketClientComm("127.0.0.1", "502"), script_(std::move(script)) {}

  int openport() override {
    open_ = true;
    ++opens;
    return 1;
  }
  int closeport() override {
    open_ = false;
    return -1;
  }
  bool isopen() const override { return open_; }
  int writeport(const uint8_t* buf, int count) override {
    requests.emplace_back(buf, buf + count);
    for (uint8_t b : script_(requests.back())) pending_.push_back(b);
    return count;
  }
  int readport(uint8_t* buf, int maxcount) override {
    int n = 0;
    while (n < maxcount && !pending_.empty()) {
      buf[n++] = pending_.front();
      pending_.pop_front();
    }
    return n;
  }
  int inqueuecount() override { return static_cast<int>(pending_.size()); }
  void flushport(int) override { pending_.clear(); }
  bool waitinput(int) override { return !pending_.empty(); }

  std::vector<std::vector<uint8_t>> requests;
  int opens = 0;

 private:
  Script script_;
  std::deque<uint8_t> pending_;
  bool open_ = true;
};

// A well-formed Modbus TCP read reply to request with the given register data.
inline std::vector<uint8_t> TcpReadReply(const std::vector<uint8_t>& request,
                                         const std::vector<uint8_t>& data) {
  // Sized at once: GCC 12 at -O3 takes an insert after the header for an overflow.
  std::vector<uint8_t> r(9 + data.size(), 0);
  r[0] = request[0];
  r[1] = request[1];
  r[5] = static_cast<uint8_t>(data.size() + 3);
  r[6] = request[6];
  r[7] = request[7];
  r[8] = static_cast<uint8_t>(data.size());
  std::copy(data.begin(), data.end(), r.begin() + 9);
  return r;
}
