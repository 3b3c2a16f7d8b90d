#include "link/DebugOutput.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace krvo {
namespace {

std::mutex g_mutex;
DebugSink g_sink;

bool DebugEnabled() {
  static const bool enabled = [] {
    const char* v = std::getenv("KRVO_DEBUG");
    return v != nullptr && std::strcmp(v, "1") == 0;
  }();
  return enabled;
}

}  // namespace

DebugSink SetDebugSink(DebugSink sink) {
  std::lock_guard<std::mutex> lock(g_mutex);
  DebugSink old = std::move(g_sink);
  g_sink = std::move(sink);
  return old;
}

void DebugOutput(const char* fmt, ...) {
  char line[512];
  va_list ap;
  va_start(ap, fmt);
  std::vsnprintf(line, sizeof line, fmt, ap);
  va_end(ap);

  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_sink) {
    g_sink(line);
  } else if (DebugEnabled()) {
    std::fprintf(stderr, "%s\n", line);
  }
}

}  // namespace krvo
