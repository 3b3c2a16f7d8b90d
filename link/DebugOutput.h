#pragma once
// Diagnostic output of the device link. Lines go to stderr only when the
// environment has KRVO_DEBUG=1; tests may install a sink to capture them.
#include <functional>
#include <string>

namespace krvo {

using DebugSink = std::function<void(const std::string&)>;

// Replaces the sink (an empty function restores the default) and returns the old one.
DebugSink SetDebugSink(DebugSink sink);

// printf-style; one call is one line.
void DebugOutput(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

}  // namespace krvo
