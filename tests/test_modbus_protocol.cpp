#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "link/ModbusProtocolClass.h"

namespace {

std::vector<uint8_t> Bytes(const TModbusBuffer& b) {
  return std::vector<uint8_t>(b.Bytes, b.Bytes + b.Count);
}

TModbusBuffer BufferOf(std::vector<uint8_t> bytes) {
  TModbusBuffer b{};
  std::memcpy(b.Bytes, bytes.data(), bytes.size());
  b.Count = static_cast<int32_t>(bytes.size());
  return b;
}

bool AllZero(const TModbusBuffer& b) {
  for (uint8_t x : b.Bytes)
    if (x != 0) return false;
  return b.Count == 0;
}

}  // namespace

TEST(ModbusProtocol, ReadRequestAndItsWrappedForm) {
  TModbusBuffer rtu{};
  CModbusProtocol::BuildReadRequest(1, 3, 8250, 71, rtu);
  EXPECT_EQ(Bytes(rtu), (std::vector<uint8_t>{0x01, 0x03, 0x20, 0x3A, 0x00, 0x47, 0x2E, 0x35}));

  CModbusProtocol p;
  TModbusBuffer tcp;
  p.RtuToTcp(rtu.Bytes, static_cast<uint8_t>(rtu.Count), tcp);
  EXPECT_EQ(Bytes(tcp), (std::vector<uint8_t>{0x00, 0x01, 0x00, 0x00, 0x00, 0x06, 0x01, 0x03, 0x20,
                                              0x3A, 0x00, 0x47}));
  for (int i = tcp.Count; i < kModbusBufferSize; ++i) ASSERT_EQ(tcp.Bytes[i], 0) << i;
}

TEST(ModbusProtocol, CrcOfCheckString) {
  const char* s = "123456789";
  EXPECT_EQ(CModbusProtocol::CalcCRC16(reinterpret_cast<const uint8_t*>(s), 9), 0x4B37);
  const uint8_t frame[] = {0x01, 0x03, 0x20, 0x3A, 0x00, 0x47, 0x2E, 0x35};
  EXPECT_TRUE(CModbusProtocol::CheckCRC(frame, 8));
  const uint8_t bad[] = {0x01, 0x03, 0x20, 0x3A, 0x00, 0x47, 0x35, 0x2E};
  EXPECT_FALSE(CModbusProtocol::CheckCRC(bad, 8));
}

TEST(ModbusProtocol, TransactionIdWrapsAndUnwrapChecksIt) {
  CModbusProtocol p;
  p.TransactionId = 65534;
  TModbusBuffer rtu{}, tcp;
  CModbusProtocol::BuildReadRequest(1, 3, 9000, 4, rtu);
  p.RtuToTcp(rtu.Bytes, 8, tcp);
  EXPECT_EQ(tcp.Bytes[0], 0xFF);
  EXPECT_EQ(tcp.Bytes[1], 0xFF);
  p.RtuToTcp(rtu.Bytes, 8, tcp);
  EXPECT_EQ(p.TransactionId, 0);
  EXPECT_EQ(tcp.Bytes[0], 0x00);
  EXPECT_EQ(tcp.Bytes[1], 0x00);

  // A reply to the current id unwraps into an RTU frame with a fresh CRC.
  const uint8_t reply[] = {0x00, 0x00, 0x00, 0x00, 0x00, 0x05, 0x01, 0x03, 0x02, 0x12, 0x34};
  TModbusBuffer out;
  ASSERT_TRUE(p.TcpToRtu(reply, sizeof reply, out));
  EXPECT_EQ(out.Count, 7);
  EXPECT_TRUE(CModbusProtocol::CheckReply(1, 3, out));
  EXPECT_EQ(out.Bytes[3], 0x12);

  // A late reply to an earlier request is refused and leaves a cleared buffer.
  const uint8_t late[] = {0xFF, 0xFF, 0x00, 0x00, 0x00, 0x05, 0x01, 0x03, 0x02, 0x12, 0x34};
  std::memset(out.Bytes, 0xAA, sizeof out.Bytes);
  EXPECT_FALSE(p.TcpToRtu(late, sizeof late, out));
  EXPECT_TRUE(AllZero(out));
}

TEST(ModbusProtocol, UnwrapRefusesFramesWithoutUnitAddressOrPastTheBuffer) {
  CModbusProtocol p;
  p.TransactionId = 7;
  uint8_t frame[300] = {0x00, 0x07};
  TModbusBuffer out;
  for (int len = 0; len <= 6; ++len) {
    EXPECT_FALSE(p.TcpToRtu(frame, len, out)) << len;
    EXPECT_TRUE(AllZero(out));
  }
  EXPECT_FALSE(p.TcpToRtu(frame, 271, out));
  EXPECT_TRUE(p.TcpToRtu(frame, 270, out));
  EXPECT_EQ(out.Count, 266);
}

