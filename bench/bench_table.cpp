// 1,000,000 records of 64 keys in the window's table, offscreen: the time
// to paint a screenful after a jump to the end, and after a sort by time
// (the sort's own time on a line of its own).
#include <QApplication>
#include <QHeaderView>
#include <QTableView>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "app/window/KrvoApplication.h"
#include "app/window/LogTableModel.h"
#include "app/window/Unit1.h"
#include "bench/WindowBench.h"
#include "tests/support/Process.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRecords = 1000000;
constexpr int kKeys = 64;
constexpr int kFrames = 15;

double Ms(Clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

// The median of several synchronous paints of the visible rows.
double FrameMs(QTableView* view) {
  return MedianMs(kFrames, [view](int) {
    view->viewport()->update();
    view->viewport()->repaint();
  });
}

}  // namespace

int main(int argc, char** argv) {
  CBenchDataFolder data;
  KrvoApplication app(argc, argv);
  TForm1 form;
  LogFirstKeysInGroup0(kKeys);
  std::mt19937 rng(3);
  std::uniform_int_distribution<int> raw(0, 5000000);
  for (int i = 0; i < kRecords; ++i) {
    // Days in a shuffled order, so that the sort has work to do.
    const int day = static_cast<int>(rng() % 28);
    double* values = LogRecords.Add(
        {2026, 12, 0, static_cast<uint16_t>(1 + day), static_cast<uint16_t>(i / 3600 % 24),
         static_cast<uint16_t>(i / 60 % 60), static_cast<uint16_t>(i % 60), 0});
    for (int j = 0; j < kKeys; ++j) values[j] = raw(rng) / 1000.0;
  }
  form.BuildGroupTree(0);
  form.SetupLogColumns(0);
  form.SetLogRowCount(LogRecords.Count());
  form.show();
  app.processEvents();

  form.lv1->scrollToBottom();
  app.processEvents();
  const double endFrame = FrameMs(form.lv1);

  const auto t0 = Clock::now();
  form.lv1ColumnClick(1);
  const double sortMs = Ms(t0);
  app.processEvents();
  const double sortedFrame = FrameMs(form.lv1);

  const double worst = std::max(endFrame, sortedFrame);
  std::printf("records: %d\n", kRecords);
  std::printf("frame_after_jump_to_end_ms: %.2f\n", endFrame);
  std::printf("sort_ms: %.0f\n", sortMs);
  std::printf("frame_after_sort_ms: %.2f\n", sortedFrame);
  std::printf("ratio_frame_ms_vs_16: %.2f\n", worst / 16.0);
  return 0;
}
