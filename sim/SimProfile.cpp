#include "sim/SimProfile.h"

#include <cstdio>

namespace {

const char* const kCircuits[] = {"Lighting", "Sockets", "HVAC",       "Lift",    "Server Room",
                                 "Kitchen",  "Pumps",   "EV Charger", "Signage", "Spare"};

}  // namespace

SimProfile BuiltInProfile() {
  SimProfile p;
  for (int n = 1; n <= 84; ++n) {
    char name[41];
    std::snprintf(name, sizeof name, "Floor %d %s", (n - 1) / 12 + 1, kCircuits[(n - 1) % 10]);
    p.BranchNames[static_cast<size_t>(n - 1)] = name;
  }

  // Group 1: mains I essentials every 15 minutes.
  p.Groups[0].Keys = {1, 2, 3, 9, 10, 11, 12, 22, 26, 30, 34, 2000, 2002};
  // Group 2: current, kW, PF and loading of the first eight branches.
  for (uint16_t n = 0; n < 8; ++n)
    for (uint16_t q : {0, 1, 4, 5})
      p.Groups[1].Keys.push_back(static_cast<uint16_t>(200 + 10 * n + q));
  // Group 3: hourly kWh of twenty branches.
  p.Groups[2].IntervalSeconds = 3600;
  for (uint16_t n = 0; n < 20; ++n) p.Groups[2].Keys.push_back(static_cast<uint16_t>(2010 + 3 * n));
  // Group 4: mains II.
  p.Groups[3].Keys = {43, 44, 45, 51, 52, 53, 54, 64, 76, 2005};
  // Group 5: harmonics, with one slot left without a key, and the TC channels.
  p.Groups[4].IntervalSeconds = 1800;
  for (uint16_t id = 100; id <= 108; ++id) p.Groups[4].Keys.push_back(id);
  for (uint16_t id = 124; id <= 132; ++id) p.Groups[4].Keys.push_back(id);
  p.Groups[4].Keys.insert(p.Groups[4].Keys.end(), {0, 1834, 1835});
  // Group 6: a full record of 64 keys.
  for (uint16_t id = 1; id <= 42; ++id) p.Groups[5].Keys.push_back(id);
  for (uint16_t id = 2000; id <= 2009; ++id) p.Groups[5].Keys.push_back(id);
  for (uint16_t id = 1740; id <= 1749; ++id) p.Groups[5].Keys.push_back(id);
  p.Groups[5].Keys.insert(p.Groups[5].Keys.end(), {1834, 1835});
  // Groups 7 to 10 log nothing.
  for (size_t g = 6; g < 10; ++g) p.Groups[g].IntervalSeconds = static_cast<uint32_t>(60 + g);
  // The fields a client only carries differ from each other and from group to
  // group, so that one taken for another shows: group G has trigger type G,
  // record type 10 + G, record count 2879 + G and time offset 30 + G.
  for (size_t g = 0; g < 10; ++g) {
    p.Groups[g].TriggerType = static_cast<uint16_t>(g + 1);
    p.Groups[g].RecordType = static_cast<uint16_t>(g + 11);
    p.Groups[g].RecordNum = static_cast<uint16_t>(g + 2880);
    p.Groups[g].TimeOffset = static_cast<uint16_t>(g + 31);
  }
  return p;
}
