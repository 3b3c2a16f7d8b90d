// The main window's controls: kinds, captions, positions at 96 dpi, initial
// state, and the anchoring of the memo, the tree and the table.
#include <QAction>
#include <QDateTimeEdit>
#include <QEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTableView>
#include <QTimer>
#include <QTreeWidget>
#include <climits>

#include "app/window/LogTableModel.h"
#include "app/window/MessageBoxes.h"
#include "app/window/Unit1.h"
#include "meter/DisplayFormat.h"

namespace {

constexpr int kDesignWidth = 896;
constexpr int kDesignHeight = 581;
constexpr int kMemoRight = kDesignWidth - (248 + 608);
constexpr int kTableRight = kDesignWidth - (144 + 718);
constexpr int kListsBottom = 144 + 381;

template <typename W>
W* Place(W* w, const char* name, int x, int y, int width, int height) {
  w->setObjectName(QString::fromLatin1(name));
  w->setGeometry(x, y, width, height);
  return w;
}

// Labels size themselves to their caption, as the original labels did, so a
// wider font than the design's never cuts them.
QLabel* Label(QWidget* parent, const char* name, const char* caption, int x, int y, int w, int h) {
  QLabel* l = Place(new QLabel(QString::fromLatin1(caption), parent), name, x, y, w, h);
  l->adjustSize();
  l->move(x, y - (l->height() - h) / 2);
  return l;
}

// A display pattern of ours as a Qt date-time format (AM/PM is "AP" there).
QString QtPattern(std::string pattern) {
  for (size_t at = pattern.find("tt"); at != std::string::npos; at = pattern.find("tt", at))
    pattern.replace(at, 2, "AP");
  return QString::fromStdString(pattern);
}

constexpr int kPickerWidth = 89;

QDateTimeEdit* Picker(QWidget* parent, const char* name, bool date, int x, int y) {
  auto* p = Place(new QDateTimeEdit(parent), name, x, y, kPickerWidth, 21);
  // The same regional formats as every other date and time the program shows.
  p->setDisplayFormat(
      QtPattern(date ? FormatSettings().ShortDateFormat : FormatSettings().LongTimeFormat));
  p->setCalendarPopup(date);
  p->setTimeSpec(Qt::UTC);
  p->setEnabled(false);
  // The widest text of the format (a two-digit day and month, hour 23) must fit.
  p->setDateTime(QDateTime(QDate(2000, 12, 28), QTime(23, 58, 58), Qt::UTC));
  p->resize(std::max(kPickerWidth, p->sizeHint().width()), 21);
  return p;
}

QAction* Item(QMenu* menu, const char* name, const char* caption) {
  QAction* a = menu->addAction(QString::fromLatin1(caption));
  a->setObjectName(QString::fromLatin1(name));
  return a;
}

}  // namespace

