#pragma once
// Modbus framing: requests are built as RTU frames and, in Modbus TCP mode,
// wrapped in the MBAP header with the CRC dropped; replies are unwrapped back
// into RTU frames with a fresh CRC so that one reply check serves both.
#include <cstdint>
#include <vector>

constexpr int kModbusBufferSize = 270;

struct TModbusBuffer {
  uint8_t Bytes[kModbusBufferSize];
  int32_t Count;
};

struct TModbusFrame {
  uint8_t Address = 0;
  uint8_t FuncCode = 0;
  std::vector<uint8_t> Data;
  uint16_t CRC = 0;
};

class CModbusProtocol {
 public:
  uint16_t TransactionId = 0;

  static uint16_t CalcCRC16(const uint8_t* bytes, int32_t count);
  static bool CheckCRC(const uint8_t* bytes, int32_t count);
  static void SetFrameHead(uint8_t address, uint8_t funcCode, TModbusFrame& frame);
  static void SetReadRange(uint16_t start, uint16_t count, TModbusFrame& frame);
  // Writes only the frame bytes and Count; the caller clears the buffer.
  static void FrameToBuffer(const TModbusFrame& frame, TModbusBuffer& buffer);
  static void BufferToFrame(const TModbusBuffer& buffer, TModbusFrame& frame);
  static void BuildReadRequest(uint8_t address, uint8_t funcCode, uint16_t start, uint16_t count,
                               TModbusBuffer& buffer);
  static bool CheckReply(uint8_t address, uint8_t funcCode, TModbusBuffer buffer);

  // Wraps an RTU frame of rtuLength bytes with the next transaction id.
  void RtuToTcp(const uint8_t* rtu, uint8_t rtuLength, TModbusBuffer& out);
  // Unwraps a TCP frame of tcpLength bytes; false on a foreign transaction id
  // or a frame too short to hold a unit address.
  bool TcpToRtu(const uint8_t* tcp, int32_t tcpLength, TModbusBuffer& out) const;

  // Decodes the value at p by format code; false for an unknown code or a
  // hex-as-decimal value whose digits are not decimal. Reads only the bytes
  // that the format takes.
  static bool DecodeValue(int32_t format, const uint8_t* p, double& value);
};
