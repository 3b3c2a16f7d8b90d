#include "app/window/MessageBoxes.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>

#include "app/SaveAsName.h"
#include "meter/UserMessages.h"

namespace {
MessageBoxHook g_hook;
QuestionHook g_question;
SaveDialogHook g_saveDialog;
FolderDialogHook g_folderDialog;
}  // namespace

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

QuestionHook SetQuestionHook(QuestionHook hook) {
  QuestionHook old = std::move(g_question);
  g_question = std::move(hook);
  return old;
}

bool AppQuestion(const QString& text) {
  if (g_question) return g_question(text);
  QMessageBox box(QMessageBox::Question, QStringLiteral("KRVO"), text,
                  QMessageBox::Yes | QMessageBox::No, QApplication::activeWindow());
  return box.exec() == QMessageBox::Yes;
}

SaveDialogHook SetSaveDialogHook(SaveDialogHook hook) {
  SaveDialogHook old = std::move(g_saveDialog);
  g_saveDialog = std::move(hook);
  return old;
}

QString AppSaveDialog(QWidget* parent, const QString& defaultName) {
  if (g_saveDialog) return g_saveDialog(defaultName);
  QFileDialog dlg(parent);
  dlg.setAcceptMode(QFileDialog::AcceptSave);
  dlg.setNameFilter(QStringLiteral("Excel Workbook(*.xlsx)"));
  dlg.setDefaultSuffix(QStringLiteral("xlsx"));
  // The window asks its own overwrite question, as the operator knows it.
  dlg.setOption(QFileDialog::DontConfirmOverwrite);
  dlg.selectFile(defaultName);
  // dlgSave1TypeChange: a picked file type sets its extension on the name.
  QObject::connect(&dlg, &QFileDialog::filterSelected, &dlg, [&dlg](const QString& filter) {
    const int index = dlg.nameFilters().indexOf(filter) + 1;
    const QStringList files = dlg.selectedFiles();
    if (files.isEmpty()) return;
    std::string name = files.front().toStdString(), extension;
    if (!ExtensionForFileType(index, extension)) return;
    if (name.empty()) return;
    dlg.setDefaultSuffix(QString::fromStdString(extension.substr(1)));
    dlg.selectFile(QString::fromStdString(ReplaceExtension(name, extension)));
  });
  if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return {};
  return dlg.selectedFiles().front();
}

FolderDialogHook SetFolderDialogHook(FolderDialogHook hook) {
  FolderDialogHook old = std::move(g_folderDialog);
  g_folderDialog = std::move(hook);
  return old;
}

QString AppFolderDialog(QWidget* parent, const QString& caption, const QString& root) {
  if (g_folderDialog) return g_folderDialog(caption, root);
  QFileDialog dlg(parent, caption, root);
  dlg.setFileMode(QFileDialog::Directory);
  dlg.setOption(QFileDialog::ShowDirsOnly);
  dlg.setOption(QFileDialog::DontUseNativeDialog);  // the root can be kept only in Qt's own dialog
  const QString rootPath = QDir(root).absolutePath();
  QObject::connect(&dlg, &QFileDialog::directoryEntered, &dlg,
                   [&dlg, rootPath](const QString& dir) {
                     const QString abs = QDir(dir).absolutePath();
                     if (abs != rootPath && !abs.startsWith(rootPath + QLatin1Char('/')))
                       dlg.setDirectory(rootPath);
                   });
  if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return {};
  const QString chosen = QDir(dlg.selectedFiles().front()).absolutePath();
  if (chosen != rootPath && !chosen.startsWith(rootPath + QLatin1Char('/'))) return {};
  return chosen;
}

void ShowError(const std::exception& e) {
  AppMessageBox(QMessageBox::Critical, QString::fromUtf8(e.what()));
}

void InstallMeterMessageBoxes() {
  SetMessageBoxHandler([](const std::string& text) {
    AppMessageBox(QMessageBox::Information, QString::fromStdString(text));
  });
}
