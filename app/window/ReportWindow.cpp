#include "app/window/ReportWindow.h"

#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSplitter>
#include <QTableWidget>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <set>

#include "app/report/ReportLines.h"
#include "app/report/ReportSheets.h"
#include "app/report/ReportXlsx.h"
#include "app/window/MessageBoxes.h"
#include "meter/ZelDef.h"

namespace {

constexpr int kChartSeries = 10;

QString CellText(const TReportCell& cell) {
  switch (cell.Type) {
    case TReportCell::Empty:
      break;
    case TReportCell::Number:
      return QString::fromStdString(NumberText(cell.Value));
    case TReportCell::Text:
      return QString::fromStdString(cell.String);
    case TReportCell::Date:
      return QString::fromStdString(FormatReportDate(cell.Time));
    case TReportCell::DateTime:
      return QString::fromStdString(FormatReportTime(cell.Time));
    case TReportCell::Percent:
      return QString::number(cell.Value * 100, 'f', 1) + QLatin1Char('%');
  }
  return {};
}

bool PickerSeconds(const QDateTimeEdit* picker, TReportSeconds& out) {
  return ParseReportTime(
      picker->dateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toStdString(), out);
}

}  // namespace

TReportWindow::TReportWindow(ReportReader reader, const QDateTime& start, const QDateTime& end,
                             QWidget* parent)
    : QWidget(parent, Qt::Window), reader_(std::move(reader)) {
  setObjectName(QStringLiteral("ReportWindow"));
  setWindowTitle(QStringLiteral("Report"));
  resize(960, 640);

  cbPeriod = new QComboBox(this);
  cbPeriod->setObjectName(QStringLiteral("cbPeriod"));
  cbPeriod->addItems({QStringLiteral("day"), QStringLiteral("week"), QStringLiteral("month"),
                      QStringLiteral("total")});
  auto picker = [this](const char* name, const QDateTime& t) {
    auto* p = new QDateTimeEdit(t, this);
    p->setObjectName(QLatin1String(name));
    p->setTimeSpec(Qt::UTC);  // wall-clock fields, as the main window's pickers
    p->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    p->setDateTime(t);
    return p;
  };
  dtFrom = picker("dtFrom", start);
  dtTo = picker("dtTo", end);
  cbAllRecords = new QCheckBox(QStringLiteral("All records"), this);
  cbAllRecords->setObjectName(QStringLiteral("cbAllRecords"));
  cbAllRecords->setChecked(true);
  dtFrom->setEnabled(false);
  dtTo->setEnabled(false);
  connect(cbAllRecords, &QCheckBox::toggled, this, [this](bool all) {
    dtFrom->setEnabled(!all);
    dtTo->setEnabled(!all);
  });
  seLoadingLimit = new QDoubleSpinBox(this);
  seLoadingLimit->setObjectName(QStringLiteral("seLoadingLimit"));
  seLoadingLimit->setRange(0, 1000);
  seLoadingLimit->setDecimals(1);
  seLoadingLimit->setValue(80);
  seLoadingLimit->setSuffix(QStringLiteral(" %"));
  edtTenants = new QLineEdit(this);
  edtTenants->setObjectName(QStringLiteral("edtTenants"));
  edtTenants->setPlaceholderText(QStringLiteral("NAME = ID, ID, ... per line (optional)"));
  btnTenants = new QPushButton(QStringLiteral("..."), this);
  edtPrice = new QLineEdit(this);
  edtPrice->setObjectName(QStringLiteral("edtPrice"));
  edtPrice->setPlaceholderText(QStringLiteral("price per kWh (optional)"));
  btnRun = new QPushButton(QStringLiteral("Report"), this);
  btnRun->setObjectName(QStringLiteral("btnRun"));
  btnSave = new QPushButton(QStringLiteral("Save Report As..."), this);
  btnSave->setObjectName(QStringLiteral("btnSave"));
  btnSave->setEnabled(false);
  lblStatus = new QLabel(this);

  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("Period:"), cbPeriod);
  form->addRow(QStringLiteral("Range:"), cbAllRecords);
  form->addRow(QStringLiteral("Start Time:"), dtFrom);
  form->addRow(QStringLiteral("End Time:"), dtTo);
  form->addRow(QStringLiteral("Loading limit:"), seLoadingLimit);
  auto* tenantsRow = new QHBoxLayout;
  tenantsRow->addWidget(edtTenants);
  tenantsRow->addWidget(btnTenants);
  form->addRow(QStringLiteral("Tenants file:"), tenantsRow);
  form->addRow(QStringLiteral("Price:"), edtPrice);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(btnRun);
  buttons->addWidget(btnSave);
  buttons->addWidget(lblStatus, 1);
  form->addRow(buttons);

  tblSummary = new QTableWidget(this);
  tblSummary->setObjectName(QStringLiteral("tblSummary"));
  tblSummary->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tblSummary->setSelectionBehavior(QAbstractItemView::SelectRows);
  tblSummary->setSelectionMode(QAbstractItemView::ExtendedSelection);
  chartView = new QChartView(new QChart, this);
  chartView->setObjectName(QStringLiteral("chartView"));
  chartView->setRenderHint(QPainter::Antialiasing);
  auto* split = new QSplitter(Qt::Vertical, this);
  split->addWidget(tblSummary);
  split->addWidget(chartView);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(split, 1);

  connect(btnRun, &QPushButton::clicked, this, [this] { Guarded([this] { RunReport(); }); });
  connect(btnSave, &QPushButton::clicked, this, [this] { Guarded([this] { SaveReportAs(); }); });
  connect(btnTenants, &QPushButton::clicked, this, [this] {
    const QString path =
        QFileDialog::getOpenFileName(this, QStringLiteral("Tenants file"), edtTenants->text());
    if (!path.isEmpty()) edtTenants->setText(path);
  });
  connect(tblSummary, &QTableWidget::itemSelectionChanged, this, [this] { ShowChart(); });
}

