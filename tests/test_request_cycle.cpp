#include <gtest/gtest.h>

#include <chrono>
#include <regex>

#include "meter/ZelDef.h"
#include "tests/support/Process.h"
#include "tests/support/ScriptedComm.h"

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

struct Session {
  CSocketClientComm comm;
  CStringListMemo memo;
  CZELMeterObj meter;
  explicit Session(int port) : comm("127.0.0.1", std::to_string(port)), meter(comm, memo) {
    EXPECT_EQ(comm.openport(), 1);
  }
  ~Session() { comm.closeport(); }
  bool Read(uint16_t start, uint16_t count) {
    TModbusBuffer reply{};
    return meter.ReadRegisters(3, start, reply, count);
  }
};

// Writes only half of the first request, as a broken connection would.
class ShortFirstWrite : public CSocketClientComm {
 public:
  using CSocketClientComm::CSocketClientComm;
  int openport() override {
    ++opens;
    return CSocketClientComm::openport();
  }
  int writeport(const uint8_t* buf, int count) override {
    if (writes++ == 0) {
      CSocketClientComm::writeport(buf, count / 2);
      return -1;
    }
    return CSocketClientComm::writeport(buf, count);
  }
  int opens = 0;
  int writes = 0;
};

}  // namespace

TEST(RequestCycle, HealthySimulatorGivesTheIdentityLines) {
  SetFormatSettings(TFormatSettings{});
  SimProcess sim;
  Session s(sim.ModbusPort());
  ASSERT_TRUE(s.meter.ReadDeviceInfo());
  ASSERT_EQ(s.memo.Lines.size(), 3u);
  EXPECT_TRUE(std::regex_match(s.memo.Lines[0],
                               std::regex(R"(Device Time: \d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3})")))
      << s.memo.Lines[0];
  EXPECT_EQ(s.memo.Lines[1], "Device Model: KRVO-PMC84 Multi-Circuit Meter");
  EXPECT_EQ(s.memo.Lines[2],
            "Firmware Version: V1.02.03, Firmware Date: 2026-03-15, Modbus Version: V1.0, "
            "Web Version: V1.2, S/N: 0000012345 ");
  EXPECT_EQ(s.meter.DeviceInfo().SerialNumber, 12345u);
  EXPECT_EQ(s.meter.DeviceInfo().FirmwareDay, 15);

  // A second read clears the memo first.
  ASSERT_TRUE(s.meter.ReadDeviceInfo());
  EXPECT_EQ(s.memo.Lines.size(), 3u);
  EXPECT_EQ(sim.Stop(), 0);
}

TEST(RequestCycle, IdentityOptionsAndAnInvalidFirmwareDate) {
  SetFormatSettings(TFormatSettings{});
  {
    SimProcess sim({"--firmware-version", "20517", "--modbus-version", "23", "--web-version", "5",
                    "--serial", "4294967295", "--model", "  X1  ", "--firmware-date",
                    "2024-02-29"});
    Session s(sim.ModbusPort());
    ASSERT_TRUE(s.meter.ReadDeviceInfo());
    EXPECT_EQ(s.memo.Lines[1], "Device Model: X1");
    EXPECT_EQ(s.memo.Lines[2],
              "Firmware Version: V2.05.17, Firmware Date: 2024-02-29, Modbus Version: V2.3, "
              "Web Version: V0.5, S/N: -0000000001 ");
  }
  {
    SimProcess sim({"--firmware-date", "2023-02-29"});
    Session s(sim.ModbusPort());
    try {
      s.meter.ReadDeviceInfo();
      FAIL() << "no error for 2023-02-29";
    } catch (const EConvertError& e) {
      EXPECT_STREQ(e.what(), "Invalid argument to date encode");
    }
    // The clock line stays; the model line was not reached.
    EXPECT_EQ(s.memo.Lines.size(), 1u);
  }
}

TEST(RequestCycle, SilenceFailsAfterAboutThreeSeconds) {
  SimProcess sim({"--stop-after", "1"});
  Session s(sim.ModbusPort());
  EXPECT_TRUE(s.Read(9000, 4));
  const auto t = Clock::now();
  EXPECT_FALSE(s.Read(9000, 4));
  const double waited = SecondsSince(t);
  EXPECT_GE(waited, 2.9);
  EXPECT_LT(waited, 5.5);

  // The identity read that follows fails: the memo keeps only what came before.
  EXPECT_FALSE(s.meter.ReadDeviceInfo());
  EXPECT_TRUE(s.memo.Lines.empty());
}

