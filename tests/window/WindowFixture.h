#pragma once
// What the window tests share: a window whose transports are counted, the
// message boxes collected instead of shown, a fresh data folder per test.
#include <QAbstractItemModelTester>
#include <QAction>
#include <QApplication>
#include <QDateTimeEdit>
#include <QFocusEvent>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSpinBox>
#include <QStatusBar>
#include <QStyleOptionSpinBox>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "app/window/FrmInfo.h"
#include "app/window/KrvoApplication.h"
#include "app/window/MessageBoxes.h"
#include "app/window/Unit1.h"
#include "meter/DataFolder.h"
#include "tests/support/Files.h"
#include "tests/support/Process.h"
#include "tests/support/Workbook.h"

struct Box {
  QMessageBox::Icon icon;
  QString text;
};

// A window whose transports are counted; the test may hand in its own.
class TestForm : public TForm1 {
 public:
  void CreateComm() override {
    ++createCalls;
    const bool had = FComm != nullptr;
    TForm1::CreateComm();
    if (!had && FComm) ++transportsMade;
  }
  int createCalls = 0;
  int transportsMade = 0;
};

inline void WriteCommSet(const std::string& modbusPort, int ftpPort,
                         const std::string& ip = "127.0.0.1") {
  WriteAll(BaseFolder() + "CommSet.ini",
           "[ConnectPara]\nIP=" + ip + "\nMODBUSTCPPort=" + modbusPort +
               "\nFTPPort=" + std::to_string(ftpPort) + "\nFilePauseMs=10\n");
}

inline QStringList TreeCaptions(const QTreeWidget* tree) {
  QStringList out;
  for (int i = 0; i < tree->topLevelItemCount(); ++i) out << tree->topLevelItem(i)->text(0);
  return out;
}

// Each test's fixture: call SetUpWindowTest from init() and
// TearDownWindowTest from cleanup().
class WindowTestBase : public QObject {
 protected:
  void SetUpWindowTest() {
    data_ = std::make_unique<TempDir>();
    setenv("KRVO_DATA_DIR", data_->Path().c_str(), 1);
    boxes_.clear();
    SetMessageBoxHook([this](QMessageBox::Icon icon, const QString& text) {
      boxes_.push_back({icon, text});
    });
    PanelNames = TPanelName{};
  }
  void TearDownWindowTest() {
    SetMessageBoxHook({});
    data_.reset();
  }

  std::unique_ptr<TempDir> data_;
  std::vector<Box> boxes_;
};
