// Whatever a meter sends back to a register read.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "meter/ZelDef.h"
#include "tests/support/ScriptedComm.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint16_t count = static_cast<uint16_t>(1 + data[0] % 125);
  const bool ownTid = data[1] & 1;
  const std::vector<uint8_t> body(data + 2, data + size);
  ScriptedComm comm([&](const std::vector<uint8_t>& request) {
    std::vector<uint8_t> reply = body;
    if (ownTid && reply.size() >= 2) {
      reply[0] = request[0];
      reply[1] = request[1];
    }
    return reply;
  });
  CStringListMemo memo;
  CZELMeterObj meter(comm, memo);
  TModbusBuffer reply{};
  if (meter.ReadRegisters(3, 9800, reply, count)) {
    double v = 0;
    for (int format = 0; format < 64; ++format)
      for (int at = 3; at + 8 <= reply.Count; at += 2)
        CModbusProtocol::DecodeValue(format, reply.Bytes + at, v);
  }
  return 0;
}
