#pragma once
// What the simulated meter is: its names and its ten data log groups.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

struct SimGroup {
  uint16_t TriggerType = 1;
  uint16_t RecordType = 0;
  uint16_t RecordNum = 2880;
  uint32_t IntervalSeconds = 900;
  uint16_t TimeOffset = 0;
  std::vector<uint16_t> Keys;  // at most 64; empty = the group logs nothing
};

struct SimProfile {
  std::string DeviceName = "Panel A";
  std::string MainsIName = "Incomer 1";
  std::string MainsIIName = "Incomer 2";
  std::array<std::string, 84> BranchNames;
  std::array<SimGroup, 10> Groups;
};

// A plausible meter: six groups of mains, branch, energy, harmonic and
// full-width keys, four empty groups, and named circuits. Group G (1-10) has
// trigger type G, record type 10 + G, record count 2879 + G and time offset
// 30 + G; the empty groups log every 59 + G seconds.
SimProfile BuiltInProfile();
