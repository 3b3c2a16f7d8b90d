#pragma once
// The log table's model: a thin adapter over LogRecords. It keeps no rows of
// its own; cell texts are made when a row is drawn.
#include <QAbstractTableModel>
#include <functional>
#include <vector>

#include "app/LogTable.h"

class TLogTableModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  using QAbstractTableModel::QAbstractTableModel;

  // Empties the table and makes the columns of group g.
  void SetupColumns(int group);
  // The row count the table shows (rows past LogRecords' end are empty).
  void SetRowCount(int rows);
  // The number of value cells of a row, asked when it is drawn (the window
  // answers with the selected group's key count); by default the columns'.
  void SetKeyCountSource(std::function<int()> source) { keyCount_ = std::move(source); }

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  const std::vector<TLogColumn>& Columns() const { return columns_; }

 private:
  std::vector<TLogColumn> columns_;
  int rows_ = 0;
  std::function<int()> keyCount_;
};
