#include "app/ChartData.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>

#include "app/LogTable.h"
#include "meter/DisplayFormat.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kMsPerDay = 86400000.0;

}  // namespace

void TChartData::Build(const TLogRecordList& records, const std::vector<int>& columns) {
  Clear();
  std::vector<std::pair<double, size_t>> order;
  order.reserve(records.Count());
  for (size_t i = 0; i < records.Count(); ++i) {
    TDateTime t = 0;
    if (RecordTime(records[i].Stamp(), t)) order.emplace_back(t, i);
  }
  // Records of one time keep their list order.
  std::stable_sort(order.begin(), order.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  times_.reserve(order.size());
  for (const auto& o : order) times_.push_back(o.first);
  const double noValue = static_cast<double>(NoValue);
  values_.resize(columns.size());
  for (size_t s = 0; s < columns.size(); ++s) {
    std::vector<double>& v = values_[s];
    v.reserve(order.size());
    for (const auto& o : order) {
      const double x = records[o.second].Value(columns[s]);
      v.push_back(x == noValue || !std::isfinite(x) ? kNaN : x);
    }
    blocks_.push_back(SummarizeBlocks(v.data(), v.size()));
  }
}

std::vector<TValueBlock> SummarizeBlocks(const double* values, size_t n) {
  std::vector<TValueBlock> blocks((n + TValueBlock::kSize - 1) / TValueBlock::kSize);
  for (size_t b = 0; b < blocks.size(); ++b) {
    TValueBlock& k = blocks[b];
    const size_t end = std::min(n, (b + 1) * TValueBlock::kSize);
    for (size_t i = b * TValueBlock::kSize; i < end; ++i) {
      const double v = values[i];
      if (std::isnan(v)) {
        (k.First == TValueBlock::kNone ? k.GapBeforeFirst : k.GapAfterLast) = true;
      } else if (k.First == TValueBlock::kNone) {
        k.First = k.Low = k.High = i;
      } else {
        if (v < values[k.Low]) k.Low = i;
        if (v > values[k.High]) k.High = i;
        k.GapAfterLast = false;
      }
    }
  }
  return blocks;
}

void TChartData::Clear() {
  times_.clear();
  values_.clear();
  blocks_.clear();
}

size_t TChartData::Nearest(TDateTime t) const {
  if (times_.empty()) return 0;
  const auto it = std::lower_bound(times_.begin(), times_.end(), t);
  if (it == times_.begin()) return 0;
  if (it == times_.end()) return times_.size() - 1;
  const auto i = static_cast<size_t>(it - times_.begin());
  return t - times_[i - 1] <= times_[i] - t ? i - 1 : i;
}

void Decimate(const double* times, const double* values, size_t n, double x0, double x1,
              int buckets, TChartPoints& out, const TValueBlock* blocks) {
  out.Clear();
  if (n == 0 || buckets < 1 || !(x1 >= x0)) return;
  const size_t lo = static_cast<size_t>(std::lower_bound(times, times + n, x0) - times);
  const size_t hi = static_cast<size_t>(std::upper_bound(times, times + n, x1) - times);
  bool gapPending = false;
  auto emit = [&](size_t i) {
    if (gapPending && !out.X.empty()) {
      out.X.push_back(kNaN);
      out.Y.push_back(kNaN);
    }
    gapPending = false;
    out.X.push_back(times[i]);
    out.Y.push_back(values[i]);
  };
  if (lo > 0) {
    if (std::isnan(values[lo - 1])) {
      gapPending = true;
    } else {
      emit(lo - 1);
    }
  }

  // Columns are found by a binary search for their last record, so that the
  // scan of a column's values is a tight loop over one array.
  const double scale = x1 > x0 ? buckets / (x1 - x0) : 0.0;
  auto column = [&](double t) {
    return std::min<long>(buckets - 1, static_cast<long>((t - x0) * scale));
  };
  for (size_t i = lo; i < hi;) {
    const long c = column(times[i]);
    const size_t end = static_cast<size_t>(
        std::partition_point(times + i, times + hi, [&](double t) { return column(t) <= c; }) -
        times);
    // Its lowest and highest values, drawn in time order.
    size_t first = end, low = 0, high = 0;
    double lowV = 0, highV = 0;
    bool gapAfterLast = false;
    auto one = [&](size_t k) {
      const double v = values[k];
      if (std::isnan(v)) {
        // Before the column's first value it parts this column from the last
        // point drawn; after it, from the next column.
        (first == end ? gapPending : gapAfterLast) = true;
      } else if (first == end) {
        first = low = high = k;
        lowV = highV = v;
      } else {
        if (v < lowV) lowV = v, low = k;
        if (v > highV) highV = v, high = k;
        gapAfterLast = false;
      }
    };
    constexpr size_t kB = TValueBlock::kSize;
    if (blocks != nullptr && end - i >= 2 * kB) {
      // Values up to a block boundary one by one, whole blocks by their
      // summaries, the rest one by one: the same outcome as value by value.
      for (; i % kB != 0; ++i) one(i);
      for (; i + kB <= end; i += kB) {
        const TValueBlock& b = blocks[i / kB];
        if (b.First == TValueBlock::kNone) {
          (first == end ? gapPending : gapAfterLast) = true;
          continue;
        }
        if (b.GapBeforeFirst) (first == end ? gapPending : gapAfterLast) = true;
        if (first == end) {
          first = b.First;
          low = b.Low, lowV = values[b.Low];
          high = b.High, highV = values[b.High];
        } else {
          if (values[b.Low] < lowV) lowV = values[b.Low], low = b.Low;
          if (values[b.High] > highV) highV = values[b.High], high = b.High;
        }
        gapAfterLast = b.GapAfterLast;
      }
    }
    for (; i < end; ++i) one(i);
    if (first == end) continue;
    emit(std::min(low, high));
    if (low != high) emit(std::max(low, high));
    gapPending = gapAfterLast;
  }
  if (hi < n && !std::isnan(values[hi])) emit(hi);
}

std::vector<TTimeTick> TimeTicks(TDateTime x0, TDateTime x1, int maxTicks) {
  std::vector<TTimeTick> ticks;
  if (!(x1 >= x0) || maxTicks < 1) return ticks;
  constexpr int64_t s = 1000, m = 60 * s, h = 60 * m, d = 24 * h;
  static constexpr int64_t kSteps[] = {
      1,      2,      5,      10,      20,      50,      100,      200,      500,      s,
      2 * s,  5 * s,  10 * s, 15 * s,  30 * s,  m,       2 * m,    5 * m,    10 * m,   15 * m,
      30 * m, h,      2 * h,  3 * h,   6 * h,   12 * h,  d,        2 * d,    7 * d,    14 * d,
      30 * d, 61 * d, 91 * d, 182 * d, 365 * d, 730 * d, 1826 * d, 3652 * d, 36524 * d};
  const double a = x0 * kMsPerDay, b = x1 * kMsPerDay;
  int64_t step = kSteps[std::size(kSteps) - 1];
  for (int64_t candidate : kSteps)
    if ((b - a) / static_cast<double>(candidate) < maxTicks) {
      step = candidate;
      break;
    }
  const std::string& date = FormatSettings().ShortDateFormat;
  const std::string pattern = step >= d   ? date
                              : step >= h ? date + " HH:mm"
                              : step >= m ? std::string("HH:mm")
                              : step >= s ? std::string("HH:mm:ss")
                                          : std::string("HH:mm:ss.zzz");
  const auto k0 = static_cast<int64_t>(std::ceil(a / static_cast<double>(step)));
  const auto k1 = static_cast<int64_t>(std::floor(b / static_cast<double>(step)));
  for (int64_t k = k0; k <= k1; ++k) {
    const double at = static_cast<double>(k * step) / kMsPerDay;
    if (at < x0 || at > x1) continue;  // rounding at the ends
    std::string text = FormatDateTimePattern(pattern, at);
    // Times of day repeat only on spans beyond a day, which take coarser steps;
    // a repeat would still merge two ticks of the axis, so it is dropped.
    if (!ticks.empty() && ticks.back().Text == text) continue;
    ticks.push_back({at, std::move(text)});
  }
  return ticks;
}

TVisibleStats VisibleStats(const double* times, const double* values, size_t n, double x0,
                           double x1) {
  TVisibleStats out;
  const size_t first = static_cast<size_t>(std::lower_bound(times, times + n, x0) - times);
  const size_t end = static_cast<size_t>(std::upper_bound(times, times + n, x1) - times);
  double sum = 0;
  for (size_t i = first; i < end; ++i) {
    const double v = values[i];
    if (std::isnan(v)) continue;
    if (out.Count == 0 || v < out.Min) out.Min = v;
    if (out.Count == 0 || v > out.Max) out.Max = v;
    sum += v;
    ++out.Count;
  }
  if (out.Count != 0) out.Mean = sum / static_cast<double>(out.Count);
  return out;
}
