#pragma once
// The one seam for messages meant for the operator: the window shows them in
// a message box, krvo prints them to stderr (the default), tests collect them.
#include <functional>
#include <string>

using MessageBoxHandler = std::function<void(const std::string& text)>;

// Replaces the handler (empty restores the default) and returns the old one.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);
void ShowMessageBox(const std::string& text);
