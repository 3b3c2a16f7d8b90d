#pragma once
// Wall-clock times of the report as whole seconds since 1899-12-30 00:00
// (the day count of TDateTime times 86400), so that period edges and
// differences are exact; the calendar of periods (day, Monday week, month).
#include <cstdint>
#include <optional>
#include <string>

#include "meter/MeterState.h"

using TReportSeconds = int64_t;

enum class TReportPeriod { Day, Week, Month, Total };

// The period of every point of a total report.
constexpr TReportSeconds kTotalPeriod = INT64_MIN;

// The record's time; false when its fields are no valid date and time.
bool StampSeconds(const TSystemTime& stamp, TReportSeconds& out);

// "YYYY-MM-DD" or "YYYY-MM-DD HH:MM[:SS]"; false for anything else.
bool ParseReportTime(const std::string& text, TReportSeconds& out);

// "day", "week", "month" or "total".
bool ParseReportPeriod(const std::string& text, TReportPeriod& out);

// "YYYY-MM-DD HH:MM:SS" and "YYYY-MM-DD".
std::string FormatReportTime(TReportSeconds t);
std::string FormatReportDate(TReportSeconds t);

// The start of the period that holds t (kTotalPeriod for a total report),
// and the start of the next one.
TReportSeconds PeriodStart(TReportPeriod period, TReportSeconds t);
TReportSeconds NextPeriodStart(TReportPeriod period, TReportSeconds start);

// A range [From, To) of wall-clock times, open where a bound is missing.
struct TTimeRange {
  std::optional<TReportSeconds> From, To;
  bool Contains(TReportSeconds t) const { return (!From || t >= *From) && (!To || t < *To); }
  bool Bounded() const { return From || To; }
  // A record is in the range when its time can be made and lies in it.
  bool Holds(const TSystemTime& stamp) const;
};

// The date of the period's first day, or "total".
std::string PeriodLabel(TReportSeconds start);
