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

int main(int argc, char** argv) {
  KrvoApplication app(argc, argv);
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
