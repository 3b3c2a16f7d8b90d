// "Load Offline File" in the window, offscreen, of a device folder of ten
// groups of 365 day files (96 records a day, 6 to 64 keys; some 50 MB):
// the whole load, and the part of it that is not the workbook: each
// group's time from its columns being set up to its rows being shown (the
// file listing, the reads, the table and the events let through meanwhile).
// The rest of a group's time is its sheet. Best of the rounds.
#include <QApplication>
#include <QObject>
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/window/KrvoApplication.h"
#include "app/window/MessageBoxes.h"
#include "app/window/Unit1.h"
#include "bench/WindowBench.h"
#include "meter/DataFolder.h"
#include "meter/ZelDef.h"
#include "tests/support/Process.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRounds = 3;
constexpr int kDays = 365;
constexpr int kPerDay = 96;
constexpr int kKeys[10] = {6, 12, 19, 25, 32, 38, 45, 51, 58, 64};

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Day d (0-364) of 2025 as month and day.
void DayOf(int d, int& month, int& day) {
  static const int kLengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  month = 0;
  while (d >= kLengths[month]) d -= kLengths[month++];
  ++month;
  day = d + 1;
}

// The device folder: setup and names, then every group's day files.
size_t WriteFolder(std::string& dataLog) {
  namespace fs = std::filesystem;
  GroupSetups = {};
  PanelNames = TPanelName{};
  PanelNames.DeviceName = "Meter A";
  for (int g = 0; g < 10; ++g) {
    GroupSetups[g].KeyNum = static_cast<uint16_t>(kKeys[g]);
    for (int j = 0; j < kKeys[g]; ++j) GroupSetups[g].keyArr[j] = static_cast<uint16_t>(j + 1);
  }
  CZELMeterObj::SaveSetupAndNames(0);
  dataLog = DeviceDataLogFolder(PanelNames.DeviceName);
  size_t bytes = 0;
  std::vector<uint8_t> file;
  for (int g = 0; g < 10; ++g) {
    const std::string folder = dataLog + "Group" + std::to_string(g + 1) + "/";
    fs::create_directories(folder);
    for (int d = 0; d < kDays; ++d) {
      int month = 0, day = 0;
      DayOf(d, month, day);
      file.clear();
      for (int r = 0; r < kPerDay; ++r) {
        for (int j = 0; j < kKeys[g]; ++j) {
          const int32_t raw = 1000 * j + r + d;
          const auto* p = reinterpret_cast<const uint8_t*>(&raw);
          file.insert(file.end(), p, p + 4);
        }
        const int minutes = r * 15;
        file.insert(file.end(),
                    {25, static_cast<uint8_t>(month), static_cast<uint8_t>(day),
                     static_cast<uint8_t>(minutes / 60), static_cast<uint8_t>(minutes % 60), 0});
      }
      char name[32];
      std::snprintf(name, sizeof name, "2025%02d%02d.dat", month, day);
      FILE* out = std::fopen((folder + name).c_str(), "wb");
      if (out == nullptr || std::fwrite(file.data(), 1, file.size(), out) != file.size()) {
        std::perror(name);
        std::exit(1);
      }
      std::fclose(out);
      bytes += file.size();
    }
  }
  return bytes;
}

}  // namespace

int main(int argc, char** argv) {
  CBenchDataFolder data;
  KrvoApplication app(argc, argv);
  std::string dataLog;
  const size_t bytes = WriteFolder(dataLog);
  std::vector<QString> boxes;
  SetMessageBoxHook([&](QMessageBox::Icon, const QString& text) { boxes.push_back(text); });
  SetFolderDialogHook(
      [&](const QString&, const QString&) { return QString::fromStdString(dataLog); });

  TForm1 form;
  form.show();
  app.processEvents();
  // A group's columns are set up before its files are listed, and its rows
  // shown once they are read; its sheet is written after that.
  Clock::time_point groupStart{};
  Clock::duration outside{};
  QObject::connect(&form, &TForm1::LogTableChanged, [&](bool newColumns) {
    if (newColumns) {
      groupStart = Clock::now();
    } else if (groupStart != Clock::time_point{}) {
      outside += Clock::now() - groupStart;
      groupStart = {};
    }
  });

  double bestTotal = 1e300, bestOutside = 1e300;
  size_t records = 0;
  for (int round = 0; round < kRounds; ++round) {
    outside = {};
    const auto t0 = Clock::now();
    form.mniLoadOfflineFileClick();
    const double total = Seconds(Clock::now() - t0);
    if (!boxes.empty() || form.StatusText(1) != QStringLiteral("Finished to load logs.")) {
      std::fprintf(stderr, "the load failed: %s\n",
                   qPrintable(boxes.empty() ? form.StatusText(1) : boxes[0]));
      return 1;
    }
    records = LogRecords.Count();
    bestTotal = std::min(bestTotal, total);
    bestOutside = std::min(bestOutside, Seconds(outside));
  }
  std::printf("files: %d\n", 10 * kDays);
  std::printf("megabytes: %.1f\n", static_cast<double>(bytes) / 1e6);
  std::printf("records_of_group_10: %zu\n", records);
  std::printf("load_s: %.2f\n", bestTotal);
  std::printf("outside_workbook_s: %.3f\n", bestOutside);
  std::printf("ratio_outside_vs_load: %.3f\n", bestOutside / bestTotal);
  return 0;
}