void TForm1::CreateControls() {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QStringLiteral("KRVO Log Viewer_V1.0.1.12"));
  QFont font(QStringLiteral("MS Sans Serif"));
  font.setPixelSize(11);  // 8 points at 96 dpi
  setFont(font);

  auto* c = new QWidget(this);
  c->setObjectName(QStringLiteral("ClientArea"));
  setCentralWidget(c);

  lbl2 = Label(c, "lbl2", "Device IP:", 8, 11, 65, 13);
  edtIP = Place(new QLineEdit(QStringLiteral("127.0.0.1"), c), "edtIP", 78, 7, 105, 21);
  lbl3 = Label(c, "lbl3", "Modbus Port:", 8, 38, 73, 13);
  sePort = Place(new QSpinBox(c), "sePort", 78, 34, 105, 22);
  sePort->setRange(INT_MIN, INT_MAX);  // no limits, as the operator's box had none
  sePort->setValue(502);
  btnConnect = Place(new QPushButton(QStringLiteral("Connect"), c), "btnConnect", 8, 59, 75, 25);
  mmoDevInfo = Place(new QPlainTextEdit(c), "mmoDevInfo", 248, 5, 608, 65);
  mmoDevInfo->setReadOnly(true);

  // The pickers grow to show their whole text in this font and style; the
  // controls to their right move along by as much.
  lbl1 = Label(c, "lbl1", "Start Time: ", 8, 96, 54, 13);
  const int d0 = std::max(0, lbl1->geometry().right() + 2 - 64);  // a wider font's caption
  dtp1 = Picker(c, "dtp1", true, 64 + d0, 92);
  const int d = d0 + dtp1->width() - kPickerWidth;
  dtp2 = Picker(c, "dtp2", false, 150 + d, 92);
  const int d2 = d + dtp2->width() - kPickerWidth;
  lbl4 = Label(c, "lbl4", "End Time: ", 248 + d2, 96, 51, 13);
  dtp3 = Picker(c, "dtp3", true, 304 + d2, 92);
  dtp4 = Picker(c, "dtp4", false, 391 + d2 + d, 92);
  const int shift = 2 * d2;
  lblLogsNumber = Label(c, "lblLogsNumber", "Logs Number:", 488 + shift, 96, 66, 13);
  edtLogsNumber =
      Place(new QLineEdit(QStringLiteral("0"), c), "edtLogsNumber", 616 + shift, 92, 89, 21);
  edtLogsNumber->setEnabled(false);
  btnSaveAsLogs = Place(new QPushButton(QStringLiteral("Save As..."), c), "btnSaveAsLogs",
                        744 + shift, 90, 75, 25);
  designLogsNumberX_ = edtLogsNumber->x();
  // Under "Save As...", where the window has room whatever the pickers' width.
  btnPlot =
      Place(new QPushButton(QStringLiteral("Plot"), c), "btnPlot", btnSaveAsLogs->x(), 117, 75, 24);
  btnPlot->setToolTip(QStringLiteral("Plot the selected columns of the table in a chart"));
  btnReport = Place(new QPushButton(QStringLiteral("Report..."), c), "btnReport", btnPlot->x() - 80,
                    117, 75, 24);
  btnReport->setToolTip(
      QStringLiteral("Energy and demand of the device's logs per day, week or month"));
  btnEnergyBill = Place(new QPushButton(QStringLiteral("DownLoad EnergyBill"), c), "btnEnergyBill",
                        584, 118, 113, 25);
  btnEnergyBill->hide();
  lbl5 = Label(c, "lbl5", "DataLog Group (Right-Click to download logs):", 8, 126, 219, 13);

  tv1 = Place(new QTreeWidget(c), "tv1", 0, 144, 145, 381);
  tv1->setHeaderHidden(true);
  tv1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tv1->setSelectionBehavior(QAbstractItemView::SelectRows);
  tv1->setToolTip(QStringLiteral("Right-Click to download logs from KRVO via FTP"));
  tv1->setContextMenuPolicy(Qt::CustomContextMenu);

  lv1 = Place(new QTableView(c), "lv1", 144, 144, 718, 381);
  lv1Model = new TLogTableModel(lv1);
  lv1->setModel(lv1Model);
  lv1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  lv1->setSelectionBehavior(QAbstractItemView::SelectRows);
  lv1->setSelectionMode(QAbstractItemView::ExtendedSelection);
  lv1->setShowGrid(true);
  lv1->verticalHeader()->hide();
  lv1->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  // A report list's row height: the font's line and a small margin (18 px at
  // the default font), not the style's taller default.
  lv1->verticalHeader()->setMinimumSectionSize(1);
  lv1->verticalHeader()->setDefaultSectionSize(lv1->fontMetrics().height() + 4);
  lv1->setWordWrap(false);

  pmTv1 = new QMenu(this);
  pmTv1->setObjectName(QStringLiteral("pmTv1"));
  mniDownload1 = Item(pmTv1, "mniDownload1", "Download All Group");
  // Ours: fetch only what the meter has new, keep every earlier file.
  mniDownloadNew = Item(pmTv1, "mniDownloadNew", "Download New Files");
  mniDisplayCurrentGroup = Item(pmTv1, "mniDisplayCurrentGroup", "Display Selected Group");
  mniDisplayCurrentGroup->setEnabled(false);
  mniLoadOfflineFile = Item(pmTv1, "mniLoadOfflineFile", "Load Offline File");

  // Both menus of the bar are hidden, so the bar shows nothing and takes no room.
  mm1 = menuBar();
  mm1->setObjectName(QStringLiteral("mm1"));
  mniFile1 = mm1->addMenu(QStringLiteral("File"));
  mniFile1->setObjectName(QStringLiteral("mniFile1"));
  mniOpen1 = Item(mniFile1, "mniOpen1", "Open...");
  mniSave1 = Item(mniFile1, "mniSave1", "Save As...");
  mniExit1 = Item(mniFile1, "mniExit1", "Exit");
  mniReadLog1 = mm1->addMenu(QStringLiteral("Read Log"));
  mniReadLog1->setObjectName(QStringLiteral("mniReadLog1"));
  mniDatalog1 = Item(mniReadLog1, "mniDatalog1", "Datalog");
  mniDatalog1->setCheckable(true);
  mniDatalog1->setChecked(true);
  mniEnergyBill1 = Item(mniReadLog1, "mniEnergyBill1", "Energy Bill");
  mniEnergyBill1->setCheckable(true);
  mniFile1->menuAction()->setVisible(false);
  mniReadLog1->menuAction()->setVisible(false);
  mm1->hide();

  StatusBar1 = statusBar();
  StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
  StatusBar1->setSizeGripEnabled(false);
  const int widths[3] = {200, 500, 50};
  for (int i = 0; i < 3; ++i) {
    StatusPanel[i] = new QLabel(StatusBar1);
    StatusPanel[i]->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
    // The last panel takes the room to its right: a remote path or a failure
    // does not fit in its 50 pixels. Each panel's tooltip holds its whole text.
    if (i < 2) {
      StatusPanel[i]->setFixedWidth(widths[i]);
      StatusBar1->addWidget(StatusPanel[i]);
    } else {
      StatusPanel[i]->setMinimumWidth(widths[i]);
      StatusBar1->addWidget(StatusPanel[i], 1);
    }
  }
  // The progress bar lies over the panels; it is see-through so their texts stay readable.
  ProgressBar1 = new QProgressBar(StatusBar1);
  ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
  ProgressBar1->setTextVisible(false);
  ProgressBar1->setValue(0);
  ProgressBar1->setAttribute(Qt::WA_TransparentForMouseEvents);
  ProgressBar1->setStyleSheet(
      QStringLiteral("QProgressBar { background: transparent; border: none; }"
                     "QProgressBar::chunk { background: rgba(0, 120, 215, 70); }"));
  ProgressBar1->setGeometry(1, 2, StatusBar1->width() - 1, StatusBar1->height() - 2);
  ProgressBar1->raise();
  StatusBar1->installEventFilter(this);

  tmr1 = new QTimer(this);
  tmr1->setObjectName(QStringLiteral("tmr1"));
  tmr1->setInterval(3000);

  resize(kDesignWidth, kDesignHeight);
  // Smaller, the table's row of controls and the lists would be cut off.
  setMinimumSize(kDesignWidth, kDesignHeight);
  designCentralHeight_ = kDesignHeight - StatusBar1->sizeHint().height();
  c->installEventFilter(this);
  edtIP->installEventFilter(this);
  sePort->installEventFilter(this);
  btnConnect->installEventFilter(this);
  tv1->viewport()->installEventFilter(this);
  lv1->viewport()->installEventFilter(this);
}

