#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/support/Files.h"
#include "tests/support/Process.h"

namespace {

ProcessResult Krvo(std::vector<std::string> args) {
  args.insert(args.begin(), KrvoPath());
  return RunProcess(args, {"LC_ALL=C"});
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
  EXPECT_EQ(ReadAll(dir.Path() + "/x.dat"), std::string(10, 'x'));  // what arrived stays
}