TReportWindow::~TReportWindow() = default;

void TReportWindow::SetRunEnabled(bool enabled) { btnRun->setEnabled(enabled); }

bool TReportWindow::RunReport() {
  TReportOptions options;
  ParseReportPeriod(cbPeriod->currentText().toStdString(), options.Period);
  if (!cbAllRecords->isChecked()) {
    TReportSeconds from = 0, to = 0;
    if (!PickerSeconds(dtFrom, from) || !PickerSeconds(dtTo, to) || from > to) {
      AppMessageBox(QMessageBox::Warning,
                    QStringLiteral("The start time must not be after the end time."));
      return false;
    }
    options.From = from;
    options.To = to + 1;  // the end time's record included, as the pickers show the span
  }
  options.LoadingLimit = seLoadingLimit->value();
  std::optional<double> price;
  const std::string priceText = edtPrice->text().trimmed().toStdString();
  if (!priceText.empty()) {
    double p = 0;
    const auto r = std::from_chars(priceText.data(), priceText.data() + priceText.size(), p);
    if (r.ec != std::errc() || r.ptr != priceText.data() + priceText.size() || !std::isfinite(p) ||
        p < 0) {
      AppMessageBox(QMessageBox::Warning,
                    QStringLiteral("The price must be a number of at least 0."));
      return false;
    }
    price = p;
  }
  const QString tenantsPath = edtTenants->text().trimmed();
  std::vector<TTenant> tenants;
  if (!tenantsPath.isEmpty())
    tenants = ReadTenantsFile(tenantsPath.toStdString(), GroupSetups);  // throws

  CReportBuilder builder(options);
  btnRun->setEnabled(false);
  lblStatus->setText(QStringLiteral("Reading the logs..."));
  bool ran = false;
  try {
    ran = reader_(builder);
  } catch (...) {
    btnRun->setEnabled(true);
    lblStatus->clear();
    throw;
  }
  btnRun->setEnabled(true);
  if (!ran) {
    lblStatus->setText(QStringLiteral("Not read."));
    return false;
  }
  report_ = std::make_unique<TReport>(builder.Finish());
  tenants_ = std::move(tenants);
  tenantPeriods_ = TenantConsumption(tenants_, *report_);
  price_ = price;
  withTenants_ = !tenantsPath.isEmpty();
  ShowSummary();
  ShowChart();
  btnSave->setEnabled(true);
  lblStatus->setText(QString::number(report_->Series.size()) + QStringLiteral(" columns, ") +
                     QString::number(report_->Resets.size()) + QStringLiteral(" resets, ") +
                     QString::number(report_->Gaps.size()) + QStringLiteral(" gaps, ") +
                     QString::number(report_->Overloads.size()) + QStringLiteral(" overloads"));
  return true;
}

