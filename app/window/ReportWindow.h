#pragma once
// The report window: energy and demand of the loaded device's folder per
// period, read from the folder (not from the table's records) with events
// running meanwhile; the Summary as a table, the consumption per period of
// the selected energy columns (the ten biggest kWh registers when none is
// selected) as bars, and "Save Report As..." for the workbook.
#include <QDateTime>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "app/report/Report.h"
#include "app/report/ReportTenants.h"

class QChartView;
class QCheckBox;
class QComboBox;
class QDateTimeEdit;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

// Reads the folder's groups into the builder; false when it did not run
// (the window busy, no folder, stopped).
using ReportReader = std::function<bool(CReportBuilder& builder)>;

class TReportWindow : public QWidget {
  Q_OBJECT
 public:
  // The report covers every record of the folder until "All records" is
  // unchecked; the range pickers (start and end inclusive) start at these.
  TReportWindow(ReportReader reader, const QDateTime& start, const QDateTime& end,
                QWidget* parent = nullptr);
  ~TReportWindow() override;

  // Builds the report from the controls; false (with a message) when not.
  bool RunReport();
  // Writes the workbook; false (with a message) when it can't.
  bool SaveReport(const QString& path);
  void SaveReportAs();
  // Whether "Report" may run (off while a download or load runs).
  void SetRunEnabled(bool enabled);
  const TReport* Report() const { return report_.get(); }
  // The energy series (indexes into Report()->Series) the chart shows.
  const std::vector<size_t>& ChartSeries() const { return chartSeries_; }

  QComboBox* cbPeriod;
  QCheckBox* cbAllRecords;
  QDateTimeEdit *dtFrom, *dtTo;
  QDoubleSpinBox* seLoadingLimit;
  QLineEdit *edtTenants, *edtPrice;
  QPushButton *btnTenants, *btnRun, *btnSave;
  QTableWidget* tblSummary;
  QChartView* chartView;
  QLabel* lblStatus;

 private:
  void ShowSummary();
  void ShowChart();

  ReportReader reader_;
  std::unique_ptr<TReport> report_;
  std::vector<TTenant> tenants_;
  std::vector<TTenantPeriod> tenantPeriods_;
  std::optional<double> price_;
  bool withTenants_ = false;
  std::vector<size_t> summarySeries_;  // the table's rows: series indexes
  std::vector<size_t> chartSeries_;
};
