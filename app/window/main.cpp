// KRVO Log Viewer: the desktop window.
// KRVOLogViewer --demo connects to the meter of CommSet.ini, downloads all
// groups and shows the first one, as an operator would with the mouse.
#include <QTimer>
#include <QTreeWidget>
#include <cstring>

#include "app/window/FrmInfo.h"
#include "app/window/KrvoApplication.h"
#include "app/window/MessageBoxes.h"
#include "app/window/Unit1.h"
#include "meter/DataFolder.h"

int main(int argc, char** argv) {
  KrvoApplication app(argc, argv);
  try {
    BaseFolder();
  } catch (const ENoDataFolder& e) {
    // No home to keep the mirrors in: say so rather than stop without a word.
    AppMessageBox(QMessageBox::Critical, QString::fromStdString(e.what()));
    return 1;
  }
  TForm1 form;
  TInfoForm info;
  InfoForm = &info;
  form.show();
  if (argc > 1 && std::strcmp(argv[1], "--demo") == 0) {
    QTimer::singleShot(300, &form, [&form] {
      Guarded([&form] {
        form.btnConnectClick();
        if (!form.FConnected || form.tv1->topLevelItemCount() == 0) return;
        form.mniDownload1Click();
        form.tv1->setCurrentItem(form.tv1->topLevelItem(0));
        form.mniDisplayCurrentGroupClick();
      });
    });
  }
  const int rc = app.exec();
  InfoForm = nullptr;
  return rc;
}
