#pragma once
// The main window: the operator's session with one meter.
#include <QDateTime>
#include <QMainWindow>
#include <QPointer>
#include <memory>
#include <string>
#include <vector>

#include "app/DeviceLock.h"
#include "app/TransferMeter.h"
#include "app/Workbook.h"
#include "meter/ZelDef.h"
#include "retrieval/FtpClient.h"

class QAction;
class QDateTimeEdit;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QStatusBar;
class QTableView;
class QTimer;
class QTreeWidget;
class CReportBuilder;
class TChartWindow;
class TReportWindow;
class TLogTableModel;

// Whether the next sort by time stamp orders newest first (flipped by each sort).
extern bool SortNewestFirst;

class TForm1 : public QMainWindow {
  Q_OBJECT
 public:
  explicit TForm1(QWidget* parent = nullptr);
  ~TForm1() override;

  // Controls.
  QLabel *lbl1, *lbl2, *lbl3, *lbl4, *lbl5, *lblLogsNumber;
  QLineEdit *edtIP, *edtLogsNumber;
  QSpinBox* sePort;
  QPushButton *btnConnect, *btnSaveAsLogs, *btnEnergyBill;
  QPushButton* btnPlot;    // ours: the chart window
  QPushButton* btnReport;  // ours: the report window
  QPlainTextEdit* mmoDevInfo;
  QDateTimeEdit *dtp1, *dtp2, *dtp3, *dtp4;
  QTreeWidget* tv1;
  QTableView* lv1;
  TLogTableModel* lv1Model;
  QProgressBar* ProgressBar1;
  QStatusBar* StatusBar1;
  QLabel* StatusPanel[3];
  QMenu* pmTv1;
  QMenu* pmLv1;  // ours: on the table's cells and column headers
  QAction *mniPlotColumn, *mniPlotSelected;
  QAction *mniDownload1, *mniDownloadNew, *mniDisplayCurrentGroup, *mniLoadOfflineFile;
  QMenuBar* mm1;
  QMenu *mniFile1, *mniReadLog1;
  QAction *mniOpen1, *mniSave1, *mniExit1, *mniDatalog1, *mniEnergyBill1;
  QTimer* tmr1;
  TFtpClient IdFTP1;

  // Session state.
  std::string FDeviceIP;
  std::string FModbusPort;
  bool FConnected = false;
  std::unique_ptr<CSocketClientComm> FComm;
  std::unique_ptr<CZELMeterObj> FMeter;
  std::string FWorkbookPath;
  bool FTransferring = false;
  int32_t FExpectedSize = 0;
  double FTransferStart = 0;
  std::vector<std::string> FGroupFiles;
  int FFilePauseMs = 1000;
  // Whether this session's names read succeeded (the device folder is known).
  bool FNamesRead = false;
  // The DataLog folder the groups are displayed from: the connected device's,
  // or the one an offline load opened.
  std::string FDataLogFolder;

  // Handlers.
  void btnConnectClick();
  void edtIPChange();
  void edtIPExit();
  void tmr1Timer();
  void tv1Click();
  void mniExit1Click();
  void IdFTP1Status(TFtpStatus kind, const std::string& text);
  void IdFTP1Disconnected();
  void mniSave1Click();
  void mniDownload1Click();
  void mniDownloadNewClick();
  void mniLoadOfflineFileClick();
  void mniOpen1Click();
  void mniDisplayCurrentGroupClick();
  void IdFTP1WorkBegin(TWorkMode mode, int32_t maximum);
  void IdFTP1Work(TWorkMode mode, int32_t count);
  void IdFTP1WorkEnd(TWorkMode mode);

  // Operations.
  void LoadCommSettings();
  void SaveCommSettings();
  virtual void CreateComm();
  bool OpenComm();
  static bool IsValidIP(const std::string& text);
  void RefreshDataLogSetup();
  bool IsFtpConnected();
  bool FtpDisconnect();
  bool PumpMessages();
  void BuildGroupTree(uint32_t index);
  // Writes one sheet (-1: the names) into a build of the working workbook,
  // letting events run meanwhile.
  TWorkbookUpdate UpdateWorkbook(CWorkbookBuild& build, int group);

