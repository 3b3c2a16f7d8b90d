#include "app/SheetText.h"

#include <cmath>
#include <cstdio>

#include "meter/MeterState.h"
#include "meter/TextCodec.h"

namespace {

constexpr int kBranchRows = 21;

bool NamesSheet(CSheetSink& sink) {
  const TPanelName& n = PanelNames;
  const std::pair<const char*, const std::string*> heads[] = {{"Device Name: ", &n.DeviceName},
                                                              {"Mains-I Name: ", &n.MainsIName},
                                                              {"Mains-II Name: ", &n.MainsIIName}};
  for (const auto& [caption, name] : heads) {
    sink.BeginRow(false);
    sink.Text(0, caption);
    sink.Text(1, *name);
    if (!sink.EndRow()) return false;
  }
  sink.BeginRow(false);  // the empty fourth line
  if (!sink.EndRow()) return false;
  sink.BeginRow(false);
  const char* captions[] = {"Branch Name: ", "Branch A", "Name",     "Branch B", "Name",
                            "Branch C",      "Name",     "Branch D", "Name"};
  for (int c = 0; c < 9; ++c) sink.Text(c, captions[c]);
  if (!sink.EndRow()) return false;
  for (int i = 0; i < kBranchRows; ++i) {
    sink.BeginRow(false);
    for (int block = 0; block < 4; ++block) {
      const int branch = i + 1 + block * kBranchRows;
      sink.Number(1 + 2 * block, branch);
      sink.Text(2 + 2 * block, n.BranchName[static_cast<size_t>(branch - 1)]);
    }
    if (!sink.EndRow()) return false;
  }
  return true;
}

}  // namespace

std::string SheetName(int group) {
  if (group < 0) return "Panel Name";
  char name[32];
  std::snprintf(name, sizeof name, "Data Log #%.2d", group + 1);
  return name;
}

double SheetColumnWidth(int group, const std::vector<TLogColumn>& columns, int column) {
  if (group < 0) return 15;
  if (column == 0) return 6;
  if (column == 1) return 25;
  if (column < 0 || static_cast<size_t>(column) >= columns.size()) return 0;
  return static_cast<double>(Utf8Length(columns[static_cast<size_t>(column)].Caption));
}

bool BuildSheetText(int group, CSheetSink& sink) {
  if (group < 0) return NamesSheet(sink);
  const std::vector<TLogColumn> columns = LogColumns(group);
  sink.BeginRow(true);
  for (size_t c = 0; c < columns.size(); ++c) sink.Text(static_cast<int>(c), columns[c].Caption);
  if (!sink.EndRow()) return false;
  const int keys = static_cast<int>(columns.size()) - 2;
  size_t count = 0;
  // A copy of the order: events run while the sheet is written, and a sort
  // then must not move records under the loop.
  const std::vector<TLogRecordList::Handle> records = LogRecords.Items();
  const int stored = LogRecords.KeyCount();
  for (const TLogRecordList::Handle h : records) {
    const TLogRecord r(h, stored);
    sink.BeginRow(false);
    sink.Number(0, static_cast<double>(++count));
    // The sheet shows whole seconds, as the table does: a cell holding the
    // milliseconds would round up to the next second in a spreadsheet.
    TSystemTime whole = r.Stamp();
    whole.wMilliseconds = 0;
    TDateTime t = 0;
    if (RecordTime(whole, t)) {
      sink.Time(1, t);
    } else {
      sink.Text(1, "Invalid Time");
    }
    for (int j = 0; j < keys; ++j) {
      const double v = r.Value(j);
      if (v == static_cast<double>(NoValue) || !std::isfinite(v)) {
        sink.Text(2 + j, "--");
      } else {
        sink.Number(2 + j, v);
      }
    }
    if (!sink.EndRow()) return false;
  }
  return true;
}
