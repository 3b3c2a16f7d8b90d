#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/support/Files.h"
#include "tests/support/Process.h"
#include "tests/support/ScriptedFtpServer.h"

namespace {

ProcessResult Krvo(std::vector<std::string> args) {
  args.insert(args.begin(), KrvoPath());
  return RunProcess(args, {"LC_ALL=C"});
}

// Logs in the client that krvo is, up to its first command after SYST.
void LogIn(FtpPeer& p) {
  p.Send("220 hello\r\n");
  p.Command();  // USER
  p.Send("230 in\r\n");
  p.Command();  // TYPE I
  p.Send("200 ok\r\n");
  p.Command();  // SYST
  p.Send("215 UNIX Type: L8\r\n");
}

// count lines of width bytes each, continuing a reply with code.
std::string LongReply(const std::string& code, int count, size_t width) {
  std::string text;
  for (int i = 0; i < count; ++i) text += code + "-" + std::string(width, 'm') + "\r\n";
  return text + code + " end\r\n";
}

}  // namespace

TEST(CliFtp, LsAndGet) {
  TempDir dir;
  const std::string root = dir.Path() + "/sim";
  SimProcess sim({"--data-root", root, "--log-start", "2026-12-01", "--records", "100"});
  const std::string port = std::to_string(sim.FtpPort());
  std::ofstream(root + "/DataLog/Group1/odd  name.dat") << "12345";

  ProcessResult ls = Krvo({"ls", "--host", "127.0.0.1", "--ftp-port", port, "/DataLog/Group1"});
  EXPECT_EQ(ls.ExitCode, 0) << ls.Err;
  const auto size1 = std::filesystem::file_size(root + "/DataLog/Group1/20261201.dat");
  const auto size2 = std::filesystem::file_size(root + "/DataLog/Group1/20261202.dat");
  EXPECT_EQ(ls.Out, "-\t" + std::to_string(size1) + "\t20261201.dat\n-\t" + std::to_string(size2) +
                        "\t20261202.dat\n-\t5\todd  name.dat\n");
  ProcessResult top = Krvo({"ls", "--host", "127.0.0.1", "--ftp-port", port, "/DataLog"});
  EXPECT_NE(top.Out.find("d\t4096\tGroup10\n"), std::string::npos);

  const std::string local = dir.Path() + "/got.dat";
  ProcessResult get = Krvo(
      {"get", "--host", "127.0.0.1", "--ftp-port", port, "/DataLog/Group1/20261201.dat", local});
  EXPECT_EQ(get.ExitCode, 0) << get.Err;
  EXPECT_EQ(ReadAll(local), ReadAll(root + "/DataLog/Group1/20261201.dat"));

  ProcessResult missing =
      Krvo({"get", "--host", "127.0.0.1", "--ftp-port", port, "/DataLog/Group1/none.dat", local});
  EXPECT_EQ(missing.ExitCode, 1);
  EXPECT_EQ(missing.Err, "Failed to open file.\n");
  ProcessResult badFolder = Krvo({"ls", "--host", "127.0.0.1", "--ftp-port", port, "/Nope"});
  EXPECT_EQ(badFolder.ExitCode, 1);
  EXPECT_EQ(badFolder.Err, "Failed to change directory.\n");

  for (const auto& args : std::vector<std::vector<std::string>>{
           {"ls", "--host", "127.0.0.1"},
           {"ls", "/x"},
           {"get", "--host", "127.0.0.1", "/only-one"},
           {"get", "--host", "127.0.0.1", "--ftp-port", "70000", "/a", "b"},
           {"ls", "--host", "127.0.0.1", "--timeout", "0", "/"}}) {
    EXPECT_EQ(Krvo(args).ExitCode, 2) << args.back();
  }
}

TEST(CliFtp, AStalledServerCannotHangAScript) {
  TempDir dir;
  const std::string root = dir.Path() + "/sim";
  SimProcess sim({"--data-root", root, "--ftp-stall-after", "10"});
  std::ofstream(root + "/DataLog/Group1/x.dat") << std::string(1000, 'x');
  ProcessResult r = Krvo({"get", "--host", "127.0.0.1", "--ftp-port", std::to_string(sim.FtpPort()),
                          "--timeout", "1", "/DataLog/Group1/x.dat", dir.Path() + "/x.dat"});
  EXPECT_EQ(r.ExitCode, 1);
  EXPECT_EQ(r.Err, "Read Timeout\n");
  EXPECT_FALSE(std::filesystem::exists(dir.Path() + "/x.dat"));  // half a file is no file
}

