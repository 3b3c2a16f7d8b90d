#pragma once
// The application object: title "KRVO", the C numeric locale for the process
// (number formatting in files must not follow the user's locale), and the
// default error display for errors that escape an event handler.
#include <QApplication>

class KrvoApplication : public QApplication {
 public:
  KrvoApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
};
