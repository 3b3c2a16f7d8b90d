#include "meter/UserMessages.h"

#include <cstdio>

namespace {
MessageBoxHandler g_handler;
}

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
  MessageBoxHandler old = std::move(g_handler);
  g_handler = std::move(handler);
  return old;
}

void ShowMessageBox(const std::string& text) {
  if (g_handler) {
    g_handler(text);
  } else {
    std::fprintf(stderr, "%s\n", text.c_str());
  }
}
