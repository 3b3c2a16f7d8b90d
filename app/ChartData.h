#pragma once
// Chart data without any widget: the plotted columns of a group's records in
// time order, the decimation that hands the chart a few points per pixel
// column, and the labelled ticks of the time axis.
#include <cstddef>
#include <string>
#include <vector>

#include "meter/DateTimeUtil.h"
#include "meter/MeterState.h"

// What a block of consecutive values holds, for the decimation: the lowest
// and highest (their first positions), the first and last value, and whether
// a gap comes before the first or after the last. With it a column that
// spans many blocks is reduced without reading each value.
struct TValueBlock {
  static constexpr size_t kSize = 64;
  static constexpr size_t kNone = static_cast<size_t>(-1);
  size_t First = kNone, Low = 0, High = 0;
  bool GapBeforeFirst = false, GapAfterLast = false;
};

// The summaries of values[0..n) in blocks of TValueBlock::kSize.
std::vector<TValueBlock> SummarizeBlocks(const double* values, size_t n);

// Some value columns of a record list, copied once per load and ordered by
// the records' wall-clock times (days since 1899-12-30, as the table shows
// them), so that drawing never walks the list itself, whose records may be
// unsorted and may go away while events run. A record whose time can't be
// made is left out; a slot without a value (NoValue) holds NaN.
class TChartData {
 public:
  // columns: the value indexes j (TLogRecord::Value) of the series.
  void Build(const TLogRecordList& records, const std::vector<int>& columns);
  void Clear();

  size_t Count() const { return times_.size(); }
  size_t SeriesCount() const { return values_.size(); }
  const std::vector<double>& Times() const { return times_; }
  const std::vector<double>& Values(size_t series) const { return values_[series]; }
  const std::vector<TValueBlock>& Blocks(size_t series) const { return blocks_[series]; }
  // The record nearest in time to t (the earlier of two equally near); Count() when empty.
  size_t Nearest(TDateTime t) const;

 private:
  std::vector<double> times_;
  std::vector<std::vector<double>> values_;
  std::vector<std::vector<TValueBlock>> blocks_;
};

// Points to draw; a NaN in Y ends a line and the next point starts another.
struct TChartPoints {
  std::vector<double> X, Y;
  void Clear() {
    X.clear();
    Y.clear();
  }
};

// The points that draw values (NaN: a gap) over ascending times within
// [x0, x1] on buckets pixel columns: for each column its lowest and highest
// value in time order, so that a spike of one record shows at every zoom. The nearest record beyond
// each end is added so that lines reach the edges. A gap between two columns' values breaks the
// line; one inside a column, narrower than a pixel, does not. blocks (optional) are the values'
// SummarizeBlocks: the same points, faster.
void Decimate(const double* times, const double* values, size_t n, double x0, double x1,
              int buckets, TChartPoints& out, const TValueBlock* blocks = nullptr);

// The values (NaN: none) whose times lie in [x0, x1]: how many, their
// lowest, highest and mean (added in time order).
struct TVisibleStats {
  size_t Count = 0;
  double Min = 0, Max = 0, Mean = 0;
};
TVisibleStats VisibleStats(const double* times, const double* values, size_t n, double x0,
                           double x1);

struct TTimeTick {
  TDateTime At;
  std::string Text;
};

// At most maxTicks ticks over [x0, x1] at round wall-clock steps (seconds,
// minutes, hours, days), labelled as precisely as the step needs: the date
// for days, date and time for hours, the time for minutes and seconds.
// Labels within one call are distinct.
std::vector<TTimeTick> TimeTicks(TDateTime x0, TDateTime x1, int maxTicks);
