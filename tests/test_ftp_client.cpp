#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "retrieval/FtpClient.h"
#include "retrieval/FtpErrors.h"
#include "tests/support/Files.h"
#include "tests/support/Process.h"
#include "tests/support/ScriptedFtpServer.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

// A client with every event recorded.
struct Recorder {
  TFtpClient ftp;
  std::vector<std::string> status;
  std::vector<std::string> work;
  std::vector<std::string> commands;
  int disconnects = 0;

  explicit Recorder(int port) {
    ftp.Host = "127.0.0.1";
    ftp.Port = port;
    ftp.Username = "anonymous";
    ftp.Password = "test@localhost";
    ftp.OnStatus = [this](TFtpStatus, const std::string& t) { status.push_back(t); };
    ftp.OnWorkBegin = [this](TWorkMode, int32_t max) {
      work.push_back("begin " + std::to_string(max));
    };
    ftp.OnWork = [this](TWorkMode, int32_t n) { work.push_back(std::to_string(n)); };
    ftp.OnWorkEnd = [this](TWorkMode) { work.push_back("end"); };
    ftp.OnDisconnected = [this] { ++disconnects; };
    ftp.OnCommand = [this](const std::string& c) { commands.push_back(c); };
  }
};

std::string Pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131 + i / 977) & 0xFF);
  return s;
}

// A meter tree with extra files of known bytes in Group1.
struct SimTree {
  TempDir dir;
  std::string root = dir.Path() + "/sim";
  std::string group1 = root + "/DataLog/Group1/";
  std::unique_ptr<SimProcess> sim;
  explicit SimTree(std::vector<std::string> args = {}) {
    args.insert(args.end(), {"--data-root", root, "--records", "10"});
    sim = std::make_unique<SimProcess>(args);
    WriteAll(group1 + "one.dat", Pattern(1000000));
    WriteAll(group1 + "five.dat", Pattern(5000000));
  }
  int Port() const { return sim->FtpPort(); }
};

}  // namespace

TEST(FtpClient, SessionListingAndFetchAgainstTheSimulator) {
  SimTree tree;
  Recorder r(tree.Port());
  r.ftp.OpenSession();
  EXPECT_EQ(r.status, (std::vector<std::string>{"Connecting to 127.0.0.1.", "Connected.",
                                                "Connection established"}));
  EXPECT_EQ(r.ftp.Greeting().Code, 220);
  EXPECT_EQ(r.ftp.Greeting().Text.size(), 3u);
  EXPECT_EQ(r.ftp.LoginReply().Code, 230);
  EXPECT_EQ(r.ftp.SystemDescription(), "UNIX Type: L8");
  EXPECT_EQ(r.commands,
            (std::vector<std::string>{"USER anonymous", "PASS test@localhost", "TYPE I", "SYST"}));
  EXPECT_TRUE(r.ftp.IsConnected());
  EXPECT_THROW(r.ftp.OpenSession(), EFtpError);

  r.ftp.ChangeFolder("/DataLog/Group1/");
  r.commands.clear();
  r.ftp.SetTransferType(TFtpTransferType::ftBinary);  // already binary: nothing sent
  EXPECT_TRUE(r.commands.empty());
  r.ftp.SetTransferType(TFtpTransferType::ftASCII);
  EXPECT_EQ(r.commands, std::vector<std::string>{"TYPE A"});
  std::vector<std::string> lines;
  r.ftp.ListFolder(&lines, "", true);
  EXPECT_EQ(r.commands.back(), "LIST");
  EXPECT_EQ(lines.front().rfind("total", 0), 0u);
  std::map<std::string, int64_t> sizes;
  for (const auto& e : r.ftp.Listing()) sizes[e.Name] = e.Size;
  EXPECT_EQ(sizes["one.dat"], 1000000);
  EXPECT_EQ(sizes["five.dat"], 5000000);
  EXPECT_EQ(sizes.size(), lines.size() - 1);

  r.ftp.SetTransferType(TFtpTransferType::ftBinary);
  const std::string local = tree.dir.Path() + "/one.dat";
  r.work.clear();
  r.ftp.FetchFile("one.dat", local);
  EXPECT_EQ(r.work, (std::vector<std::string>{"begin 0", "end"}));  // less than one block
  EXPECT_EQ(ReadAll(local), Pattern(1000000));
  r.work.clear();
  r.ftp.FetchFile("five.dat", local);  // overwrites
  EXPECT_EQ(r.work, (std::vector<std::string>{"begin 0", "2048000", "4096000", "end"}));
  EXPECT_EQ(ReadAll(local), Pattern(5000000));

  try {
    r.ftp.FetchFile("missing.dat", local);
    FAIL() << "no error";
  } catch (const FtpReplyError& e) {
    EXPECT_EQ(e.Code(), 550);
    EXPECT_STREQ(e.what(), "Failed to open file.");
  }
  EXPECT_EQ(r.status.back(), "Transfer complete");
  EXPECT_TRUE(r.ftp.IsConnected());  // the control connection stays

  r.status.clear();
  r.ftp.CloseSession();
  EXPECT_EQ(r.status, (std::vector<std::string>{"Disconnecting.", "Disconnected."}));
  EXPECT_EQ(r.disconnects, 1);
  EXPECT_FALSE(r.ftp.IsConnected());
  r.ftp.OpenSession();  // a session may open again
  EXPECT_TRUE(r.ftp.IsConnected());
}

