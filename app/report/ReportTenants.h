#pragma once
// Tenants: named sets of energy registers whose consumption is billed
// together. The file holds lines "NAME = ID, ID, ..." (UTF-8, "#" starts a
// comment, blank lines are ignored).
#include <array>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/report/Report.h"

class ETenantsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct TTenant {
  std::string Name;
  std::vector<int> KeyIds;
  int Line = 0;
};

// Reads and checks the file: every id an energy register that one of the
// setups logs. Throws ETenantsError "PATH:LINE: reason" for the first bad
// line, or naming the file when it can't be read or is too big.
std::vector<TTenant> ReadTenantsFile(const std::string& path,
                                     const std::array<TDataLogSetup, kGroupCount>& setups);

struct TTenantPeriod {
  size_t Tenant;
  TReportSeconds Period;
  std::array<double, kEnergyUnits> Consumption{};  // by TEnergyUnit
};

// Per tenant (file order) and period (time order) where any of its
// registers has a point: the sum of their consumption per unit. A register
// logged by several groups counts once, from the first group that logs it.
std::vector<TTenantPeriod> TenantConsumption(const std::vector<TTenant>& tenants,
                                             const TReport& report);
