#include "app/CsvExport.h"

#include <charconv>
#include <cmath>
#include <cstdio>

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

CCsvFileWriter::CCsvFileWriter(std::string path) : path_(std::move(path)) {
  try {
    temp_ = CreateTempBeside(path_);
  } catch (const std::exception&) {
    return;
  }
  file_ = std::fopen(temp_.c_str(), "wb");
  ok_ = file_ != nullptr;
}

CCsvFileWriter::~CCsvFileWriter() {
  if (file_ != nullptr) std::fclose(file_);
  if (!temp_.empty()) std::remove(temp_.c_str());
}

void CCsvFileWriter::Line(std::string line) {
  line += "\r\n";
  ok_ = ok_ && std::fwrite(line.data(), 1, line.size(), file_) == line.size();
}

bool CCsvFileWriter::Commit() {
  if (file_ == nullptr) return false;
  if (std::fclose(file_) != 0) ok_ = false;
  file_ = nullptr;
  if (!ok_) return false;
  const std::string temp = std::move(temp_);
  temp_.clear();
  return CommitTemp(temp, path_);
}

bool WriteGroupCsv(const std::string& path, int group) {
  return WriteGroupCsv(path, group, TCsvDialect{});
}

bool WriteGroupCsv(const std::string& path, int group, const TCsvDialect& dialect,
                   const TTimeRange& range) {
  CCsvFileWriter out(path);
  if (!out.Ok()) return false;
  const std::vector<TLogColumn> columns = LogColumns(group);
  std::string line;
  for (size_t c = 0; c < columns.size(); ++c) {
    if (c != 0) line += dialect.Separator;
    line += CsvField(columns[c].Caption, dialect);
  }
  out.Line(line);
  const int keys = static_cast<int>(columns.size()) - 2;
  size_t row = 0;
  for (size_t i = 0; i < LogRecords.Count(); ++i) {
    if (!out.Ok()) break;
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
    out.Line(line);
  }
  return out.Commit();
}