TEST(ModbusProtocol, CheckReplyFailures) {
  TModbusBuffer rtu{};
  CModbusProtocol::BuildReadRequest(1, 3, 9000, 4, rtu);
  EXPECT_TRUE(CModbusProtocol::CheckReply(1, 3, rtu));

  TModbusBuffer shortOne = rtu;
  shortOne.Count = 2;
  EXPECT_FALSE(CModbusProtocol::CheckReply(1, 3, shortOne));

  TModbusBuffer badCrc = rtu;
  badCrc.Bytes[7] ^= 0x01;
  EXPECT_FALSE(CModbusProtocol::CheckReply(1, 3, badCrc));

  TModbusBuffer exception{};
  TModbusFrame f;
  f.Address = 1;
  f.FuncCode = 0x83;
  f.Data = {0x02};
  CModbusProtocol::FrameToBuffer(f, exception);
  EXPECT_EQ(exception.Count, 5);
  EXPECT_FALSE(CModbusProtocol::CheckReply(1, 3, exception));

  EXPECT_FALSE(CModbusProtocol::CheckReply(2, 3, rtu));
}

TEST(ModbusProtocol, BufferToFrameSplitsTheParts) {
  TModbusBuffer b = BufferOf({0x01, 0x03, 0x02, 0xAB, 0xCD, 0x11, 0x22});
  TModbusFrame f;
  CModbusProtocol::BufferToFrame(b, f);
  EXPECT_EQ(f.Address, 1);
  EXPECT_EQ(f.FuncCode, 3);
  EXPECT_EQ(f.Data, (std::vector<uint8_t>{0x02, 0xAB, 0xCD}));
  EXPECT_EQ(f.CRC, 0x2211);
}

TEST(ModbusProtocol, DecodeValueFormats) {
  struct Case {
    int format;
    std::vector<uint8_t> bytes;
    double expected;
  };
  const Case cases[] = {
      {0, {0x12, 0x34}, 4660},
      {1, {0xFF, 0xFE}, -2},
      {2, {0x00, 0x01, 0x00, 0x02}, 65538},
      {2, {0xFF, 0xFF, 0xFF, 0xFF}, 4294967295.0},
      {3, {0xFF, 0xFF, 0xFF, 0xFE}, -2},
      {4, {0x00, 0x02, 0x00, 0x03}, 20003},
      {5, {0xFF, 0xFF, 0x00, 0x03}, -9997},
      {9, {0x3F, 0xC0, 0x00, 0x00}, 1.5},
      {11, {0x80}, -128},
      {12, {0x80}, 128},
      {13, {0x25}, 25},
      {13, {0x05}, 5},
      {14, {0x00, 0x07, 0x00, 0x02}, 2007},
      {15, {0x00, 0x01, 0x00, 0x02, 0x00, 0x03, 0x00, 0x04}, -60761070},
      {22, {0x00, 0x02, 0x00, 0x01}, 65538},
      {23, {0xFF, 0xFE, 0xFF, 0xFF}, -2},
      {24, {0x00, 0x00, 0x3F, 0xC0}, 1.5},
      {25, {0x00, 0x07, 0x00, 0x02}, 20007},
      {26, {0xFF, 0xFF, 0x00, 0x01}, 9999},
      {30, {0x34, 0x12}, 4660},
      {31, {0xFE, 0xFF}, -2},
      {50, {0x00, 0x01, 0x00, 0x02, 0x00, 0x03, 0x00, 0x04}, 4000300020001.0},
      {51, {0x00, 0x01, 0x00, 0x02, 0x00, 0x03, 0x00, 0x04}, 4000300020.001},
      {52, {0x00, 0x00, 0xC0, 0x3F}, 1.5},
      {53, {0x12, 0x34}, 1234},
      {54, {0x12, 0x34}, 12},
      {55, {0x12, 0x34}, 34},
      {56, {0x12, 0x34, 0x00, 0x56}, 561234},
      {57, {0x00, 0x01, 0xFF, 0xFF}, -32767},
      {58, {0x00, 0x01, 0x00, 0x02}, 65537},
      {59, {0x80, 0x05}, -5},
      {59, {0x00, 0x05}, 5},
      {60, {0x12, 0x34, 0x00, 0x01, 0x00, 0x02}, 65538},
      {61, {0x00, 0x01, 0x00, 0x02, 0x00, 0x03}, 100020003},
      {62, {0x00, 0x12, 0x00, 0x34}, 120034},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> b = c.bytes;
    b.resize(8, 0);
    double v = -1;
    ASSERT_TRUE(CModbusProtocol::DecodeValue(c.format, b.data(), v)) << c.format;
    EXPECT_DOUBLE_EQ(v, c.expected) << "format " << c.format;
  }
}

TEST(ModbusProtocol, DecodeValueRefusesUnknownFormatsAndHexDigits) {
  const uint8_t b[8] = {0x1A, 0x2B, 0x00, 0x0F, 0, 0, 0, 0};
  for (int format : {7, 6, 100, -1}) {
    double v = 42;
    EXPECT_FALSE(CModbusProtocol::DecodeValue(format, b, v)) << format;
    EXPECT_EQ(v, 42);
  }
  // Hex-as-decimal digits A-F fail instead of throwing or inventing a number.
  for (int format : {13, 53, 54, 55, 56, 62}) {
    double v = 42;
    EXPECT_FALSE(CModbusProtocol::DecodeValue(format, b, v)) << format;
    EXPECT_EQ(v, 42);
  }
  const uint8_t upperOnly[8] = {0x12, 0x3A, 0x00, 0x0F, 0, 0, 0, 0};
  double v = 0;
  EXPECT_TRUE(CModbusProtocol::DecodeValue(54, upperOnly, v));  // byte 0 only
  EXPECT_EQ(v, 12);
  EXPECT_FALSE(CModbusProtocol::DecodeValue(55, upperOnly, v));
}
