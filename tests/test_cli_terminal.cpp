#include <errno.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <regex>

#include "tests/support/Files.h"
#include "tests/support/Process.h"

namespace {

ProcessResult Krvo(std::vector<std::string> args) {
  args.insert(args.begin(), KrvoPath());
  return RunProcess(args, {"LC_ALL=C", "KRVO_DEBUG=0"});
}

// What a terminal of width columns shows of output: \r, \n, ESC[K and the
// wrap at the last column, as xterm does them; from byte widerAt on it is
// wider columns wide (what was drawn for the narrower still fits).
std::vector<std::string> Screen(const std::string& out, size_t columns, size_t widerAt = 0,
                                size_t wider = 0) {
  std::vector<std::string> rows(1);
  size_t col = 0;
  for (size_t i = 0; i < out.size(); ++i) {
    if (i == widerAt && wider > columns) columns = wider;
    const char c = out[i];
    if (c == '\r') {
      col = 0;
    } else if (c == '\n') {
      rows.emplace_back();
      col = 0;
    } else if (c == '\033' && out.compare(i, 3, "\033[K") == 0) {
      rows.back().resize(std::min(rows.back().size(), col));
      i += 2;
    } else {
      if (col == columns) {
        rows.emplace_back();
        col = 0;
      }
      std::string& row = rows.back();
      if (row.size() <= col) row.resize(col + 1, ' ');
      row[col++] = c;
    }
  }
  return rows;
}

// The updating line's drawings: what follows each ESC[K up to the next \r or \n.
std::vector<std::string> Drawings(const std::string& out) {
  std::vector<std::string> found;
  for (size_t at = out.find("\033[K"); at != std::string::npos; at = out.find("\033[K", at + 1)) {
    const size_t end = out.find_first_of("\r\n", at);
    found.push_back(
        out.substr(at + 3, end == std::string::npos ? std::string::npos : end - at - 3));
  }
  return found;
}

// argv on a pseudo-terminal of columns (stdout and stderr both on it);
// once the first progress bar is drawn, the terminal is resized to resizeTo.
// Returns everything the terminal received and what came before the resize.
struct PtyRun {
  std::string Out, BeforeResize;
  int ExitCode = -1;
};
PtyRun RunOnPty(const std::vector<std::string>& argv, unsigned short columns,
                unsigned short resizeTo) {
  winsize ws{};
  ws.ws_row = 24;
  ws.ws_col = columns;
  int master = -1;
  const pid_t pid = forkpty(&master, nullptr, nullptr, &ws);
  if (pid == 0) {
    std::vector<char*> a;
    for (const std::string& s : argv) a.push_back(const_cast<char*>(s.c_str()));
    a.push_back(nullptr);
    setenv("LC_ALL", "C", 1);
    setenv("KRVO_DEBUG", "0", 1);
    execv(a[0], a.data());
    _exit(127);
  }
  PtyRun run;
  bool resized = false;
  char buf[4096];
  for (;;) {
    const ssize_t n = read(master, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // EIO once the program closed its side
    run.Out.append(buf, static_cast<size_t>(n));
    if (!resized && run.Out.find(" files") != std::string::npos) {
      run.BeforeResize = run.Out;
      ws.ws_col = resizeTo;
      ioctl(master, TIOCSWINSZ, &ws);  // SIGWINCH to the program
      resized = true;
    }
  }
  close(master);
  int status = 0;
  waitpid(pid, &status, 0);
  run.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

size_t LongestDrawing(const std::string& out) {
  size_t longest = 0;
  for (const std::string& d : Drawings(out)) longest = std::max(longest, d.size());
  return longest;
}

}  // namespace

// A download on an 80-column terminal that becomes 40 columns wide: every
// drawing of the progress line fits the width of its time, nothing is left
// of the bars when it ends, the final line shows once, and a group's first
// file gives no rate (its time is not yet worth dividing by).
TEST(CliTerminal, ProgressFitsAndEndsClean) {
  TempDir dir;
  SimProcess sim({"--data-root", dir.Path() + "/meter"});
  const std::vector<std::string> args = {KrvoPath(),   "download",
                                         "--host",     "127.0.0.1",
                                         "--port",     std::to_string(sim.ModbusPort()),
                                         "--ftp-port", std::to_string(sim.FtpPort()),
                                         "--data-dir", dir.Path() + "/data",
                                         "--pace-ms",  "250"};
  for (const auto& [width, resizeTo] :
       {std::pair<unsigned short, unsigned short>{80, 40}, {40, 80}}) {
    SCOPED_TRACE(width);
    const PtyRun run = RunOnPty(args, width, resizeTo);
    EXPECT_EQ(run.ExitCode, 0) << run.Out;
    EXPECT_LT(LongestDrawing(run.BeforeResize), width);
    const std::vector<std::string> drawings = Drawings(run.Out);
    ASSERT_FALSE(drawings.empty());
    // The last bar came after the resize (the groups after the first one's bar take seconds).
    std::string lastBar;
    for (const std::string& d : drawings)
      if (d.find(" files") != std::string::npos) lastBar = d;
    EXPECT_LT(lastBar.size(), resizeTo) << lastBar;
    // Wide enough, a group gives its rate once a second has passed.
    const std::regex rate(" files, [^,]+, [0-9.]+ (kB|MB)/s, ");
    if (resizeTo == 80) {
      EXPECT_TRUE(std::any_of(drawings.begin(), drawings.end(), [&](const std::string& d) {
        return std::regex_search(d, rate);
      })) << run.Out;
    }
    const std::regex firstFile("Group \\d\\d \\[[#.]*\\] 1/\\d+ files([^ ]| [^ ])*");
    for (const std::string& d : drawings) {
      std::smatch m;
      if (std::regex_search(d, m, firstFile)) {
        EXPECT_EQ(m.str().find("/s"), std::string::npos) << d;
      }
    }
    size_t finals = 0, bars = 0;
    for (const std::string& row : Screen(run.Out, width, run.BeforeResize.size(), resizeTo)) {
      finals += row.find("Finished to download logs") != std::string::npos ? 1 : 0;
      bars += row.find(" files") != std::string::npos || row.find("#") != std::string::npos ? 1 : 0;
    }
    EXPECT_EQ(finals, 1u) << run.Out;
    EXPECT_EQ(bars, 0u) << run.Out;
  }
  // A sync prints no final line of its own: its progress line ends with it.
  std::vector<std::string> sync = args;
  sync[1] = "sync";
  const PtyRun run = RunOnPty(sync, 40, 40);
  EXPECT_EQ(run.ExitCode, 0) << run.Out;
  const std::vector<std::string> rows = Screen(run.Out, 40);
  EXPECT_EQ(std::count_if(
                rows.begin(), rows.end(),
                [](const std::string& r) { return r.find("Finished to download new files") == 0; }),
            1)
      << run.Out;
}

// The conventions a terminal user relies on: the version, a hint for a
// mistyped subcommand, a missing file as a failure (1) with the system's
// reason rather than a usage error (2), and the reason of a failed write.
TEST(CliTerminal, VersionHintsAndReasons) {
  for (const char* flag : {"--version", "-V"}) {
    const ProcessResult v = Krvo({flag});
    EXPECT_EQ(v.ExitCode, 0);
    EXPECT_EQ(v.Out, std::string("krvo ") + KRVO_PROJECT_VERSION + "\n");
  }
  const ProcessResult sim = RunProcess({SimPath(), "--version"});
  EXPECT_EQ(sim.ExitCode, 0);
  EXPECT_EQ(sim.Out, std::string("krvo-sim ") + KRVO_PROJECT_VERSION + "\n");

  const ProcessResult typo = Krvo({"dowload"});
  EXPECT_EQ(typo.ExitCode, 2);
  EXPECT_NE(typo.Err.find("did you mean 'download'?"), std::string::npos) << typo.Err;
  const ProcessResult option = Krvo({"info", "--hots", "x"});
  EXPECT_EQ(option.ExitCode, 2);
  EXPECT_NE(option.Err.find("did you mean '--host'?"), std::string::npos) << option.Err;

  TempDir dir;
  const ProcessResult fleet = Krvo({"fleet", dir.Path() + "/none.txt", "--data-dir", dir.Path()});
  EXPECT_EQ(fleet.ExitCode, 1);
  EXPECT_NE(fleet.Err.find(std::strerror(ENOENT)), std::string::npos) << fleet.Err;
  EXPECT_EQ(fleet.Err.find("usage:"), std::string::npos) << fleet.Err;

  // The device's DataLog folder is one nobody may create files in, root neither.
  SimProcess meter({"--data-root", dir.Path() + "/meter"});
  std::filesystem::create_directories(dir.Path() + "/data/Panel A");
  std::filesystem::create_directory_symlink("/proc/self", dir.Path() + "/data/Panel A/DataLog");
  const ProcessResult setup =
      Krvo({"setup", "--host", "127.0.0.1", "--port", std::to_string(meter.ModbusPort()),
            "--data-dir", dir.Path() + "/data"});
  EXPECT_EQ(setup.ExitCode, 1);
  EXPECT_NE(setup.Err.find("Unable to write to " + dir.Path() +
                           "/data/Panel A/DataLog/DataLogSetup.ini: " + std::strerror(ENOENT)),
            std::string::npos)
      << setup.Err;
}
