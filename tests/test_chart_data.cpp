#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>

#include "app/ChartData.h"
#include "meter/DisplayFormat.h"

namespace {

const double kGap = static_cast<double>(NoValue);

void Add(TLogRecordList& list, int day, int hour, int minute, int second, double value) {
  list.SetKeyCount(1);
  list.Add({2026, 3, 0, static_cast<uint16_t>(day), static_cast<uint16_t>(hour),
            static_cast<uint16_t>(minute), static_cast<uint16_t>(second), 0})[0] = value;
}

// The drawn lines: runs of points between NaN breaks.
std::vector<std::vector<double>> Lines(const TChartPoints& p) {
  std::vector<std::vector<double>> lines(1);
  for (double y : p.Y) {
    if (std::isnan(y)) {
      lines.emplace_back();
    } else {
      lines.back().push_back(y);
    }
  }
  return lines;
}

TChartPoints DecimateAll(const TChartData& d, int buckets) {
  TChartPoints p;
  Decimate(d.Times().data(), d.Values(0).data(), d.Count(), d.Times().front(), d.Times().back(),
           buckets, p);
  return p;
}

}  // namespace

TEST(ChartData, SpikeOfOneRecordSurvivesEveryBucketSize) {
  TLogRecordList list;
  const int n = 10000;
  for (int i = 0; i < n; ++i)
    Add(list, 1, i / 3600, i / 60 % 60, i % 60, i == 6173 ? 500.0 : 1.0 + (i % 7) * 0.01);
  TChartData d;
  d.Build(list, {0});
  ASSERT_EQ(d.Count(), size_t(n));
  for (int buckets : {1, 2, 3, 7, 64, 999, 1000, 4096, n, 3 * n}) {
    const TChartPoints p = DecimateAll(d, buckets);
    EXPECT_EQ(*std::max_element(p.Y.begin(), p.Y.end()), 500.0) << buckets;
    EXPECT_LE(p.X.size(), size_t(2 * buckets + 2)) << buckets;
    EXPECT_TRUE(std::is_sorted(p.X.begin(), p.X.end())) << buckets;
  }
  // A narrow view keeps the records just beyond its ends, so lines reach them.
  TChartPoints p;
  Decimate(d.Times().data(), d.Values(0).data(), d.Count(), d.Times()[100], d.Times()[110], 50, p);
  EXPECT_EQ(p.X.front(), d.Times()[99]);
  EXPECT_EQ(p.X.back(), d.Times()[111]);
  EXPECT_EQ(p.X.size(), size_t(13));
}

TEST(ChartData, NoValueBreaksTheLineAndIsNeverZero) {
  TLogRecordList list;
  const double values[] = {1, 2, kGap, 4, 5, kGap, kGap, 8, kGap};
  for (int i = 0; i < 9; ++i) Add(list, 2, 10, 0, i, values[i]);
  TChartData d;
  d.Build(list, {0});
  EXPECT_TRUE(std::isnan(d.Values(0)[2]));
  // A column per record: every gap parts the lines; a trailing gap draws nothing.
  EXPECT_EQ(Lines(DecimateAll(d, 8)), (std::vector<std::vector<double>>{{1, 2}, {4, 5}, {8}}));
  // One column for all: a gap inside a pixel column is not drawn.
  EXPECT_EQ(Lines(DecimateAll(d, 1)), (std::vector<std::vector<double>>{{1, 8}}));
  // Two columns: the gap at 6-7 s lies between the second column's values.
  EXPECT_EQ(Lines(DecimateAll(d, 2)).size(), size_t(1));
  // A column holding nothing but gaps parts its neighbours.
  TLogRecordList spread;
  for (int i = 0; i < 9; ++i) Add(spread, 2, 10, 0, i, i >= 3 && i <= 5 ? kGap : i);
  d.Build(spread, {0});
  EXPECT_EQ(Lines(DecimateAll(d, 3)), (std::vector<std::vector<double>>{{0, 2}, {6, 8}}));
}

TEST(ChartData, RecordsWithoutATimeAreLeftOutAndGapsAroundThemStay) {
  TLogRecordList list;
  Add(list, 2, 10, 0, 0, 1);
  Add(list, 2, 25, 0, 2, 777);  // hour 25
  Add(list, 2, 10, 0, 3, kGap);
  Add(list, 2, 10, 0, 4, 4);
  list.Add({2026, 2, 0, 30, 10, 0, 5, 0})[0] = 666;  // no such day
  Add(list, 2, 10, 0, 6, 6);
  TChartData d;
  d.Build(list, {0});
  ASSERT_EQ(d.Count(), size_t(4));
  const std::vector<double>& v = d.Values(0);
  EXPECT_EQ(std::count(v.begin(), v.end(), 777.0) + std::count(v.begin(), v.end(), 666.0), 0);
  // The gap beside them still parts the line; they themselves part nothing.
  EXPECT_EQ(Lines(DecimateAll(d, 100)), (std::vector<std::vector<double>>{{1}, {4, 6}}));
}

