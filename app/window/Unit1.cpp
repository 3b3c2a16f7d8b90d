#include "app/window/Unit1.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QDateTimeEdit>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QTreeWidget>
#include <charconv>
#include <cstdio>

#include "app/CommSettings.h"
#include "app/DeviceLock.h"
#include "app/window/LogTableModel.h"
#include "app/window/MessageBoxes.h"
#include "meter/DataFolder.h"
#include "retrieval/FtpErrors.h"

bool SortNewestFirst = true;

namespace {

// The device information memo as the meter object's line sink.
class TMemoAdapter : public CMemoLines {
 public:
  explicit TMemoAdapter(QPlainTextEdit* memo) : memo_(memo) {}
  void Clear() override { memo_->clear(); }
  void Add(const std::string& line) override {
    memo_->appendPlainText(QString::fromStdString(line));
  }

 private:
  QPlainTextEdit* memo_;
};

}  // namespace

TForm1::TForm1(QWidget* parent) : QMainWindow(parent) {
  CreateControls();
  memo_ = std::make_unique<TMemoAdapter>(mmoDevInfo);
  ConnectHandlers();
  FormCreate();
  if (const QScreen* shown = screen())
    setGeometry(
        QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size(), shown->availableGeometry()));
  tmr1->start();
}

TForm1::~TForm1() {
  tmr1->stop();
  // The records go with the window; the session's objects with the process.
  LogRecords.Release();
  FMeter.reset();
  if (FComm) FComm->closeport();
}

void TForm1::ConnectHandlers() {
  connect(btnConnect, &QPushButton::clicked, this,
          [this] { Guarded([this] { btnConnectClick(); }); });
  connect(edtIP, &QLineEdit::textChanged, this, [this] { Guarded([this] { edtIPChange(); }); });
  connect(tmr1, &QTimer::timeout, this, [this] {
    // A tick whose error box is still open must not stack another under it.
    if (timerBusy_) return;
    timerBusy_ = true;
    Guarded([this] { tmr1Timer(); });
    timerBusy_ = false;
  });
  connect(tv1, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { pmTv1->popup(tv1->viewport()->mapToGlobal(at)); });
  connect(btnSaveAsLogs, &QPushButton::clicked, this,
          [this] { Guarded([this] { mniSave1Click(); }); });
  connect(mniSave1, &QAction::triggered, this, [this] { Guarded([this] { mniSave1Click(); }); });
  connect(mniDownload1, &QAction::triggered, this,
          [this] { Guarded([this] { mniDownload1Click(); }); });
  connect(mniDownloadNew, &QAction::triggered, this,
          [this] { Guarded([this] { mniDownloadNewClick(); }); });
  connect(mniDisplayCurrentGroup, &QAction::triggered, this,
          [this] { Guarded([this] { mniDisplayCurrentGroupClick(); }); });
  connect(mniLoadOfflineFile, &QAction::triggered, this,
          [this] { Guarded([this] { mniLoadOfflineFileClick(); }); });
  connect(mniOpen1, &QAction::triggered, this, [this] { Guarded([this] { mniOpen1Click(); }); });
  connect(mniExit1, &QAction::triggered, this, [this] { Guarded([this] { mniExit1Click(); }); });
  connect(mniDatalog1, &QAction::triggered, this, [this] {
    mniDatalog1->setChecked(true);
    mniEnergyBill1->setChecked(!mniDatalog1->isChecked());
  });
  connect(mniEnergyBill1, &QAction::triggered, this, [this] {
    mniDatalog1->setChecked(false);
    mniEnergyBill1->setChecked(!mniDatalog1->isChecked());
  });

  ConnectTableHandlers();
  ConnectChartHandlers();
  ConnectReportHandlers();

  IdFTP1.OnStatus = [this](TFtpStatus kind, const std::string& text) { IdFTP1Status(kind, text); };
  IdFTP1.OnDisconnected = [this] { IdFTP1Disconnected(); };
  IdFTP1.OnWorkBegin = [this](TWorkMode mode, int32_t maximum) { IdFTP1WorkBegin(mode, maximum); };
  IdFTP1.OnWork = [this](TWorkMode mode, int32_t count) { IdFTP1Work(mode, count); };
  IdFTP1.OnWorkEnd = [this](TWorkMode mode) { IdFTP1WorkEnd(mode); };
  IdFTP1.Pump = [this] { return PumpMessages(); };
}

