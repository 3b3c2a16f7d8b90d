// The chart window, driven headless from the main window's table.
#include <QCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QHeaderView>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPushButton>
#include <QSvgRenderer>
#include <QTableView>
#include <QTest>
#include <QTreeWidget>
#include <QValueAxis>
#include <cstdlib>
#include <ctime>
#include <memory>

#include "app/window/ChartWindow.h"
#include "app/window/KrvoApplication.h"
#include "app/window/LogTableModel.h"
#include "app/window/MessageBoxes.h"
#include "app/window/Unit1.h"
#include "meter/DateTimeUtil.h"
#include "tests/support/Process.h"

namespace {

const double kGap = static_cast<double>(NoValue);

// Records of three values at 2026-03-29 02:MM:SS, inside Berlin's daylight-saving gap.
void AddRecord(int minute, int second, double a, double b, double c, uint16_t day = 29) {
  double* v = LogRecords.Add(
      {2026, 3, 0, day, 2, static_cast<uint16_t>(minute), static_cast<uint16_t>(second), 0});
  v[0] = a;
  v[1] = b;
  v[2] = c;
}

TDateTime At(int minute, int second) {
  return EncodeDate(2026, 3, 29) + EncodeTime(2, minute, second, 0);
}

// Shows group g (keys as given) with the records in LogRecords, as a display or a load does.
void ShowGroup(TForm1& f, int g, std::initializer_list<uint16_t> keys) {
  TDataLogSetup& s = GroupSetups[static_cast<size_t>(g)];
  s = {};
  s.KeyNum = static_cast<uint16_t>(keys.size());
  std::copy(keys.begin(), keys.end(), s.keyArr);
  f.tv1->setCurrentItem(f.tv1->topLevelItem(g));
  f.SetupLogColumns(g);
  f.SetLogRowCount(LogRecords.Count());
}

QString Caption(TForm1& f, int column) {
  return f.lv1Model->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
}

// The chart x coordinate of time t.
qreal XOf(TChartWindow& w, TDateTime t) {
  const QRectF plot = w.Chart()->plotArea();
  return plot.left() + plot.width() * (t - w.ViewStart()) / (w.ViewEnd() - w.ViewStart());
}

}  // namespace

class TestChart : public QObject {
  Q_OBJECT

  std::unique_ptr<TempDir> data_;
  std::unique_ptr<TForm1> form_;
  QStringList boxes_;

  TChartWindow* PlotFromTable(std::vector<int> columns) {
    TForm1& f = *form_;
    // A plain click picks a column, Ctrl+click adds one.
    for (size_t k = 0; k < columns.size(); ++k) {
      const QRect cell = f.lv1->visualRect(f.lv1Model->index(0, columns[k]));
      QTest::mouseClick(f.lv1->viewport(), Qt::LeftButton,
                        k == 0 ? Qt::NoModifier : Qt::ControlModifier, cell.center());
    }
    QTest::mouseClick(f.btnPlot, Qt::LeftButton);
    return f.ChartWindow();
  }

 private slots:
  void initTestCase() {
    // Wall-clock times must not move with the zone, its gaps included.
    qputenv("TZ", "Europe/Berlin");
    tzset();
  }

  void init() {
    data_ = std::make_unique<TempDir>();
    setenv("KRVO_DATA_DIR", data_->Path().c_str(), 1);
    SetMessageBoxHook([this](QMessageBox::Icon, const QString& text) { boxes_ << text; });
    boxes_.clear();
    GroupSetups = {};
    LogRecords.Clear();
    LogRecords.SetKeyCount(3);
    form_ = std::make_unique<TForm1>();
    form_->BuildGroupTree(0);
    form_->show();
    QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
  }

  void cleanup() {
    form_.reset();
    LogRecords.Clear();
    SetMessageBoxHook({});
    SetChartSaveHook({});
    data_.reset();
  }

