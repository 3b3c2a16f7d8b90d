// "Download All Group" in the window: the download below the window driven
// through the tree, the table and the status bar, and the FTP client's
// progress events.
#include <QAction>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QTreeWidget>
#include <chrono>
#include <optional>

#include "app/DeviceLock.h"
#include "app/LogDownload.h"
#include "app/window/MessageBoxes.h"
#include "app/window/ReportWindow.h"
#include "app/window/Unit1.h"
#include "meter/DataFolder.h"

namespace {

double NowSeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// The download's events shown in the window: the groups are the tree's top
// nodes, their files the nodes under them.
class TWindowDownloadView : public CDownloadSink {
 public:
  explicit TWindowDownloadView(TForm1& f) : f_(f) {}
  // A download stopped between files shows the rows it read.
  ~TWindowDownloadView() override { ShowRows(); }
  void ShowStatus(int panel, const std::string& text) override {
    f_.SetStatusText(panel, QString::fromStdString(text));
  }
  void ShowMessage(TMessageKind kind, const std::string& text) override {
    const QMessageBox::Icon icon = kind == TMessageKind::Information ? QMessageBox::Information
                                   : kind == TMessageKind::Warning   ? QMessageBox::Warning
                                                                     : QMessageBox::Critical;
    AppMessageBox(icon, QString::fromStdString(text));
  }
  bool Pump() override { return f_.PumpMessages(); }
  bool SessionOpen() override { return f_.FConnected; }
  bool ConfirmOtherMeter(const std::string& text) override {
    return AppQuestion(QString::fromStdString(text));
  }
  bool ShowsEveryGroup() override { return f_.tv1->topLevelItemCount() >= kGroupCount; }
  bool GroupStarted(int group) override {
    QTreeWidgetItem* node = f_.tv1->topLevelItem(group);
    f_.tv1->setCurrentItem(node);
    QTreeWidgetItem* sel = f_.tv1->currentItem();
    const bool isGroup = node != nullptr && sel != nullptr && sel->parent() == nullptr;
    // The operator may click elsewhere while the group downloads: its file
    // nodes still go under it.
    downloading_ = isGroup ? f_.tv1->indexOfTopLevelItem(sel) : -1;
    pendingRows_.reset();
    nextRows_ = {};
    if (!isGroup) return false;
    f_.SetLogsLabel(QStringLiteral("Logs Number of ") + node->text(0) + QStringLiteral(":"));
    f_.edtLogsNumber->setText(QStringLiteral("0"));
    f_.PinTableGroup(group);
    f_.SetupLogColumns(group);
    // A child the operator clicked is going: the group keeps the selection.
    sel = f_.tv1->currentItem();
    if (sel != nullptr && sel->parent() == node) f_.tv1->setCurrentItem(node);
    qDeleteAll(node->takeChildren());
    return true;
  }
  void FileStarted(int32_t expectedSize) override { f_.FExpectedSize = expectedSize; }
  void RecordsChanged(size_t count) override {
    // Drawing a screenful of cells takes longer than a day file takes to
    // arrive: the table follows ten times a second, and at the group's end.
    pendingRows_ = count;
    const auto now = std::chrono::steady_clock::now();
    if (now < nextRows_) return;
    nextRows_ = now + std::chrono::milliseconds(100);
    ShowRows();
  }
  void FileNodeAdded(const std::string& text) override {
    if (QTreeWidgetItem* group = f_.tv1->topLevelItem(downloading_))
      group->addChild(new QTreeWidgetItem(QStringList{QString::fromStdString(text)}));
  }
  void GroupEnded(int, size_t records, bool timesValid) override {
    ShowRows();
    if (timesValid) f_.SetTimeRangeFromRecords();
    f_.edtLogsNumber->setText(QString::number(records));
  }
  void EnableDownload(bool enabled) override { f_.SetDownloadEnabled(enabled); }
  void DownloadFinished() override {
    f_.tv1->setCurrentItem(f_.tv1->topLevelItem(0));
    f_.SetDisplayGroupEnabled(true);
  }

 private:
  void ShowRows() {
    if (!pendingRows_) return;
    f_.SetLogRowCount(*pendingRows_);
    f_.lv1->viewport()->update();
    pendingRows_.reset();
  }