void TForm1::LayOutAnchored() {
  const QWidget* c = centralWidget();
  const int w = c->width();
  const int bottomMargin = designCentralHeight_ - kListsBottom;
  mmoDevInfo->setGeometry(248, 5, std::max(0, w - kMemoRight - 248), 65);
  const int listsHeight = std::max(0, c->height() - bottomMargin - 144);
  tv1->setGeometry(0, 144, 145, listsHeight);
  lv1->setGeometry(144, 144, std::max(0, w - kTableRight - 144), listsHeight);
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  if (watched == centralWidget() && event->type() == QEvent::Resize) {
    LayOutAnchored();
  } else if (watched == StatusBar1 && event->type() == QEvent::Resize) {
    ProgressBar1->setGeometry(1, 2, StatusBar1->width() - 1, StatusBar1->height() - 2);
  } else if ((watched == btnConnect || watched == edtIP || watched == sePort) &&
             event->type() == QEvent::KeyPress && btnConnect->isEnabled()) {
    // Return and Enter press Connect (or Disconnect), as Space does on the button.
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      // The address is checked as when the operator leaves its box for the button.
      if (watched == edtIP) Guarded([this] { edtIPExit(); });
      btnConnect->click();
      return true;
    }
  } else if (watched == edtIP && event->type() == QEvent::FocusOut) {
    // Only the operator moving on within this window: not a context menu,
    // another application's window, or the window closing.
    const Qt::FocusReason why = static_cast<QFocusEvent*>(event)->reason();
    if (why == Qt::TabFocusReason || why == Qt::BacktabFocusReason || why == Qt::MouseFocusReason ||
        why == Qt::ShortcutFocusReason)
      Guarded([this] { edtIPExit(); });
  } else if (watched == tv1->viewport() && event->type() == QEvent::MouseButtonPress) {
    // Every click on the tree runs tv1Click, in its empty area too. A click
    // of either button on a node makes it the current node first, so the
    // context menu and the current group always speak of the same node; a
    // click on empty space keeps the current node.
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (QTreeWidgetItem* node = tv1->itemAt(mouse->position().toPoint())) tv1->setCurrentItem(node);
    Guarded([this] { tv1Click(); });
  } else if (watched == lv1->viewport() && event->type() == QEvent::MouseButtonPress) {
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() == Qt::LeftButton)
      PickColumn(lv1->columnAt(mouse->position().toPoint().x()), mouse->modifiers());
  }
  return QMainWindow::eventFilter(watched, event);
}

void TForm1::SetLogsLabel(const QString& text) {
  lblLogsNumber->setText(text);
  lblLogsNumber->adjustSize();
  const int gap = btnSaveAsLogs->x() - edtLogsNumber->geometry().right();
  const int x = std::max(designLogsNumberX_, lblLogsNumber->geometry().right() + 6);
  edtLogsNumber->move(x, edtLogsNumber->y());
  btnSaveAsLogs->move(edtLogsNumber->geometry().right() + gap, btnSaveAsLogs->y());
  btnPlot->move(btnSaveAsLogs->x(), btnPlot->y());
  btnReport->move(btnPlot->x() - 80, btnReport->y());
  // A longer caption pushes the buttons right: the window keeps them inside.
  const int designRightMargin = kDesignWidth - (744 + 75);
  setMinimumWidth(
      std::max(kDesignWidth, btnSaveAsLogs->geometry().right() + 1 + designRightMargin));
}
