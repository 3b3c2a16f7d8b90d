#include "meter/KeyCatalogue.h"

#include <cstdio>

#include "meter/TextCodec.h"

namespace {

// Ids 1-42; ids 43-84 are the same names for the second input.
const char* const kMainsNames[42] = {"Voltage-I Ua",
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

// Ids 100-141.
const char* const kHarmonicNames[42] = {
    "Mains-I  Ia THD",        "Mains-I  Ia TOHD",        "Mains-I  Ia TEHD",
    "Mains-I  Ib THD",        "Mains-I  Ib TOHD",        "Mains-I  Ib TEHD",
    "Mains-I  Ic THD",        "Mains-I  Ic TOHD",        "Mains-I  Ic TEHD",
    "Mains-II  Ia THD",       "Mains-II  Ia TOHD",       "Mains-II  Ia TEHD",
    "Mains-II  Ib THD",       "Mains-II  Ib TOHD",       "Mains-II  Ib TEHD",
    "Mains-II  Ic THD",       "Mains-II  Ic TOHD",       "Mains-II  Ic TEHD",
    "Mains-I Ia K-Factor",    "Mains-I Ib K-Factor",     "Mains-I Ic K-Factor",
    "Mains-II Ia K-Factor",   "Mains-II Ib K-Factor",    "Mains-II Ic K-Factor",
    "Voltage-I  Ua THD",      "Voltage-I  Ua TOHD",      "Voltage-I  Ua TEHD",
    "Voltage-I  Ub THD",      "Voltage-I  Ub TOHD",      "Voltage-I  Ub TEHD",
    "Voltage-I  Uc THD",      "Voltage-I  Uc TOHD",      "Voltage-I  Uc TEHD",
    "Voltage-II  Ua/Uab THD", "Voltage-II  Ua/Uab TOHD", "Voltage-II  Ua/Uab TEHD",
    "Voltage-II  Ub/Ubc THD", "Voltage-II  Ub/Ubc TOHD", "Voltage-II  Ub/Ubc TEHD",
    "Voltage-II  Uc/Uca THD", "Voltage-II  Uc/Uca TOHD", "Voltage-II  Uc/Uca TEHD"};

// Ids 2000-2009.
const char* const kMainsEnergyNames[10] = {
    "Mains-I kWh Import",    "Mains-I kWh Export",  "Mains-I kvarh Import", "Mains-I kvarh Export",
    "Mains-I kVAh Export",   "Mains-II kWh Import", "Mains-II kWh Export",  "Mains-II kvarh Import",
    "Mains-II kvarh Export", "Mains-II kVAh Export"};

// Ids 2502-2521.
const char* const kMainsTariffNames[20] = {
    "Mains-I T1 kWh Import",    "Mains-I T1 kWh Export",    "Mains-I T1 kvarh Import",
    "Mains-I T1 kvarh Export",  "Mains-I T1 kVAh Export",   "Mains-I T2 kWh Import",
    "Mains-I T2 kWh Export",    "Mains-I T2 kvarh Import",  "Mains-I T2 kvarh Export",
    "Mains-I T2 kVAh Export",   "Mains-II T1 kWh Import",   "Mains-II T1 kWh Export",
    "Mains-II T1 kvarh Import", "Mains-II T1 kvarh Export", "Mains-II T1 kVAh Export",
    "Mains-II T2 kWh Import",   "Mains-II T2 kWh Export",   "Mains-II T2 kvarh Import",
    "Mains-II T2 kvarh Export", "Mains-II T2 kVAh Export"};

// Sub-meter quantities (P), sub-meter energies (E), tariff energies (T).
const char* const kP[10] = {"Current",     "kW",        "kvar",           "kVA",
                            "PF",          "Loading",   "Current Demand", "kW Demand",
                            "kvar Demand", "kVA Demand"};
const char* const kE[3] = {"kWh Export", "kvarh Import", "kVAh Export"};
const char* const kT[6] = {"T1 kWh Export", "T1 kvarh Import", "T1 kVAh Export",
                           "T2 kWh Export", "T2 kvarh Import", "T2 kVAh Export"};

std::string Numbered(const char* prefix, int number, const char* piece) {
  char buf[96];
  std::snprintf(buf, sizeof buf, "%s%.2d %s", prefix, number, piece);
  return buf;
}

std::string SecondInput(std::string name) {
  const size_t at = name.find("-I");
  if (at != std::string::npos) name.replace(at, 2, "-II");
  return name;
}

std::string FixedName(int id) {
  char buf[32];
  if (id <= 1749) {
    std::snprintf(buf, sizeof buf, "VM#%.2d kW", id - 1739);
  } else if (id <= 1833) {
    std::snprintf(buf, sizeof buf, "1-Phase SM#%.2d THD", id - 1749);
  } else {
    static const char* const kTc[4] = {"TC1", "TC2", "TC1 Demand", "TC2 Demand"};
    return kTc[id - 1834];
  }
  return buf;
}

}  // namespace

std::string GetKeyName(int id) {
  std::string name = "None";
  if (id >= 1 && id <= 42)
    name = kMainsNames[id - 1];
  else if (id >= 43 && id <= 84)
    name = SecondInput(kMainsNames[id - 43]);
  else if (id >= 100 && id <= 141)
    name = kHarmonicNames[id - 100];
  else if (id >= 200 && id <= 1039)
    name = Numbered("1-Phase SM#", id / 10 - 19, kP[id % 10]);
  else if (id >= 1040 && id <= 1459)
    name = Numbered("2-Phase SM#", id / 10 - 103, kP[id % 10]);
  else if (id >= 1460 && id <= 1739)
    name = Numbered("3-Phase SM#", id / 10 - 145, kP[id % 10]);
  else if (id >= 1740 && id <= 1837)
    name = FixedName(id);
  else if (id >= 2000 && id <= 2009)
    name = kMainsEnergyNames[id - 2000];
  else if (id >= 2010 && id <= 2261)
    name = Numbered("1-Phase SM#", 84 - (2261 - id) / 3, kE[id % 3]);
  else if (id >= 2262 && id <= 2387)
    name = Numbered("2-Phase SM#", 42 - (2387 - id) / 3, kE[id % 3]);
  else if (id >= 2388 && id <= 2471)
    name = Numbered("3-Phase SM#", 28 - (2471 - id) / 3, kE[id % 3]);
  else if (id >= 2472 && id <= 2501)
    name = Numbered("Virtual total SM#", 10 - (2501 - id) / 3, kE[id % 3]);
  else if (id >= 2502 && id <= 2521)
    name = kMainsTariffNames[id - 2502];
  else if (id >= 2522 && id <= 2581)
    name = Numbered("Virtual total SM#", 10 - (2581 - id) / 6, kT[(id - 2522) % 6]);
  return Trim(name);
}

double KeyDivisor(int id) {
  if ((id >= 1 && id <= 9) || (id >= 43 && id <= 51)) return 100;     // voltages, frequency
  if ((id >= 10 && id <= 15) || (id >= 52 && id <= 57)) return 1000;  // currents
  if ((id >= 16 && id <= 18) || (id >= 58 && id <= 60)) return 10;    // loading
  if ((id >= 19 && id <= 34) || (id >= 61 && id <= 76)) return 1000;  // kW, kvar, kVA, PF
  if ((id >= 35 && id <= 36) || (id >= 77 && id <= 78)) return 100;   // unbalance
  if ((id >= 37 && id <= 42) || (id >= 79 && id <= 84)) return 1000;  // demands
  if (id >= 100 && id <= 141) return 100;                             // harmonics
  if (id >= 200 && id <= 1739) return id % 10 == 5 ? 10 : 1000;       // sub-meters
  if (id >= 1740 && id <= 1749) return 1000;                          // VM kW
  if (id >= 1750 && id <= 1833) return 100;                           // sub-meter THD
  if (id >= 1834 && id <= 1837) return 10;                            // TC1, TC2
  if (id >= 2000 && id <= 2581) return 10;                            // energies
  return 1;
}
