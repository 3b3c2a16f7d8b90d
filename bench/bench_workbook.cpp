// Ten UpdateWorkbook calls for ten groups of 10,000 records x 64 keys (the
// load of a device), against one libxlsxwriter write of the same cells into
// one workbook, measured back to back; and against the floor: compressing the
// same sheet XML bytes alone, with the same compressor and level, on every core.
#include <xlsxwriter.h>
#include <zip.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "app/LogTable.h"
#include "app/ParallelDeflate.h"
#include "app/SheetText.h"
#include "app/Workbook.h"
#include "meter/MeterState.h"
#include "tests/support/Process.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRecords = 10000;
constexpr int kKeys = 64;
constexpr int kPairs = 1;  // one side alone takes seconds: one pair, back to back

double Seconds(Clock::time_point t0) {
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

// Every cell of the ten sheets in one workbook, typed as ours are.
void SingleWrite(const std::string& path) {
  lxw_workbook_options options{};
  options.constant_memory = LXW_TRUE;
  lxw_workbook* wb = workbook_new_opt(path.c_str(), &options);
  lxw_format* centre = workbook_add_format(wb);
  format_set_align(centre, LXW_ALIGN_CENTER);
  lxw_format* left = workbook_add_format(wb);
  format_set_align(left, LXW_ALIGN_LEFT);
  lxw_format* time = workbook_add_format(wb);
  format_set_num_format(time, "yyyy-mm-dd hh:mm:ss");
  const std::vector<TLogColumn> columns = LogColumns(0);
  for (int g = 0; g < kGroupCount; ++g) {
    lxw_worksheet* ws = workbook_add_worksheet(wb, SheetName(g).c_str());
    for (size_t c = 0; c < columns.size(); ++c)
      worksheet_write_string(ws, 0, static_cast<lxw_col_t>(c), columns[c].Caption.c_str(), nullptr);
    lxw_row_t row = 1;
    for (size_t i = 0; i < LogRecords.Count(); ++i) {
      const TLogRecord r = LogRecords[i];
      worksheet_write_number(ws, row, 0, row, centre);
      TDateTime t = 0;
      RecordTime(r.Stamp(), t);
      worksheet_write_number(ws, row, 1, t, time);
      for (int j = 0; j < kKeys; ++j)
        worksheet_write_number(ws, row, static_cast<lxw_col_t>(2 + j), r.Value(j), nullptr);
      ++row;
    }
  }
  workbook_close(wb);
}

// The sheet parts of the finished workbook, uncompressed.
std::vector<std::string> SheetParts(const std::string& path) {
  std::vector<std::string> parts;
  zip_t* z = zip_open(path.c_str(), ZIP_RDONLY, nullptr);
  for (int i = 1; z != nullptr; ++i) {
    const std::string name = "xl/worksheets/sheet" + std::to_string(i) + ".xml";
    zip_stat_t st;
    if (zip_stat(z, name.c_str(), 0, &st) != 0) break;
    std::string bytes(st.size, '\0');
    zip_file_t* f = zip_fopen(z, name.c_str(), 0);
    zip_fread(f, bytes.data(), st.size);
    zip_fclose(f);
    parts.push_back(std::move(bytes));
  }
  if (z != nullptr) zip_discard(z);
  return parts;
}

// Each part compressed as the workbook writer does it, nothing else.
double CompressFloor(const std::vector<std::string>& parts, const std::string& scratch,
                     uint64_t& bytes) {
  bytes = 0;
  const auto t0 = Clock::now();
  for (const std::string& part : parts) {
    std::FILE* out = std::fopen(scratch.c_str(), "wb");
    CParallelDeflate deflate(out, 1);
    for (size_t at = 0; at < part.size(); at += 1 << 20) deflate.Add(part.substr(at, 1 << 20));
    TDeflated d;
    deflate.Finish(d);
    std::fclose(out);
    bytes += d.Size;
  }
  return Seconds(t0);
}

}  // namespace

int main() {
  TempDir dir;
  GroupSetups = {};
  for (TDataLogSetup& s : GroupSetups) {
    s.KeyNum = kKeys;
    for (int j = 0; j < kKeys; ++j) s.keyArr[j] = static_cast<uint16_t>(1 + j);
  }
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> raw(0, 50000);
  LogRecords.SetKeyCount(kKeys);
  for (int i = 0; i < kRecords; ++i) {
    double* values =
        LogRecords.Add({2026, 12, 0, static_cast<uint16_t>(1 + i / 1440),
                        static_cast<uint16_t>(i / 60 % 24), static_cast<uint16_t>(i % 60), 0, 0});
    for (int j = 0; j < kKeys; ++j) values[j] = raw(rng) / 100.0;
  }

  std::vector<double> updates, singles, ratios;
  for (int pair = 0; pair < kPairs; ++pair) {
    const std::string path = dir.Path() + "/template.xlsx";
    std::remove(path.c_str());
    auto t0 = Clock::now();
    CWorkbookBuild build(path);
    UpdateWorkbook(build, -1);
    for (int g = 0; g < kGroupCount; ++g) UpdateWorkbook(build, g);
    build.Commit();
    updates.push_back(Seconds(t0));
    t0 = Clock::now();
    SingleWrite(dir.Path() + "/single.xlsx");
    singles.push_back(Seconds(t0));
    ratios.push_back(updates.back() / singles.back());
  }
  uint64_t xmlBytes = 0;
  const double floor =
      CompressFloor(SheetParts(dir.Path() + "/template.xlsx"), dir.Path() + "/floor.bin", xmlBytes);
  std::sort(updates.begin(), updates.end());
  std::sort(singles.begin(), singles.end());
  std::sort(ratios.begin(), ratios.end());
  std::printf("cells_per_group: %d\n", kRecords * (kKeys + 2));
  std::printf("ten_updates_s: %.2f\n", updates[kPairs / 2]);
  std::printf("single_write_s: %.2f\n", singles[kPairs / 2]);
  std::printf("sheet_xml_mb: %.1f\n", xmlBytes / 1e6);
  std::printf("compress_floor_s: %.2f\n", floor);
  std::printf("ratio_updates_vs_single_write: %.2f\n", ratios[kPairs / 2]);
  std::printf("ratio_vs_compress_floor: %.2f\n", updates[kPairs / 2] / floor);
  return 0;
}
