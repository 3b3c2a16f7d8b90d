#include "app/Workbook.h"

#include <algorithm>
#include <chrono>
#include <vector>

#include "app/SheetText.h"
#include "app/Xlsx.h"
#include "meter/MeterState.h"

namespace {

constexpr long kDataRowsPerSheet = kSheetRows - 1;  // each sheet repeats the header

// Cells of one sheet into one or more worksheets: a group's sheet that is
// full goes on on the next free position, under its own header.
class CWorksheetSink : public CSheetSink {
 public:
  CWorksheetSink(CXlsxBuild& book, int group, long records, const PumpHook& pump)
      : book_(book), group_(group), records_(records), pump_(pump), layout_(Layout(group)) {}

  void BeginRow(bool header) override {
    header_ = header;
    if (header) headerCells_.clear();
    if (sheet_ == nullptr) {
      Begin(static_cast<size_t>(group_ + 1), SheetName(group_));
    } else if (!header && group_ >= 0 && dataRows_ == kDataRowsPerSheet) {
      ++sheets_;
      Begin(book_.Positions(), SheetName(group_) + " (" + std::to_string(sheets_) + ")");
      dataRows_ = 0;
      sheet_->BeginRow();
      for (size_t c = 0; c < headerCells_.size(); ++c) Write(static_cast<int>(c), headerCells_[c]);
      sheet_->EndRow();
    }
    sheet_->BeginRow();
  }
  void Text(int column, std::string_view text) override {
    if (header_) headerCells_.emplace_back(text);
    Write(column, text);
  }
  void Number(int column, double value) override { sheet_->Number(column, value, StyleOf(column)); }
  void Time(int column, TDateTime value) override {
    sheet_->Number(column, value, TCellStyle::DateTime);
  }
  bool EndRow() override {
    sheet_->EndRow();
    if (!header_) ++dataRows_;
    if (pump_ && (++sinceCheck_ & 255) == 0) {
      // Time-based, so that a fast sheet costs no pumping and a slow one stays responsive.
      const auto now = std::chrono::steady_clock::now();
      if (now - lastPump_ > std::chrono::milliseconds(30)) {
        lastPump_ = now;
        if (pump_()) return false;
      }
    }
    return true;
  }
  int Sheets() const { return sheets_; }

 private:
  static std::vector<TXlsxColumn> Layout(int group) {
    if (group < 0)
      return {{SheetColumnWidth(group, {}, 0), TCellStyle::Plain},
              {SheetColumnWidth(group, {}, 1), TCellStyle::Left}};
    const std::vector<TLogColumn> columns = LogColumns(group);
    std::vector<TXlsxColumn> layout;
    for (size_t c = 0; c < columns.size(); ++c)
      layout.push_back(
          {SheetColumnWidth(group, columns, static_cast<int>(c)), c == 0   ? TCellStyle::Centre
                                                                  : c == 1 ? TCellStyle::Left
                                                                           : TCellStyle::Plain});
    return layout;
  }
  void Begin(size_t position, const std::string& name) {
    // The names sheet has 26 rows of 9 columns; a group sheet its header and
    // the records that fit.
    const long rows =
        group_ < 0 ? 26
                   : 1 + std::min(kDataRowsPerSheet,
                                  records_ - static_cast<long>(sheets_ - 1) * kDataRowsPerSheet);
    const int columns = group_ < 0 ? 9 : static_cast<int>(layout_.size());
    sheet_ = &book_.BeginSheet(position, name, rows, columns, layout_);
  }
  TCellStyle StyleOf(int column) const {
    if (column == 1) return TCellStyle::Left;
    if (column == 0 && group_ >= 0) return TCellStyle::Centre;
    return TCellStyle::Plain;
  }
  void Write(int column, std::string_view text) { sheet_->Text(column, text, StyleOf(column)); }

  CXlsxBuild& book_;
  int group_;
  long records_;
  const PumpHook& pump_;
  std::vector<TXlsxColumn> layout_;
  CXlsxSheet* sheet_ = nullptr;
  int sheets_ = 1;
  long dataRows_ = 0;
  bool header_ = false;
  std::vector<std::string> headerCells_;
  unsigned sinceCheck_ = 0;
  std::chrono::steady_clock::time_point lastPump_ = std::chrono::steady_clock::now();
};

}  // namespace

TWorkbookUpdate UpdateWorkbook(CWorkbookBuild& build, int group, const PumpHook& pump) {
  TWorkbookUpdate result;
  if (group >= kGroupCount) return result;
  if (group >= 0 && LogRecords.Empty()) return result;
  const long records = group < 0 ? 0 : static_cast<long>(LogRecords.Count());
  CXlsxBuild& book = build.Xlsx();
  CWorksheetSink sink(book, group, records, pump);
  bool completed = false;
  try {
    completed = BuildSheetText(group, sink);
    if (completed) book.Save();
  } catch (...) {
    book.Drop();
    throw;
  }
  if (!completed) {
    book.Drop();
    result.Stopped = true;
    return result;
  }
  result.Written = true;
  result.Sheets = sink.Sheets();
  return result;
}
