#pragma once
// The chart window: columns of the table's group as lines over the records'
// wall-clock times. Qt Charts draws axes, legend and lines; it only ever gets
// the few points a pixel column needs (Decimate), recomputed whenever the
// visible span changes, so a million records pan and zoom freely.
#include <QColor>
#include <QList>
#include <QPointF>
#include <QSize>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <vector>

#include "app/ChartData.h"

class QCategoryAxis;
class QChart;
class QChartView;
class QGraphicsLineItem;
class QLabel;
class QLineSeries;
class QValueAxis;
class TChartView;

// What the table shows: its group's caption and the caption of each value
// column (value j at index j).
struct TChartSource {
  QString Group;
  QStringList Captions;
};

// The save dialog of "Save Chart As...": the path (".png" or ".svg") and the
// image size, proposed as the chart's; false when the operator cancels.
using ChartSaveHook = std::function<bool(QString& path, QSize& size)>;
ChartSaveHook SetChartSaveHook(ChartSaveHook hook);

class TChartWindow : public QWidget {
  Q_OBJECT
 public:
  explicit TChartWindow(std::function<TChartSource()> source, QWidget* parent = nullptr);
  ~TChartWindow() override;

  // Plots these captions too (each once), reading the records anew.
  void AddCaptions(const QStringList& captions);
  // The table changed: new columns, or rows. Records are read again once
  // events run, so a load adding file after file is read once per pause.
  void TableChanged(bool newColumns);
  // Reads the plotted columns of LogRecords now and shows their whole span.
  void Reload();

  // The legend's names, in plotting order; captions the group doesn't log are left out.
  QStringList SeriesNames() const;
  // What the window says about the captions the group does not log; empty when it logs all.
  QString Notice() const;
  size_t RecordCount() const { return data_.Count(); }

  // The visible time span (days since 1899-12-30, wall clock).
  double ViewStart() const { return x0_; }
  double ViewEnd() const { return x1_; }
  void SetView(double x0, double x1);
  // Zooms the time axis by factor (> 1 in) keeping the time at fraction
  // (0 left, 1 right) of the plot in place; pans by a fraction of the span.
  void ZoomBy(double factor, double fraction = 0.5);
  void PanBy(double fraction);
  // Zooms to a rectangle of the plot (chart coordinates): its times and values.
  void ZoomTo(const QRectF& area);
  void ResetView();

  // The tracker at a chart x coordinate: a line at the nearest record and its values.
  void TrackAt(qreal chartX);
  void HideTracker();
  QString TrackerText() const;
  // Each series' minimum, maximum and mean over the visible time span.
  QString StatsText() const;

  // Writes the chart as PNG or SVG (by the suffix) at size; false on failure.
  bool SaveImage(const QString& path, QSize size);
  void SaveChartAs();

  QChart* Chart() const { return chart_; }
  QChartView* View() const;
  QValueAxis* TimeAxis() const;
  // Redraws the visible span (after a resize of the plot, for instance).
  void Redraw();

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  struct TSeries {
    QString Caption;
    QColor Color;
    int Axis = -1;  // the operator's choice: -1 automatic, 0 left, 1 right
    int Data = -1;  // its row in data_, -1 when the group does not log it
    double Magnitude = 0;
    std::vector<QLineSeries*> Lines;   // Lines[0] carries the legend entry
    std::vector<QList<QPointF>> Runs;  // the points of each line, between gaps
  };

  void BuildSeriesLines();
  int AxisOf(const TSeries& s) const;
  void SplitRuns(TSeries& s, int buckets, double& low, double& high);
  QLineSeries* NewLine(TSeries& s, bool inLegend);
  void UpdateTimeAxis(int width);
  void ShowMenu(const QPoint& globalPos);
  void PlotAreaChanged();
  void HideLine();
  void UpdateStats();

  std::function<TChartSource()> source_;
  TChartData data_;
  std::vector<TSeries> series_;
  bool reloadPending_ = false;
  bool columnsChanged_ = false;
  size_t builtFrom_ = 0;
  double full0_ = 0, full1_ = 0, x0_ = 0, x1_ = 0;
  bool yFixed_ = false;
  double yFixed0_[2] = {0, 0}, yFixed1_[2] = {1, 1};
  int drawnBuckets_ = 0;
  bool drawing_ = false;
  bool tracking_ = false;
  qreal trackX_ = 0;
  TChartPoints points_;  // kept between draws to reuse their memory

  QChart* chart_;
  TChartView* view_;
  QCategoryAxis* timeAxis_;
  QValueAxis* valueAxis_[2];
  QGraphicsLineItem* tracker_;
  QLabel* notice_;
  QLabel* trackerText_;
  QLabel* statsText_;

  friend class TChartView;
};
