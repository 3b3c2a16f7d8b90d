// The main window's log table: columns, row count, the sort by a click on
// "TimeStamp", and the time range of the date and time pickers.
#include <QAction>
#include <QDateTimeEdit>
#include <QHeaderView>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QTableView>
#include <QTreeWidget>

#include "app/LogTable.h"
#include "app/window/LogTableModel.h"
#include "app/window/MessageBoxes.h"
#include "app/window/Unit1.h"

namespace {

// Record times are the meter's wall-clock fields: the pickers hold them as
// UTC so that no time zone shifts them or rejects a time in a daylight-saving gap.
QDateTime ToQDateTime(TDateTime value) {
  const TDateParts p = DecodeDateTime(value);
  return QDateTime(QDate(p.Year, p.Month, p.Day), QTime(p.Hour, p.Minute, p.Second, p.MilliSecond),
                   Qt::UTC);
}

}  // namespace

int TForm1::CurrentGroup() const {
  const QTreeWidgetItem* node = tv1->currentItem();
  if (node == nullptr) return -1;
  if (node->parent() != nullptr) node = node->parent();
  return tv1->indexOfTopLevelItem(const_cast<QTreeWidgetItem*>(node));
}

void TForm1::SetupLogColumns(int group) {
  if (group < 0 || group > 9) return;
  lv1Model->SetupColumns(mniEnergyBill1->isChecked() ? -1 : group);
  const auto& columns = lv1Model->Columns();
  for (size_t i = 0; i < columns.size(); ++i)
    lv1->setColumnWidth(static_cast<int>(i), columns[i].Width);
  edtLogsNumber->setText(QStringLiteral("0"));
  pickedColumns_.clear();
  pickAnchor_ = -1;
  emit LogTableChanged(true);
}

void TForm1::SetLogRowCount(size_t rows) {
  lv1Model->SetRowCount(static_cast<int>(rows));
  edtLogsNumber->setText(QString::number(rows));
  emit LogTableChanged(false);
}

int TForm1::CurrentKeyCount() const {
  const int g = tableGroup_ >= 0 ? tableGroup_ : CurrentGroup();
  if (g < 0 || g >= kGroupCount) return 0;  // no node selected: no value cells
  return std::min<int>(GroupSetups[static_cast<size_t>(g)].KeyNum, kMaxKeys);
}

void TForm1::lv1ColumnClick(int column) {
  if (column != 1) return;  // only "TimeStamp" sorts
  SortNewestFirst = !SortNewestFirst;
  ::SortRecordsByTime(LogRecords, SortNewestFirst);
  SetLogRowCount(LogRecords.Count());
}

void TForm1::SetTimeRangeFromRecords() {
  // The program's own settings are no edits: the range is checked on changes only.
  const QSignalBlocker b1(dtp1), b2(dtp2), b3(dtp3), b4(dtp4);
  const QDateTime now = WallClockNow();
  if (LogRecords.Empty()) {
    dtp1->setDateTime(now);
    dtp3->setDateTime(now);
    dtp2->setTime(now.time());
    dtp4->setTime(now.time());
    return;
  }
  TDateTime a = 0, b = 0;
  RecordsTimeSpan(LogRecords, a, b);
  const QDateTime start = ToQDateTime(a), end = ToQDateTime(b);
  // Times before 2000-01-01 are shown at the pickers' earliest date.
  dtp1->setDateTime(start);
  dtp2->setDateTime(start);
  dtp3->setDateTime(end);
  dtp4->setDateTime(end);
}

QDateTime TForm1::RangeStart() const { return QDateTime(dtp1->date(), dtp2->time(), Qt::UTC); }

QDateTime TForm1::RangeEnd() const { return QDateTime(dtp3->date(), dtp4->time(), Qt::UTC); }

QDateTime TForm1::WallClockNow() {
  const QDateTime now = QDateTime::currentDateTime();
  return QDateTime(now.date(), now.time(), Qt::UTC);
}

bool TForm1::CheckTimeRange() {
  if (RangeStart() <= RangeEnd()) return true;
  AppMessageBox(QMessageBox::Warning, QStringLiteral("Start Time must be less than End Time."));
  const QSignalBlocker b1(dtp1), b2(dtp2);
  dtp1->setDate(dtp3->date());
  dtp2->setTime(dtp4->time());
  return false;
}

void TForm1::ConnectTableHandlers() {
  lv1Model->SetKeyCountSource([this] { return CurrentKeyCount(); });
  lv1->horizontalHeader()->setSectionsClickable(true);
  connect(lv1->horizontalHeader(), &QHeaderView::sectionClicked, this,
          [this](int column) { Guarded([this, column] { lv1ColumnClick(column); }); });
  for (QDateTimeEdit* p : {dtp1, dtp2, dtp3, dtp4})
    connect(p, &QDateTimeEdit::dateTimeChanged, this,
            [this] { Guarded([this] { CheckTimeRange(); }); });
}