TEST(ChartData, UnsortedRecordsAreDrawnInTimeOrder) {
  TLogRecordList list;
  const int seconds[] = {30, 5, 50, 5, 17};
  for (int i = 0; i < 5; ++i) Add(list, 4, 8, 0, seconds[i], 10.0 * i);
  TChartData d;
  d.Build(list, {0, 0});
  EXPECT_TRUE(std::is_sorted(d.Times().begin(), d.Times().end()));
  EXPECT_EQ(d.Values(1), (std::vector<double>{10, 30, 40, 0, 20}));  // equal times keep list order
  EXPECT_EQ(DecimateAll(d, 1000).Y, (std::vector<double>{10, 30, 40, 0, 20}));
  EXPECT_EQ(d.Nearest(d.Times()[2] + 1e-9), size_t(2));
  EXPECT_EQ(d.Nearest(d.Times()[4] + 1), size_t(4));
  EXPECT_EQ(d.Nearest(0), size_t(0));
}

TEST(ChartData, NoRecordsAndOneRecord) {
  TLogRecordList list;
  TChartData d;
  d.Build(list, {0});
  EXPECT_EQ(d.Count(), size_t(0));
  TChartPoints p;
  Decimate(d.Times().data(), d.Values(0).data(), 0, 0, 1, 100, p);
  EXPECT_TRUE(p.X.empty());
  Add(list, 1, 0, 0, 0, 3.5);
  d.Build(list, {0});
  const TChartPoints one = DecimateAll(d, 100);
  EXPECT_EQ(one.Y, std::vector<double>{3.5});
  EXPECT_EQ(one.X, d.Times());
}

TEST(ChartData, TickLabelsFollowTheZoom) {
  SetFormatSettings(TFormatSettings{});
  const TDateTime day = EncodeDate(2026, 3, 29);
  struct Case {
    double span;  // days
    size_t length;
  };
  for (Case c : {Case{20, 10}, Case{2, 16}, Case{2.0 / 24, 5}, Case{40.0 / 86400, 8},
                 Case{0.5 / 86400, 12}}) {
    const auto ticks = TimeTicks(day + 0.1, day + 0.1 + c.span, 8);
    ASSERT_GE(ticks.size(), size_t(2)) << c.span;
    EXPECT_LE(ticks.size(), size_t(8));
    std::set<std::string> distinct;
    for (const auto& t : ticks) {
      EXPECT_EQ(t.Text.size(), c.length) << t.Text;
      EXPECT_GE(t.At, day + 0.1);
      EXPECT_LE(t.At, day + 0.1 + c.span);
      distinct.insert(t.Text);
    }
    EXPECT_EQ(distinct.size(), ticks.size());
  }
  // Round wall-clock steps, whatever the time zone: hours at the full hour.
  const auto hours = TimeTicks(day, day + 1, 8);
  EXPECT_EQ(hours.front().Text, "2026-03-29 00:00");
  EXPECT_EQ(hours[1].Text, "2026-03-29 06:00");
}

TEST(ChartData, BlockSummariesGiveTheSamePointsAsEveryValue) {
  // Values with ties, single gaps, runs of gaps longer than a block, and a
  // run at the very end; every view and bucket count must match exactly.
  TLogRecordList list;
  const int n = 5000;
  const double noValue = static_cast<double>(NoValue);
  unsigned x = 12345;
  for (int i = 0; i < n; ++i) {
    x = x * 1103515245u + 12345u;
    const bool gap = (x >> 16) % 3 == 0 || (i >= 700 && i < 900) || i >= 4950;
    Add(list, 1, i / 3600, i / 60 % 60, i % 60, gap ? noValue : static_cast<double>((x >> 8) % 17));
  }
  TChartData d;
  d.Build(list, {0});
  const auto& t = d.Times();
  auto same = [](const std::vector<double>& a, const std::vector<double>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
      if (!(a[i] == b[i] || (std::isnan(a[i]) && std::isnan(b[i])))) return false;
    return true;
  };
  for (const auto& [from, to] :
       std::vector<std::pair<size_t, size_t>>{{0, n - 1}, {3, 4021}, {650, 950}, {64, 128}})
    for (int buckets = 1; buckets <= 80; buckets += (buckets < 40 ? 1 : 13)) {
      TChartPoints plain, fast;
      Decimate(t.data(), d.Values(0).data(), d.Count(), t[from], t[to], buckets, plain);
      Decimate(t.data(), d.Values(0).data(), d.Count(), t[from], t[to], buckets, fast,
               d.Blocks(0).data());
      EXPECT_TRUE(same(plain.X, fast.X) && same(plain.Y, fast.Y))
          << from << "-" << to << " on " << buckets;
    }

  // Columns of two blocks, most ending in a gap right at a block's end.
  TLogRecordList even;
  for (int i = 0; i < 1400; ++i)
    Add(even, 1, 0, i / 60, i % 60, i % 128 == 127 ? noValue : 1.0 + i % 5);
  TChartData e;
  e.Build(even, {0});
  TChartPoints plain, fast;
  Decimate(e.Times().data(), e.Values(0).data(), e.Count(), e.Times()[0], e.Times()[1280], 10,
           plain);
  Decimate(e.Times().data(), e.Values(0).data(), e.Count(), e.Times()[0], e.Times()[1280], 10, fast,
           e.Blocks(0).data());
  EXPECT_GE(std::count_if(plain.Y.begin(), plain.Y.end(), [](double y) { return std::isnan(y); }),
            3);
  EXPECT_TRUE(same(plain.X, fast.X) && same(plain.Y, fast.Y));
}
