#include "app/report/ReportCsv.h"

#include <cstdio>
#include <memory>

#include "meter/FileReplace.h"

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
  std::string temp;
  try {
    temp = CreateTempBeside(path);
  } catch (const std::exception&) {
    return false;
  }
  std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(temp.c_str(), "wb"), std::fclose);
  if (!f) {
    std::remove(temp.c_str());
    return false;
  }
  bool ok = true;
  std::string line;
  for (const auto& row : sheet.Rows) {
    line.clear();
    for (size_t c = 0; c < row.size(); ++c) {
      if (c != 0) line += dialect.Separator;
      line += CellText(row[c], dialect);
    }
    line += "\r\n";
    ok = ok && std::fwrite(line.data(), 1, line.size(), f.get()) == line.size();
  }
  if (std::fclose(f.release()) != 0) ok = false;
  if (!ok) {
    std::remove(temp.c_str());
    return false;
  }
  return CommitTemp(temp, path);
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