void TReportWindow::ShowSummary() {
  const std::vector<TReportSheet> sheets =
      BuildReportSheets(*report_, tenants_, tenantPeriods_, price_, false);
  const TReportSheet& summary = sheets.front();
  tblSummary->blockSignals(true);
  tblSummary->clear();
  tblSummary->setRowCount(static_cast<int>(summary.Rows.size()) - 1);
  tblSummary->setColumnCount(summary.Rows.empty() ? 0 : static_cast<int>(summary.Rows[0].size()));
  QStringList head;
  for (const TReportCell& c : summary.Rows[0]) head << CellText(c);
  tblSummary->setHorizontalHeaderLabels(head);
  for (size_t r = 1; r < summary.Rows.size(); ++r)
    for (size_t c = 0; c < summary.Rows[r].size(); ++c)
      tblSummary->setItem(static_cast<int>(r - 1), static_cast<int>(c),
                          new QTableWidgetItem(CellText(summary.Rows[r][c])));
  tblSummary->resizeColumnsToContents();
  tblSummary->blockSignals(false);
}

void TReportWindow::ShowChart() {
  if (!report_) return;
  const auto& series = report_->Series;
  chartSeries_.clear();
  std::set<int> rows;
  for (const QModelIndex& i : tblSummary->selectionModel()->selectedRows()) rows.insert(i.row());
  for (int r : rows)
    if (r >= 0 && static_cast<size_t>(r) < series.size() && series[static_cast<size_t>(r)].Energy)
      chartSeries_.push_back(static_cast<size_t>(r));
  if (chartSeries_.empty()) {
    for (size_t i = 0; i < series.size(); ++i)
      if (series[i].Energy && series[i].Unit == TEnergyUnit::kWh) chartSeries_.push_back(i);
    std::stable_sort(chartSeries_.begin(), chartSeries_.end(), [&](size_t a, size_t b) {
      return series[a].Whole.Consumption > series[b].Whole.Consumption;
    });
  }
  if (chartSeries_.size() > kChartSeries) chartSeries_.resize(kChartSeries);

  std::set<TReportSeconds> periodSet;
  for (size_t i : chartSeries_)
    for (const TPeriodStats& p : series[i].Periods) periodSet.insert(p.Period);
  const std::vector<TReportSeconds> periods(periodSet.begin(), periodSet.end());
  auto* chart = new QChart;
  auto* bars = new QBarSeries;
  for (size_t i : chartSeries_) {
    auto* set = new QBarSet(QString::fromStdString(SeriesTitle(series[i])));
    size_t k = 0;
    for (TReportSeconds period : periods) {
      while (k < series[i].Periods.size() && series[i].Periods[k].Period < period) ++k;
      const bool has = k < series[i].Periods.size() && series[i].Periods[k].Period == period;
      *set << (has ? series[i].Periods[k].Consumption : 0.0);
    }
    bars->append(set);
  }
  chart->addSeries(bars);
  QStringList labels;
  for (TReportSeconds p : periods) labels << QString::fromStdString(PeriodLabel(p));
  auto* x = new QBarCategoryAxis;
  x->append(labels);
  chart->addAxis(x, Qt::AlignBottom);
  bars->attachAxis(x);
  auto* y = new QValueAxis;
  y->setTitleText(QStringLiteral("Consumption"));
  chart->addAxis(y, Qt::AlignLeft);
  bars->attachAxis(y);
  chart->setTitle(QStringLiteral("Consumption per period"));
  QChart* old = chartView->chart();
  chartView->setChart(chart);
  delete old;
}

bool TReportWindow::SaveReport(const QString& path) {
  if (!report_) return false;
  const std::vector<TReportSheet> sheets =
      BuildReportSheets(*report_, tenants_, tenantPeriods_, price_, withTenants_);
  std::string error;
  if (!WriteReportWorkbook(path.toStdString(), sheets, error)) {
    AppMessageBox(QMessageBox::Critical, QString::fromStdString(error));
    return false;
  }
  lblStatus->setText(QStringLiteral("Saved ") + path);
  return true;
}

void TReportWindow::SaveReportAs() {
  const QString path = AppSaveDialog(this, QStringLiteral("Report.xlsx"));
  if (!path.isEmpty()) SaveReport(path);
}
