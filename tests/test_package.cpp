#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/Files.h"
#include "tests/support/Process.h"

namespace fs = std::filesystem;

// The Debian package: built by cpack, unpacked into a scratch root, its
// programs run from there; installed, they keep their data in the user's
// XDG folder, a portable copy beside itself. And the user units of the
// daily fleet sync pass systemd's check.
TEST(Package, BuildsInstallsAndRuns) {
  TempDir dir;
  const ProcessResult pack =
      RunProcess({"/usr/bin/cpack", "-G", "DEB", "--config", std::string(KRVO_BUILD_DIR) + "/CPackConfig.cmake",
                  "-B", dir.Path() + "/out"});
  ASSERT_EQ(pack.ExitCode, 0) << pack.Out << pack.Err;
  std::string deb;
  for (const auto& e : fs::directory_iterator(dir.Path() + "/out"))
    if (e.path().extension() == ".deb") deb = e.path();
  ASSERT_FALSE(deb.empty());
  EXPECT_EQ(fs::path(deb).filename().string().rfind("krvo-log-viewer_", 0), 0u);
  const ProcessResult fields = RunProcess({"/usr/bin/dpkg-deb", "-f", deb, "Depends"});
  EXPECT_NE(fields.Out.find("libxlsxwriter"), std::string::npos) << fields.Out;  // found by shlibdeps
  EXPECT_NE(fields.Out.find("libqt6widgets6"), std::string::npos) << fields.Out;

  const std::string root = dir.Path() + "/root";
  ASSERT_EQ(RunProcess({"/usr/bin/dpkg", "-x", deb, root}).ExitCode, 0);
  for (const char* f : {"/usr/bin/KRVOLogViewer", "/usr/share/applications/krvo-log-viewer.desktop",
                        "/usr/share/icons/hicolor/scalable/apps/krvo-log-viewer.svg",
                        "/usr/share/doc/krvo-log-viewer/README.md", "/usr/lib/systemd/user/krvo-fleet.timer"})
    EXPECT_TRUE(fs::exists(root + f)) << f;
  const std::string krvo = root + "/usr/bin/krvo";
  const ProcessResult help = RunProcess({krvo, "--help"});
  EXPECT_EQ(help.ExitCode, 0);
  EXPECT_EQ(help.Out.rfind("usage: krvo", 0), 0u);

  ServerProcess sim({root + "/usr/bin/krvo-sim", "--data-root", dir.Path() + "/meter"});
  EXPECT_EQ(sim.Line().rfind("krvo-sim: listening on 127.0.0.1 modbus ", 0), 0u) << sim.Line();
  const std::string port = std::to_string(sim.Field("modbus"));
  const std::string home = dir.Path() + "/home";
  fs::create_directories(home);
  const ProcessResult setup = RunProcess({krvo, "setup", "--host", "127.0.0.1", "--port", port},
                                         {"HOME=" + home, "KRVO_DATA_DIR=", "XDG_DATA_HOME="});
  EXPECT_EQ(setup.ExitCode, 0) << setup.Err;
  EXPECT_EQ(setup.Out, home + "/.local/share/KRVOLogViewer/Panel A/DataLog/DataLogSetup.ini\n");
  EXPECT_FALSE(fs::exists(root + "/usr/bin/Panel A"));

  // A portable copy: a CommSet.ini beside the program.
  const std::string portable = dir.Path() + "/stick";
  fs::create_directories(portable);
  fs::copy_file(krvo, portable + "/krvo");
  WriteAll(portable + "/CommSet.ini", "[ConnectPara]\n");
  const ProcessResult there = RunProcess({portable + "/krvo", "setup", "--host", "127.0.0.1", "--port", port},
                                         {"HOME=" + home, "KRVO_DATA_DIR="});
  EXPECT_EQ(there.Out, portable + "/Panel A/DataLog/DataLogSetup.ini\n") << there.Err;

  // systemd's check of the units, with the service pointing at the unpacked krvo.
  const std::string units = dir.Path() + "/units";
  fs::create_directories(units);
  std::string service = ReadAll(root + "/usr/lib/systemd/user/krvo-fleet.service");
  const size_t at = service.find("/usr/bin/krvo ");
  ASSERT_NE(at, std::string::npos);
  service.replace(at, 13, krvo);
  WriteAll(units + "/krvo-fleet.service", service);
  fs::copy_file(root + "/usr/lib/systemd/user/krvo-fleet.timer", units + "/krvo-fleet.timer");
  const ProcessResult verify = RunProcess(
      {"/usr/bin/systemd-analyze", "verify", units + "/krvo-fleet.service", units + "/krvo-fleet.timer"});
  EXPECT_EQ(verify.ExitCode, 0) << verify.Err;
  EXPECT_EQ(verify.Err, "");
}