TEST(FtpClient, ListingStylesOfTheSimulatorAgree) {
  std::map<std::string, std::map<std::string, int64_t>> seen;
  for (const char* style : {"unix", "dos", "nogroup"}) {
    SimTree tree({"--ftp-list", style});
    WriteAll(tree.group1 + "with  two blanks.dat", "abc");
    Recorder r(tree.Port());
    r.ftp.OpenSession();
    r.ftp.ChangeFolder("/DataLog/Group1");
    r.ftp.ListFolder(nullptr, "", true);
    for (const auto& e : r.ftp.Listing()) seen[style][e.Name] = e.Size;
    r.ftp.ChangeFolder("/DataLog");
    r.ftp.ListFolder(nullptr, "", true);
    int dirs = 0;
    for (const auto& e : r.ftp.Listing()) dirs += e.ItemType == TFtpItemType::ditDirectory;
    EXPECT_EQ(dirs, 10) << style;
  }
  EXPECT_EQ(seen["unix"]["with  two blanks.dat"], 3);
  EXPECT_EQ(seen["unix"], seen["dos"]);
  EXPECT_EQ(seen["unix"], seen["nogroup"]);
}

TEST(FtpClient, GreetingAndLoginFailures) {
  {
    SimTree tree({"--ftp-greeting", "421"});
    Recorder r(tree.Port());
    try {
      r.ftp.OpenSession();
      FAIL() << "no error";
    } catch (const FtpReplyError& e) {
      EXPECT_EQ(e.Code(), 421);
    }
    ASSERT_GE(r.status.size(), 2u);
    EXPECT_EQ(r.status[r.status.size() - 2], "Disconnecting.");
    EXPECT_EQ(r.status.back(), "Disconnected.");
    EXPECT_FALSE(r.ftp.IsConnected());
  }
  {
    SimTree tree({"--ftp-refuse-login"});
    Recorder r(tree.Port());
    try {
      r.ftp.OpenSession();
      FAIL() << "no error";
    } catch (const FtpReplyError& e) {
      EXPECT_EQ(e.Code(), 530);
      EXPECT_STREQ(e.what(), "Login incorrect.");
    }
    EXPECT_FALSE(r.ftp.IsConnected());
  }
  {
    SimTree tree({"--ftp-user-230"});
    Recorder r(tree.Port());
    r.ftp.OpenSession();
    EXPECT_EQ(r.commands, (std::vector<std::string>{"USER anonymous", "TYPE I", "SYST"}));
  }
  {
    SimTree tree;
    const int port = tree.Port();
    tree.sim->Stop();
    Recorder r(port);
    try {
      r.ftp.OpenSession();
      FAIL() << "no error";
    } catch (const EFtpError& e) {
      EXPECT_EQ(std::string(e.what()).rfind("Socket Error # 111\n", 0), 0u) << e.what();
    }
  }
}

TEST(FtpClient, AbortedAndBrokenTransfers) {
  {
    // A 426 after the data: the operation ends normally, the bytes stay.
    SimTree tree({"--ftp-426-after", "300000"});
    Recorder r(tree.Port());
    r.ftp.OpenSession();
    r.ftp.ChangeFolder("/DataLog/Group1");
    const std::string local = tree.dir.Path() + "/part.dat";
    r.ftp.FetchFile("one.dat", local);
    EXPECT_EQ(r.status.back(), "Transfer aborted");
    EXPECT_EQ(ReadAll(local), Pattern(1000000).substr(0, 300000));
  }
  {
    // The control connection closes mid-transfer: an error, then not connected.
    SimTree tree({"--ftp-close-during-transfer"});
    Recorder r(tree.Port());
    r.ftp.OpenSession();
    r.ftp.ChangeFolder("/DataLog/Group1");
    try {
      r.ftp.FetchFile("five.dat", tree.dir.Path() + "/x.dat");
      FAIL() << "no error";
    } catch (const EFtpError& e) {
      EXPECT_STREQ(e.what(), "Connection Closed Gracefully.");
    }
    const int before = r.disconnects;
    EXPECT_FALSE(r.ftp.IsConnected());
    EXPECT_EQ(r.disconnects, before + 1);
    EXPECT_EQ(r.status.back(), "Disconnected.");
  }
}

