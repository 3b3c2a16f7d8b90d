#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>

#include "app/GroupFiles.h"
#include "app/LogTable.h"
#include "meter/DisplayFormat.h"
#include "tests/support/Process.h"

namespace {

std::string General(double v) {
  std::string s;
  return FormatGeneral(v, s) ? s : "<fail>";
}

// Appends a record of two values to list, value 0 tagging it.
double* At(TLogRecordList& list, int y, int mo, int d, int h, int mi, int s, double tag) {
  list.SetKeyCount(2);
  double* values = list.Add(TSystemTime{static_cast<uint16_t>(y), static_cast<uint16_t>(mo), 0,
                                        static_cast<uint16_t>(d), static_cast<uint16_t>(h),
                                        static_cast<uint16_t>(mi), static_cast<uint16_t>(s), 0});
  values[0] = tag;
  return values;
}

std::vector<double> Tags(const TLogRecordList& list) {
  std::vector<double> out;
  for (size_t i = 0; i < list.Count(); ++i) out.push_back(list[i].Value(0));
  return out;
}

}  // namespace

TEST(LogTable, GeneralNumberFormat) {
  SetFormatSettings(TFormatSettings{});
  EXPECT_EQ(General(220.0), "220");
  EXPECT_EQ(General(0.987), "0.987");
  EXPECT_EQ(General(0.0001), "0.0001");
  EXPECT_EQ(General(0.00001), "1E-5");
  EXPECT_EQ(General(1e16), "1E16");
  EXPECT_EQ(General(1.5e20), "1.5E20");
  EXPECT_EQ(General(123456789012345.0), "123456789012345");
  EXPECT_EQ(General(1234567890123456.0), "1.23456789012346E15");
  EXPECT_EQ(General(0.1 + 0.2), "0.3");
  EXPECT_EQ(General(-45.6), "-45.6");
  EXPECT_EQ(General(0.0), "0");
  EXPECT_EQ(General(-0.0), "0");
  EXPECT_EQ(General(-2.5e-7), "-2.5E-7");
  EXPECT_EQ(General(1e100), "1E100");
  EXPECT_EQ(General(std::nan("")), "<fail>");
  TFormatSettings comma;
  comma.DecimalSeparator = ',';
  SetFormatSettings(comma);
  EXPECT_EQ(General(1.5), "1,5");
  EXPECT_EQ(General(1.5e-9), "1,5E-9");
  SetFormatSettings(TFormatSettings{});
}

TEST(LogTable, ColumnsAndCellTexts) {
  SetFormatSettings(TFormatSettings{});
  GroupSetups = {};
  GroupSetups[2].KeyNum = 2;
  GroupSetups[2].keyArr[0] = 10;  // "Mains-I  Ia": 11 characters
  GroupSetups[2].keyArr[1] = 0;
  const auto cols = LogColumns(2);
  ASSERT_EQ(cols.size(), 4u);
  EXPECT_EQ(cols[0].Caption, "No.");
  EXPECT_EQ(cols[0].Width, 50);
  EXPECT_EQ(cols[1].Caption, "TimeStamp");
  EXPECT_EQ(cols[1].Width, 180);
  EXPECT_EQ(cols[2].Caption, "Mains-I  Ia");
  EXPECT_EQ(cols[2].Width, 88);
  EXPECT_EQ(cols[3].Caption, "None");
  EXPECT_EQ(LogColumns(0).size(), 2u);  // KeyNum 0
  GroupSetups[4].KeyNum = 200;          // never more columns than value slots
  EXPECT_EQ(LogColumns(4).size(), 66u);

  TLogRecordList list;
  At(list, 2026, 12, 7, 23, 59, 58, 220.0)[1] = -2147483648.0;
  At(list, 2026, 2, 30, 0, 0, 0, 1);
  At(list, 2026, 2, 3, 24, 0, 0, 1);
  const TLogRecord r = list[0], bad = list[1], badTime = list[2];
  EXPECT_EQ(LogCellText(r, 0, 0, 2), "1");
  EXPECT_EQ(LogCellText(r, 41, 0, 2), "42");
  EXPECT_EQ(LogCellText(r, 0, 1, 2), "2026-12-07 23:59:58");
  EXPECT_EQ(LogCellText(r, 0, 2, 2), "220");
  EXPECT_EQ(LogCellText(r, 0, 3, 2), "--");
  EXPECT_EQ(LogCellText(r, 0, 4, 2), "");  // beyond the row's value cells
  EXPECT_EQ(LogCellText(bad, 0, 1, 0), "Invalid Time");
  EXPECT_EQ(LogCellText(badTime, 0, 1, 0), "Invalid Time");
}