  TForm1& f_;
  int downloading_ = -1;               // by position: a reconnect may rebuild the tree meanwhile
  std::optional<size_t> pendingRows_;  // records not yet shown in the table
  std::chrono::steady_clock::time_point nextRows_{};
};

}  // namespace

void TForm1::mniDownload1Click() { RunDownload(false); }

void TForm1::mniDownloadNewClick() { RunDownload(true); }

void TForm1::RunDownload(bool onlyNew) {
  if (longWork_) return;
  // krvo download and sync may be writing the same folder. A name not read
  // from this meter leaves the folder unknown: the download refuses it
  // without touching anything, so no lock either.
  CDeviceLock lock;
  if (FConnected && FNamesRead &&
      !LockDeviceFolder(lock, DeviceDataLogFolder(PanelNames.DeviceName),
                        FDeviceIP + ":" + FModbusPort))
    return;
  if (!onlyNew) SortNewestFirst = true;
  TWindowDownloadView view(*this);
  CLogDownload download(IdFTP1, view, FFilePauseMs);
  if (FMeter) download.MeterSerial = FMeter->DeviceInfo().SerialNumber;
  download.DeviceNameRead = FConnected && FNamesRead;
  // Asked when the download gets there: the session may have ended meanwhile.
  download.ReadMeterSetup = [this] { return FMeter && FMeter->ReadSnapShotSetup(); };
  const TLongWork guard(*this);
  FWorkbookPath = DeviceDataLogFolder(PanelNames.DeviceName) + "template.xlsx";
  FDataLogFolder = DeviceDataLogFolder(PanelNames.DeviceName);
  if (onlyNew) {
    download.mniDownloadNewClick();
  } else {
    download.mniDownload1Click();
  }
}

void TForm1::IdFTP1WorkBegin(TWorkMode, int32_t maximum) {
  FTransferring = true;
  meter_.Begin(maximum, FExpectedSize, NowSeconds());
  ProgressBar1->setMaximum(std::max(0, meter_.Maximum()));
}

void TForm1::IdFTP1Work(TWorkMode mode, int32_t count) {
  SetStatusText(
      1, QString::fromStdString(meter_.Work(count, NowSeconds(), mode == TWorkMode::wmRead)));
  ProgressBar1->setValue(count);
}

void TForm1::IdFTP1WorkEnd(TWorkMode) {
  FTransferring = false;
  // A listing's unknown size made the bar "busy" (a maximum of 0): at rest it is empty.
  ProgressBar1->setRange(0, std::max(1, ProgressBar1->maximum()));
  ProgressBar1->setValue(0);
  FExpectedSize = 0;
  meter_.End();
}

TForm1::TLongWork::TLongWork(TForm1& f) : f_(f) {
  f_.longWork_ = true;
  for (QAction* a : {f_.mniDownload1, f_.mniDownloadNew, f_.mniDisplayCurrentGroup,
                     f_.mniLoadOfflineFile, f_.mniOpen1, f_.mniSave1})
    a->setEnabled(false);
  f_.btnSaveAsLogs->setEnabled(false);
  f_.btnReport->setEnabled(false);
  if (!f_.FReport.isNull()) f_.FReport->SetRunEnabled(false);
}

TForm1::TLongWork::~TLongWork() {
  f_.longWork_ = false;
  f_.tableGroup_ = -1;
  f_.lv1->viewport()->update();
  f_.mniDownload1->setEnabled(f_.wantDownload_);
  f_.mniDownloadNew->setEnabled(f_.wantDownload_);
  f_.mniDisplayCurrentGroup->setEnabled(f_.wantDisplayGroup_);
  // Load and Open stay off while a session is open.
  f_.mniLoadOfflineFile->setEnabled(!f_.FConnected);
  f_.mniOpen1->setEnabled(!f_.FConnected);
  f_.mniSave1->setEnabled(true);
  f_.btnSaveAsLogs->setEnabled(true);
  f_.btnReport->setEnabled(true);
  if (!f_.FReport.isNull()) f_.FReport->SetRunEnabled(true);
}

void TForm1::SetDownloadEnabled(bool enabled) {
  wantDownload_ = enabled;
  if (!longWork_) {
    mniDownload1->setEnabled(enabled);
    mniDownloadNew->setEnabled(enabled);
  }
}

void TForm1::SetDisplayGroupEnabled(bool enabled) {
  wantDisplayGroup_ = enabled;
  if (!longWork_) mniDisplayCurrentGroup->setEnabled(enabled);
}
