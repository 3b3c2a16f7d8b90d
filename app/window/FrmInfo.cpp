#include "app/window/FrmInfo.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <algorithm>

TInfoForm* InfoForm = nullptr;

namespace {

// The notice's design: its size, and its label's.
constexpr int kWidth = 345, kHeight = 76;
constexpr int kLabelWidth = 297, kLabelHeight = 29;
constexpr int kCancelTop = 56;

QFont Tahoma(int pixels) {
  QFont f(QStringLiteral("Tahoma"));
  f.setPixelSize(pixels);
  return f;
}

}  // namespace

TInfoForm::TInfoForm(QWidget* parent) : QWidget(parent, Qt::Window | Qt::FramelessWindowHint) {
  setObjectName(QStringLiteral("InfoForm"));
  setFixedSize(kWidth, kHeight);
  setAutoFillBackground(true);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, pal.color(QPalette::Button));
  setPalette(pal);
  setFont(Tahoma(11));

  lbInfo = new QLabel(QString::fromUtf8("正在通信,请稍候......"), this);
  lbInfo->setObjectName(QStringLiteral("lbInfo"));
  lbInfo->setGeometry(48, 24, kLabelWidth, kLabelHeight);
  lbInfo->setFont(Tahoma(13));
  lbInfo->setAlignment(Qt::AlignLeft | Qt::AlignTop);

  lbCancel = new QLabel(QString::fromUtf8("取消"), this);
  lbCancel->setObjectName(QStringLiteral("lbCancel"));
  lbCancel->setGeometry(296, kCancelTop, 41, 17);
  lbCancel->setFont(Tahoma(13));
  lbCancel->hide();
  lbCancel->installEventFilter(this);
}

void TInfoForm::ShowInfo(const QString& text) {
  QString lines = text;
  lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  lbInfo->setText(lines);
  FitLabel();
  if (!isVisible()) {
    if (const QScreen* screen = QGuiApplication::primaryScreen())
      move(screen->geometry().center() - rect().center());
    show();
    // Let the window system map the window, so it can be painted right away.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  }
  // The caller holds the event loop next: paint now.
  repaint();
}

void TInfoForm::FitLabel() {
  // Where Tahoma is missing, the font that stands in may need more height
  // than the design gives two lines (the bottom of the second is lost, and
  // with it the underscores of a file name): the label and the notice grow.
  const QRect need = lbInfo->fontMetrics().boundingRect(
      QRect(0, 0, kLabelWidth, 100000), Qt::AlignLeft | Qt::AlignTop, lbInfo->text());
  const int extra = std::max(0, need.height() - kLabelHeight);
  lbInfo->resize(kLabelWidth, kLabelHeight + extra);
  lbCancel->move(lbCancel->x(), kCancelTop + extra);
  setFixedSize(kWidth, kHeight + extra);
}

void TInfoForm::showEvent(QShowEvent* event) {
  QFont f = font();
  f.setFamily(QStringLiteral("Tahoma"));
  setFont(f);
  QWidget::showEvent(event);
}

bool TInfoForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == lbCancel && event->type() == QEvent::MouseButtonRelease) Cancelled = true;
  return QWidget::eventFilter(watched, event);
}
