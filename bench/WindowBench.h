#pragma once
// What the window benchmarks share: frames timed as a median, and a group
// that logs the first key ids.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "meter/MeterState.h"
#include "tests/support/Process.h"

// Where a window bench runs: offscreen unless told otherwise, with a data
// folder of its own, removed at the end. Made before the application.
class CBenchDataFolder {
 public:
  CBenchDataFolder() {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("KRVO_DATA_DIR", dir_.Path().c_str(), 1);
  }
  const std::string& Path() const { return dir_.Path(); }

 private:
  TempDir dir_;
};

// The median time, in milliseconds, of frames calls of frame(i).
template <typename F>
double MedianMs(int frames, F frame) {
  std::vector<double> ms;
  for (int i = 0; i < frames; ++i) {
    const auto t0 = std::chrono::steady_clock::now();
    frame(i);
    ms.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
  }
  std::sort(ms.begin(), ms.end());
  return ms[ms.size() / 2];
}

// Group 0 logs key ids 1 to keys; the record list takes as many values.
inline void LogFirstKeysInGroup0(int keys) {
  GroupSetups = {};
  GroupSetups[0].KeyNum = static_cast<uint16_t>(keys);
  for (int j = 0; j < keys; ++j) GroupSetups[0].keyArr[j] = static_cast<uint16_t>(1 + j);
  LogRecords.SetKeyCount(keys);
}
