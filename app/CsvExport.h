#pragma once
// A group's records as CSV for tools that read no spreadsheet: RFC 4180
// (commas, CR LF, quoted fields where needed), UTF-8 without a byte-order
// mark; the table's captions, then per record its number, its time as
// YYYY-MM-DD HH:MM:SS.mmm and its values as the shortest text that reads
// back as the same double. Slots without a value and times that can't be
// made are empty fields.
#include <string>

// Writes group g's columns and LogRecords to path (replaced atomically);
// false when the file can't be written.
bool WriteGroupCsv(const std::string& path, int group);

// One field, quoted when it holds a comma, a quote or a line break.
std::string CsvField(const std::string& text);
