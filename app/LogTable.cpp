#include "app/LogTable.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "meter/DisplayFormat.h"
#include "meter/KeyCatalogue.h"

bool RecordTime(const TSystemTime& s, TDateTime& out) {
  TDateTime date = 0, time = 0;
  if (!TryEncodeDate(s.wYear, s.wMonth, s.wDay, date)) return false;
  if (!TryEncodeTime(s.wHour, s.wMinute, s.wSecond, s.wMilliseconds, time)) return false;
  out = date + time;
  return true;
}

TDateTime RecordTimeOrThrow(const TSystemTime& s) {
  return EncodeDate(s.wYear, s.wMonth, s.wDay) +
         EncodeTime(s.wHour, s.wMinute, s.wSecond, s.wMilliseconds);
}

bool RecordsTimeSpan(const TLogRecordList& records, TDateTime& start, TDateTime& end) {
  if (records.Empty()) return false;
  const TDateTime a = RecordTimeOrThrow(records[0].Stamp());
  const TDateTime b = RecordTimeOrThrow(records[records.Count() - 1].Stamp());
  start = a < b ? a : b;
  end = a < b ? b : a;
  return true;
}

bool FormatGeneral(double value, std::string& out) {
  if (!std::isfinite(value)) return false;
  if (value == 0) {      // negative zero included
    out.assign(1, '0');  // (GCC 12 warns falsely on assigning a literal here)
    return true;
  }
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15g", value);
  // %g writes "1e-05" and "1.5e+20"; the general format writes 1E-5 and 1.5E20.
  std::string s;
  for (const char* p = buf; *p != '\0'; ++p) {
    if (*p != 'e') {
      s.push_back(*p);
      continue;
    }
    s.push_back('E');
    ++p;
    if (*p == '-') s.push_back('-');
    ++p;
    while (*p == '0' && p[1] != '\0') ++p;
    s.append(p);
    break;
  }
  const char sep = FormatSettings().DecimalSeparator;
  if (sep != '.') std::replace(s.begin(), s.end(), '.', sep);
  out = std::move(s);
  return true;
}

std::vector<TLogColumn> LogColumns(int group) {
  std::vector<TLogColumn> cols = {{"No.", 50}, {"TimeStamp", 180}};
  if (group < 0 || group >= kGroupCount) return cols;
  const TDataLogSetup& s = GroupSetups[static_cast<size_t>(group)];
  const int keys = std::min<int>(s.KeyNum, kMaxKeys);
  for (int j = 0; j < keys; ++j) {
    std::string caption = GetKeyName(s.keyArr[j]);
    const int width = 8 * static_cast<int>(caption.size());
    cols.push_back({std::move(caption), width});
  }
  return cols;
}

std::string LogCellText(const TLogRecord& record, size_t row, int column, int keyCount) {
  if (column == 0) return std::to_string(row + 1);
  if (column == 1) {
    TDateTime t = 0;
    return RecordTime(record.Stamp(), t) ? DateTimeToDisplayStr(false, t) : "Invalid Time";
  }
  const int j = column - 2;
  if (j < 0 || j >= keyCount || j >= kMaxKeys) return "";
  const double v = record.Value(j);
  std::string text;
  if (v == static_cast<double>(NoValue) || !FormatGeneral(v, text)) return "--";
  return text;
}

void SortRecordsByTime(TLogRecordList& list, bool newestFirst) {
  std::vector<TLogRecordList::Handle>& records = list.Items();
  struct Keyed {
    TDateTime time;
    TLogRecordList::Handle record;
  };
  std::vector<Keyed> segment;
  auto flush = [&](size_t end) {
    // Sort the segment that ends just before position end and write it back.
    if (segment.size() > 1) {
      if (newestFirst) {
        std::stable_sort(segment.begin(), segment.end(),
                         [](const Keyed& a, const Keyed& b) { return a.time > b.time; });
      } else {
        std::stable_sort(segment.begin(), segment.end(),
                         [](const Keyed& a, const Keyed& b) { return a.time < b.time; });
      }
      const size_t begin = end - segment.size();
      for (size_t k = 0; k < segment.size(); ++k) records[begin + k] = segment[k].record;
    }
    segment.clear();
  };
  for (size_t i = 0; i < records.size(); ++i) {
    TDateTime t = 0;
    if (RecordTime(list.View(records[i]).Stamp(), t)) {
      segment.push_back({t, records[i]});
    } else {
      flush(i);  // an invalid time stays put and bounds the segments around it
    }
  }
  flush(records.size());
}
