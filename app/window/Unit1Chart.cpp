// The main window's side of the chart window: the "Plot" button, the table's
// plot menu, the columns the operator picked, and what the chart is told
// when the table changes group.
#include <QAction>
#include <QHeaderView>
#include <QMenu>
#include <QPushButton>
#include <QTableView>
#include <QTreeWidget>
#include <algorithm>

#include "app/window/ChartWindow.h"
#include "app/window/LogTableModel.h"
#include "app/window/MessageBoxes.h"
#include "app/window/Unit1.h"

namespace {

constexpr int kFirstValueColumn = 2;  // after "No." and "TimeStamp"

}  // namespace

void TForm1::ConnectChartHandlers() {
  pmLv1 = new QMenu(this);
  pmLv1->setObjectName(QStringLiteral("pmLv1"));
  mniPlotColumn = pmLv1->addAction(QStringLiteral("Plot Column"));
  mniPlotColumn->setObjectName(QStringLiteral("mniPlotColumn"));
  mniPlotSelected = pmLv1->addAction(QStringLiteral("Plot Selected Columns"));
  mniPlotSelected->setObjectName(QStringLiteral("mniPlotSelected"));
  connect(mniPlotSelected, &QAction::triggered, this,
          [this] { Guarded([this] { PlotColumns(SelectedValueColumns()); }); });
  connect(mniPlotColumn, &QAction::triggered, this,
          [this] { Guarded([this] { PlotColumns({mniPlotColumn->data().toInt()}); }); });
  connect(btnPlot, &QPushButton::clicked, this,
          [this] { Guarded([this] { PlotColumns(SelectedValueColumns()); }); });

  lv1->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(lv1, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    ShowPlotMenu(lv1->columnAt(at.x()), lv1->viewport()->mapToGlobal(at));
  });
  QHeaderView* header = lv1->horizontalHeader();
  header->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(header, &QWidget::customContextMenuRequested, this, [this, header](const QPoint& at) {
    ShowPlotMenu(header->logicalIndexAt(at), header->mapToGlobal(at));
  });
}

void TForm1::ShowPlotMenu(int column, const QPoint& globalPos) {
  mniPlotColumn->setData(column);
  mniPlotColumn->setEnabled(column >= kFirstValueColumn);
  mniPlotSelected->setEnabled(!SelectedValueColumns().empty());
  pmLv1->popup(globalPos);
}

void TForm1::PickColumn(int column, Qt::KeyboardModifiers modifiers) {
  if (column < 0) return;
  if ((modifiers & Qt::ShiftModifier) && pickAnchor_ >= 0) {
    pickedColumns_.clear();
    for (int c = std::min(pickAnchor_, column); c <= std::max(pickAnchor_, column); ++c)
      pickedColumns_.push_back(c);
    return;
  }
  if (modifiers & Qt::ControlModifier) {
    const auto at = std::find(pickedColumns_.begin(), pickedColumns_.end(), column);
    if (at == pickedColumns_.end()) {
      pickedColumns_.push_back(column);
    } else {
      pickedColumns_.erase(at);
    }
  } else {
    pickedColumns_ = {column};
  }
  pickAnchor_ = column;
}

std::vector<int> TForm1::SelectedValueColumns() const {
  std::vector<int> out;
  const int columns = lv1Model->columnCount();
  for (int c : pickedColumns_)
    if (c >= kFirstValueColumn && c < columns) out.push_back(c);
  return out;
}

void TForm1::PlotColumns(const std::vector<int>& columns) {
  QStringList captions;
  for (int c : columns)
    if (c >= kFirstValueColumn && c < lv1Model->columnCount())
      captions << lv1Model->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
  if (captions.isEmpty()) {
    AppMessageBox(QMessageBox::Information,
                  QStringLiteral("Click a value column of the table to plot it."));
    return;
  }
  if (FChart.isNull()) {
    FChart = new TChartWindow(
        [this] {
          TChartSource src;
          const QTreeWidgetItem* node = tv1->currentItem();
          while (node != nullptr && node->parent() != nullptr) node = node->parent();
          if (node != nullptr) src.Group = node->text(0);
          for (int c = kFirstValueColumn; c < lv1Model->columnCount(); ++c)
            src.Captions << lv1Model->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
          return src;
        },
        this);
    connect(this, &TForm1::LogTableChanged, FChart, &TChartWindow::TableChanged);
  }
  FChart->AddCaptions(captions);
  FChart->show();
  FChart->raise();
  FChart->activateWindow();
}

TChartWindow* TForm1::ChartWindow() const { return FChart; }
