// The main window's side of the report window: the "Report..." button,
// and the reading of the device's folder with the window's commands that
// change it kept off meanwhile.
#include <unistd.h>

#include <QPushButton>

#include "app/DeviceLock.h"
#include "app/report/ReportFolder.h"
#include "app/window/MessageBoxes.h"
#include "app/window/ReportWindow.h"
#include "app/window/Unit1.h"

void TForm1::ConnectReportHandlers() {
  connect(btnReport, &QPushButton::clicked, this, [this] { Guarded([this] { OpenReport(); }); });
}

bool TForm1::ReadReport(CReportBuilder& builder) {
  if (longWork_) return false;
  if (FDataLogFolder.empty()) {
    AppMessageBox(QMessageBox::Information,
                  QStringLiteral("Load a device's logs, or connect, to report on them."));
    return false;
  }
  // Shared, as krvo report: a sync changes the setup and the files together.
  CDeviceLock lock;
  if (!LockDeviceFolder(lock, FDataLogFolder,
                        "KRVOLogViewer (process " + std::to_string(getpid()) + ")",
                        TLockMode::Shared))
    return false;
  // Events run while the groups are read: downloads and loads stay off.
  TLongWork work(*this);
  return AddFolderGroups(FDataLogFolder, builder, [this] { return PumpMessages(); });
}

void TForm1::OpenReport() {
  if (FDataLogFolder.empty()) {
    AppMessageBox(QMessageBox::Information,
                  QStringLiteral("Load a device's logs, or connect, to report on them."));
    return;
  }
  if (FReport.isNull())
    FReport = new TReportWindow([this](CReportBuilder& b) { return ReadReport(b); }, RangeStart(),
                                RangeEnd(), this);
  FReport->show();
  FReport->raise();
  FReport->activateWindow();
}

TReportWindow* TForm1::ReportWindow() const { return FReport; }