  void seriesAxisAndTracker() {
    // Unsorted, one time that can't be made, gaps in the second value.
    AddRecord(40, 0, 231, kGap, 5);
    AddRecord(10, 30, 230.5, 0.5, 7);
    LogRecords.Add({2026, 2, 0, 30, 2, 0, 0, 0})[0] = 9999;
    AddRecord(50, 15, 229, 0.25, 6);
    AddRecord(20, 0, 232, kGap, 8);
    ShowGroup(*form_, 2, {1, 10, 205});
    QTest::mouseClick(form_->btnPlot, Qt::LeftButton);
    QCOMPARE(boxes_.size(), 1);  // nothing picked yet
    QVERIFY(form_->ChartWindow() == nullptr);

    TChartWindow* w = PlotFromTable({2, 3});
    QVERIFY(w != nullptr);
    QVERIFY(QTest::qWaitForWindowExposed(w));
    const QStringList names{Caption(*form_, 2), Caption(*form_, 3)};
    QCOMPARE(w->SeriesNames(), names);
    QStringList legend;
    for (QLegendMarker* m : w->Chart()->legend()->markers())
      if (m->isVisible()) legend << m->label();
    QCOMPARE(legend, names);
    QCOMPARE(w->TimeAxis()->min(), At(10, 30));
    QCOMPARE(w->TimeAxis()->max(), At(50, 15));
    // Labels of the wall clock, not of the zone (which has no 02:xx that day).
    const QStringList labels = static_cast<QCategoryAxis*>(w->TimeAxis())->categoriesLabels();
    QVERIFY(!labels.isEmpty());
    for (const QString& l : labels) QVERIFY2(l.startsWith(QStringLiteral("02:")), qPrintable(l));
    // The gap at 02:20 and 02:40 parts the second series into single dots.
    int lines = 0;
    for (QAbstractSeries* s : w->Chart()->series())
      if (s->name() == names[1] && static_cast<QLineSeries*>(s)->count() > 0) ++lines;
    QCOMPARE(lines, 2);

    // The tracker under the mouse snaps to the nearest record.
    w->View()->setFocus();
    const QPointF chartAt(XOf(*w, At(20, 0)) + 2, w->Chart()->plotArea().center().y());
    const QPoint inView = w->View()->mapFromScene(w->Chart()->mapToScene(chartAt));
    // Through the window, as a real pointer moves (the widget overload only moves the cursor).
    QTest::mouseMove(w->windowHandle(), w->View()->viewport()->mapTo(w, inView));
    QTRY_VERIFY(!w->TrackerText().isEmpty());
    QCOMPARE(w->TrackerText(), QStringLiteral("2026-03-29 02:20:00    ") + names[0] +
                                   QStringLiteral(": 232    ") + names[1] + ": --");
    w->TrackAt(XOf(*w, At(10, 30)));
    QVERIFY(w->TrackerText().endsWith(names[1] + QStringLiteral(": 0.5")));

    // Keys: + and - zoom around the middle, arrows pan, Home resets.
    const double span = w->ViewEnd() - w->ViewStart(), middle = (w->ViewStart() + w->ViewEnd()) / 2;
    QTest::keyClick(w->View(), Qt::Key_Plus);
    QVERIFY(w->ViewEnd() - w->ViewStart() < span * 0.95);
    QVERIFY(qAbs((w->ViewStart() + w->ViewEnd()) / 2 - middle) < 1e-9);
    QTest::keyClick(w->View(), Qt::Key_Plus);
    QTest::keyClick(w->View(), Qt::Key_Minus);
    QVERIFY(w->ViewEnd() - w->ViewStart() < span * 0.95);
    const double start = w->ViewStart();
    QTest::keyClick(w->View(), Qt::Key_Right);
    QVERIFY(w->ViewStart() > start);
    QTest::keyClick(w->View(), Qt::Key_Home);
    QCOMPARE(w->ViewStart(), At(10, 30));
    QCOMPARE(w->ViewEnd(), At(50, 15));
    // Minimum, maximum and mean of what is in view (NoValue and the bad time left out).
    QCOMPARE(w->StatsText(), names[0] + QStringLiteral(": min 229, max 232, mean ") +
                                 QString::number((230.5 + 232 + 231 + 229) / 4) +
                                 QStringLiteral("    ") + names[1] +
                                 QStringLiteral(": min 0.25, max 0.5, mean 0.375"));
    w->SetView(At(15, 0), At(45, 0));
    QCOMPARE(w->StatsText(), names[0] + QStringLiteral(": min 231, max 232, mean 231.5    ") +
                                 names[1] + QStringLiteral(": no values in view"));
    QTest::keyClick(w->View(), Qt::Key_Home);
    // Ctrl+drag over the plot's middle half zooms to those times.
    const QRectF plot = w->Chart()->plotArea();
    auto viewPoint = [w](QPointF p) { return w->View()->mapFromScene(w->Chart()->mapToScene(p)); };
    const QPoint a = viewPoint({plot.left() + plot.width() / 4, plot.top() + 10});
    const QPoint b = viewPoint({plot.left() + plot.width() * 3 / 4, plot.bottom() - 10});
    QTest::mousePress(w->View()->viewport(), Qt::LeftButton, Qt::ControlModifier, a);
    QTest::mouseMove(w->View()->viewport(), b);
    QTest::mouseRelease(w->View()->viewport(), Qt::LeftButton, Qt::ControlModifier, b);
    QVERIFY(qAbs((w->ViewEnd() - w->ViewStart()) - span / 2) < span / 50);
    QVERIFY(qAbs(w->ViewStart() - (At(10, 30) + span / 4)) < span / 50);
    // A plain drag pans: dragging left shows later times.
    const double before = w->ViewStart();
    QTest::mousePress(w->View()->viewport(), Qt::LeftButton, Qt::NoModifier, b);
    QTest::mouseMove(w->View()->viewport(), a);
    QTest::mouseRelease(w->View()->viewport(), Qt::LeftButton, Qt::NoModifier, a);
    QVERIFY(w->ViewStart() > before);
  }

