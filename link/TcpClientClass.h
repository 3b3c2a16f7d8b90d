#pragma once
// Blocking IPv4 TCP client with the operations of a serial port: the byte
// channel between the tool and the meter's Modbus TCP server.
#include <cstdint>
#include <string>

class CSocketClientComm {
 public:
  CSocketClientComm(std::string hostname, std::string porttext);
  virtual ~CSocketClientComm();
  CSocketClientComm(const CSocketClientComm&) = delete;
  CSocketClientComm& operator=(const CSocketClientComm&) = delete;

  // 1 when connected within 2 s, -1 on any failure.
  virtual int openport();
  // Always -1; the transport is closed afterwards.
  virtual int closeport();
  // The count when every byte went out in one send, -1 otherwise.
  virtual int writeport(const uint8_t* buf, int count);
  // What one receive returned: bytes read, 0 when the peer closed, -1 on error.
  virtual int readport(uint8_t* buf, int maxcount);
  // Received bytes waiting to be read; 0 when the query fails.
  virtual int inqueuecount();
  // Always 0: the socket keeps no output queue of its own.
  virtual int outqueuecount();
  // 1 or 2 discard waiting input; 0 (output) does nothing.
  virtual void flushport(int which);
  virtual bool isopen() const;
  // Waits up to timeoutMs for input (or the peer's close) to be readable.
  virtual bool waitinput(int timeoutMs);

  const std::string& host() const { return hostname; }
  const std::string& resolvedaddress() const { return ipaddress; }
  uint16_t portnumber() const { return port; }

 protected:
  bool initsocket();
  static bool resolvehost(const std::string& host, std::string& dotted);
  void cleanupsockets();

 private:
  void closesocket();

  std::string hostname;
  std::string porttext;
  int32_t state = -1;
  std::string ipaddress;
  uint16_t port = 0;
  int sock = -1;
};
