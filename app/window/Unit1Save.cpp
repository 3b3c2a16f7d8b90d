// The working workbook and "Save As...": the copy of it to a file the
// operator chooses, under the busy notice.
#include <sys/stat.h>

#include <QAction>
#include <QPushButton>
#include <QTreeWidget>
#include <cstdio>
#include <ctime>

#include "app/SaveAsName.h"
#include "app/Workbook.h"
#include "app/window/FrmInfo.h"
#include "app/window/MessageBoxes.h"
#include "app/window/Unit1.h"
#include "meter/DataFolder.h"
#include "meter/FileReplace.h"

namespace {

// The same file under any spelling of its path, or through a hard link.
bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa {
  }, sb{};
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

}  // namespace

TWorkbookUpdate TForm1::UpdateWorkbook(CWorkbookBuild& build, int group) {
  return ::UpdateWorkbook(build, group, [this] { return PumpMessages(); });
}

void TForm1::mniSave1Click() {
  if (tv1->currentItem() == nullptr) {
    AppMessageBox(QMessageBox::NoIcon, QStringLiteral("Please Load Datalog File first."));
    return;
  }
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  const QString proposed = QString::fromStdString(DefaultExportName(PanelNames.DeviceName, local));
  QString target;
  for (;;) {
    target = AppSaveDialog(this, proposed);
    if (target.isEmpty()) return;
    if (!FWorkbookPath.empty() && SameFile(target.toStdString(), FWorkbookPath)) {
      // Replacing the working workbook with itself would delete it first.
      AppMessageBox(QMessageBox::Critical, QStringLiteral("Exporting Logs Failed."));
      return;
    }
    if (!FileExists(target.toStdString())) break;
    if (AppQuestion(QStringLiteral("There is already a file with the same name in this "
                                   "location,Confirm to replace it?"))) {
      std::remove(target.toLocal8Bit().constData());
      break;
    }
  }
  if (InfoForm != nullptr) InfoForm->ShowInfo(QStringLiteral("Exporting Logs...\r\n") + target);
  // The copy lands under a temporary name and is renamed into place, never
  // over a file that is still there.
  const bool ok = !FWorkbookPath.empty() && FileExists(FWorkbookPath) &&
                  CopyFileReplacing(FWorkbookPath, target.toStdString(), true);
  if (ok) {
    AppMessageBox(QMessageBox::Information, QStringLiteral("Exporting Logs Successed."));
  } else {
    AppMessageBox(QMessageBox::Critical, QStringLiteral("Exporting Logs Failed."));
  }
  if (InfoForm != nullptr) InfoForm->close();
}
