// "Download All Group" in the window, offscreen, of bench_download's meter
// (ten groups of 100 day files, about 100 MB, from krvo-sim on loopback,
// no pause between files): the whole download, and the part of it that is
// not the workbook: each group's time from its columns being set up to its
// last rows being shown (the fetch, the reads, the table, the tree and the
// status bar). The rest of a group's time is its sheet. Best of two runs.
#include <QApplication>
#include <QObject>
#include <QTreeWidget>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/window/KrvoApplication.h"
#include "app/window/MessageBoxes.h"
#include "app/window/Unit1.h"
#include "bench/WindowBench.h"
#include "meter/DataFolder.h"
#include "tests/support/Files.h"
#include "tests/support/Process.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRuns = 2;
constexpr int kKeys[10] = {6, 12, 19, 25, 32, 38, 45, 51, 58, 64};

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

}  // namespace

int main(int argc, char** argv) {
  CBenchDataFolder data;
  // One record every 120 s: 720 a day, 100 days.
  std::vector<std::string> args = {"--data-root", data.Path() + "/sim", "--records",
                                   "72000",       "--log-start",        "2026-01-01"};
  for (int g = 0; g < 10; ++g) {
    std::string ids;
    for (int j = 0; j < kKeys[g]; ++j) ids.append(j ? "," : "").append(std::to_string(j + 1));
    args.insert(args.end(), {"--group", std::to_string(g + 1) + ":120:" + ids});
  }
  SimProcess sim(args);
  WriteAll(BaseFolder() + "CommSet.ini",
           "[ConnectPara]\nIP=127.0.0.1\nMODBUSTCPPort=" + std::to_string(sim.ModbusPort()) +
               "\nFTPPort=" + std::to_string(sim.FtpPort()) + "\nFilePauseMs=0\n");
  KrvoApplication app(argc, argv);
  std::vector<QString> boxes;
  SetMessageBoxHook([&](QMessageBox::Icon icon, const QString& text) {
    if (icon != QMessageBox::Information) boxes.push_back(text);
  });

  TForm1 form;
  form.show();
  app.processEvents();
  form.btnConnectClick();
  if (!form.FConnected) {
    std::fprintf(stderr, "could not connect to the simulator\n");
    return 1;
  }
  // A group's columns are set up when it starts; its last rows are shown
  // before its sheet is written.
  Clock::time_point groupStart{}, lastRows{};
  Clock::duration outside{};
  auto endGroup = [&] {
    if (groupStart != Clock::time_point{} && lastRows > groupStart)
      outside += lastRows - groupStart;
    groupStart = {};
  };
  QObject::connect(&form, &TForm1::LogTableChanged, [&](bool newColumns) {
    if (newColumns) {
      endGroup();
      groupStart = Clock::now();
    } else {
      lastRows = Clock::now();
    }
  });

  double bestTotal = 1e300, bestOutside = 1e300;
  for (int run = 0; run < kRuns; ++run) {
    outside = {};
    const auto t0 = Clock::now();
    form.mniDownload1Click();
    const double total = Seconds(Clock::now() - t0);
    endGroup();
    if (!boxes.empty() || !form.StatusText(1).startsWith(QStringLiteral("Finished"))) {
      std::fprintf(stderr, "the download failed: %s\n",
                   qPrintable(boxes.empty() ? form.StatusText(1) : boxes[0]));
      return 1;
    }
    bestTotal = std::min(bestTotal, total);
    bestOutside = std::min(bestOutside, Seconds(outside));
  }
  std::printf("files: %d\n", form.tv1->topLevelItem(9)->childCount() * 10);
  std::printf("download_s: %.2f\n", bestTotal);
  std::printf("outside_workbook_s: %.2f\n", bestOutside);
  std::printf("ratio_outside_vs_download: %.3f\n", bestOutside / bestTotal);
  return 0;
}
