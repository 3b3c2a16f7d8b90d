#pragma once
// The energy and demand report of a device's logs: per series (a group's
// value column), per period, the consumption of each energy register and
// the maximum, its time and the mean of each power column; the resets,
// gaps and overloads. Groups are added one at a time, from LogRecords as
// the offline load reads them, so memory follows one group's records.
#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "app/report/ReportKeys.h"
#include "app/report/ReportTime.h"
#include "meter/MeterState.h"

struct TReportOptions {
  TReportPeriod Period = TReportPeriod::Day;
  std::optional<TReportSeconds> From, To;  // the range [From, To)
  double LoadingLimit = 80;
};

struct TPeriodStats {
  TReportSeconds Period = 0;  // its start, or kTotalPeriod
  double Consumption = 0;     // energy series
  double Max = 0;             // power series, from here on
  TReportSeconds MaxTime = 0;
  double Sum = 0;
  size_t Points = 0;
  double Mean() const { return Points == 0 ? 0 : Sum / static_cast<double>(Points); }
};

struct TReportSeries {
  int Group = 0;  // 0-9
  int Slot = 0;   // the value's place in the group's records
  int KeyId = 0;
  std::string Caption, Circuit;
  bool Energy = false;
  TEnergyUnit Unit = TEnergyUnit::kWh;
  std::vector<TPeriodStats> Periods;  // with points, in time order
  TPeriodStats Whole;                 // over the whole range
  size_t Resets = 0;
  TReportSeconds Covered = 0;  // seconds between consecutive points that are no gap
};

struct TResetEvent {
  size_t Series;
  TReportSeconds Time;  // of the later point
  double Before, After;
};

struct TGapEvent {
  int Group;
  TReportSeconds Start, End;
};

struct TOverloadEvent {
  size_t Series;
  size_t Period;  // index into the series' periods
};

struct TReport {
  TReportOptions Options;
  std::vector<TReportSeries> Series;
  std::vector<TResetEvent> Resets;
  std::vector<TGapEvent> Gaps;
  std::vector<TOverloadEvent> Overloads;
  std::array<size_t, kGroupCount> Records{};       // with a valid time
  std::array<size_t, kGroupCount> InvalidTimes{};  // left out
  std::array<size_t, kGroupCount> GapCount{};
  bool HasRecords = false;
  TReportSeconds First = 0, Last = 0;  // over every group's valid records

  // The range: the options', or from the first to just past the last record.
  TReportSeconds RangeStart() const { return Options.From ? *Options.From : First; }
  TReportSeconds RangeEnd() const { return Options.To ? *Options.To : Last + 1; }
  // The share of the range that the series' consecutive points span.
  double Coverage(const TReportSeries& s) const;
};

class CReportBuilder {
 public:
  explicit CReportBuilder(const TReportOptions& options) { report_.Options = options; }
  // Adds group g's records with its setup and the circuit names.
  void AddGroup(int group, const TLogRecordList& records, const TDataLogSetup& setup,
                const TPanelName& names);
  // The overloads, once every group is in.
  TReport& Finish();

 private:
  bool InRange(TReportSeconds t) const {
    return (!report_.Options.From || t >= *report_.Options.From) &&
           (!report_.Options.To || t < *report_.Options.To);
  }
  TReport report_;
};
