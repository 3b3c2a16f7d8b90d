#pragma once
// The report as lines for scripts: one item a line, its kind first, as TAB
// separated fields or as one JSON object. Numbers are the shortest text
// that reads back as the same double.
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "app/report/Report.h"
#include "app/report/ReportTenants.h"

// The energy and demand lines of every series, then the tenants, resets,
// gaps and overloads. False when the stream can't be written.
bool WriteReportLines(std::FILE* out, const TReport& report, const std::vector<TTenant>& tenants,
                      const std::vector<TTenantPeriod>& tenantPeriods, std::optional<double> price,
                      bool json);

// Shortest round-trip text of a double.
std::string NumberText(double v);
