#include "app/window/ChartWindow.h"

#include <QCategoryAxis>
#include <QChart>
#include <QContextMenuEvent>
#include <QGraphicsLayout>
#include <QGraphicsLineItem>
#include <QHBoxLayout>
#include <QLabel>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>
#include <cmath>

#include "app/LogTable.h"
#include "app/window/ChartView.h"
#include "app/window/MessageBoxes.h"
#include "meter/DisplayFormat.h"

namespace {

// Distinct on white and for the common forms of colour blindness.
const QColor kPalette[] = {QColor(0, 114, 178),   QColor(213, 94, 0),   QColor(0, 158, 115),
                           QColor(204, 121, 167), QColor(86, 180, 233), QColor(230, 159, 0),
                           QColor(0, 0, 0),       QColor(120, 94, 240)};
// A record's time shown as the table shows it.
constexpr double kOneMinute = 1.0 / 1440;
// The shortest span the time axis zooms to: 10 ms.
constexpr double kMinSpan = 10.0 / 86400000;
// Series whose largest values differ more than this share no axis by default.
constexpr double kAxisRatio = 10;

QString Text(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

TChartWindow::TChartWindow(std::function<TChartSource()> source, QWidget* parent)
    : QWidget(parent, Qt::Window), source_(std::move(source)) {
  setObjectName(QStringLiteral("ChartWindow"));
  setAttribute(Qt::WA_DeleteOnClose);
  resize(900, 520);

  chart_ = new QChart;
  chart_->legend()->setAlignment(Qt::AlignBottom);
  chart_->setBackgroundRoundness(0);
  timeAxis_ = new QCategoryAxis;
  timeAxis_->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
  chart_->addAxis(timeAxis_, Qt::AlignBottom);
  for (int a = 0; a < 2; ++a) {
    valueAxis_[a] = new QValueAxis;
    chart_->addAxis(valueAxis_[a], a == 0 ? Qt::AlignLeft : Qt::AlignRight);
  }
  valueAxis_[1]->hide();
  tracker_ = new QGraphicsLineItem(chart_);
  tracker_->setPen(QPen(QColor(90, 90, 90), 0, Qt::DashLine));
  tracker_->setZValue(100);
  tracker_->hide();

  view_ = new TChartView(chart_, *this);
  notice_ = new QLabel(this);
  notice_->setObjectName(QStringLiteral("notice"));
  notice_->setWordWrap(true);
  notice_->hide();
  trackerText_ = new QLabel(this);
  trackerText_->setObjectName(QStringLiteral("trackerText"));
  trackerText_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  // Its text comes and goes with the mouse; the chart must not move with it.
  trackerText_->setMinimumHeight(trackerText_->fontMetrics().height() + 4);
  statsText_ = new QLabel(this);
  statsText_->setObjectName(QStringLiteral("statsText"));
  statsText_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  statsText_->setWordWrap(true);
  auto* reset = new QPushButton(QStringLiteral("Reset Zoom"), this);
  reset->setObjectName(QStringLiteral("btnResetZoom"));
  auto* save = new QPushButton(QStringLiteral("Save Chart As..."), this);
  save->setObjectName(QStringLiteral("btnSaveChart"));
  auto* hint = new QLabel(QStringLiteral("Wheel, + and -: zoom. Drag or arrow keys: pan. "
                                         "Ctrl+drag: zoom to a rectangle. Home: reset."),
                          this);
  hint->setEnabled(false);

  auto* bottom = new QHBoxLayout;
  bottom->addWidget(trackerText_, 1);
  bottom->addWidget(hint);
  bottom->addWidget(reset);
  bottom->addWidget(save);
  auto* box = new QVBoxLayout(this);
  box->addWidget(notice_);
  box->addWidget(view_, 1);
  box->addWidget(statsText_);
  box->addLayout(bottom);

  connect(reset, &QPushButton::clicked, this, [this] { ResetView(); });
  connect(save, &QPushButton::clicked, this, [this] { Guarded([this] { SaveChartAs(); }); });
  connect(chart_, &QChart::plotAreaChanged, this, [this] { PlotAreaChanged(); });
}

TChartWindow::~TChartWindow() = default;

QChartView* TChartWindow::View() const { return view_; }

QValueAxis* TChartWindow::TimeAxis() const { return timeAxis_; }

void TChartWindow::AddCaptions(const QStringList& captions) {
  for (const QString& c : captions) {
    if (std::any_of(series_.begin(), series_.end(),
                    [&c](const TSeries& s) { return s.Caption == c; }))
      continue;
    TSeries s;
    s.Caption = c;
    s.Color = kPalette[series_.size() % std::size(kPalette)];
    series_.push_back(std::move(s));
  }
  Reload();
}

void TChartWindow::TableChanged(bool newColumns) {
  columnsChanged_ = columnsChanged_ || newColumns;
  // A sort shows the same records: nothing to read again.
  if (!columnsChanged_ && LogRecords.Count() == builtFrom_) return;
  if (reloadPending_) return;
  reloadPending_ = true;
  QTimer::singleShot(0, this, [this] {
    reloadPending_ = false;
    Reload();
  });
}

void TChartWindow::Reload() {
  columnsChanged_ = false;
  const TChartSource src = source_ ? source_() : TChartSource{};
  setWindowTitle(QStringLiteral("Chart - ") + src.Group);
  std::vector<int> columns;
  QStringList missing;
  for (TSeries& s : series_) {
    const int j = static_cast<int>(src.Captions.indexOf(s.Caption));
    s.Data = j < 0 ? -1 : static_cast<int>(columns.size());
    if (j < 0) {
      missing << s.Caption;
    } else {
      columns.push_back(j);
    }
  }
  // Read in one go: no events run meanwhile, so the records stay as they are.
  data_.Build(LogRecords, columns);
  builtFrom_ = LogRecords.Count();
  for (TSeries& s : series_) {
    s.Magnitude = 0;
    if (s.Data < 0) continue;
    for (double v : data_.Values(static_cast<size_t>(s.Data)))
      if (!std::isnan(v)) s.Magnitude = std::max(s.Magnitude, std::fabs(v));
  }
  if (missing.isEmpty()) {
    notice_->clear();
  } else {
    notice_->setText(src.Group + QStringLiteral(" does not log ") +
                     missing.join(QStringLiteral(", ")) + QStringLiteral("."));
  }
  notice_->setVisible(!missing.isEmpty());
  BuildSeriesLines();
  ResetView();
}

void TChartWindow::BuildSeriesLines() {
  chart_->removeAllSeries();  // deletes them
  for (TSeries& s : series_) {
    s.Lines.clear();
    if (s.Data >= 0) NewLine(s, true);
  }
}

QLineSeries* TChartWindow::NewLine(TSeries& s, bool inLegend) {
  auto* line = new QLineSeries;
  line->setName(s.Caption);
  // A cosmetic hairline: thousands of points a series draw without the cost of stroking joins.
  QPen pen(s.Color, 1);
  pen.setCosmetic(true);
  line->setPen(pen);
  line->setColor(s.Color);
  line->setMarkerSize(5);
  chart_->addSeries(line);
  line->attachAxis(timeAxis_);
  line->attachAxis(valueAxis_[AxisOf(s)]);
  if (!inLegend)
    for (QLegendMarker* m : chart_->legend()->markers(line)) m->setVisible(false);
  s.Lines.push_back(line);
  return line;
}

int TChartWindow::AxisOf(const TSeries& s) const {
  if (s.Axis >= 0) return s.Axis;
  // The first series plotted takes the left axis; one of another order of magnitude the right.
  const auto first =
      std::find_if(series_.begin(), series_.end(), [](const TSeries& t) { return t.Data >= 0; });
  if (first == series_.end() || &*first == &s) return 0;
  const double a = first->Magnitude, b = s.Magnitude;
  if (a == 0 || b == 0) return a == b ? 0 : 1;
  return std::max(a, b) / std::min(a, b) > kAxisRatio ? 1 : 0;
}

void TChartWindow::ResetView() {
  yFixed_ = false;
  if (data_.Count() == 0) {
    full0_ = x0_ = 0;
    full1_ = x1_ = 1;
  } else {
    full0_ = data_.Times().front();
    full1_ = data_.Times().back();
    if (full1_ - full0_ < kMinSpan) {  // one time only: a minute around it
      full0_ -= kOneMinute;
      full1_ += kOneMinute;
    }
  }
  SetView(full0_, full1_);
}

void TChartWindow::SetView(double x0, double x1) {
  const double span = std::clamp(x1 - x0, kMinSpan, full1_ - full0_);
  x0 = std::clamp(x0, full0_, full1_ - span);
  x0_ = x0;
  x1_ = x0 + span;
  Redraw();
}

void TChartWindow::ZoomBy(double factor, double fraction) {
  const double at = x0_ + (x1_ - x0_) * fraction;
  const double span = (x1_ - x0_) / factor;
  SetView(at - span * fraction, at - span * fraction + span);
}

void TChartWindow::PanBy(double fraction) {
  const double d = (x1_ - x0_) * fraction;
  SetView(x0_ + d, x1_ + d);
}

void TChartWindow::ZoomTo(const QRectF& area) {
  const QRectF plot = chart_->plotArea();
  if (plot.width() <= 0 || plot.height() <= 0 || area.width() < 2) return;
  const QRectF r = area.intersected(plot);
  for (int a = 0; a < 2; ++a) {
    const double lo = valueAxis_[a]->min(), hi = valueAxis_[a]->max();
    yFixed0_[a] = lo + (hi - lo) * (plot.bottom() - r.bottom()) / plot.height();
    yFixed1_[a] = lo + (hi - lo) * (plot.bottom() - r.top()) / plot.height();
  }
  yFixed_ = r.height() >= 2;
  const double span = x1_ - x0_;
  SetView(x0_ + span * (r.left() - plot.left()) / plot.width(),
          x0_ + span * (r.right() - plot.left()) / plot.width());
}

void TChartWindow::Redraw() {
  if (drawing_) return;
  drawing_ = true;
  const int width = std::max(64, static_cast<int>(chart_->plotArea().width()));
  drawnBuckets_ = width;
  double low[2] = {INFINITY, INFINITY}, high[2] = {-INFINITY, -INFINITY};
  bool used[2] = {false, false};
  QStringList titles[2];
  for (TSeries& s : series_) {
    if (s.Data < 0) continue;
    const int a = AxisOf(s);
    used[a] = true;
    titles[a] << s.Caption;
    SplitRuns(s, width, low[a], high[a]);
  }
  // Qt Charts maps a line's points anew on every change of an axis: emptied
  // first and filled last, each line is mapped once a frame.
  for (TSeries& s : series_)
    for (QLineSeries* line : s.Lines)
      if (line->count() > 0) line->clear();
  for (int a = 0; a < 2; ++a) {
    QValueAxis* axis = valueAxis_[a];
    axis->setVisible(a == 0 || used[a]);
    axis->setTitleText(titles[a].join(QStringLiteral(", ")));
    if (yFixed_) {
      axis->setRange(yFixed0_[a], yFixed1_[a]);
      continue;
    }
    if (!(low[a] <= high[a])) low[a] = 0, high[a] = 1;
    const double pad =
        high[a] > low[a] ? (high[a] - low[a]) * 0.05 : std::max(1.0, std::fabs(low[a]) * 0.05);
    axis->setRange(low[a] - pad, high[a] + pad);
  }
  UpdateTimeAxis(width);
  for (TSeries& s : series_) {
    if (s.Data < 0) continue;
    for (size_t k = 0; k < s.Runs.size(); ++k) {
      QLineSeries* line = k < s.Lines.size() ? s.Lines[k] : NewLine(s, false);
      const bool dot = s.Runs[k].size() == 1;  // a value between two gaps
      if (line->pointsVisible() != dot) line->setPointsVisible(dot);
      line->replace(s.Runs[k]);
    }
  }
  UpdateStats();
  drawing_ = false;
  // The tracker stays under the mouse and shows what is there now.
  if (tracking_) TrackAt(trackX_);
}

void TChartWindow::SplitRuns(TSeries& s, int buckets, double& low, double& high) {
  const auto row = static_cast<size_t>(s.Data);
  Decimate(data_.Times().data(), data_.Values(row).data(), data_.Count(), x0_, x1_, buckets,
           points_, data_.Blocks(row).data());
  // Qt Charts draws no gaps: one line per run between breaks, under one legend entry.
  s.Runs.clear();
  bool open = false;
  for (size_t i = 0; i < points_.X.size(); ++i) {
    const double x = points_.X[i], y = points_.Y[i];
    if (std::isnan(y)) {
      open = false;
      continue;
    }
    if (!open) s.Runs.emplace_back();
    open = true;
    s.Runs.back().append(QPointF(x, y));
    if (x >= x0_ && x <= x1_) {
      low = std::min(low, y);
      high = std::max(high, y);
    }
  }
}

void TChartWindow::UpdateTimeAxis(int width) {
  const std::vector<TTimeTick> ticks = TimeTicks(x0_, x1_, std::max(2, width / 130));
  for (const QString& label : timeAxis_->categoriesLabels()) timeAxis_->remove(label);
  timeAxis_->setStartValue(x0_ - kMinSpan);
  for (const TTimeTick& t : ticks) timeAxis_->append(Text(t.Text), t.At);
  timeAxis_->setRange(x0_, x1_);
  if (data_.Count() == 0) {
    timeAxis_->setTitleText(QString());
    return;
  }
  const std::string a = DateToDisplayStr(x0_), b = DateToDisplayStr(x1_);
  timeAxis_->setTitleText(Text(a == b ? a : a + " - " + b));
}

void TChartWindow::PlotAreaChanged() {
  // A height change, or the few pixels that new axis labels take or give,
  // need no new points: a few points a pixel column stay a few.
  const int width = static_cast<int>(chart_->plotArea().width());
  if (!drawing_ && width >= 64 && std::abs(width - drawnBuckets_) > drawnBuckets_ / 8) Redraw();
}

void TChartWindow::TrackAt(qreal chartX) {
  tracking_ = true;
  trackX_ = chartX;
  const QRectF plot = chart_->plotArea();
  if (data_.Count() == 0 || plot.width() <= 0) return HideLine();
  const double t = x0_ + (x1_ - x0_) * (chartX - plot.left()) / plot.width();
  const size_t i = data_.Nearest(t);
  const double at = data_.Times()[i];
  if (at < x0_ || at > x1_) return HideLine();
  const qreal x = plot.left() + plot.width() * (at - x0_) / (x1_ - x0_);
  tracker_->setLine(x, plot.top(), x, plot.bottom());
  tracker_->show();
  QString text = Text(DateTimeToDisplayStr(false, at));
  for (const TSeries& s : series_) {
    if (s.Data < 0) continue;
    std::string value = "--";
    FormatGeneral(data_.Values(static_cast<size_t>(s.Data))[i], value);
    text += QStringLiteral("    ") + s.Caption + QStringLiteral(": ") + Text(value);
  }
  trackerText_->setText(text);
}

void TChartWindow::HideTracker() {
  tracking_ = false;
  HideLine();
}

void TChartWindow::HideLine() {
  tracker_->hide();
  trackerText_->clear();
}

QString TChartWindow::TrackerText() const { return trackerText_->text(); }

void TChartWindow::UpdateStats() {
  QStringList parts;
  for (const TSeries& s : series_) {
    if (s.Data < 0) continue;
    const auto row = static_cast<size_t>(s.Data);
    const TVisibleStats st =
        VisibleStats(data_.Times().data(), data_.Values(row).data(), data_.Count(), x0_, x1_);
    if (st.Count == 0) {
      parts << s.Caption + QStringLiteral(": no values in view");
      continue;
    }
    std::string lo = "--", hi = "--", mean = "--";
    FormatGeneral(st.Min, lo);
    FormatGeneral(st.Max, hi);
    FormatGeneral(st.Mean, mean);
    parts << s.Caption + QStringLiteral(": min ") + Text(lo) + QStringLiteral(", max ") + Text(hi) +
                 QStringLiteral(", mean ") + Text(mean);
  }
  statsText_->setText(parts.join(QStringLiteral("    ")));
}

QString TChartWindow::StatsText() const { return statsText_->text(); }

QStringList TChartWindow::SeriesNames() const {
  QStringList names;
  for (const TSeries& s : series_)
    if (s.Data >= 0) names << s.Caption;
  return names;
}

QString TChartWindow::Notice() const { return notice_->text(); }

void TChartWindow::contextMenuEvent(QContextMenuEvent* event) { ShowMenu(event->globalPos()); }

void TChartWindow::ShowMenu(const QPoint& globalPos) {
  QMenu menu(this);
  menu.addAction(QStringLiteral("Reset Zoom"), this, [this] { ResetView(); });
  menu.addAction(QStringLiteral("Save Chart As..."), this,
                 [this] { Guarded([this] { SaveChartAs(); }); });
  menu.addSeparator();
  for (size_t k = 0; k < series_.size(); ++k) {
    if (series_[k].Data < 0) continue;
    QAction* right = menu.addAction(series_[k].Caption + QStringLiteral(" on the Right Axis"));
    right->setCheckable(true);
    right->setChecked(AxisOf(series_[k]) == 1);
    connect(right, &QAction::toggled, this, [this, k](bool on) {
      series_[k].Axis = on ? 1 : 0;
      for (QLineSeries* line : series_[k].Lines) {
        for (QAbstractAxis* a : line->attachedAxes())
          if (a != timeAxis_) line->detachAxis(a);
        line->attachAxis(valueAxis_[series_[k].Axis]);
      }
      yFixed_ = false;
      Redraw();
    });
  }
  menu.exec(globalPos);
}
