#include "app/report/ReportXlsx.h"

#include <xlsxwriter.h>

#include <algorithm>
#include <cstdio>

#include "meter/FileReplace.h"

namespace {

constexpr double kDaySeconds = 86400;
constexpr size_t kMaxRows = 1048576;
constexpr size_t kMaxColumns = 16384;
constexpr size_t kMaxText = 32767;

// Text that stays valid in the sheet's XML: no control characters.
std::string SheetString(const std::string& s) {
  std::string out = s.substr(0, kMaxText);
  for (char& c : out)
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  return out;
}

struct Formats {
  lxw_format* Date;
  lxw_format* DateTime;
  lxw_format* Percent;
  lxw_format* Head;
};

void WriteCell(lxw_worksheet* ws, lxw_row_t r, lxw_col_t c, const TReportCell& cell,
               const Formats& f, bool head) {
  switch (cell.Type) {
    case TReportCell::Empty:
      break;
    case TReportCell::Number:
      worksheet_write_number(ws, r, c, cell.Value, nullptr);
      break;
    case TReportCell::Text:
      worksheet_write_string(ws, r, c, SheetString(cell.String).c_str(), head ? f.Head : nullptr);
      break;
    case TReportCell::Date:
      worksheet_write_number(ws, r, c, static_cast<double>(cell.Time) / kDaySeconds, f.Date);
      break;
    case TReportCell::DateTime:
      worksheet_write_number(ws, r, c, static_cast<double>(cell.Time) / kDaySeconds, f.DateTime);
      break;
    case TReportCell::Percent:
      worksheet_write_number(ws, r, c, cell.Value, f.Percent);
      break;
  }
}

void AddChart(lxw_workbook* wb, lxw_worksheet* ws, const TReportSheet& sheet, size_t width) {
  if (sheet.ChartColumns.empty() || sheet.Rows.size() < 2) return;
  lxw_chart* chart = workbook_add_chart(wb, LXW_CHART_COLUMN);
  const auto last = static_cast<lxw_row_t>(sheet.Rows.size() - 1);
  for (size_t col : sheet.ChartColumns) {
    lxw_chart_series* series = chart_add_series(chart, nullptr, nullptr);
    chart_series_set_categories(series, sheet.Name.c_str(), 1, 0, last, 0);
    chart_series_set_values(series, sheet.Name.c_str(), 1, static_cast<lxw_col_t>(col), last,
                            static_cast<lxw_col_t>(col));
    chart_series_set_name_range(series, sheet.Name.c_str(), 0, static_cast<lxw_col_t>(col));
  }
  chart_title_set_name(chart, "Consumption per period (kWh)");
  chart_axis_set_name(chart->y_axis, "kWh");
  lxw_chart_options options{};
  options.x_scale = 2;
  options.y_scale = 1.5;
  worksheet_insert_chart_opt(ws, 1, static_cast<lxw_col_t>(std::min(width + 1, kMaxColumns - 1)),
                             chart, &options);
}

}  // namespace

bool WriteReportWorkbook(const std::string& path, const std::vector<TReportSheet>& sheets,
                         std::string& error) {
  for (const TReportSheet& s : sheets) {
    size_t width = 0;
    for (const auto& row : s.Rows) width = std::max(width, row.size());
    if (s.Rows.size() > kMaxRows || width > kMaxColumns) {
      error = "The report's " + s.Name + " sheet is larger than a worksheet";
      return false;
    }
  }
  std::string temp;
  try {
    temp = CreateTempBeside(path);
  } catch (const std::exception& e) {
    error = e.what();
    return false;
  }
  lxw_workbook* wb = workbook_new(temp.c_str());
  if (wb == nullptr) {
    std::remove(temp.c_str());
    error = "Unable to write " + path;
    return false;
  }
  Formats f{workbook_add_format(wb), workbook_add_format(wb), workbook_add_format(wb),
            workbook_add_format(wb)};
  format_set_num_format(f.Date, "yyyy-mm-dd");
  format_set_num_format(f.DateTime, "yyyy-mm-dd hh:mm:ss");
  format_set_num_format(f.Percent, "0.0%");
  format_set_bold(f.Head);
  for (const TReportSheet& s : sheets) {
    lxw_worksheet* ws = workbook_add_worksheet(wb, s.Name.c_str());
    size_t width = 0;
    for (size_t r = 0; r < s.Rows.size(); ++r) {
      width = std::max(width, s.Rows[r].size());
      for (size_t c = 0; c < s.Rows[r].size(); ++c)
        WriteCell(ws, static_cast<lxw_row_t>(r), static_cast<lxw_col_t>(c), s.Rows[r][c], f,
                  r == 0);
    }
    if (width > 0) {
      worksheet_set_column(ws, 0, 0, 20, nullptr);
      if (width > 1) worksheet_set_column(ws, 1, static_cast<lxw_col_t>(width - 1), 18, nullptr);
    }
    worksheet_freeze_panes(ws, 1, 1);
    AddChart(wb, ws, s, width);
  }
  const lxw_error e = workbook_close(wb);
  if (e != LXW_NO_ERROR) {
    std::remove(temp.c_str());
    error = "Unable to write " + path + ": " + lxw_strerror(e);
    return false;
  }
  if (!CommitTemp(temp, path)) {
    error = "Unable to write " + path;
    return false;
  }
  return true;
}
