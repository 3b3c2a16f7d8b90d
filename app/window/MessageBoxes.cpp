#include "app/window/MessageBoxes.h"

#include <QApplication>

#include "meter/UserMessages.h"

namespace {
MessageBoxHook g_hook;
}

MessageBoxHook SetMessageBoxHook(MessageBoxHook hook) {
  MessageBoxHook old = std::move(g_hook);
  g_hook = std::move(hook);
  return old;
}

void AppMessageBox(QMessageBox::Icon icon, const QString& text) {
  if (g_hook) {
    g_hook(icon, text);
    return;
  }
  QMessageBox box(icon, QStringLiteral("KRVO"), text, QMessageBox::Ok,
                  QApplication::activeWindow());
  box.exec();
}

void ShowError(const std::exception& e) {
  AppMessageBox(QMessageBox::Critical, QString::fromUtf8(e.what()));
}

void InstallMeterMessageBoxes() {
  SetMessageBoxHandler([](const std::string& text) {
    AppMessageBox(QMessageBox::Information, QString::fromStdString(text));
  });
}
