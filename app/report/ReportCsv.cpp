#include "app/report/ReportCsv.h"

#include <cstdio>

namespace {

std::string CellText(const TReportCell& cell, const TCsvDialect& dialect) {
  switch (cell.Type) {
    case TReportCell::Empty:
      break;
    case TReportCell::Number:
    case TReportCell::Percent:
      return CsvNumber(cell.Value, dialect);
    case TReportCell::Text:
      return CsvField(cell.String, dialect);
    case TReportCell::Date:
      return FormatReportDate(cell.Time);
    case TReportCell::DateTime:
      return FormatReportTime(cell.Time);
  }
  return "";
}

bool WriteSheet(const std::string& path, const TReportSheet& sheet, const TCsvDialect& dialect) {
  CCsvFileWriter out(path);
  if (!out.Ok()) return false;
  std::string line;
  for (const auto& row : sheet.Rows) {
    line.clear();
    for (size_t c = 0; c < row.size(); ++c) {
      if (c != 0) line += dialect.Separator;
      line += CellText(row[c], dialect);
    }
    out.Line(line);
  }
  return out.Commit();
}

}  // namespace

bool WriteReportCsv(const std::string& folder, const std::vector<TReportSheet>& sheets,
                    const TCsvDialect& dialect, std::string& error) {
  for (const TReportSheet& s : sheets) {
    const std::string path = folder + s.Name + ".csv";
    if (!WriteSheet(path, s, dialect)) {
      error = "Unable to write " + path;
      return false;
    }
  }
  return true;
}
