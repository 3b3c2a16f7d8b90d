#pragma once
#include <chrono>
#include <functional>

// Lets pending events run during long work; answers true when the
// application is closing and the work must stop.
using PumpHook = std::function<bool()>;

// pump asked at most once an interval (the first call always asks), for
// loops whose steps take far less than a frame: asking after each would cost
// more than the steps. Once pump answers true, so does every later call.
inline PumpHook PacedPump(PumpHook pump, std::chrono::steady_clock::duration interval) {
  if (!pump) return {};
  return [pump = std::move(pump), interval, next = std::chrono::steady_clock::time_point::min(),
          closing = false]() mutable {
    if (closing) return true;
    const auto now = std::chrono::steady_clock::now();
    if (now < next) return false;
    next = now + interval;
    closing = pump();
    return closing;
  };
}