TEST(LogTable, SortKeepsEqualTimesAndInvalidRecordsInPlace) {
  TLogRecordList list;
  At(list, 2026, 1, 3, 0, 0, 0, 1);
  At(list, 2026, 1, 1, 0, 0, 0, 2);
  At(list, 2026, 1, 2, 0, 0, 0, 3);
  At(list, 2026, 1, 1, 0, 0, 0, 4);   // equal to 2
  At(list, 2026, 2, 30, 0, 0, 0, 5);  // invalid: stays, splits the list
  At(list, 2025, 1, 1, 0, 0, 0, 6);
  At(list, 2027, 1, 1, 0, 0, 0, 7);
  At(list, 2024, 6, 1, 12, 0, 0, 8);

  SortRecordsByTime(list, false);
  EXPECT_EQ(Tags(list), (std::vector<double>{2, 4, 3, 1, 5, 8, 6, 7}));
  SortRecordsByTime(list, true);
  EXPECT_EQ(Tags(list), (std::vector<double>{1, 3, 2, 4, 5, 7, 6, 8}));

  TLogRecordList empty;
  SortRecordsByTime(empty, true);
  EXPECT_TRUE(empty.Empty());
}

TEST(LogTable, SortMatchesTheExchangeSortOnRandomLists) {
  // The header click's sort is defined by n passes of adjacent exchanges.
  auto exchangeSort = [](const TLogRecordList& list, std::vector<TLogRecordList::Handle> v,
                         bool newest) {
    for (size_t pass = 0; pass < v.size(); ++pass)
      for (size_t i = 0; i + 1 < v.size(); ++i) {
        TDateTime a, b;
        if (!RecordTime(list.View(v[i]).Stamp(), a) || !RecordTime(list.View(v[i + 1]).Stamp(), b))
          continue;
        if (newest ? b > a : b < a) std::swap(v[i], v[i + 1]);
      }
    return v;
  };
  unsigned seed = 7;
  auto next = [&seed] { return seed = seed * 1103515245u + 12345u, (seed >> 16) & 0x7FFF; };
  for (int round = 0; round < 50; ++round) {
    TLogRecordList list;
    const int n = static_cast<int>(next() % 40);
    for (int i = 0; i < n; ++i)
      At(list, 2026, 2, static_cast<int>(next() % 31) + 1, static_cast<int>(next() % 3), 0, 0, i);
    const std::vector<TLogRecordList::Handle> original = list.Items();
    for (bool newest : {false, true}) {
      list.Items() = original;
      const auto expected = exchangeSort(list, original, newest);
      SortRecordsByTime(list, newest);
      ASSERT_EQ(list.Items(), expected) << "round " << round;
    }
  }
}

TEST(LogTable, FindFilesRecursesInNameOrder) {
  TempDir dir;
  namespace fs = std::filesystem;
  const std::string g = dir.Path() + "/Group3/";
  fs::create_directories(g + "x");
  fs::create_directories(g + ".svn");
  for (const char* f : {"b.dat", "a.DAT", "c.txt", "x/d.dat", ".svn/e.dat", "noext"})
    std::ofstream(g + f) << "x";
  std::vector<std::string> files;
  FindFiles(g, ".dat", files);
  EXPECT_EQ(files, (std::vector<std::string>{g + "a.DAT", g + "b.dat", g + "x/d.dat"}));
  files.clear();
  FindFiles(" " + dir.Path() + "/Group3 ", ".*", files);
  EXPECT_EQ(files.size(), 5u);
  FindFiles(dir.Path() + "/Group4/", ".dat", files);
  EXPECT_TRUE(files.empty());

  // The pump can stop the search.
  int calls = 0;
  FindFiles(g, ".dat", files, [&calls] { return ++calls > 2; });
  EXPECT_LT(files.size(), 3u);
}

TEST(LogTable, PacedPumpAsksOncePerInterval) {
  int calls = 0;
  bool closing = false;
  const auto count = [&] {
    ++calls;
    return closing;
  };
  PumpHook hourly = PacedPump(count, std::chrono::hours(1));
  for (int i = 0; i < 100; ++i) EXPECT_FALSE(hourly());
  EXPECT_EQ(calls, 1);  // the first call asks, the others fall within the hour
  PumpHook always = PacedPump(count, std::chrono::steady_clock::duration::zero());
  calls = 0;
  EXPECT_FALSE(always());
  EXPECT_FALSE(always());
  closing = true;
  EXPECT_TRUE(always());
  closing = false;
  EXPECT_TRUE(always());  // closing is final: not asked again
  EXPECT_EQ(calls, 3);
  EXPECT_FALSE(PacedPump({}, std::chrono::hours(1)));
}
