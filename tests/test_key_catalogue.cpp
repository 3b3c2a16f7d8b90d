#include <gtest/gtest.h>

#include <map>

#include "meter/KeyCatalogue.h"

TEST(KeyCatalogue, MainsAndHarmonicTablesAsPublished) {
  const char* mains[42] = {"Voltage-I Ua",
                           "Voltage-I Ub",
                           "Voltage-I Uc",
                           "Voltage-I Uln avg",
                           "Voltage-I Uab",
                           "Voltage-I Ubc",
                           "Voltage-I Uca",
                           "Voltage-I Ull avg",
                           "Frequency",
                           "Mains-I  Ia",
                           "Mains-I  Ib",
                           "Mains-I  Ic",
                           "Mains-I  In",
                           "Mains-I  Ir",
                           "Mains-I  Iavg",
                           "Mains-I Loading (%), Ia",
                           "Mains-I Loading (%), Ib",
                           "Mains-I Loading (%), Ic",
                           "Mains-I  kW a",
                           "Mains-I  kW b",
                           "Mains-I  kW c",
                           "Mains-I  kW total",
                           "Mains-I  kvar a",
                           "Mains-I  kvar b",
                           "Mains-I  kvar c",
                           "Mains-I  kvar total",
                           "Mains-I  kVA a",
                           "Mains-I  kVA b",
                           "Mains-I  kVA c",
                           "Mains-I  kVA total",
                           "Mains-I  PF a",
                           "Mains-I  PF b",
                           "Mains-I  PF c",
                           "Mains-I  PF total",
                           "Mains-I Current Unbalance",
                           "Mains-I Voltage Unbalance",
                           "Mains-I Ia Demand",
                           "Mains-I Ib Demand",
                           "Mains-I Ic Demand",
                           "Mains-I kW total Demand",
                           "Mains-I kvar total Demand",
                           "Mains-I kVA total Demand"};
  const char* second[42] = {"Voltage-II Ua",
                            "Voltage-II Ub",
                            "Voltage-II Uc",
                            "Voltage-II Uln avg",
                            "Voltage-II Uab",
                            "Voltage-II Ubc",
                            "Voltage-II Uca",
                            "Voltage-II Ull avg",
                            "Frequency",
                            "Mains-II  Ia",
                            "Mains-II  Ib",
                            "Mains-II  Ic",
                            "Mains-II  In",
                            "Mains-II  Ir",
                            "Mains-II  Iavg",
                            "Mains-II Loading (%), Ia",
                            "Mains-II Loading (%), Ib",
                            "Mains-II Loading (%), Ic",
                            "Mains-II  kW a",
                            "Mains-II  kW b",
                            "Mains-II  kW c",
                            "Mains-II  kW total",
                            "Mains-II  kvar a",
                            "Mains-II  kvar b",
                            "Mains-II  kvar c",
                            "Mains-II  kvar total",
                            "Mains-II  kVA a",
                            "Mains-II  kVA b",
                            "Mains-II  kVA c",
                            "Mains-II  kVA total",
                            "Mains-II  PF a",
                            "Mains-II  PF b",
                            "Mains-II  PF c",
                            "Mains-II  PF total",
                            "Mains-II Current Unbalance",
                            "Mains-II Voltage Unbalance",
                            "Mains-II Ia Demand",
                            "Mains-II Ib Demand",
                            "Mains-II Ic Demand",
                            "Mains-II kW total Demand",
                            "Mains-II kvar total Demand",
                            "Mains-II kVA total Demand"};
  for (int i = 0; i < 42; ++i) {
    EXPECT_EQ(GetKeyName(1 + i), mains[i]) << 1 + i;
    EXPECT_EQ(GetKeyName(43 + i), second[i]) << 43 + i;
  }
  const std::map<int, const char*> harmonics = {
      {100, "Mains-I  Ia THD"},        {102, "Mains-I  Ia TEHD"},
      {108, "Mains-I  Ic TEHD"},       {109, "Mains-II  Ia THD"},
      {117, "Mains-II  Ic TEHD"},      {118, "Mains-I Ia K-Factor"},
      {121, "Mains-II Ia K-Factor"},   {123, "Mains-II Ic K-Factor"},
      {124, "Voltage-I  Ua THD"},      {132, "Voltage-I  Uc TEHD"},
      {133, "Voltage-II  Ua/Uab THD"}, {137, "Voltage-II  Ub/Ubc TOHD"},
      {141, "Voltage-II  Uc/Uca TEHD"}};
  for (const auto& [id, name] : harmonics) EXPECT_EQ(GetKeyName(id), name) << id;
}

