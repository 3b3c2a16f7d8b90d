#pragma once
// The chart window's mouse and keys: wheel and + / - zoom, a drag or the
// arrow keys pan, Ctrl+drag zooms to a rectangle, Home resets; the tracker
// follows the mouse.
#include <QChartView>
#include <QPoint>

class QRubberBand;
class TChartWindow;

class TChartView : public QChartView {
 public:
  TChartView(QChart* chart, TChartWindow& window);

 protected:
  void wheelEvent(QWheelEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  // A viewport point in the chart's own coordinates.
  QPointF ChartPoint(const QPoint& at) const;
  double Fraction(const QPoint& at) const;

  TChartWindow& window_;
  QRubberBand* band_ = nullptr;
  QPoint pressAt_;
  bool panning_ = false;
  double panFrom0_ = 0, panFrom1_ = 0;
};
