#pragma once
// The report as tables, the same for the workbook and the CSV files:
// Summary (every series over the whole range), Energy and Demand (a row per
// period, columns per series), Tenants (when given) and Events.
#include <optional>
#include <string>
#include <vector>

#include "app/report/Report.h"
#include "app/report/ReportTenants.h"

struct TReportCell {
  enum Kind { Empty, Number, Text, Date, DateTime, Percent };
  Kind Type = Empty;
  double Value = 0;         // Number, Percent (a fraction)
  TReportSeconds Time = 0;  // Date, DateTime
  std::string String;       // Text

  static TReportCell Num(double v) { return {Number, v, 0, {}}; }
  static TReportCell Str(std::string s) { return {Text, 0, 0, std::move(s)}; }
  static TReportCell At(TReportSeconds t) { return {DateTime, 0, t, {}}; }
  static TReportCell Day(TReportSeconds t) { return {Date, 0, t, {}}; }
  static TReportCell Share(double v) { return {Percent, v, 0, {}}; }
};

struct TReportSheet {
  std::string Name;
  std::vector<std::vector<TReportCell>> Rows;  // the header first
  // Columns of the column chart (consumption per period), biggest first.
  std::vector<size_t> ChartColumns;
};

std::vector<TReportSheet> BuildReportSheets(const TReport& report,
                                            const std::vector<TTenant>& tenants,
                                            const std::vector<TTenantPeriod>& tenantPeriods,
                                            std::optional<double> price, bool withTenants);

// "Group 01 CAPTION (CIRCUIT)": a series' column heading.
std::string SeriesTitle(const TReportSeries& s);
