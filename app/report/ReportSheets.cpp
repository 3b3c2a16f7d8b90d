#include "app/report/ReportSheets.h"

#include <algorithm>
#include <cstdio>
#include <set>

namespace {

constexpr size_t kChartSeries = 10;

std::string GroupText(int group) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "Group %.2d", group + 1);
  return buf;
}

TReportCell PeriodCell(TReportSeconds period) {
  return period == kTotalPeriod ? TReportCell::Str("total") : TReportCell::Day(period);
}

// The periods of the given series, in time order.
std::vector<TReportSeconds> PeriodsOf(const TReport& report, bool energy) {
  std::set<TReportSeconds> periods;
  for (const TReportSeries& s : report.Series)
    if (s.Energy == energy)
      for (const TPeriodStats& p : s.Periods) periods.insert(p.Period);
  return {periods.begin(), periods.end()};
}

const TPeriodStats* Find(const TReportSeries& s, TReportSeconds period) {
  auto it = std::lower_bound(s.Periods.begin(), s.Periods.end(), period,
                             [](const TPeriodStats& p, TReportSeconds t) { return p.Period < t; });
  return it != s.Periods.end() && it->Period == period ? &*it : nullptr;
}

TReportSheet Summary(const TReport& report) {
  TReportSheet sheet{"Summary", {}, {}};
  std::vector<TReportCell> head;
  for (const char* h :
       {"Group", "Caption", "Circuit", "Key Id", "Kind", "Unit", "Consumption", "Maximum",
        "Time of Maximum", "Mean", "Points", "Resets", "Gaps", "Coverage"})
    head.push_back(TReportCell::Str(h));
  sheet.Rows.push_back(std::move(head));
  for (const TReportSeries& s : report.Series) {
    std::vector<TReportCell> row = {TReportCell::Str(GroupText(s.Group)),
                                    TReportCell::Str(s.Caption), TReportCell::Str(s.Circuit),
                                    TReportCell::Num(s.KeyId)};
    const bool points = s.Whole.Points != 0;
    if (s.Energy) {
      row.push_back(TReportCell::Str("energy"));
      row.push_back(TReportCell::Str(EnergyUnitName(s.Unit)));
      row.push_back(points ? TReportCell::Num(s.Whole.Consumption) : TReportCell{});
      row.resize(row.size() + 3);
    } else {
      row.push_back(TReportCell::Str("demand"));
      row.emplace_back();
      row.emplace_back();
      if (points) {
        row.push_back(TReportCell::Num(s.Whole.Max));
        row.push_back(TReportCell::At(s.Whole.MaxTime));
        row.push_back(TReportCell::Num(s.Whole.Mean()));
      } else {
        row.resize(row.size() + 3);
      }
    }
    row.push_back(TReportCell::Num(static_cast<double>(s.Whole.Points)));
    row.push_back(TReportCell::Num(static_cast<double>(s.Resets)));
    row.push_back(
        TReportCell::Num(static_cast<double>(report.GapCount[static_cast<size_t>(s.Group)])));
    row.push_back(TReportCell::Share(report.Coverage(s)));
    sheet.Rows.push_back(std::move(row));
  }
  return sheet;
}

TReportSheet Energy(const TReport& report) {
  TReportSheet sheet{"Energy", {{TReportCell::Str("Period")}}, {}};
  std::vector<const TReportSeries*> series;
  for (const TReportSeries& s : report.Series)
    if (s.Energy) {
      series.push_back(&s);
      sheet.Rows[0].push_back(TReportCell::Str(SeriesTitle(s) + " " + EnergyUnitName(s.Unit)));
    }
  for (TReportSeconds period : PeriodsOf(report, true)) {
    std::vector<TReportCell> row = {PeriodCell(period)};
    for (const TReportSeries* s : series) {
      const TPeriodStats* p = Find(*s, period);
      row.push_back(p ? TReportCell::Num(p->Consumption) : TReportCell{});
    }
    sheet.Rows.push_back(std::move(row));
  }
  // The ten biggest kWh consumers over the range: one unit on the chart's axis.
  std::vector<size_t> kwh;
  for (size_t i = 0; i < series.size(); ++i)
    if (series[i]->Unit == TEnergyUnit::kWh) kwh.push_back(i);
  std::stable_sort(kwh.begin(), kwh.end(), [&](size_t a, size_t b) {
    return series[a]->Whole.Consumption > series[b]->Whole.Consumption;
  });
  if (kwh.size() > kChartSeries) kwh.resize(kChartSeries);
  for (size_t i : kwh) sheet.ChartColumns.push_back(i + 1);
  return sheet;
}

