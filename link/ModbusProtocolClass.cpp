#include "link/ModbusProtocolClass.h"

#include <cmath>
#include <cstring>

namespace {

uint16_t Word(const uint8_t* p, int index) {
  return static_cast<uint16_t>((p[2 * index] << 8) | p[2 * index + 1]);
}

// The number's hexadecimal digits read as a decimal number (0x25 gives 25);
// false when a digit is A-F.
bool HexAsDecimal(uint32_t v, uint32_t& out) {
  uint32_t result = 0;
  uint32_t scale = 1;
  do {
    uint32_t digit = v & 0xF;
    if (digit > 9) return false;
    result += digit * scale;
    scale *= 10;
    v >>= 4;
  } while (v != 0);
  out = result;
  return true;
}

float FloatFromBytes(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3) {
  uint32_t bits = (uint32_t{b0} << 24) | (uint32_t{b1} << 16) | (uint32_t{b2} << 8) | b3;
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

}  // namespace

uint16_t CModbusProtocol::CalcCRC16(const uint8_t* bytes, int32_t count) {
  uint16_t crc = 0xFFFF;
  for (int32_t i = 0; i < count; ++i) {
    crc ^= bytes[i];
    for (int bit = 0; bit < 8; ++bit) {
      crc =
          (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : static_cast<uint16_t>(crc >> 1);
    }
  }
  return crc;
}

bool CModbusProtocol::CheckCRC(const uint8_t* bytes, int32_t count) {
  if (count < 2) return false;
  uint16_t stored = static_cast<uint16_t>(bytes[count - 2] | (bytes[count - 1] << 8));
  return CalcCRC16(bytes, count - 2) == stored;
}

void CModbusProtocol::SetFrameHead(uint8_t address, uint8_t funcCode, TModbusFrame& frame) {
  frame.Address = address;
  frame.FuncCode = funcCode;
}

void CModbusProtocol::SetReadRange(uint16_t start, uint16_t count, TModbusFrame& frame) {
  frame.Data = {static_cast<uint8_t>(start >> 8), static_cast<uint8_t>(start & 0xFF),
                static_cast<uint8_t>(count >> 8), static_cast<uint8_t>(count & 0xFF)};
}

void CModbusProtocol::FrameToBuffer(const TModbusFrame& frame, TModbusBuffer& buffer) {
  // Address, function code, data and CRC must fit the fixed buffer.
  size_t n = frame.Data.size();
  if (n > kModbusBufferSize - 4) n = kModbusBufferSize - 4;
  buffer.Bytes[0] = frame.Address;
  buffer.Bytes[1] = frame.FuncCode;
  if (n != 0) std::memcpy(buffer.Bytes + 2, frame.Data.data(), n);
  uint16_t crc = CalcCRC16(buffer.Bytes, static_cast<int32_t>(n + 2));
  buffer.Bytes[n + 2] = static_cast<uint8_t>(crc & 0xFF);
  buffer.Bytes[n + 3] = static_cast<uint8_t>(crc >> 8);
  buffer.Count = static_cast<int32_t>(n + 4);
}

void CModbusProtocol::BufferToFrame(const TModbusBuffer& buffer, TModbusFrame& frame) {
  int32_t count = buffer.Count;
  if (count > kModbusBufferSize) count = kModbusBufferSize;
  frame.Address = count > 0 ? buffer.Bytes[0] : 0;
  frame.FuncCode = count > 1 ? buffer.Bytes[1] : 0;
  frame.Data.clear();
  if (count > 4) frame.Data.assign(buffer.Bytes + 2, buffer.Bytes + count - 2);
  frame.CRC = count >= 2
                  ? static_cast<uint16_t>(buffer.Bytes[count - 2] | (buffer.Bytes[count - 1] << 8))
                  : 0;
}

void CModbusProtocol::BuildReadRequest(uint8_t address, uint8_t funcCode, uint16_t start,
                                       uint16_t count, TModbusBuffer& buffer) {
  TModbusFrame frame;
  SetFrameHead(address, funcCode, frame);
  SetReadRange(start, count, frame);
  FrameToBuffer(frame, buffer);
}

bool CModbusProtocol::CheckReply(uint8_t address, uint8_t funcCode, TModbusBuffer buffer) {
  if (buffer.Count < 3 || buffer.Count > kModbusBufferSize) return false;
  if (!CheckCRC(buffer.Bytes, buffer.Count)) return false;
  TModbusFrame frame;
  BufferToFrame(buffer, frame);
  if (frame.FuncCode != funcCode) return false;  // an exception reply fails here too
  return frame.Address == address;
}

void CModbusProtocol::RtuToTcp(const uint8_t* rtu, uint8_t rtuLength, TModbusBuffer& out) {
  std::memset(&out, 0, sizeof out);
  ++TransactionId;
  out.Bytes[0] = static_cast<uint8_t>(TransactionId >> 8);
  out.Bytes[1] = static_cast<uint8_t>(TransactionId & 0xFF);
  const int payload = rtuLength >= 2 ? rtuLength - 2 : 0;
  out.Bytes[5] = static_cast<uint8_t>(payload);
  std::memcpy(out.Bytes + 6, rtu, static_cast<size_t>(payload));
  out.Count = payload + 6;
}

bool CModbusProtocol::TcpToRtu(const uint8_t* tcp, int32_t tcpLength, TModbusBuffer& out) const {
  std::memset(&out, 0, sizeof out);
  // A frame needs its header and at least a unit address; nothing past the buffer.
  if (tcpLength <= 6 || tcpLength > kModbusBufferSize) return false;
  uint16_t id = static_cast<uint16_t>((tcp[0] << 8) | tcp[1]);
  if (id != TransactionId) return false;
  const int32_t n = tcpLength - 6;
  std::memcpy(out.Bytes, tcp + 6, static_cast<size_t>(n));
  uint16_t crc = CalcCRC16(out.Bytes, n);
  out.Bytes[n] = static_cast<uint8_t>(crc & 0xFF);
  out.Bytes[n + 1] = static_cast<uint8_t>(crc >> 8);
  out.Count = n + 2;
  return true;
}

bool CModbusProtocol::DecodeValue(int32_t format, const uint8_t* p, double& value) {
  // Words are read only as far as the format reaches, never past its bytes.
  const auto w = [p](int i) { return Word(p, i); };
  const auto s16 = [](uint16_t w) { return static_cast<int32_t>(static_cast<int16_t>(w)); };
  uint32_t h0 = 0, h1 = 0;
  switch (format) {
    case 0:
      value = w(0);
      return true;
    case 1:
      value = s16(w(0));
      return true;
    case 2:
      value = static_cast<uint32_t>((uint32_t{w(0)} << 16) | w(1));
      return true;
    case 3:
      value = static_cast<int32_t>((uint32_t{w(0)} << 16) | w(1));
      return true;
    case 4:
      value = static_cast<uint32_t>(uint32_t{w(0)} * 10000u + w(1));
      return true;
    case 5:
      value = static_cast<int32_t>(static_cast<uint32_t>(s16(w(0))) * 10000u + w(1));
      return true;
    case 9:
      value = FloatFromBytes(p[0], p[1], p[2], p[3]);
      return true;
    case 11:
      value = static_cast<int8_t>(p[0]);
      return true;
    case 12:
      value = p[0];
      return true;
    case 13:
      if (!HexAsDecimal(p[0], h0)) return false;
      value = h0;
      return true;
    case 14:
      value = static_cast<uint32_t>(w(0) + uint32_t{w(1)} * 1000u);
      return true;
    case 15: {
      uint32_t lo = uint32_t{w(0)} * 10000u + w(1);
      uint32_t hi = uint32_t{w(2)} * 10000u + w(3);
      value = static_cast<int32_t>(lo + hi * 1000000u);
      return true;
    }
    case 22:
      value = static_cast<uint32_t>((uint32_t{w(1)} << 16) | w(0));
      return true;
    case 23:
      value = static_cast<int32_t>((uint32_t{w(1)} << 16) | w(0));
      return true;
    case 24:
      value = FloatFromBytes(p[2], p[3], p[0], p[1]);
      return true;
    case 25:
      value = static_cast<uint32_t>(w(0) + uint32_t{w(1)} * 10000u);
      return true;
    case 26:
      value = static_cast<int32_t>(static_cast<uint32_t>(s16(w(0))) + uint32_t{w(1)} * 10000u);
      return true;
    case 30:
      value = static_cast<uint16_t>(p[0] | (p[1] << 8));
      return true;
    case 31:
      value = static_cast<int16_t>(p[0] | (p[1] << 8));
      return true;
    case 50:
    case 51: {
      int64_t v = int64_t{w(0)} + int64_t{w(1)} * 10000 + int64_t{w(2)} * 100000000 +
                  int64_t{w(3)} * 1000000000000;
      value = format == 50 ? static_cast<double>(v) : static_cast<double>(v) / 1000.0;
      return true;
    }
    case 52:
      value = FloatFromBytes(p[3], p[2], p[1], p[0]);
      return true;
    case 53:
      if (!HexAsDecimal(w(0), h0)) return false;
      value = h0;
      return true;
    case 54:
      if (!HexAsDecimal(p[0], h0)) return false;
      value = h0;
      return true;
    case 55:
      if (!HexAsDecimal(p[1], h0)) return false;
      value = h0;
      return true;
    case 56:
      if (!HexAsDecimal(w(0), h0) || !HexAsDecimal(w(1), h1)) return false;
      value = static_cast<uint32_t>(h0 + h1 * 10000u);
      return true;
    case 57:
      value = static_cast<int32_t>(w(0) + static_cast<uint32_t>(s16(w(1))) * 32768u);
      return true;
    case 58:
      value = static_cast<uint32_t>(w(0) + uint32_t{w(1)} * 32768u);
      return true;
    case 59:
      value = (w(0) & 0x8000) ? -static_cast<double>(w(0) & 0x7FFF) : (w(0) & 0x7FFF);
      return true;
    case 60:
      value = static_cast<uint32_t>((uint32_t{w(1)} << 16) | w(2));
      return true;
    case 61:
      value = static_cast<uint32_t>(uint32_t{w(0)} * 100000000u + uint32_t{w(1)} * 10000u + w(2));
      return true;
    case 62:
      if (!HexAsDecimal(w(0), h0) || !HexAsDecimal(w(1), h1)) return false;
      value = static_cast<uint32_t>(h0 * 10000u + h1);
      return true;
    default:
      return false;
  }
}
