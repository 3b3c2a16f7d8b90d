#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "tests/support/Files.h"
#include "tests/support/Process.h"

namespace fs = std::filesystem;

// The Debian package: built by cpack, clean under lintian, unpacked into a
// scratch root, its programs run from there; installed, they keep their data
// in the user's XDG folder, a portable copy beside itself. Its manual pages
// render and name every subcommand, its bash completion completes, and the
// user units of the daily fleet sync pass systemd's check.
TEST(Package, BuildsInstallsAndRuns) {
  TempDir dir;
  const ProcessResult pack =
      RunProcess({"/usr/bin/cpack", "-G", "DEB", "--config",
                  std::string(KRVO_BUILD_DIR) + "/CPackConfig.cmake", "-B", dir.Path() + "/out"});
  ASSERT_EQ(pack.ExitCode, 0) << pack.Out << pack.Err;
  std::string deb;
  for (const auto& e : fs::directory_iterator(dir.Path() + "/out"))
    if (e.path().extension() == ".deb") deb = e.path();
  ASSERT_FALSE(deb.empty());
  EXPECT_EQ(fs::path(deb).filename().string().rfind("krvo-log-viewer_", 0), 0u);
  const ProcessResult fields = RunProcess({"/usr/bin/dpkg-deb", "-f", deb, "Depends"});
  EXPECT_NE(fields.Out.find("libxlsxwriter"), std::string::npos)
      << fields.Out;  // found by shlibdeps
  EXPECT_NE(fields.Out.find("libqt6widgets6"), std::string::npos) << fields.Out;
  EXPECT_NE(fields.Out.find("libpugixml1v5"), std::string::npos) << fields.Out;

  // Errors and warnings fail; --pedantic's infos are shown, not judged.
  const ProcessResult lintian = RunProcess({"/usr/bin/lintian", "--fail-on", "error,warning", deb});
  EXPECT_EQ(lintian.ExitCode, 0) << lintian.Out << lintian.Err;
  EXPECT_EQ(lintian.Out, "") << lintian.Out;

  const std::string root = dir.Path() + "/root";
  ASSERT_EQ(RunProcess({"/usr/bin/dpkg", "-x", deb, root}).ExitCode, 0);
  for (const char* f :
       {"/usr/bin/KRVOLogViewer", "/usr/share/applications/krvo-log-viewer.desktop",
        "/usr/share/icons/hicolor/scalable/apps/krvo-log-viewer.svg",
        "/usr/share/doc/krvo-log-viewer/README.md", "/usr/lib/systemd/user/krvo-fleet.timer",
        "/usr/share/doc/krvo-log-viewer/copyright", "/usr/share/doc/krvo-log-viewer/changelog.gz"})
    EXPECT_TRUE(fs::exists(root + f)) << f;
  const std::string krvo = root + "/usr/bin/krvo";
  const ProcessResult help = RunProcess({krvo, "--help"});
  EXPECT_EQ(help.ExitCode, 0);
  EXPECT_EQ(help.Out.rfind("usage: krvo", 0), 0u);

  std::vector<std::string> subcommands;
  const std::regex subLine("\n  ([a-z]+) ");
  for (std::sregex_iterator m(help.Out.begin(), help.Out.end(), subLine), end; m != end; ++m)
    subcommands.push_back((*m)[1]);
  EXPECT_GE(subcommands.size(), 10u) << help.Out;
  for (const char* program : {"krvo", "krvo-sim", "KRVOLogViewer"}) {
    const ProcessResult page =
        RunProcess({"/usr/bin/man", "-l", root + "/usr/share/man/man1/" + program + ".1.gz"},
                   {"MANPAGER=cat", "MANWIDTH=80", "LC_ALL=C"});
    EXPECT_EQ(page.ExitCode, 0) << program << page.Err;
    EXPECT_EQ(page.Err, "") << program;
    EXPECT_NE(page.Out.find("FILES"), std::string::npos) << program;
    EXPECT_NE(page.Out.find(".local/share/KRVOLogViewer"), std::string::npos) << program;
    if (std::string(program) != "krvo") continue;
    for (const std::string& sub : subcommands)
      EXPECT_NE(page.Out.find("krvo " + sub), std::string::npos) << sub;
  }

  // Completion as bash does it: the subcommand, an option, a path.
  WriteAll(dir.Path() + "/fleet-list.txt", "");
  auto complete = [&](const std::string& words) {
    const std::string script =
        "source /usr/share/bash-completion/bash_completion; source " + root +
        "/usr/share/bash-completion/completions/krvo; COMP_WORDS=(" + words +
        "); COMP_CWORD=$((${#COMP_WORDS[@]}-1)); COMP_LINE=\"${COMP_WORDS[*]}\"; "
        "COMP_POINT=${#COMP_LINE}; _krvo; printf '%s\\n' \"${COMPREPLY[@]}\"";
    return RunProcess({"/bin/bash", "-c", script}, {"PATH=" + root + "/usr/bin:/usr/bin:/bin"}).Out;
  };
  EXPECT_EQ(complete("krvo dow"), "download\n");
  EXPECT_EQ(complete("krvo download --ho"), "--host\n");
  EXPECT_EQ(complete("krvo fleet " + dir.Path() + "/fleet-l"), dir.Path() + "/fleet-list.txt\n");

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
  const ProcessResult there =
      RunProcess({portable + "/krvo", "setup", "--host", "127.0.0.1", "--port", port},
                 {"HOME=" + home, "KRVO_DATA_DIR="});
  EXPECT_EQ(there.Out, portable + "/Panel A/DataLog/DataLogSetup.ini\n") << there.Err;

  // systemd's check of the units, with the service pointing at the unpacked krvo.
  const std::string units = dir.Path() + "/units";
  fs::create_directories(units);
  std::string service = ReadAll(root + "/usr/lib/systemd/user/krvo-fleet.service");
  EXPECT_EQ(service.find("network-online.target"), std::string::npos);  // the user manager has none
  const size_t at = service.find("/usr/bin/krvo ");
  ASSERT_NE(at, std::string::npos);
  service.replace(at, 13, krvo);
  WriteAll(units + "/krvo-fleet.service", service);
  fs::copy_file(root + "/usr/lib/systemd/user/krvo-fleet.timer", units + "/krvo-fleet.timer");
  const ProcessResult verify =
      RunProcess({"/usr/bin/systemd-analyze", "verify", units + "/krvo-fleet.service",
                  units + "/krvo-fleet.timer"});
  EXPECT_EQ(verify.ExitCode, 0) << verify.Err;
  EXPECT_EQ(verify.Err, "");
}
