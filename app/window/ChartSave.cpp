// "Save Chart As...": the chart laid out anew at the chosen size and drawn
// into a PNG or an SVG file.
#include <QChart>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGraphicsLayout>
#include <QGraphicsScene>
#include <QImage>
#include <QPainter>
#include <QSpinBox>
#include <QSvgGenerator>

#include "app/window/ChartWindow.h"
#include "app/window/MessageBoxes.h"

namespace {

ChartSaveHook g_saveHook;

bool AskPathAndSize(QWidget* parent, QString& path, QSize& size) {
  if (g_saveHook) return g_saveHook(path, size);
  QString filter;
  path =
      QFileDialog::getSaveFileName(parent, QStringLiteral("Save Chart As"), path,
                                   QStringLiteral("PNG image (*.png);;SVG image (*.svg)"), &filter);
  if (path.isEmpty()) return false;
  if (QFileInfo(path).suffix().isEmpty())
    path +=
        filter.startsWith(QStringLiteral("SVG")) ? QStringLiteral(".svg") : QStringLiteral(".png");
  QDialog dlg(parent);
  dlg.setWindowTitle(QStringLiteral("Image Size"));
  auto* form = new QFormLayout(&dlg);
  auto* w = new QSpinBox(&dlg);
  auto* h = new QSpinBox(&dlg);
  w->setRange(100, 10000);
  h->setRange(100, 10000);
  w->setValue(size.width());
  h->setValue(size.height());
  w->setSuffix(QStringLiteral(" px"));
  h->setSuffix(QStringLiteral(" px"));
  form->addRow(QStringLiteral("Width:"), w);
  form->addRow(QStringLiteral("Height:"), h);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dlg);
  form->addRow(buttons);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dlg, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
  if (dlg.exec() != QDialog::Accepted) return false;
  size = QSize(w->value(), h->value());
  return true;
}

}  // namespace

ChartSaveHook SetChartSaveHook(ChartSaveHook hook) {
  std::swap(g_saveHook, hook);
  return hook;
}

bool TChartWindow::SaveImage(const QString& path, QSize size) {
  if (size.width() < 1 || size.height() < 1) return false;
  const QRectF shown = chart_->geometry();
  HideTracker();
  // Laid out at the image's size, so that labels and points fit it rather than being scaled.
  chart_->setGeometry(QRectF(shown.topLeft(), QSizeF(size)));
  chart_->layout()->activate();
  Redraw();
  const QRectF source(shown.topLeft(), QSizeF(size));
  const QRectF target(QPointF(0, 0), QSizeF(size));
  bool ok = false;
  if (QFileInfo(path).suffix().compare(QStringLiteral("svg"), Qt::CaseInsensitive) == 0) {
    QSvgGenerator svg;
    svg.setFileName(path);
    svg.setSize(size);
    svg.setViewBox(target);
    svg.setTitle(windowTitle());
    QPainter p;
    ok = p.begin(&svg);
    if (ok) {
      chart_->scene()->render(&p, target, source);
      ok = p.end();
    }
  } else {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    {
      QPainter p(&image);
      p.setRenderHint(QPainter::Antialiasing);
      chart_->scene()->render(&p, target, source);
    }
    ok = image.save(path, "PNG");
  }
  chart_->setGeometry(shown);
  chart_->layout()->activate();
  Redraw();
  return ok;
}

void TChartWindow::SaveChartAs() {
  QString path =
      windowTitle().remove(QStringLiteral("Chart - ")).replace(QLatin1Char(' '), QLatin1Char('_')) +
      QStringLiteral(".png");
  QSize size = chart_->size().toSize();
  if (!AskPathAndSize(this, path, size)) return;
  if (!SaveImage(path, size))
    AppMessageBox(QMessageBox::Critical, QStringLiteral("Cannot save ") + path);
}
