#include "app/window/ChartView.h"

#include <QChart>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QRubberBand>
#include <QWheelEvent>

#include "app/window/ChartWindow.h"

namespace {

constexpr double kZoomStep = 1.25;
constexpr double kPanStep = 0.1;  // of the visible span

}  // namespace

TChartView::TChartView(QChart* chart, TChartWindow& window)
    : QChartView(chart, &window), window_(window) {
  setObjectName(QStringLiteral("chartView"));
  // No antialiasing on screen: hairlines of thousands of points paint at
  // the frame rate; saved images are drawn antialiased.
  setRenderHint(QPainter::Antialiasing, false);
  setMouseTracking(true);
  viewport()->setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);
  setDragMode(QGraphicsView::NoDrag);
  setRubberBand(QChartView::NoRubberBand);
}

QPointF TChartView::ChartPoint(const QPoint& at) const {
  return chart()->mapFromScene(mapToScene(at));
}

double TChartView::Fraction(const QPoint& at) const {
  const QRectF plot = chart()->plotArea();
  if (plot.width() <= 0) return 0.5;
  return std::clamp((ChartPoint(at).x() - plot.left()) / plot.width(), 0.0, 1.0);
}

void TChartView::wheelEvent(QWheelEvent* event) {
  const int delta = event->angleDelta().y();
  if (delta == 0) return;
  window_.ZoomBy(delta > 0 ? kZoomStep : 1 / kZoomStep, Fraction(event->position().toPoint()));
  event->accept();
}

void TChartView::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QChartView::mousePressEvent(event);
  setFocus(Qt::MouseFocusReason);
  pressAt_ = event->position().toPoint();
  if (event->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier)) {
    if (band_ == nullptr) band_ = new QRubberBand(QRubberBand::Rectangle, viewport());
    band_->setGeometry(QRect(pressAt_, QSize()));
    band_->show();
  } else {
    panning_ = true;
    panFrom0_ = window_.ViewStart();
    panFrom1_ = window_.ViewEnd();
  }
  event->accept();
}

void TChartView::mouseMoveEvent(QMouseEvent* event) {
  const QPoint at = event->position().toPoint();
  if (band_ != nullptr && band_->isVisible()) {
    band_->setGeometry(QRect(pressAt_, at).normalized());
  } else if (panning_) {
    const double width = chart()->plotArea().width();
    if (width > 0) {
      // From where the drag began, so that rounding never adds up.
      const double d = (panFrom1_ - panFrom0_) * (pressAt_.x() - at.x()) / width;
      window_.SetView(panFrom0_ + d, panFrom1_ + d);
    }
  }
  window_.TrackAt(ChartPoint(at).x());
  event->accept();
}

void TChartView::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QChartView::mouseReleaseEvent(event);
  panning_ = false;
  if (band_ != nullptr && band_->isVisible()) {
    band_->hide();
    const QRect r = band_->geometry();
    window_.ZoomTo(QRectF(ChartPoint(r.topLeft()), ChartPoint(r.bottomRight())));
  }
  event->accept();
}

void TChartView::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Plus:
    case Qt::Key_Equal:
    case Qt::Key_Up:
      window_.ZoomBy(kZoomStep);
      break;
    case Qt::Key_Minus:
    case Qt::Key_Down:
      window_.ZoomBy(1 / kZoomStep);
      break;
    case Qt::Key_Left:
      window_.PanBy(-kPanStep);
      break;
    case Qt::Key_Right:
      window_.PanBy(kPanStep);
      break;
    case Qt::Key_Home:
      window_.ResetView();
      break;
    default:
      return QChartView::keyPressEvent(event);
  }
  event->accept();
}

void TChartView::leaveEvent(QEvent* event) {
  window_.HideTracker();
  QChartView::leaveEvent(event);
}

void TChartView::resizeEvent(QResizeEvent* event) {
  QChartView::resizeEvent(event);
  window_.Redraw();
}