TReportSheet Demand(const TReport& report) {
  TReportSheet sheet{"Demand", {{TReportCell::Str("Period")}}, {}};
  std::vector<const TReportSeries*> series;
  for (const TReportSeries& s : report.Series)
    if (!s.Energy) {
      series.push_back(&s);
      for (const char* what : {" Maximum", " Time of Maximum", " Mean"})
        sheet.Rows[0].push_back(TReportCell::Str(SeriesTitle(s) + what));
    }
  for (TReportSeconds period : PeriodsOf(report, false)) {
    std::vector<TReportCell> row = {PeriodCell(period)};
    for (const TReportSeries* s : series) {
      if (const TPeriodStats* p = Find(*s, period)) {
        row.push_back(TReportCell::Num(p->Max));
        row.push_back(TReportCell::At(p->MaxTime));
        row.push_back(TReportCell::Num(p->Mean()));
      } else {
        row.resize(row.size() + 3);
      }
    }
    sheet.Rows.push_back(std::move(row));
  }
  return sheet;
}

TReportSheet Tenants(const std::vector<TTenant>& tenants, const std::vector<TTenantPeriod>& periods,
                     std::optional<double> price) {
  TReportSheet sheet{"Tenants", {{}}, {}};
  for (const char* h : {"Period", "Tenant", "kWh", "kvarh", "kVAh"})
    sheet.Rows[0].push_back(TReportCell::Str(h));
  if (price) sheet.Rows[0].push_back(TReportCell::Str("Cost"));
  for (const TTenantPeriod& t : periods) {
    std::vector<TReportCell> row = {PeriodCell(t.Period), TReportCell::Str(tenants[t.Tenant].Name)};
    for (double c : t.Consumption) row.push_back(TReportCell::Num(c));
    if (price) row.push_back(TReportCell::Num(t.Consumption[0] * *price));
    sheet.Rows.push_back(std::move(row));
  }
  return sheet;
}

TReportSheet Events(const TReport& report) {
  TReportSheet sheet{"Events", {{}}, {}};
  for (const char* h : {"Kind", "Group", "Caption", "Circuit", "Period", "Time", "Before", "After",
                        "Start", "End", "Maximum"})
    sheet.Rows[0].push_back(TReportCell::Str(h));
  const size_t width = sheet.Rows[0].size();
  auto row = [&](const char* kind, int group) {
    sheet.Rows.emplace_back(width);
    sheet.Rows.back()[0] = TReportCell::Str(kind);
    sheet.Rows.back()[1] = TReportCell::Str(GroupText(group));
    return &sheet.Rows.back();
  };
  for (const TResetEvent& r : report.Resets) {
    const TReportSeries& s = report.Series[r.Series];
    auto& cells = *row("reset", s.Group);
    cells[2] = TReportCell::Str(s.Caption);
    cells[3] = TReportCell::Str(s.Circuit);
    cells[5] = TReportCell::At(r.Time);
    cells[6] = TReportCell::Num(r.Before);
    cells[7] = TReportCell::Num(r.After);
  }
  for (const TGapEvent& g : report.Gaps) {
    auto& cells = *row("gap", g.Group);
    cells[8] = TReportCell::At(g.Start);
    cells[9] = TReportCell::At(g.End);
  }
  for (const TOverloadEvent& o : report.Overloads) {
    const TReportSeries& s = report.Series[o.Series];
    const TPeriodStats& p = s.Periods[o.Period];
    auto& cells = *row("overload", s.Group);
    cells[2] = TReportCell::Str(s.Caption);
    cells[3] = TReportCell::Str(s.Circuit);
    cells[4] = PeriodCell(p.Period);
    cells[5] = TReportCell::At(p.MaxTime);
    cells[10] = TReportCell::Num(p.Max);
  }
  return sheet;
}

}  // namespace

std::string SeriesTitle(const TReportSeries& s) {
  std::string title = GroupText(s.Group) + " " + s.Caption;
  if (!s.Circuit.empty()) title += " (" + s.Circuit + ")";
  return title;
}

std::vector<TReportSheet> BuildReportSheets(const TReport& report,
                                            const std::vector<TTenant>& tenants,
                                            const std::vector<TTenantPeriod>& tenantPeriods,
                                            std::optional<double> price, bool withTenants) {
  std::vector<TReportSheet> sheets;
  sheets.push_back(Summary(report));
  sheets.push_back(Energy(report));
  sheets.push_back(Demand(report));
  if (withTenants) sheets.push_back(Tenants(tenants, tenantPeriods, price));
  sheets.push_back(Events(report));
  return sheets;
}
