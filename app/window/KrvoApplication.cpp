#include "app/window/KrvoApplication.h"

#include <clocale>
#include <exception>

#include "app/window/MessageBoxes.h"

KrvoApplication::KrvoApplication(int& argc, char** argv) : QApplication(argc, argv) {
  // Not setApplicationDisplayName: on X11 Qt would append it to every window title.
  setApplicationName(QStringLiteral("KRVO"));
  // Qt set the process locale from the environment; printf-based writers
  // (workbooks, profile files) must keep writing "3.5".
  std::setlocale(LC_NUMERIC, "C");
  InstallMeterMessageBoxes();
}

bool KrvoApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& e) {
    ShowError(e);
  } catch (...) {
    AppMessageBox(QMessageBox::Critical, QStringLiteral("Unknown error."));
  }
  return false;
}
