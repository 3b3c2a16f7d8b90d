#include "app/report/Report.h"

#include <algorithm>

#include "meter/KeyCatalogue.h"

namespace {

struct TTimedRecord {
  TReportSeconds Time;
  TLogRecordList::Handle Record;
};

// The last point of a series while its records are walked in time order.
struct TSeriesState {
  bool HasPrevious = false;
  bool PreviousInRange = false;
  TReportSeconds PreviousTime = 0;
  double Previous = 0;
};

void AddPoint(TPeriodStats& p, TReportSeconds t, double v) {
  if (p.Points == 0 || v > p.Max) {
    p.Max = v;
    p.MaxTime = t;
  }
  p.Sum += v;
  ++p.Points;
}

}  // namespace

double TReport::Coverage(const TReportSeries& s) const {
  const TReportSeconds span = RangeEnd() - RangeStart();
  if (span <= 0) return 0;
  return std::min(1.0, static_cast<double>(s.Covered) / static_cast<double>(span));
}

void CReportBuilder::AddGroup(int group, const TLogRecordList& records, const TDataLogSetup& setup,
                              const TPanelName& names) {
  if (group < 0 || group >= kGroupCount) return;
  const size_t g = static_cast<size_t>(group);
  // Time order; equal times keep file order; times that can't be made are left out.
  std::vector<TTimedRecord> timed;
  timed.reserve(records.Count());
  for (TLogRecordList::Handle h : records.Items()) {
    TReportSeconds t = 0;
    if (StampSeconds(records.View(h).Stamp(), t))
      timed.push_back({t, h});
    else
      ++report_.InvalidTimes[g];
  }
  if (!std::is_sorted(timed.begin(), timed.end(),
                      [](const auto& a, const auto& b) { return a.Time < b.Time; }))
    std::stable_sort(timed.begin(), timed.end(),
                     [](const auto& a, const auto& b) { return a.Time < b.Time; });
  report_.Records[g] = timed.size();
  if (timed.empty()) return;  // series are a group's with records
  if (!report_.HasRecords || timed.front().Time < report_.First) report_.First = timed.front().Time;
  if (!report_.HasRecords || timed.back().Time > report_.Last) report_.Last = timed.back().Time;
  report_.HasRecords = true;

  const int keys = std::min<int>({setup.KeyNum, kMaxKeys, records.KeyCount()});
  const size_t firstSeries = report_.Series.size();
  std::vector<int> slots;
  std::vector<double> noValue;  // the marker as the reader scaled it
  for (int j = 0; j < keys; ++j) {
    const int id = setup.keyArr[j];
    if (id == 0) continue;  // an empty slot: never a value
    TReportSeries s;
    s.Group = group;
    s.Slot = j;
    s.KeyId = id;
    s.Caption = GetKeyName(id);
    s.Circuit = CircuitOf(id, names);
    s.Energy = IsEnergyKey(id);
    if (s.Energy) s.Unit = EnergyUnitOf(id);
    s.Whole.Period = kTotalPeriod;
    report_.Series.push_back(std::move(s));
    slots.push_back(j);
    noValue.push_back(static_cast<double>(NoValue) / KeyDivisor(id));
  }
  TReportSeries* series = report_.Series.data() + firstSeries;
  const size_t count = slots.size();
  std::vector<TSeriesState> state(count);

  const int64_t interval = static_cast<int64_t>(setup.TimeInterval);
  const TReportPeriod kind = report_.Options.Period;
  TReportSeconds periodStart = 0, periodEnd = 0;
  bool havePeriod = false;
  bool previousInRange = false;
  for (size_t r = 0; r < timed.size(); ++r) {
    const TReportSeconds t = timed[r].Time;
    const bool inRange = InRange(t);
    if (r > 0 && interval > 0 && previousInRange && t - timed[r - 1].Time > 2 * interval) {
      report_.Gaps.push_back({group, timed[r - 1].Time, t});
      ++report_.GapCount[g];
    }
    previousInRange = inRange;
    if (inRange && kind != TReportPeriod::Total &&
        (!havePeriod || t < periodStart || t >= periodEnd)) {
      periodStart = PeriodStart(kind, t);
      periodEnd = NextPeriodStart(kind, periodStart);
      havePeriod = true;
    }
    const TReportSeconds period = kind == TReportPeriod::Total ? kTotalPeriod : periodStart;
    const TLogRecord record = records.View(timed[r].Record);
    for (size_t k = 0; k < count; ++k) {
      const double v = record.Value(slots[k]);
      if (v == noValue[k] || v == static_cast<double>(NoValue)) continue;
      TReportSeries& s = series[k];
      TSeriesState& st = state[k];
      if (st.HasPrevious && st.PreviousInRange) {
        const TReportSeconds dt = t - st.PreviousTime;
        if (interval == 0 || dt <= 2 * interval)
          s.Covered +=
              report_.Options.To ? std::min(dt, *report_.Options.To - st.PreviousTime) : dt;
        if (s.Energy) {
          const double increment = v - st.Previous;
          if (increment < 0) {
            report_.Resets.push_back({firstSeries + k, t, st.Previous, v});
            ++s.Resets;
          } else {
            s.Periods.back().Consumption += increment;
            s.Whole.Consumption += increment;
          }
        }
      }
      if (inRange) {
        if (s.Periods.empty() || s.Periods.back().Period != period) {
          s.Periods.emplace_back();
          s.Periods.back().Period = period;
        }
        AddPoint(s.Periods.back(), t, v);
        AddPoint(s.Whole, t, v);
      }
      st.HasPrevious = true;
      st.PreviousInRange = inRange;
      st.PreviousTime = t;
      st.Previous = v;
    }
  }
}

TReport& CReportBuilder::Finish() {
  report_.Overloads.clear();
  for (size_t i = 0; i < report_.Series.size(); ++i) {
    const TReportSeries& s = report_.Series[i];
    if (!IsLoadingKey(s.KeyId)) continue;
    for (size_t p = 0; p < s.Periods.size(); ++p)
      if (s.Periods[p].Max > report_.Options.LoadingLimit) report_.Overloads.push_back({i, p});
  }
  return report_;
}
