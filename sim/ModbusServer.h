#pragma once
// The simulator's Modbus TCP server: libmodbus answers, fault switches may
// bypass it. Serves any number of clients from one thread.
#include <atomic>
#include <cstdint>
#include <string>

#include "sim/SimOptions.h"

typedef struct _modbus modbus_t;
typedef struct _modbus_mapping_t modbus_mapping_t;

class ModbusServer {
 public:
  ModbusServer(const SimFaults& faults, modbus_mapping_t* mapping);
  ~ModbusServer();
  ModbusServer(const ModbusServer&) = delete;
  ModbusServer& operator=(const ModbusServer&) = delete;

  // Binds 127.0.0.1:port (0 = any free port); false with a reason.
  bool Listen(int port, std::string& error);
  int Port() const { return port_; }
  // Serves until stop becomes true; onRequest runs before each answer.
  template <typename F>
  void Run(const std::atomic<bool>& stop, F onRequest) {
    RunLoop(
        stop, [](void* f) { (*static_cast<F*>(f))(); }, &onRequest);
  }

 private:
  void RunLoop(const std::atomic<bool>& stop, void (*cb)(void*), void* arg);
  // Answers one request on fd; false when the connection must close.
  bool Serve(int fd, void (*cb)(void*), void* arg);
  void SendOwnReply(int fd, const uint8_t* query);
  // Waits ms, or less when the server is told to stop; false once it is.
  bool Pause(long ms);

  SimFaults faults_;
  modbus_t* ctx_ = nullptr;
  modbus_mapping_t* mapping_;
  int listen_ = -1;
  int port_ = 0;
  long requests_ = 0;
  const std::atomic<bool>* stop_ = nullptr;
};
