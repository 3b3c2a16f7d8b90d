// The group tree's offline commands: "Load Offline File" (a device folder
// saved earlier, every group loaded and the workbook rebuilt) and "Display
// Selected Group".
#include <unistd.h>

#include <QAction>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QTableView>
#include <QTreeWidget>

#include "app/DeviceLock.h"
#include "app/OfflineLoad.h"
#include "app/window/MessageBoxes.h"
#include "app/window/Unit1.h"
#include "meter/DataFolder.h"

namespace {

class TWindowLoadView : public COfflineLoadView {
 public:
  explicit TWindowLoadView(TForm1& f) : f_(f) {}
  void ShowStatus(const std::string& text) override {
    f_.SetStatusText(1, QString::fromStdString(text));
  }
  void ShowMessage(const std::string& text) override {
    AppMessageBox(QMessageBox::NoIcon, QString::fromStdString(text));
  }
  void ShowError(const std::string& text) override {
    AppMessageBox(QMessageBox::Critical, QString::fromStdString(text));
  }
  bool Pump() override { return f_.PumpMessages(); }
  bool SelectGroup(int group, std::string& caption) override {
    // The node at position g, counting every node depth first.
    int i = 0;
    QTreeWidgetItem* pick = nullptr;
    for (int t = 0; t < f_.tv1->topLevelItemCount() && pick == nullptr; ++t) {
      QTreeWidgetItem* top = f_.tv1->topLevelItem(t);
      if (i++ == group) pick = top;
      for (int c = 0; c < top->childCount() && pick == nullptr; ++c)
        if (i++ == group) pick = top->child(c);
    }
    f_.tv1->setCurrentItem(pick);
    const QTreeWidgetItem* sel = f_.tv1->currentItem();
    if (sel == nullptr || sel->parent() != nullptr) return false;
    caption = sel->text(0).toStdString();
    return true;
  }
  void BeginGroup(int group, const std::string& caption) override {
    f_.edtLogsNumber->setText(QStringLiteral("0"));
    f_.SetLogsLabel(QStringLiteral("Logs Number of ") + QString::fromStdString(caption) +
                    QStringLiteral(":"));
    f_.PinTableGroup(group);
    f_.SetupLogColumns(group);
  }
  void ShowGroup(int, size_t records) override {
    f_.SetLogRowCount(records);
    f_.lv1->viewport()->update();
  }
  void SetTimeRange() override { f_.SetTimeRangeFromRecords(); }

 private:
  TForm1& f_;
};

}  // namespace

void TForm1::mniLoadOfflineFileClick() {
  if (longWork_) return;
  BuildGroupTree(0);
  mniOpen1Click();
}

void TForm1::mniOpen1Click() {
  if (longWork_ || FConnected) return;
  const QString chosen = AppFolderDialog(this, QStringLiteral("Open One Group Data Log:"),
                                         QString::fromStdString(BaseFolder()));
  if (chosen.isEmpty()) return;
  TWindowLoadView view(*this);
  const TPanelName names = PanelNames;
  const auto setups = GroupSetups;
  std::string folder;
  if (!OpenOfflineFolder(chosen.toStdString(), folder, view)) return;
  // The load rewrites the folder's workbook: not while krvo or another window writes the folder.
  CDeviceLock lock;
  if (!LockDeviceFolder(lock, folder, "KRVOLogViewer (process " + std::to_string(getpid()) + ")")) {
    // Not started: the table keeps showing what it showed, with its setup and names.
    PanelNames = names;
    GroupSetups = setups;
    return;
  }
  const TLongWork guard(*this);
  FDataLogFolder = folder;
  FWorkbookPath = WorkbookPathOf(folder);
  if (LoadAllGroups(folder, view)) SetDisplayGroupEnabled(true);
}

void TForm1::mniDisplayCurrentGroupClick() {
  if (longWork_) return;
  QTreeWidgetItem* node = tv1->currentItem();
  if (node == nullptr || node->parent() != nullptr) return;
  const int g = tv1->indexOfTopLevelItem(node);
  TWindowLoadView view(*this);
  view.BeginGroup(g, node->text(0).toStdString());
  LogRecords.Clear();
  {
    const TLongWork guard(*this);
    ReadGroupRecords(FDataLogFolder, g, [this] { return PumpMessages(); });
  }
  SetLogRowCount(LogRecords.Count());
  lv1->viewport()->update();
  SetTimeRangeFromRecords();
}
