#pragma once
// The log table's logic without any widget: its columns, the text of every
// cell, and the sort by time stamp. The window's model and krvo show both
// draw from it.
#include <string>
#include <vector>

#include "meter/DateTimeUtil.h"
#include "meter/MeterState.h"

// The record's time; false when its fields are no valid date and time.
bool RecordTime(const TSystemTime& stamp, TDateTime& out);

// The record's time, or EConvertError for its date or time of day.
TDateTime RecordTimeOrThrow(const TSystemTime& stamp);

// The span of the records as the pickers show it: the earlier and the later
// of the first and the last record's times (only these two count). False for
// no records; EConvertError when either time can't be made.
bool RecordsTimeSpan(const TLogRecordList& records, TDateTime& start, TDateTime& end);

// At most 15 significant digits, plain or scientific as a spreadsheet's
// general format, with the user's decimal separator; false for NaN and infinities.
bool FormatGeneral(double value, std::string& out);

struct TLogColumn {
  std::string Caption;
  int Width;  // pixels
};

// "No.", "TimeStamp" and one column per logged key of group g (0-9).
std::vector<TLogColumn> LogColumns(int group);

// Text of a cell: column 0 the row number, 1 the time stamp (or "Invalid
// Time"), 2 + j value j (or "--"). keyCount is the value cells of the row.
std::string LogCellText(const TLogRecord& record, size_t row, int column, int keyCount);

// Orders records by time as the table's header click does, stably; a record
// whose time can't be made stays in place and splits the list into segments
// sorted on their own.
void SortRecordsByTime(TLogRecordList& records, bool newestFirst);
