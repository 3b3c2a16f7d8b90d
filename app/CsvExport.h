#pragma once
// A group's records as CSV for tools that read no spreadsheet: RFC 4180
// (commas, CR LF, quoted fields where needed), UTF-8 without a byte-order
// mark; the table's captions, then per record its number, its time as
// YYYY-MM-DD HH:MM:SS.mmm and its values as the shortest text that reads
// back as the same double. Slots without a value are empty fields; a time
// that can't be made is "Invalid Time".
#include <cstdio>
#include <string>

#include "app/report/ReportTime.h"

// The field separator and decimal separator of a CSV file: RFC 4180 with
// "." by default; "excel-eu" writes ";" and "," for spreadsheets set to a
// comma-decimal language.
struct TCsvDialect {
  char Separator = ',';
  char Decimal = '.';
};

// "rfc4180" or "excel-eu"; false for any other name.
bool ParseCsvDialect(const std::string& name, TCsvDialect& out);

// One field, quoted when it holds the separator, a quote or a line break.
std::string CsvField(const std::string& text, const TCsvDialect& dialect = {});

// The shortest text that reads back as the same double, with the dialect's
// decimal separator.
std::string CsvNumber(double value, const TCsvDialect& dialect = {});

// A CSV file written under a temporary name beside its path and put in
// place by Commit, whole; dropped when not committed.
class CCsvFileWriter {
 public:
  explicit CCsvFileWriter(std::string path);
  ~CCsvFileWriter();
  CCsvFileWriter(const CCsvFileWriter&) = delete;
  CCsvFileWriter& operator=(const CCsvFileWriter&) = delete;

  bool Ok() const { return ok_; }
  // One record: line is its fields, joined; the line end is added here.
  void Line(std::string line);
  // False when anything failed; the earlier file then stays.
  bool Commit();

 private:
  std::string path_, temp_;
  std::FILE* file_ = nullptr;
  bool ok_ = false;
};

// Writes group g's columns and LogRecords to path (replaced atomically),
// only the records in range when it is bounded (a time that can't be made
// is in none); false when the file can't be written.
bool WriteGroupCsv(const std::string& path, int group, const TCsvDialect& dialect,
                   const TTimeRange& range = {});
bool WriteGroupCsv(const std::string& path, int group);
