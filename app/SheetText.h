#pragma once
// The content of one workbook sheet as typed cells: the names sheet (-1) or
// the records of a group (0-9). A sink receives the cells row by row and
// decides how they land (a worksheet, a test's capture).
#include <string>
#include <string_view>
#include <vector>

#include "app/LogTable.h"

class CSheetSink {
 public:
  virtual ~CSheetSink() = default;
  // Starts a row; header is true for a group sheet's caption row.
  virtual void BeginRow(bool header) = 0;
  virtual void Text(int column, std::string_view text) = 0;
  virtual void Number(int column, double value) = 0;
  // A record's time stamp, days since 1899-12-30.
  virtual void Time(int column, TDateTime value) = 0;
  // False when the sheet must stop (the application is closing).
  virtual bool EndRow() = 0;
};

// The names sheet from PanelNames, or group g's sheet from LogRecords (every
// record, in list order) with the columns of LogColumns(g). Returns false
// when the sink asked to stop.
bool BuildSheetText(int group, CSheetSink& sink);

// "Panel Name", or "Data Log #01" to "Data Log #10".
std::string SheetName(int group);

// The width, in characters, of a column of a group sheet and of the names
// sheet; the alignment of column 0 and 1.
double SheetColumnWidth(int group, const std::vector<TLogColumn>& columns, int column);
