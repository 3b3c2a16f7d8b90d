// KRVO Log Viewer: the desktop window.
// KRVOLogViewer --demo connects to the meter of CommSet.ini, downloads all
// groups and shows the first one, as an operator would with the mouse.
#include <QTimer>
#include <QTreeWidget>
#include <cstdio>
#include <cstring>

#include "app/window/FrmInfo.h"
#include "app/window/KrvoApplication.h"
#include "app/window/MessageBoxes.h"
#include "app/window/Unit1.h"
#include "meter/DataFolder.h"

namespace {

const char* const kUsage =
    "usage: KRVOLogViewer [--demo]\n"
    "\n"
    "The desktop window of KRVO Log Viewer: connects to a KRVO power meter over\n"
    "Modbus TCP, downloads its data logs over FTP, shows one group at a time and\n"
    "writes every group into an Excel workbook.\n"
    "\n"
    "options:\n"
    "  --demo         connect to the meter of CommSet.ini, download all groups and\n"
    "                 show the first one\n"
    "  -h, --help     print this help and exit\n"
    "  -V, --version  print the version and exit\n";

}  // namespace

int main(int argc, char** argv) {
  // Answered before Qt starts: they need no display.
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0 || std::strcmp(argv[i], "-V") == 0) {
      std::printf("KRVOLogViewer %s\n", KRVO_VERSION);
      return 0;
    }
  }
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