TEST(FtpClient, AbortFromThePumpDuringAStalledTransfer) {
  SimTree tree({"--ftp-stall-after", "100000"});
  Recorder r(tree.Port());
  r.ftp.OpenSession();
  r.ftp.ChangeFolder("/DataLog/Group1");
  // The window's handler: once the transfer has sat still for a while, abort it.
  int slices = 0;
  r.ftp.Pump = [&] {
    if (++slices == 4) r.ftp.AbortTransfer();
    return false;
  };
  const std::string local = tree.dir.Path() + "/stalled.dat";
  const auto t0 = Clock::now();
  r.ftp.FetchFile("one.dat", local);
  EXPECT_LT(std::chrono::duration<double>(Clock::now() - t0).count(), 5.0);
  EXPECT_GE(slices, 4);
  EXPECT_EQ(r.commands.back(), "ABOR");
  EXPECT_EQ(r.status.back(), "Transfer aborted");
  EXPECT_EQ(ReadAll(local), Pattern(1000000).substr(0, 100000));
  EXPECT_TRUE(r.ftp.IsConnected());
  r.ftp.SendNoop();  // the session goes on

  // With a data idle time-out the same stall is an error, not a hang.
  r.ftp.Pump = nullptr;
  r.ftp.DataIdleTimeout = 600;
  EXPECT_THROW(r.ftp.FetchFile("one.dat", local), EFtpReadTimeout);
}

TEST(FtpClient, ReadTimeoutWithoutAReplyLine) {
  SimTree tree({"--ftp-hold-reply", "CWD"});
  Recorder r(tree.Port());
  r.ftp.OpenSession();
  const auto t0 = Clock::now();
  try {
    r.ftp.ChangeFolder("/DataLog");
    FAIL() << "no error";
  } catch (const EFtpReadTimeout& e) {
    EXPECT_STREQ(e.what(), "Read Timeout");
  }
  const double waited = std::chrono::duration<double>(Clock::now() - t0).count();
  EXPECT_GE(waited, 9.9);
  EXPECT_LT(waited, 12.5);
}

TEST(FtpClient, EarlyFinalReplyAndThePasvAddressMend) {
  {
    SimTree tree({"--ftp-early-226"});
    Recorder r(tree.Port());
    r.ftp.OpenSession();
    r.ftp.ChangeFolder("/DataLog/Group1");
    const std::string local = tree.dir.Path() + "/early.dat";
    r.ftp.FetchFile("five.dat", local);
    EXPECT_EQ(ReadAll(local), Pattern(5000000));
    r.ftp.SendNoop();  // the 226 was taken as this transfer's, not the NOOP's
    EXPECT_EQ(r.ftp.LastReply().Code, 200);
  }
  {
    // The reply names another host; the data still goes to the server we talk to.
    SimTree tree({"--ftp-pasv-host", "10.99.0.1"});
    Recorder r(tree.Port());
    r.ftp.OpenSession();
    r.ftp.ChangeFolder("/DataLog/Group1");
    const std::string local = tree.dir.Path() + "/m.dat";
    r.ftp.FetchFile("one.dat", local);
    EXPECT_EQ(r.ftp.PasvHost(), "10.99.0.1");
    EXPECT_EQ(ReadAll(local), Pattern(1000000));
  }
}