  void spikeOfOneRecordIsDrawn() {
    for (int i = 0; i < 200000; ++i)
      AddRecord(i / 3600 % 60, i / 60 % 60, i == 123457 ? 1000 : 100, 1, 1,
                static_cast<uint16_t>(1 + i / 216000));
    ShowGroup(*form_, 0, {1, 2, 3});
    TChartWindow* w = PlotFromTable({2});
    QVERIFY(QTest::qWaitForWindowExposed(w));
    auto* line = static_cast<QLineSeries*>(w->Chart()->series().front());
    const QColor pen = line->pen().color();
    const QImage image = w->View()->grab().toImage();
    const QPointF top =
        w->View()->mapFromScene(w->Chart()->mapToScene(w->Chart()->mapToPosition({0, 1000}, line)));
    const QPointF flat =
        w->View()->mapFromScene(w->Chart()->mapToScene(w->Chart()->mapToPosition({0, 100}, line)));
    QVERIFY(flat.y() - top.y() > 100);
    // The line's colour well above the flat line: only the spike can put it there.
    int spikePixels = 0;
    for (int y = static_cast<int>(top.y()); y < static_cast<int>(flat.y()) - 20; ++y)
      for (int x = 0; x < image.width(); ++x) {
        const QColor c = image.pixelColor(x, y);
        if (qAbs(c.red() - pen.red()) + qAbs(c.green() - pen.green()) +
                qAbs(c.blue() - pen.blue()) <
            60)
          ++spikePixels;
      }
    QVERIFY2(spikePixels >= 20, qPrintable(QString::number(spikePixels)));
  }

  void savesPngAndSvg() {
    for (int i = 0; i < 30; ++i) AddRecord(i, 0, 200 + i, i, 1);
    ShowGroup(*form_, 1, {1, 2, 3});
    TChartWindow* w = PlotFromTable({2, 4});
    for (const char* suffix : {".png", ".svg"}) {
      const QString path = QString::fromStdString(data_->Path()) + "/chart" + suffix;
      QSize proposed;
      SetChartSaveHook([&](QString& p, QSize& size) {
        proposed = size;
        p = path;
        size = QSize(640, 400);
        return true;
      });
      QTest::mouseClick(w->findChild<QPushButton*>(QStringLiteral("btnSaveChart")), Qt::LeftButton);
      QCOMPARE(proposed, w->Chart()->size().toSize());  // the window's size
      if (suffix[1] == 'p') {
        const QImage image(path);
        QCOMPARE(image.size(), QSize(640, 400));
        const QColor series =
            static_cast<QLineSeries*>(w->Chart()->series().front())->pen().color();
        bool drawn = false;
        for (int y = 0; y < image.height() && !drawn; ++y)
          for (int x = 0; x < image.width() && !drawn; ++x)
            drawn = image.pixelColor(x, y) == series;
        QVERIFY(drawn);
      } else {
        QSvgRenderer svg(path);
        QVERIFY(svg.isValid());
        QCOMPARE(svg.viewBoxF().size(), QSizeF(640, 400));
      }
    }
    QVERIFY(boxes_.isEmpty());
    QCOMPARE(w->TimeAxis()->max(), At(29, 0));  // the window's own chart is as it was
  }

  void followsTheTablesGroup() {
    for (int i = 0; i < 10; ++i) AddRecord(i, 0, 100 + i, 1, 1);
    ShowGroup(*form_, 0, {1, 10, 205});
    TChartWindow* w = PlotFromTable({2, 3});
    const QString ua = Caption(*form_, 2), ia = Caption(*form_, 3);
    QCOMPARE(w->RecordCount(), size_t(10));

    // Another group logs Ua second, and fewer records: the chart shows its values.
    LogRecords.Clear();
    for (int i = 0; i < 4; ++i) AddRecord(i, 0, 1, 300 + i, 1);
    ShowGroup(*form_, 3, {205, 1});
    QTRY_COMPARE(w->RecordCount(), size_t(4));
    QCOMPARE(w->SeriesNames(), QStringList{ua});
    QCOMPARE(w->Notice(), QStringLiteral("Group 04 does not log ") + ia + QStringLiteral("."));
    QVERIFY(w->windowTitle().endsWith(QStringLiteral("Group 04")));
    w->TrackAt(XOf(*w, At(3, 0)));
    QVERIFY(w->TrackerText().endsWith(ua + QStringLiteral(": 303")));

    // A sort shows the same records: nothing is read again.
    form_->lv1ColumnClick(1);
    QVERIFY(!w->TrackerText().isEmpty());

    // Back to a group that logs both.
    ShowGroup(*form_, 0, {1, 10});
    QTRY_COMPARE(w->SeriesNames(), (QStringList{ua, ia}));
    QVERIFY(w->Notice().isEmpty());
  }
};

int main(int argc, char** argv) {
  KrvoApplication app(argc, argv);
  TestChart tests;
  return QTest::qExec(&tests, argc, argv);
}

#include "test_chart.moc"