  // The log table.
  void SetupLogColumns(int group);
  void SetLogRowCount(size_t rows);
  void lv1ColumnClick(int column);
  void SetTimeRangeFromRecords();
  bool CheckTimeRange();
  QDateTime RangeStart() const;
  QDateTime RangeEnd() const;
  // The local date and time as wall-clock fields, the form the pickers hold.
  static QDateTime WallClockNow();
  // The group of the selected tree node (the node or its parent), -1 without one.
  int CurrentGroup() const;

  // The chart window (ours). The selected columns are those of the cells
  // clicked to select rows (Ctrl+click adds one, Shift+click a range).
  std::vector<int> SelectedValueColumns() const;
  // Opens the chart window, or adds to it, with these table columns.
  void PlotColumns(const std::vector<int>& columns);
  TChartWindow* ChartWindow() const;

  // The report window (ours), for the device whose groups are displayed.
  void OpenReport();
  // Reads the device folder's groups into the builder, letting events run;
  // false while other long work runs, without a folder, while another
  // program writes the folder, or when stopped.
  bool ReadReport(CReportBuilder& builder);
  TReportWindow* ReportWindow() const;

  // The commands' states; during long work they stay off and take effect after it.
  void SetDownloadEnabled(bool enabled);
  void SetDisplayGroupEnabled(bool enabled);
  bool LongWorkRunning() const { return longWork_; }
  // While long work fills the table with a group's records, the table keeps
  // that group's key count whatever node the operator clicks.
  void PinTableGroup(int group) { tableGroup_ = group; }

  // The count's label; the count and "Save As..." move right when it grows.
  void SetLogsLabel(const QString& text);

  QString StatusText(int panel) const;
  void SetStatusText(int panel, const QString& text);

 signals:
  // The table shows other columns (a group's, being loaded) or other rows.
  void LogTableChanged(bool newColumns);

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void CreateControls();
  void RunDownload(bool onlyNew);
  void ConnectHandlers();
  void ConnectTableHandlers();
  void ConnectChartHandlers();
  void ConnectReportHandlers();
  void PickColumn(int column, Qt::KeyboardModifiers modifiers);
  void ShowPlotMenu(int column, const QPoint& globalPos);
  int CurrentKeyCount() const;
  void FormCreate();
  void Connect();
  void Disconnect();
  void ProbeFtp();
  void LayOutAnchored();
  // Whether the device folder of the names read is empty of a serial number or
  // holds this meter's.
  bool OwnDeviceFolder() const;
  void SaveNamesIfOwnFolder();
  // Takes the device folder's lock for a command that writes it; when another
  // program holds it, or it can't be taken, says so and returns false.
  bool LockDeviceFolder(CDeviceLock& lock, const std::string& dataLogFolder,
                        const std::string& owner, TLockMode mode = TLockMode::Exclusive);

  // While a download or an offline load runs (events run through it), the
  // commands that would change the folder or LogRecords under it are off.
  class TLongWork {
   public:
    explicit TLongWork(TForm1& f);
    ~TLongWork();
    TLongWork(const TLongWork&) = delete;
    TLongWork& operator=(const TLongWork&) = delete;

   private:
    TForm1& f_;
  };

  std::unique_ptr<CMemoLines> memo_;
  CTransferMeter meter_;
  bool longWork_ = false;
  int tableGroup_ = -1;  // the group long work is loading into the table, -1 when none
  bool wantDownload_ = true;
  bool wantDisplayGroup_ = false;
  bool closing_ = false;
  unsigned sessionSerial_ = 0;  // counts connects, so a probe knows its session ended
  bool timerBusy_ = false;
  int designCentralHeight_ = 0;
  int designLogsNumberX_ = 0;
  QPointer<TChartWindow> FChart;
  QPointer<TReportWindow> FReport;
  std::vector<int> pickedColumns_;
  int pickAnchor_ = -1;
};
