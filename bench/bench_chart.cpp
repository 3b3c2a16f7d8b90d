// 1,000,000 records with three series in the chart window, offscreen: the
// time to draw a frame (the new points and the paint) of the full view,
// after a zoom step and after a pan, against 16 ms.
#include <QApplication>
#include <QChartView>
#include <QTreeWidget>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <vector>

#include "app/window/ChartWindow.h"
#include "app/window/KrvoApplication.h"
#include "app/window/Unit1.h"
#include "bench/WindowBench.h"
#include "tests/support/Process.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRecords = 1000000;
constexpr int kKeys = 3;
constexpr int kFrames = 15;

double Ms(Clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

// The median of several frames: the view change, then a synchronous paint.
double FrameMs(TChartWindow& w, const std::function<void(int)>& change) {
  return MedianMs(kFrames, [&](int i) {
    change(i);
    w.View()->viewport()->repaint();
  });
}

}  // namespace

int main(int argc, char** argv) {
  CBenchDataFolder data;
  KrvoApplication app(argc, argv);
  TForm1 form;
  LogFirstKeysInGroup0(kKeys);
  std::mt19937 rng(5);
  std::normal_distribution<double> noise(0, 1);
  const double noValue = static_cast<double>(NoValue);
  for (int i = 0; i < kRecords; ++i) {
    // A record a second, as a fast logging group writes them; a few gaps.
    const int s = i;
    double* v = LogRecords.Add(
        {2026, 1, 0, static_cast<uint16_t>(1 + s / 86400), static_cast<uint16_t>(s / 3600 % 24),
         static_cast<uint16_t>(s / 60 % 60), static_cast<uint16_t>(s % 60), 0});
    v[0] = 230 + 5 * std::sin(i / 5000.0) + noise(rng);
    v[1] = i % 9973 == 0 ? noValue : 40 + 20 * std::sin(i / 86400.0 * 6.283) + noise(rng);
    v[2] = 0.95 + 0.01 * noise(rng);
  }
  form.BuildGroupTree(0);
  form.tv1->setCurrentItem(form.tv1->topLevelItem(0));
  form.SetupLogColumns(0);
  form.SetLogRowCount(LogRecords.Count());
  form.show();
  app.processEvents();

  const auto t0 = Clock::now();
  form.PlotColumns({2, 3, 4});
  const double loadMs = Ms(t0);
  TChartWindow& w = *form.ChartWindow();
  w.resize(1280, 720);
  app.processEvents();

  const double fullFrame = FrameMs(w, [&w](int) { w.ResetView(); });
  // A wheel step in, then one out again: one view change a frame.
  const double zoomFrame = FrameMs(w, [&w](int i) { w.ZoomBy(i % 2 == 0 ? 1.25 : 1 / 1.25, 0.3); });
  w.ResetView();
  w.ZoomBy(4);
  const double panFrame = FrameMs(w, [&w](int i) { w.PanBy(i % 2 == 0 ? 0.05 : -0.04); });

  const double worst = std::max({fullFrame, zoomFrame, panFrame});
  std::printf("records: %d\n", kRecords);
  std::printf("series: %d\n", kKeys);
  std::printf("plot_ms: %.0f\n", loadMs);
  std::printf("frame_full_view_ms: %.2f\n", fullFrame);
  std::printf("frame_after_zoom_ms: %.2f\n", zoomFrame);
  std::printf("frame_after_pan_ms: %.2f\n", panFrame);
  std::printf("ratio_frame_ms_vs_16: %.2f\n", worst / 16.0);
  return 0;
}