void TForm1::FormCreate() {
  LoadCommSettings();
  {
    // Filling the boxes is not an edit: CommSet.ini and the fields stay as read.
    const QSignalBlocker blockIp(edtIP);
    const QSignalBlocker blockPort(sePort);
    edtIP->setText(QString::fromStdString(FDeviceIP));
    int port = 502;
    const auto [p, ec] =
        std::from_chars(FModbusPort.data(), FModbusPort.data() + FModbusPort.size(), port);
    if (ec != std::errc() || p != FModbusPort.data() + FModbusPort.size()) {
      // Not a whole number: connect with what the box shows, not with the text.
      port = 502;
      FModbusPort = std::to_string(port);
    }
    sePort->setValue(port);
  }
  FConnected = false;
  btnConnect->setText(QStringLiteral("Connect"));
  mniDownload1->setVisible(false);
  mniDownloadNew->setVisible(false);
  LogRecords.Clear();
  SortNewestFirst = true;
  const QDateTime now = WallClockNow();
  for (QDateTimeEdit* p : {dtp1, dtp2, dtp3, dtp4}) {
    const QSignalBlocker block(p);  // the program's own setting is no edit to check
    p->setDateTime(now);
  }
  dtp1->setMinimumDate(QDate(2000, 1, 1));
  dtp3->setMinimumDate(QDate(2000, 1, 1));
}

void TForm1::LoadCommSettings() {
  const TCommSettings s = ::LoadCommSettings();
  FDeviceIP = s.IP;
  FModbusPort = s.ModbusPort;
  IdFTP1.Port = s.FtpPort;
  FFilePauseMs = s.FilePauseMs;
}

void TForm1::SaveCommSettings() { ::SaveCommSettings(FDeviceIP, FModbusPort); }

void TForm1::edtIPChange() {
  FDeviceIP = edtIP->text().toStdString();
  FModbusPort = std::to_string(sePort->value());
  SaveCommSettings();
}

bool TForm1::IsValidIP(const std::string& text) { return ::IsValidIP(text); }

void TForm1::edtIPExit() {
  if (closing_) return;
  if (!IsValidIP(edtIP->text().toStdString()))
    AppMessageBox(
        QMessageBox::Critical,
        QStringLiteral(
            "Invalid IP. IP format is xxx.xxx.xxx.xxx, and xxx should be less than 256."));
}

void TForm1::CreateComm() {
  if (!FComm && !FDeviceIP.empty() && !FModbusPort.empty())
    FComm = std::make_unique<CSocketClientComm>(FDeviceIP, FModbusPort);
}

bool TForm1::OpenComm() {
  if (!FComm) return false;
  if (FComm->isopen()) return true;
  return FComm->openport() >= 0;
}

QString TForm1::StatusText(int panel) const { return StatusPanel[panel]->text(); }

void TForm1::SetStatusText(int panel, const QString& text) {
  StatusPanel[panel]->setText(text);
  StatusPanel[panel]->setToolTip(text);
}

void TForm1::btnConnectClick() {
  if (FConnected) {
    Disconnect();
  } else {
    Connect();
  }
}

void TForm1::Connect() {
  CreateComm();
  if (!OpenComm()) {
    const QString text = QStringLiteral("Can not to Connect with KRVO.");
    AppMessageBox(QMessageBox::Critical, text);
    SetStatusText(1, text);
    FComm.reset();  // the next attempt makes a fresh transport
    return;
  }
  FMeter = std::make_unique<CZELMeterObj>(*FComm, *memo_);
  FConnected = true;
  ++sessionSerial_;
  edtIP->setEnabled(false);
  sePort->setEnabled(false);
  btnConnect->setText(QStringLiteral("Disconnect"));
  mniDownload1->setVisible(true);
  mniDownloadNew->setVisible(true);
  mniOpen1->setEnabled(false);
  SetDisplayGroupEnabled(false);
  mniLoadOfflineFile->setEnabled(false);
  SetStatusText(1, QStringLiteral("Connected with KRVO."));

  FNamesRead = false;
  FMeter->SetSaveNames(false);  // saved below, once the folder is known to be this meter's
  if (FMeter->ReadDeviceInfo()) {
    FNamesRead = FMeter->NamesRead();
    SaveNamesIfOwnFolder();
    RefreshDataLogSetup();
    FWorkbookPath = DeviceDataLogFolder(PanelNames.DeviceName) + "template.xlsx";
    FDataLogFolder = DeviceDataLogFolder(PanelNames.DeviceName);
  } else {
    mmoDevInfo->appendPlainText(QStringLiteral("Read Device infomation fail."));
  }
  ProbeFtp();
}

void TForm1::ProbeFtp() {
  if (IsFtpConnected()) {
    if (FTransferring) FtpDisconnect();
    return;
  }
  IdFTP1.Username = "anonymous";
  IdFTP1.Password = kAnonymousFtpPassword;
  IdFTP1.Host = FDeviceIP;
  IdFTP1.Passive = true;
  const unsigned session = sessionSerial_;
  std::exception_ptr error;
  try {
    IdFTP1.OpenSession();
  } catch (const EFtpError&) {
    error = std::current_exception();
  }
  // Closing the window ends the wait quietly; so does the end of the session
  // (Disconnect or the watchdog) that the probe belonged to, whose panel
  // text stays the last word.
  if (closing_) return;
  if (!FConnected || session != sessionSerial_) {
    if (IsFtpConnected()) FtpDisconnect();
    if (!FConnected) SetStatusText(1, QStringLiteral("Disconnected with Device successed."));
    return;
  }
  // The session was only a probe: the tree shows the meter serves its logs.
  if (IsFtpConnected()) {
    BuildGroupTree(0);
    FtpDisconnect();
  }
  if (error) std::rethrow_exception(error);  // to the default error display
}