TEST(FtpClient, AgainstPyftpdlib) {
  TempDir dir;
  const std::string root = dir.Path() + "/root";
  fs::create_directories(root + "/DataLog/Group1");
  WriteAll(root + "/DataLog/Group1/a  b.dat", Pattern(3000));
  WriteAll(root + "/DataLog/Group1/big.dat", Pattern(5000000));
  fs::create_symlink("big.dat", root + "/DataLog/Group1/link.dat");
  PyFtpdProcess server(root);
  Recorder r(server.Port());
  r.ftp.OpenSession();
  EXPECT_EQ(r.ftp.LoginReply().Code, 230);
  EXPECT_EQ(r.commands[1].rfind("PASS ", 0), 0u);
  EXPECT_EQ(r.ftp.SystemDescription(), "UNIX Type: L8");
  r.ftp.ChangeFolder("/DataLog/Group1");
  r.ftp.SetTransferType(TFtpTransferType::ftASCII);
  r.ftp.ListFolder(nullptr, "", true);
  std::map<std::string, TFtpListEntry> byName;
  for (const auto& e : r.ftp.Listing()) byName[e.Name] = e;
  ASSERT_EQ(byName.count("a  b.dat"), 1u) << r.ftp.ListingLines()[0];
  EXPECT_EQ(byName["a  b.dat"].Size, 3000);
  EXPECT_EQ(byName["big.dat"].Size, 5000000);
  ASSERT_EQ(byName.count("link.dat"), 1u);
  EXPECT_EQ(byName["link.dat"].ItemType, TFtpItemType::ditSymbolicLink);

  r.ftp.SetTransferType(TFtpTransferType::ftBinary);
  const std::string local = dir.Path() + "/got.dat";
  r.ftp.FetchFile("a  b.dat", local);
  EXPECT_EQ(ReadAll(local), Pattern(3000));
  r.work.clear();
  r.ftp.FetchFile("big.dat", local);
  EXPECT_EQ(ReadAll(local), Pattern(5000000));
  EXPECT_EQ(r.work, (std::vector<std::string>{"begin 0", "2048000", "4096000", "end"}));
  r.ftp.CloseSession();
}

TEST(FtpClient, ScriptedServerOddities) {
  const std::string payload = Pattern(70000);
  ScriptedFtpServer server([&](FtpPeer& p) {
    p.Send("220 " + std::string(17000, 'w') + "\r\n");
    p.Command();  // USER
    p.Send("230 Logged in without a password.\r\n");
    p.Command();  // TYPE I
    p.Send("200 ok\r\n");
    p.Command();  // SYST
    p.Send("500 SYST not understood.\r\n");
    // CWD with several hundred lines.
    p.Command();
    std::string many;
    for (int i = 0; i < 400; ++i) many += "250-line " + std::to_string(i) + "\r\n";
    p.Send(many + "250 done\r\n");
    // RETR: PASV without parentheses; the 226 comes before the data is read.
    p.Command();
    int port = p.Listen();
    p.Send("227 127,0,0,1," + std::to_string(port / 256) + "," + std::to_string(port % 256) +
           "\r\n");
    int data = p.AcceptData();
    p.Command();
    p.Send("150 here it comes\r\n");
    p.SendOn(data, payload);
    p.Send("226 done\r\n");
    FtpPeer::CloseFd(data);
    // RETR again: "=h,h,h,h,p,p" form; data closed before its 226 is sent.
    p.Command();
    port = p.Listen();
    p.Send("227 =127,0,0,1," + std::to_string(port / 256) + "," + std::to_string(port % 256) +
           "\r\n");
    data = p.AcceptData();
    p.Command();
    p.Send("125 go\r\n");
    p.SendOn(data, payload.substr(0, 1234));
    FtpPeer::CloseFd(data);
    p.Send("250 closed\r\n");
    // A 227 with numbers beyond a byte.
    p.Command();
    p.Send("227 Entering Passive Mode (1216,256,2,127,127,127)\r\n");
    // A reply line beyond the limit.
    p.Command();
    p.Send("200 " + std::string(40000, 'z') + "\r\n");
    p.Command();
  });
  TempDir dir;
  Recorder r(server.Port());
  r.ftp.OpenSession();
  EXPECT_EQ(r.ftp.Greeting().Text[0].size(), 17000u);
  EXPECT_EQ(r.ftp.SystemDescription(), "Unknown");
  EXPECT_EQ(r.commands, (std::vector<std::string>{"USER anonymous", "TYPE I", "SYST"}));
  r.ftp.ChangeFolder("/x");
  EXPECT_EQ(r.ftp.LastReply().Text.size(), 401u);
  const std::string local = dir.Path() + "/f";
  r.ftp.FetchFile("f1", local);
  EXPECT_EQ(ReadAll(local), payload);
  r.ftp.FetchFile("f2", local);
  EXPECT_EQ(ReadAll(local), payload.substr(0, 1234));
  try {
    r.ftp.FetchFile("f3", local);
    FAIL() << "no error";
  } catch (const EFtpError& e) {
    EXPECT_NE(std::string(e.what()).find("Invalid passive mode reply"), std::string::npos);
  }
  EXPECT_EQ(r.status.back(), "Transfer complete");
  try {
    r.ftp.SendNoop();
    FAIL() << "no error";
  } catch (const EFtpError& e) {
    EXPECT_STREQ(e.what(), "Max line length exceeded.");
  }
  r.ftp.Disconnect();
}