TEST(CliFtp, RepliesAreBoundedAndLongErrorTextsCut) {
  {
    ScriptedFtpServer server([](FtpPeer& p) {
      p.Send(LongReply("220", 1200, 1000));
      p.Command();
    });
    ProcessResult r =
        Krvo({"ls", "--host", "127.0.0.1", "--ftp-port", std::to_string(server.Port()), "/"});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_EQ(r.Err, "Reply exceeds 1048576 bytes.\n");
  }
  {
    ScriptedFtpServer server([](FtpPeer& p) {
      LogIn(p);
      p.Command();  // CWD
      p.Send(LongReply("550", 300, 1000));
      p.Command();
    });
    ProcessResult r =
        Krvo({"ls", "--host", "127.0.0.1", "--ftp-port", std::to_string(server.Port()), "/x"});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_LT(r.Err.size(), 4000u);
    EXPECT_EQ(r.Err.rfind(std::string(1000, 'm') + "\n", 0), 0u);
    EXPECT_NE(r.Err.find("\n[message cut: "), std::string::npos) << r.Err.substr(0, 100);
  }
}

TEST(CliFtp, TheTimeoutBoundsADataConnect) {
  // A data port whose accept queue is full: its connects go unanswered.
  int full = 0;
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(listen(fd, 0), 0);
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  full = ntohs(a.sin_port);
  const int filler = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  connect(filler, reinterpret_cast<sockaddr*>(&a), sizeof a);
  pollfd p{filler, POLLOUT, 0};
  ASSERT_EQ(poll(&p, 1, 5000), 1);

  ScriptedFtpServer server([full](FtpPeer& p) {
    LogIn(p);
    p.Command();  // CWD
    p.Send("250 ok\r\n");
    p.Command();  // PASV
    p.Send("227 (127,0,0,1," + std::to_string(full / 256) + "," + std::to_string(full % 256) +
           ")\r\n");
    p.Command();
  });
  TempDir dir;
  const auto t0 = std::chrono::steady_clock::now();
  ProcessResult r = Krvo({"get", "--host", "127.0.0.1", "--ftp-port", std::to_string(server.Port()),
                          "--timeout", "2", "/DataLog/a.dat", dir.Path() + "/a.dat"});
  const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_EQ(r.ExitCode, 1);
  EXPECT_EQ(r.Err, "Connect timed out.\n");
  EXPECT_LT(took, 30.0);  // not the session's own two minutes
  close(filler);
  close(fd);
}

TEST(CliFtp, AFailedGetLeavesTheLocalFileAsItWas) {
  TempDir dir;
  const std::string root = dir.Path() + "/sim";
  SimProcess sim({"--data-root", root, "--records", "10"});
  const std::string port = std::to_string(sim.FtpPort());
  const std::string local = dir.Path() + "/keep/x.dat";
  std::filesystem::create_directories(dir.Path() + "/keep");
  WriteAll(local, "old contents");
  chmod(local.c_str(), 0640);
  ProcessResult missing =
      Krvo({"get", "--host", "127.0.0.1", "--ftp-port", port, "/DataLog/Group1/none.dat", local});
  EXPECT_EQ(missing.ExitCode, 1);
  EXPECT_EQ(ReadAll(local), "old contents");
  WriteAll(root + "/DataLog/Group1/new.dat", "new contents");
  ProcessResult got =
      Krvo({"get", "--host", "127.0.0.1", "--ftp-port", port, "/DataLog/Group1/new.dat", local});
  EXPECT_EQ(got.ExitCode, 0) << got.Err;
  EXPECT_EQ(ReadAll(local), "new contents");
  struct stat st {};
  stat(local.c_str(), &st);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  // Nothing else was left beside it.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path() + "/keep"),
                          std::filesystem::directory_iterator()),
            1);
}

TEST(CliFtp, LsEscapesControlCharactersInNames) {
  TempDir dir;
  const std::string root = dir.Path() + "/sim";
  SimProcess sim({"--data-root", root, "--records", "10"});
  const std::string folder = root + "/DataLog/Group1/";
  for (const char* name : {"bell\a.dat", "esc\x1b[2J.dat", "tab\tin.dat", "back\\slash.dat",
                           "csi\xc2\x9b.dat", "caf\xc3\xa9.dat"})
    WriteAll(folder + name, "1");
  ProcessResult ls = Krvo({"ls", "--host", "127.0.0.1", "--ftp-port", std::to_string(sim.FtpPort()),
                           "/DataLog/Group1"});
  EXPECT_EQ(ls.ExitCode, 0) << ls.Err;
  for (const char* line :
       {"-\t1\tbell\\x07.dat\n", "-\t1\tesc\\x1b[2J.dat\n", "-\t1\ttab\\tin.dat\n",
        "-\t1\tback\\\\slash.dat\n", "-\t1\tcsi\\xc2\\x9b.dat\n", "-\t1\tcaf\xc3\xa9.dat\n"})
    EXPECT_NE(ls.Out.find(line), std::string::npos) << line << " in\n" << ls.Out;
}
