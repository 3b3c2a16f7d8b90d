#include "meter/ZelDef.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

namespace {

constexpr int kFirstByteWaitMs = 3000;  // silence before the first reply byte
constexpr int kGapWaitMs = 2000;        // silence that ends a reply
constexpr int kReplyLimitMs = 10000;    // a reply still incomplete by then fails
constexpr int kReconnectPauseMs = 500;
constexpr uint16_t kMaxReadRegisters = 125;  // a longer reply cannot fit one frame

// An MBAP-wrapped exception reply is complete at 9 bytes; waiting for the
// full expected length would only add the 2 s gap before it fails.
bool IsCompleteTcpException(const uint8_t* bytes, int held) {
  return held >= 9 && (bytes[7] & 0x80) != 0;
}

}  // namespace

CZELMeterObj::CZELMeterObj(CSocketClientComm& comm, CMemoLines& memo)
    : FProtocol(std::make_unique<CModbusProtocol>()), FComm(comm), FMemo(memo) {
  FramingMode = 1;
}

CZELMeterObj::~CZELMeterObj() = default;

void CZELMeterObj::ClearLinkBuffers() {
  if (FComm.outqueuecount() > 0) FComm.flushport(0);
  if (FComm.inqueuecount() > 0) FComm.flushport(1);
}

void CZELMeterObj::SendFrame(const uint8_t* request, int length) {
  uint8_t bytes[kModbusBufferSize];
  if (length < 0) length = 0;
  if (length > kModbusBufferSize) length = kModbusBufferSize;
  std::memcpy(bytes, request, static_cast<size_t>(length));
  if (FramingMode == 1) {
    FProtocol->RtuToTcp(bytes, static_cast<uint8_t>(length), RequestBuffer);
    std::memcpy(bytes, RequestBuffer.Bytes, static_cast<size_t>(RequestBuffer.Count));
    length = RequestBuffer.Count;
  }
  ClearLinkBuffers();
  if (FComm.writeport(bytes, length) != length) {
    // A short write means a broken connection: reconnect once and resend;
    // whether that worked shows in the reply wait.
    FComm.closeport();
    std::this_thread::sleep_for(std::chrono::milliseconds(kReconnectPauseMs));
    FComm.openport();
    FComm.writeport(bytes, length);
  }
}

int CZELMeterObj::ReceiveFrame(uint8_t* dest, int capacity, uint8_t expectedDataBytes,
                               uint8_t funcCode) {
  if (capacity < 0) return 0;
  if (capacity > kModbusBufferSize - 1) capacity = kModbusBufferSize - 1;
  const int limit = capacity + 1;
  std::memset(dest, 0, static_cast<size_t>(limit));

  int expected = 0;
  if (funcCode >= 1 && funcCode <= 4) {
    expected = expectedDataBytes + 5;
  } else if (funcCode == 5 || funcCode == 6 || funcCode == 16) {
    expected = 8;
  } else if (funcCode == 20) {
    expected = expectedDataBytes + 7;
  }
  if (expected != 0 && FramingMode == 1) expected += 4;
  if (expected > limit) expected = limit;

  // A meter dribbling bytes just inside the gap would otherwise hold the
  // caller for minutes.
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(kReplyLimitMs);
  auto msLeft = [&deadline] {
    return std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  };
  if (!FComm.waitinput(kFirstByteWaitMs)) return 0;
  int held = 0;
  for (;;) {
    if (held >= limit) break;
    const auto left = msLeft();
    if (left <= 0) {
      held = 0;  // fails as a silent meter does
      break;
    }
    int waiting = FComm.inqueuecount();
    if (waiting <= 0) {
      if (!FComm.waitinput(static_cast<int>(std::min<long long>(kGapWaitMs, left)))) {
        if (msLeft() <= 0) held = 0;
        break;
      }
      // Readable with nothing queued: the peer closed; the read below says so.
      waiting = FComm.inqueuecount();
      if (waiting <= 0) waiting = 1;
    }
    int want = (expected != 0 ? expected : limit) - held;
    if (want > waiting) want = waiting;
    const int got = FComm.readport(dest + held, want);
    if (got <= 0) {
      held = 0;  // a failed read discards the whole reply
      break;
    }
    held += got;
    if (expected != 0 && held >= expected) break;
    if (FramingMode == 1 && IsCompleteTcpException(dest, held)) break;
  }
  if (held == 0) return 0;
  // A reply cut short fails: its missing registers would otherwise be read
  // from bytes the meter never sent.
  if (expected != 0 && held < expected) return 0;
  if (FramingMode != 1) return held;
  if (!FProtocol->TcpToRtu(dest, held, ReplyBuffer)) return 0;
  std::memcpy(dest, ReplyBuffer.Bytes, static_cast<size_t>(ReplyBuffer.Count));
  return ReplyBuffer.Count;
}

bool CZELMeterObj::ReadRegisters(uint8_t funcCode, uint16_t start, TModbusBuffer& reply,
                                 uint16_t count) {
  if (count == 0 || count > kMaxReadRegisters) return false;
  TModbusBuffer request{};
  CModbusProtocol::BuildReadRequest(MeterMap::kUnitAddress, funcCode, start, count, request);
  SendFrame(request.Bytes, request.Count);
  const auto dataBytes = static_cast<uint8_t>(2 * count);
  reply.Count = ReceiveFrame(reply.Bytes, kModbusBufferSize - 1, dataBytes, funcCode);
  if (reply.Count == 0) return false;
  if (!CModbusProtocol::CheckReply(MeterMap::kUnitAddress, funcCode, reply)) return false;
  // The byte count must match the registers asked for.
  return reply.Bytes[2] == dataBytes && reply.Count == dataBytes + 5;
}
