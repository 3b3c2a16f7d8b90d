#include "app/window/LogTableModel.h"

void TLogTableModel::SetupColumns(int group) {
  beginResetModel();
  rows_ = 0;
  columns_ = LogColumns(group);
  endResetModel();
}

void TLogTableModel::SetRowCount(int rows) {
  beginResetModel();
  rows_ = rows < 0 ? 0 : rows;
  endResetModel();
}

int TLogTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : rows_;
}

int TLogTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

QVariant TLogTableModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid()) return {};
  const auto row = static_cast<size_t>(index.row());
  if (row >= LogRecords.Count()) return {};  // the list may have changed since
  const int keys = keyCount_ ? keyCount_() : static_cast<int>(columns_.size()) - 2;
  return QString::fromStdString(LogCellText(LogRecords[row], row, index.column(), keys));
}

QVariant TLogTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
      section >= static_cast<int>(columns_.size()))
    return {};
  return QString::fromStdString(columns_[static_cast<size_t>(section)].Caption);
}
