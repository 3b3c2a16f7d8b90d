#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "link/DebugOutput.h"
#include "link/TcpClientClass.h"
#include "tests/support/Loopback.h"

namespace {

// Captures the debug lines written while it lives.
struct DebugCapture {
  std::vector<std::string> lines;
  krvo::DebugSink old;
  DebugCapture() {
    old = krvo::SetDebugSink([this](const std::string& l) { lines.push_back(l); });
  }
  ~DebugCapture() { krvo::SetDebugSink(old); }
};

// A listening socket on a free loopback port.
struct Listener {
  int fd = -1;
  int port = 0;
  Listener() { fd = ListenLoopback(port); }
  ~Listener() { close(fd); }
};

// A connection whose peer never stops sending: input is always waiting.
class EndlessInput : public CSocketClientComm {
 public:
  using CSocketClientComm::CSocketClientComm;
  int inqueuecount() override { return consumed < kSupply ? 4096 : 0; }
  int readport(uint8_t*, int maxcount) override {
    consumed += maxcount;
    return maxcount;
  }
  static constexpr long kSupply = 64L * 1024 * 1024;
  long consumed = 0;
};

int FreePortNobodyListensOn() {
  Listener l;
  return l.port;  // closed again when l goes
}

}  // namespace

TEST(Transport, OpenFailuresReturnMinusOne) {
  {
    DebugCapture debug;
    CSocketClientComm comm("127.0.0.1", "abc");
    EXPECT_EQ(comm.openport(), -1);
    EXPECT_FALSE(comm.isopen());
    EXPECT_TRUE(debug.lines.empty());
  }
  {
    DebugCapture debug;
    CSocketClientComm comm("no.such.host.invalid", "502");
    EXPECT_EQ(comm.openport(), -1);
    EXPECT_TRUE(debug.lines.empty());
  }
  {
    // A refused connect is not a connection, and says so on the debug output.
    DebugCapture debug;
    CSocketClientComm comm("127.0.0.1", std::to_string(FreePortNobodyListensOn()));
    EXPECT_EQ(comm.openport(), -1);
    EXPECT_FALSE(comm.isopen());
    ASSERT_EQ(debug.lines.size(), 1u);
    EXPECT_EQ(debug.lines[0].rfind("connect time out. error[", 0), 0u) << debug.lines[0];
  }
  {
    CSocketClientComm comm("127.0.0.1", "70000");
    comm.openport();
    EXPECT_EQ(comm.portnumber(), 4464);
  }
}

TEST(Transport, ConnectWriteReadCloseAndFlush) {
  Listener server;
  CSocketClientComm comm("localhost", std::to_string(server.port));
  ASSERT_EQ(comm.openport(), 1);
  EXPECT_TRUE(comm.isopen());
  EXPECT_EQ(comm.resolvedaddress(), "127.0.0.1");
  const int peer = accept(server.fd, nullptr, nullptr);
  ASSERT_GE(peer, 0);

  const uint8_t hello[5] = {1, 2, 3, 4, 5};
  EXPECT_EQ(comm.writeport(hello, 5), 5);
  EXPECT_EQ(comm.outqueuecount(), 0);
  uint8_t got[5] = {};
  ASSERT_EQ(recv(peer, got, 5, MSG_WAITALL), 5);
  EXPECT_EQ(got[4], 5);

  // 600 waiting bytes are discarded in chunks of 256, 256 and 88.
  std::vector<uint8_t> junk(600, 0x55);
  ASSERT_EQ(send(peer, junk.data(), junk.size(), 0), 600);
  while (comm.inqueuecount() < 600) ASSERT_TRUE(comm.waitinput(2000));
  {
    DebugCapture debug;
    comm.flushport(0);  // output: nothing
    EXPECT_EQ(comm.inqueuecount(), 600);
    comm.flushport(1);
    EXPECT_EQ(debug.lines, (std::vector<std::string>{"CSocketClientComm.flushport: 256byte",
                                                     "CSocketClientComm.flushport: 256byte",
                                                     "CSocketClientComm.flushport: 88byte"}));
    EXPECT_EQ(comm.inqueuecount(), 0);
  }

  EXPECT_EQ(comm.closeport(), -1);
  EXPECT_FALSE(comm.isopen());
  EXPECT_EQ(comm.writeport(hello, 5), -1);
  {
    DebugCapture debug;
    comm.flushport(1);  // closed: nothing
    EXPECT_TRUE(debug.lines.empty());
  }
  close(peer);
}

TEST(Transport, PeerCloseReadsAsZeroAndAReopenWorks) {
  Listener server;
  CSocketClientComm comm("127.0.0.1", std::to_string(server.port));
  ASSERT_EQ(comm.openport(), 1);
  close(accept(server.fd, nullptr, nullptr));
  ASSERT_TRUE(comm.waitinput(2000));
  uint8_t b;
  EXPECT_EQ(comm.readport(&b, 1), 0);
  // A write to a peer that is gone must not kill the process (no SIGPIPE).
  for (int i = 0; i < 3; ++i) comm.writeport(&b, 1);

  comm.closeport();
  ASSERT_EQ(comm.openport(), 1);
  const int peer = accept(server.fd, nullptr, nullptr);
  EXPECT_GE(peer, 0);
  close(peer);
  comm.closeport();
}

TEST(Transport, DrainingStaleInputIsBounded) {
  Listener l;
  DebugCapture debug;
  EndlessInput comm("127.0.0.1", std::to_string(l.port));
  ASSERT_EQ(comm.openport(), 1);
  comm.flushport(1);
  EXPECT_GT(comm.consumed, 0);
  EXPECT_LE(comm.consumed, 1024 * 1024);
  EXPECT_LE(debug.lines.size(), 1024u);
  comm.closeport();
}
