#include "app/CsvExport.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <memory>

#include "app/LogTable.h"
#include "meter/FileReplace.h"
#include "meter/MeterState.h"

bool ParseCsvDialect(const std::string& name, TCsvDialect& out) {
  if (name == "rfc4180") {
    out = TCsvDialect{};
  } else if (name == "excel-eu") {
    out = TCsvDialect{';', ','};
  } else {
    return false;
  }
  return true;
}

std::string CsvNumber(double value, const TCsvDialect& dialect) {
  char buf[32];
  const auto res = std::to_chars(buf, buf + sizeof buf, value);
  std::string text(buf, res.ptr);
  if (dialect.Decimal != '.')
    for (char& c : text)
      if (c == '.') c = dialect.Decimal;
  return text;
}

std::string CsvField(const std::string& text, const TCsvDialect& dialect) {
  const char special[] = {dialect.Separator, '"', '\r', '\n', '\0'};
  if (text.find_first_of(special) == std::string::npos) return text;
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

bool WriteGroupCsv(const std::string& path, int group) {
  return WriteGroupCsv(path, group, TCsvDialect{});
}

bool WriteGroupCsv(const std::string& path, int group, const TCsvDialect& dialect,
                   const TTimeRange& range) {
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
  const std::vector<TLogColumn> columns = LogColumns(group);
  std::string line;
  for (size_t c = 0; c < columns.size(); ++c) {
    if (c != 0) line += dialect.Separator;
    line += CsvField(columns[c].Caption, dialect);
  }
  line += "\r\n";
  const int keys = static_cast<int>(columns.size()) - 2;
  bool ok = std::fwrite(line.data(), 1, line.size(), f.get()) == line.size();
  size_t row = 0;
  for (size_t i = 0; i < LogRecords.Count(); ++i) {
    if (!ok) break;
    const TLogRecord r = LogRecords[i];
    const TSystemTime s = r.Stamp();
    if (range.Bounded() && !range.Holds(s)) continue;
    line = std::to_string(++row);
    line += dialect.Separator;
    TDateTime t = 0;
    if (RecordTime(s, t)) {
      char stamp[64];
      std::snprintf(stamp, sizeof stamp, "%04u-%02u-%02u %02u:%02u:%02u.%03u", s.wYear, s.wMonth,
                    s.wDay, s.wHour, s.wMinute, s.wSecond, s.wMilliseconds);
      line += stamp;
    } else {
      line += "Invalid Time";
    }
    for (int j = 0; j < keys; ++j) {
      line += dialect.Separator;
      const double v = r.Value(j);
      if (v == static_cast<double>(NoValue) || !std::isfinite(v)) continue;
      line += CsvNumber(v, dialect);
    }
    line += "\r\n";
    ok = std::fwrite(line.data(), 1, line.size(), f.get()) == line.size();
  }
  FILE* raw = f.release();
  if (std::fclose(raw) != 0) ok = false;
  if (!ok) {
    std::remove(temp.c_str());
    return false;
  }
  return CommitTemp(temp, path);
}
