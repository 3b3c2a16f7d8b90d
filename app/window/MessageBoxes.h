#pragma once
// The window's one seam for message boxes: they carry the application title
// "KRVO" as caption; tests install a hook that answers them.
#include <QMessageBox>
#include <QString>
#include <exception>
#include <functional>

using MessageBoxHook = std::function<void(QMessageBox::Icon icon, const QString& text)>;

// Replaces the hook (empty: real message boxes) and returns the old one.
MessageBoxHook SetMessageBoxHook(MessageBoxHook hook);
void AppMessageBox(QMessageBox::Icon icon, const QString& text);

// A question with Yes and No buttons and the question icon; true for Yes.
using QuestionHook = std::function<bool(const QString& text)>;
QuestionHook SetQuestionHook(QuestionHook hook);
bool AppQuestion(const QString& text);

// The save dialog: the chosen path, or empty when the operator cancels.
using SaveDialogHook = std::function<QString(const QString& defaultName)>;
SaveDialogHook SetSaveDialogHook(SaveDialogHook hook);
QString AppSaveDialog(QWidget* parent, const QString& defaultName);

// The folder browser rooted at root: the chosen folder, or empty on cancel.
using FolderDialogHook = std::function<QString(const QString& caption, const QString& root)>;
FolderDialogHook SetFolderDialogHook(FolderDialogHook hook);
QString AppFolderDialog(QWidget* parent, const QString& caption, const QString& root);

// The default error display: an error that leaves a handler is shown with
// the error icon and its text, and the event loop goes on.
void ShowError(const std::exception& e);

// Runs a handler under the default error display.
template <typename F>
void Guarded(F&& handler) {
  try {
    handler();
  } catch (const std::exception& e) {
    ShowError(e);
  }
}

// Routes the meter model's operator messages into message boxes.
void InstallMeterMessageBoxes();