TEST(KeyCatalogue, ComposedRangesAtTheirBoundaries) {
  const std::map<int, const char*> cases = {{200, "1-Phase SM#01 Current"},
                                            {205, "1-Phase SM#01 Loading"},
                                            {209, "1-Phase SM#01 kVA Demand"},
                                            {210, "1-Phase SM#02 Current"},
                                            {1039, "1-Phase SM#84 kVA Demand"},
                                            {1040, "2-Phase SM#01 Current"},
                                            {1459, "2-Phase SM#42 kVA Demand"},
                                            {1460, "3-Phase SM#01 Current"},
                                            {1739, "3-Phase SM#28 kVA Demand"},
                                            {1740, "VM#01 kW"},
                                            {1749, "VM#10 kW"},
                                            {1750, "1-Phase SM#01 THD"},
                                            {1833, "1-Phase SM#84 THD"},
                                            {1834, "TC1"},
                                            {1835, "TC2"},
                                            {1836, "TC1 Demand"},
                                            {1837, "TC2 Demand"},
                                            {2000, "Mains-I kWh Import"},
                                            {2004, "Mains-I kVAh Export"},
                                            {2009, "Mains-II kVAh Export"},
                                            {2010, "1-Phase SM#01 kWh Export"},
                                            {2011, "1-Phase SM#01 kvarh Import"},
                                            {2012, "1-Phase SM#01 kVAh Export"},
                                            {2013, "1-Phase SM#02 kWh Export"},
                                            {2261, "1-Phase SM#84 kVAh Export"},
                                            {2262, "2-Phase SM#01 kWh Export"},
                                            {2387, "2-Phase SM#42 kVAh Export"},
                                            {2388, "3-Phase SM#01 kWh Export"},
                                            {2471, "3-Phase SM#28 kVAh Export"},
                                            {2472, "Virtual total SM#01 kWh Export"},
                                            {2501, "Virtual total SM#10 kVAh Export"},
                                            {2502, "Mains-I T1 kWh Import"},
                                            {2511, "Mains-I T2 kVAh Export"},
                                            {2512, "Mains-II T1 kWh Import"},
                                            {2521, "Mains-II T2 kVAh Export"},
                                            {2522, "Virtual total SM#01 T1 kWh Export"},
                                            {2527, "Virtual total SM#01 T2 kVAh Export"},
                                            {2528, "Virtual total SM#02 T1 kWh Export"},
                                            {2581, "Virtual total SM#10 T2 kVAh Export"}};
  for (const auto& [id, name] : cases) EXPECT_EQ(GetKeyName(id), name) << id;
  for (int id : {0, -1, -200, 85, 99, 142, 150, 199, 1838, 1999, 2582, 65535, 100000})
    EXPECT_EQ(GetKeyName(id), "None") << id;
  // No name carries the stored tabs and blanks.
  for (int id = -5; id < 2600; ++id) {
    const std::string n = GetKeyName(id);
    ASSERT_FALSE(n.empty()) << id;
    EXPECT_GT(static_cast<unsigned char>(n.front()), ' ') << id;
    EXPECT_GT(static_cast<unsigned char>(n.back()), ' ') << id;
  }
}

TEST(KeyCatalogue, DivisorsByRange) {
  const std::map<int, double> cases = {
      {1, 100},   {9, 100},   {43, 100},    {51, 100},    {10, 1000},   {15, 1000},  {52, 1000},
      {57, 1000}, {16, 10},   {18, 10},     {58, 10},     {60, 10},     {19, 1000},  {34, 1000},
      {61, 1000}, {76, 1000}, {35, 100},    {36, 100},    {77, 100},    {78, 100},   {37, 1000},
      {42, 1000}, {79, 1000}, {84, 1000},   {100, 100},   {141, 100},   {200, 1000}, {204, 1000},
      {205, 10},  {1735, 10}, {1739, 1000}, {1740, 1000}, {1749, 1000}, {1750, 100}, {1833, 100},
      {1834, 10}, {1837, 10}, {2000, 10},   {2581, 10},   {0, 1},       {85, 1},     {99, 1},
      {142, 1},   {199, 1},   {1838, 1},    {1999, 1},    {2582, 1}};
  for (const auto& [id, d] : cases) EXPECT_EQ(KeyDivisor(id), d) << id;
}