TEST(RequestCycle, WrongTransactionIdAndExceptionRepliesFail) {
  {
    SimProcess sim({"--wrong-tid"});
    Session s(sim.ModbusPort());
    EXPECT_FALSE(s.Read(9000, 4));
    EXPECT_FALSE(s.meter.ReadDeviceInfo());
  }
  {
    SimProcess sim({"--exception"});
    Session s(sim.ModbusPort());
    const auto t = Clock::now();
    EXPECT_FALSE(s.Read(9800, 44));
    EXPECT_LT(SecondsSince(t), 1.5);  // a complete exception reply ends the wait
  }
}

TEST(RequestCycle, AReplyCutShortFailsWhateverItsLength) {
  // 4 registers make a 17-byte reply; 7 bytes pass every check but the length.
  for (const char* cut : {"0", "7", "9", "16"}) {
    SimProcess sim({"--cut-after", cut});
    Session s(sim.ModbusPort());
    EXPECT_FALSE(s.Read(9000, 4)) << "cut after " << cut;
  }
}

TEST(RequestCycle, ClosedConnectionFailsAndDelayedReplyPasses) {
  {
    SimProcess sim({"--close-after", "1"});
    Session s(sim.ModbusPort());
    EXPECT_TRUE(s.Read(9000, 4));
    EXPECT_FALSE(s.Read(9000, 4));
  }
  {
    SimProcess sim({"--delay", "400"});
    Session s(sim.ModbusPort());
    EXPECT_TRUE(s.Read(9800, 44));
  }
}

TEST(RequestCycle, AShortWriteReconnectsOnceAndResends) {
  SimProcess sim;
  ShortFirstWrite comm("127.0.0.1", std::to_string(sim.ModbusPort()));
  ASSERT_EQ(comm.openport(), 1);
  CStringListMemo memo;
  CZELMeterObj meter(comm, memo);
  TModbusBuffer reply{};
  EXPECT_TRUE(meter.ReadRegisters(3, 9800, reply, 44));
  EXPECT_EQ(comm.opens, 2);
  EXPECT_EQ(comm.writes, 2);
  EXPECT_TRUE(meter.ReadRegisters(3, 9800, reply, 44));
  EXPECT_EQ(comm.opens, 2);
  comm.closeport();
}

TEST(RequestCycle, RepliesThatDoNotMatchTheRequestFail) {
  std::vector<uint8_t> data(8, 0x11);
  // Byte count that is not twice the register count.
  ScriptedComm wrongCount([&](const std::vector<uint8_t>& rq) {
    auto r = TcpReadReply(rq, data);
    r[8] = 6;
    return r;
  });
  CStringListMemo memo;
  CZELMeterObj a(wrongCount, memo);
  TModbusBuffer reply{};
  EXPECT_FALSE(a.ReadRegisters(3, 9000, reply, 4));

  // Another unit address.
  ScriptedComm otherUnit([&](const std::vector<uint8_t>& rq) {
    auto r = TcpReadReply(rq, data);
    r[6] = 2;
    return r;
  });
  CZELMeterObj b(otherUnit, memo);
  EXPECT_FALSE(b.ReadRegisters(3, 9000, reply, 4));

  // The matching reply passes and its registers sit from byte 3 on.
  ScriptedComm good([&](const std::vector<uint8_t>& rq) { return TcpReadReply(rq, data); });
  CZELMeterObj c(good, memo);
  ASSERT_TRUE(c.ReadRegisters(3, 9000, reply, 4));
  EXPECT_EQ(reply.Count, 13);
  EXPECT_EQ(reply.Bytes[2], 8);
  EXPECT_EQ(reply.Bytes[3], 0x11);
  // Request went out as MBAP with the next transaction id each time.
  ASSERT_EQ(good.requests.size(), 1u);
  EXPECT_EQ(good.requests[0], (std::vector<uint8_t>{0, 1, 0, 0, 0, 6, 1, 3, 0x23, 0x28, 0, 4}));
}

TEST(RequestCycle, NothingIsStoredPastTheReplyBuffer) {
  // A meter that floods: a valid header, then far more than any frame holds.
  ScriptedComm flood([](const std::vector<uint8_t>& rq) {
    std::vector<uint8_t> r(5000, 0xEE);
    r[0] = rq[0];
    r[1] = rq[1];
    r[6] = 1;
    r[7] = rq[7];
    return r;
  });
  CStringListMemo memo;
  CZELMeterObj meter(flood, memo);
  TModbusBuffer reply{};
  for (uint8_t fc : {3, 0x41, 20}) EXPECT_FALSE(meter.ReadRegisters(fc, 50000, reply, 120));
  EXPECT_LE(reply.Count, kModbusBufferSize);
  // Register counts that cannot fit one frame are refused before sending.
  const size_t sent = flood.requests.size();
  EXPECT_FALSE(meter.ReadRegisters(3, 0, reply, 126));
  EXPECT_FALSE(meter.ReadRegisters(3, 0, reply, 0));
  EXPECT_EQ(flood.requests.size(), sent);
}
