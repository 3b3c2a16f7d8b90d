#include "cli/TerminalWidth.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <csignal>

namespace {

std::atomic<bool> g_resized{false};
void OnResize(int) { g_resized.store(true); }

}  // namespace

void WatchTerminalWidth() {
  static const bool once = [] {
    struct sigaction sa {};
    sa.sa_handler = OnResize;
    sa.sa_flags = SA_RESTART;  // a resize must not fail a read or a write
    sigaction(SIGWINCH, &sa, nullptr);
    return true;
  }();
  (void)once;
}

bool TerminalResized() { return g_resized.exchange(false); }

int TerminalColumns() {
  winsize ws{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
  return 80;
}