void TForm1::Disconnect() {
  FConnected = false;
  if (FComm) {
    FComm->closeport();
    FComm.reset();
  }
  FMeter.reset();
  if (IsFtpConnected()) FtpDisconnect();
  edtIP->setEnabled(true);
  sePort->setEnabled(true);
  btnConnect->setText(QStringLiteral("Connect"));
  mniDownload1->setVisible(false);
  mniDownloadNew->setVisible(false);
  FNamesRead = false;
  // A download that is winding down enables them when it ends.
  if (!longWork_) {
    mniLoadOfflineFile->setEnabled(true);
    mniOpen1->setEnabled(true);
  }
  SetStatusText(1, QStringLiteral("Disconnected with Device successed."));
}

bool TForm1::OwnDeviceFolder() const {
  if (!FMeter) return false;
  const std::string held =
      CZELMeterObj::FolderSerialNumber(DeviceDataLogFolder(PanelNames.DeviceName));
  return held.empty() || held == std::to_string(FMeter->DeviceInfo().SerialNumber);
}

void TForm1::SaveNamesIfOwnFolder() {
  // A folder another meter of the same name filled keeps its names: the
  // download asks before it replaces anything there.
  if (FNamesRead && OwnDeviceFolder()) CZELMeterObj::SavePanelNames();
}

void TForm1::RefreshDataLogSetup() {
  if (FMeter && FMeter->ReadSnapShotSetup()) {
    if (OwnDeviceFolder()) CZELMeterObj::SaveDataLogSetup();
    SetStatusText(1, QStringLiteral("Read SnapShot Setup Successed."));
  } else {
    SetStatusText(1, QStringLiteral("Read SnapShot Setup failed."));
  }
}

void TForm1::tmr1Timer() {
  if (!FConnected || !FMeter) return;
  if (!FMeter->ReadDeviceInfo()) {
    btnConnectClick();
    return;
  }
  if (FMeter->NamesRead()) {
    FNamesRead = true;
    SaveNamesIfOwnFolder();
  }
}

void TForm1::tv1Click() {
  SetDownloadEnabled(!FTransferring);
  if (QTreeWidgetItem* node = tv1->currentItem()) SetDownloadEnabled(node->parent() == nullptr);
}

void TForm1::mniExit1Click() {
  if (FComm) {
    FComm->closeport();
    FComm.reset();
  }
  close();
}

bool TForm1::IsFtpConnected() { return FtpConnectedQuietly(IdFTP1); }

bool TForm1::FtpDisconnect() { return FtpCloseQuietly(IdFTP1); }

bool TForm1::PumpMessages() {
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  return closing_ || QCoreApplication::closingDown();
}

bool TForm1::LockDeviceFolder(CDeviceLock& lock, const std::string& dataLogFolder,
                              const std::string& owner, TLockMode mode) {
  std::string holder, error;
  // Never waits: the window must stay live while the other program works.
  if (lock.TryAcquire(dataLogFolder, owner, holder, error, mode)) return true;
  const std::string text = error.empty() ? "The folder of \"" + PanelNames.DeviceName +
                                               "\" is being written by " + holder +
                                               ". Try again when it has finished."
                                         : error;
  AppMessageBox(QMessageBox::Critical, QString::fromStdString(text));
  return false;
}

void TForm1::BuildGroupTree(uint32_t index) {
  tv1->clear();
  for (int g = 1; g <= kGroupCount; ++g) {
    char caption[16];
    std::snprintf(caption, sizeof caption, "Group %.2d", g);
    tv1->addTopLevelItem(new QTreeWidgetItem(QStringList{QString::fromLatin1(caption)}));
  }
  if (index < 10) {
    tv1->setFocus();
    if (!tv1->currentItem()) tv1->setCurrentItem(tv1->topLevelItem(0));
  }
}

void TForm1::IdFTP1Status(TFtpStatus, const std::string& text) {
  SetStatusText(1, QStringLiteral("FTP: ") + QString::fromStdString(text));
}

void TForm1::IdFTP1Disconnected() { SetStatusText(1, QStringLiteral("Disconnected.")); }

void TForm1::closeEvent(QCloseEvent* event) {
  closing_ = true;  // long loops see it through PumpMessages
  QMainWindow::closeEvent(event);
}
