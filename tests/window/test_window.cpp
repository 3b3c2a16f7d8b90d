// The main window and the busy notice, driven headless against krvo-sim.
#include <QAbstractItemModelTester>
#include <QAction>
#include <QApplication>
#include <QFocusEvent>
#include <QScreen>
#include <QHeaderView>
#include <QDateTimeEdit>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRegularExpression>
#include <QStyleOptionSpinBox>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
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

namespace {

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

void WriteCommSet(const std::string& modbusPort, int ftpPort, const std::string& ip = "127.0.0.1") {
  WriteAll(BaseFolder() + "CommSet.ini",
           "[ConnectPara]\nIP=" + ip + "\nMODBUSTCPPort=" + modbusPort +
               "\nFTPPort=" + std::to_string(ftpPort) + "\nFilePauseMs=10\n");
}

QStringList TreeCaptions(const QTreeWidget* tree) {
  QStringList out;
  for (int i = 0; i < tree->topLevelItemCount(); ++i) out << tree->topLevelItem(i)->text(0);
  return out;
}

}  // namespace

class TestWindow : public QObject {
  Q_OBJECT

  std::unique_ptr<TempDir> data_;
  std::vector<Box> boxes_;

 private slots:
  void init() {
    data_ = std::make_unique<TempDir>();
    setenv("KRVO_DATA_DIR", data_->Path().c_str(), 1);
    boxes_.clear();
    SetMessageBoxHook([this](QMessageBox::Icon icon, const QString& text) {
      boxes_.push_back({icon, text});
    });
    PanelNames = TPanelName{};
  }

  void cleanup() {
    SetMessageBoxHook({});
    data_.reset();
  }

  void controlsAtStart() {
    TestForm f;
    QCOMPARE(f.windowTitle(), QStringLiteral("KRVO Log Viewer_V1.0.1.12"));
    QCOMPARE(f.size(), QSize(896, 581));
    QCOMPARE(f.edtIP->text(), QStringLiteral("127.0.0.1"));
    QCOMPARE(f.sePort->value(), 502);
    QCOMPARE(f.btnConnect->text(), QStringLiteral("Connect"));
    QCOMPARE(f.btnConnect->geometry(), QRect(8, 59, 75, 25));
    QCOMPARE(f.edtIP->geometry(), QRect(78, 7, 105, 21));
    QCOMPARE(f.lbl2->text(), QStringLiteral("Device IP:"));
    QCOMPARE(f.lbl3->text(), QStringLiteral("Modbus Port:"));
    QCOMPARE(f.lbl1->text(), QStringLiteral("Start Time: "));
    QCOMPARE(f.lbl4->text(), QStringLiteral("End Time: "));
    QCOMPARE(f.lblLogsNumber->text(), QStringLiteral("Logs Number:"));
    QCOMPARE(f.lbl5->text(), QStringLiteral("DataLog Group (Right-Click to download logs):"));
    QCOMPARE(f.edtLogsNumber->text(), QStringLiteral("0"));
    QVERIFY(!f.edtLogsNumber->isEnabled());
    QCOMPARE(f.btnSaveAsLogs->text(), QStringLiteral("Save As..."));
    QVERIFY(f.btnEnergyBill->isHidden());
    QCOMPARE(f.btnEnergyBill->text(), QStringLiteral("DownLoad EnergyBill"));
    QCOMPARE(f.tv1->toolTip(), QStringLiteral("Right-Click to download logs from KRVO via FTP"));
    QCOMPARE(f.tv1->topLevelItemCount(), 0);
    QCOMPARE(f.lv1->model()->rowCount(), 0);
    QVERIFY(f.mmoDevInfo->isReadOnly());
    for (QDateTimeEdit* p : {f.dtp1, f.dtp2, f.dtp3, f.dtp4}) {
      QVERIFY(!p->isEnabled());
      QVERIFY(qAbs(p->dateTime().secsTo(TForm1::WallClockNow())) < 60);
    }
    QCOMPARE(f.dtp1->minimumDate(), QDate(2000, 1, 1));
    QCOMPARE(f.dtp3->minimumDate(), QDate(2000, 1, 1));

    QCOMPARE(f.pmTv1->actions().size(), 4);
    QCOMPARE(f.mniDownload1->text(), QStringLiteral("Download All Group"));
    QVERIFY(!f.mniDownload1->isVisible());
    QCOMPARE(f.mniDownloadNew->text(), QStringLiteral("Download New Files"));
    QVERIFY(!f.mniDownloadNew->isVisible());
    QCOMPARE(f.mniDisplayCurrentGroup->text(), QStringLiteral("Display Selected Group"));
    QVERIFY(!f.mniDisplayCurrentGroup->isEnabled());
    QCOMPARE(f.mniLoadOfflineFile->text(), QStringLiteral("Load Offline File"));
    QVERIFY(!f.mniFile1->menuAction()->isVisible());
    QVERIFY(!f.mniReadLog1->menuAction()->isVisible());
    QCOMPARE(f.mniOpen1->text(), QStringLiteral("Open..."));
    QCOMPARE(f.mniExit1->text(), QStringLiteral("Exit"));
    QVERIFY(f.mniDatalog1->isChecked());
    QVERIFY(!f.mniEnergyBill1->isChecked());
    QCOMPARE(f.tmr1->interval(), 3000);
    QVERIFY(f.tmr1->isActive());
    QCOMPARE(f.StatusPanel[0]->width(), 200);
    QCOMPARE(f.StatusPanel[1]->width(), 500);
    QCOMPARE(f.StatusPanel[2]->width(), 50);
    QCOMPARE(f.ProgressBar1->parentWidget(), f.StatusBar1);
    QCOMPARE(f.ProgressBar1->value(), 0);
    QVERIFY(!FileExists(BaseFolder() + "CommSet.ini"));  // only an edit writes it
    QVERIFY(boxes_.empty());  // filling the pickers at start is no edit to check

    // The memo, the tree and the table follow the window's edges.
    f.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f));
    // Centred on its screen.
    QVERIFY((f.frameGeometry().center() - f.screen()->availableGeometry().center())
                .manhattanLength() <= 4);
    const QRect memo = f.mmoDevInfo->geometry(), tree = f.tv1->geometry(),
                table = f.lv1->geometry();
    f.resize(996, 681);
    QTRY_COMPARE(f.mmoDevInfo->width(), memo.width() + 100);
    QCOMPARE(f.mmoDevInfo->height(), memo.height());
    QCOMPARE(f.tv1->width(), tree.width());
    QCOMPARE(f.tv1->height(), tree.height() + 100);
    QCOMPARE(f.lv1->width(), table.width() + 100);
    QCOMPARE(f.lv1->height(), table.height() + 100);
    QCOMPARE(f.btnConnect->geometry(), QRect(8, 59, 75, 25));
  }

  void ipEditsRewriteCommSet() {
    TestForm f;
    const std::string path = BaseFolder() + "CommSet.ini";
    f.edtIP->setText(QStringLiteral("10.0.0."));
    QCOMPARE(QString::fromStdString(ReadAll(path)),
             QStringLiteral("[ConnectPara]\nIP=10.0.0.\nMODBUSTCPPort=502\n"));
    QTest::keyClicks(f.edtIP, "5");
    QVERIFY(ReadAll(path).find("IP=10.0.0.5\n") != std::string::npos);
    // The port box alone changes nothing; the next IP edit takes its value.
    f.sePort->setValue(1502);
    QVERIFY(ReadAll(path).find("MODBUSTCPPort=502\n") != std::string::npos);
    QCOMPARE(f.FModbusPort, std::string("502"));
    QTest::keyClick(f.edtIP, Qt::Key_Backspace);
    QCOMPARE(QString::fromStdString(ReadAll(path)),
             QStringLiteral("[ConnectPara]\nIP=10.0.0.\nMODBUSTCPPort=1502\n"));

    // A new window starts from the file.
    TestForm g;
    QCOMPARE(g.edtIP->text(), QStringLiteral("10.0.0."));
    QCOMPARE(g.sePort->value(), 1502);
  }

  void ipAddressCheck() {
    for (const char* bad : {"192.168.1.256", "1.2.3", "1.2.3.4.5", "1..2.3", "1.2.3.4 ", "",
                            "a.b.c.d", "-1.2.3.4", "1.2.3.99999999999"})
      QVERIFY2(!TForm1::IsValidIP(bad), bad);
    for (const char* good : {"010.0.0.1", "0.0.0.0", "255.255.255.255", "192.168.1.10"})
      QVERIFY2(TForm1::IsValidIP(good), good);

    TestForm f;
    f.edtIP->setText(QStringLiteral("1.2.3"));
    f.edtIPExit();
    QCOMPARE(boxes_.size(), size_t{1});
    QCOMPARE(boxes_[0].icon, QMessageBox::Critical);
    QCOMPARE(boxes_[0].text,
             QStringLiteral(
                 "Invalid IP. IP format is xxx.xxx.xxx.xxx, and xxx should be less than 256."));
    QCOMPARE(f.edtIP->text(), QStringLiteral("1.2.3"));  // the text stays
    f.edtIP->setText(QStringLiteral("010.0.0.1"));
    f.edtIPExit();
    QCOMPARE(boxes_.size(), size_t{1});

    // Leaving the box checks it only when the operator moves on within the
    // window: not for its context menu, another window, or closing.
    f.edtIP->setText(QStringLiteral("1.2.3"));
    for (Qt::FocusReason why : {Qt::PopupFocusReason, Qt::ActiveWindowFocusReason,
                                Qt::OtherFocusReason, Qt::MouseFocusReason, Qt::TabFocusReason}) {
      QFocusEvent out(QEvent::FocusOut, why);
      QApplication::sendEvent(f.edtIP, &out);
    }
    QCOMPARE(boxes_.size(), size_t{3});
    f.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f));
    f.edtIP->setFocus();
    f.close();
    QCOMPARE(boxes_.size(), size_t{3});
  }

  void aStoredPortThatIsNoNumberIsThePortShown() {
    WriteCommSet("5o2", 21);
    TestForm f;
    QCOMPARE(f.sePort->value(), 502);
    QCOMPARE(f.FModbusPort, std::string("502"));  // what Connect uses
  }

  void theProbeEndsQuietlyWithTheSessionOrTheWindow() {
    {
      // Disconnect while the probe waits for the server's login reply.
      SimProcess sim({"--ftp-hold-reply", "USER"});
      WriteCommSet(std::to_string(sim.ModbusPort()), sim.FtpPort());
      TestForm f;
      QTimer::singleShot(300, f.btnConnect, &QPushButton::click);
      QTest::mouseClick(f.btnConnect, Qt::LeftButton);
      QVERIFY2(boxes_.empty(), boxes_.empty() ? "" : qPrintable(boxes_[0].text));
      QVERIFY(!f.FConnected);
      QCOMPARE(f.StatusText(1), QStringLiteral("Disconnected with Device successed."));
      QCOMPARE(f.tv1->topLevelItemCount(), 0);
    }
    {
      // The window closes meanwhile: no box outlives it.
      SimProcess sim({"--ftp-hold-reply", "USER"});
      WriteCommSet(std::to_string(sim.ModbusPort()), sim.FtpPort());
      TestForm f;
      f.show();
      QVERIFY(QTest::qWaitForWindowExposed(&f));
      QTimer::singleShot(300, &f, [&f] { f.close(); });
      QTest::mouseClick(f.btnConnect, Qt::LeftButton);
      QVERIFY2(boxes_.empty(), boxes_.empty() ? "" : qPrintable(boxes_[0].text));
      QVERIFY(!f.isVisible());
    }
  }

  void everyClickOnTheTreeRunsTv1Click() {
    TestForm f;
    f.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f));
    f.BuildGroupTree(0);
    QTreeWidgetItem* file = new QTreeWidgetItem(QStringList{"20261201.dat"});
    f.tv1->topLevelItem(2)->addChild(file);
    f.tv1->expandAll();
    QCOMPARE(f.tv1->currentItem(), f.tv1->topLevelItem(0));
    const QPoint empty(5, f.tv1->viewport()->height() - 5);
    QVERIFY(!f.tv1->itemAt(empty));

    // A click in the empty area: the current node stays, and the menu follows it.
    f.mniDownload1->setVisible(true);  // as in a session: a hidden item is never enabled
    f.mniDownload1->setEnabled(false);
    QTest::mouseClick(f.tv1->viewport(), Qt::LeftButton, {}, empty);
    QCOMPARE(f.tv1->currentItem(), f.tv1->topLevelItem(0));
    QVERIFY(f.mniDownload1->isEnabled());
    // A right-click on a node makes it current before its menu opens.
    QTest::mouseClick(f.tv1->viewport(), Qt::RightButton, {}, f.tv1->visualItemRect(file).center());
    f.pmTv1->hide();
    QCOMPARE(f.tv1->currentItem(), file);
    QCOMPARE(f.CurrentGroup(), 2);
    QVERIFY(!f.mniDownload1->isEnabled());
    QTest::mouseClick(f.tv1->viewport(), Qt::RightButton, {}, empty);
    f.pmTv1->hide();
    QCOMPARE(f.tv1->currentItem(), file);
    QVERIFY(!f.mniDownload1->isEnabled());
  }

  void connectFailures() {
    {
      TestForm f;
      f.edtIP->setText(QString());
      QTest::mouseClick(f.btnConnect, Qt::LeftButton);
      QCOMPARE(boxes_.size(), size_t{1});
      QCOMPARE(boxes_[0].text, QStringLiteral("Can not to Connect with KRVO."));
      QCOMPARE(boxes_[0].icon, QMessageBox::Critical);
      QCOMPARE(f.StatusText(1), QStringLiteral("Can not to Connect with KRVO."));
      QVERIFY(!f.FComm);
      QCOMPARE(f.transportsMade, 0);
      QVERIFY(!f.FConnected);
    }
    boxes_.clear();
    {
      // Nobody listens: two quick attempts, each with a fresh transport, none left behind.
      SimProcess sim;
      const std::string port = std::to_string(sim.ModbusPort());
      sim.Stop();
      WriteCommSet(port, 21);
      TestForm f;
      QTest::mouseClick(f.btnConnect, Qt::LeftButton);
      QVERIFY(!f.FComm);
      QTest::mouseClick(f.btnConnect, Qt::LeftButton);
      QVERIFY(!f.FComm);
      QCOMPARE(f.transportsMade, 2);
      QCOMPARE(boxes_.size(), size_t{2});
      QCOMPARE(f.btnConnect->text(), QStringLiteral("Connect"));
      QVERIFY(f.edtIP->isEnabled());
    }
  }

  void goodConnectAndDisconnect() {
    SimProcess sim({"--device-name", "Meter A"});
    WriteCommSet(std::to_string(sim.ModbusPort()), sim.FtpPort());
    TestForm f;
    QTest::mouseClick(f.btnConnect, Qt::LeftButton);
    QVERIFY2(boxes_.empty(), boxes_.empty() ? "" : qPrintable(boxes_[0].text));
    QVERIFY(f.FConnected);
    const QStringList memo = f.mmoDevInfo->toPlainText().split('\n');
    QCOMPARE(memo.size(), 3);
    QVERIFY(memo[0].startsWith(QStringLiteral("Device Time: ")));
    QCOMPARE(memo[1], QStringLiteral("Device Model: KRVO-PMC84 Multi-Circuit Meter"));
    QCOMPARE(memo[2],
             QStringLiteral("Firmware Version: V1.02.03, Firmware Date: 2026-03-15, Modbus "
                            "Version: V1.0, Web Version: V1.2, S/N: 0000012345 "));
    QCOMPARE(f.btnConnect->text(), QStringLiteral("Disconnect"));
    QVERIFY(!f.edtIP->isEnabled());
    QVERIFY(!f.sePort->isEnabled());
    QVERIFY(f.mniDownload1->isVisible());
    QVERIFY(!f.mniOpen1->isEnabled());
    QVERIFY(!f.mniLoadOfflineFile->isEnabled());
    QVERIFY(!f.mniDisplayCurrentGroup->isEnabled());
    QCOMPARE(TreeCaptions(f.tv1),
             (QStringList{"Group 01", "Group 02", "Group 03", "Group 04", "Group 05", "Group 06",
                          "Group 07", "Group 08", "Group 09", "Group 10"}));
    QCOMPARE(f.tv1->currentItem(), f.tv1->topLevelItem(0));
    QVERIFY(FileExists(data_->Path() + "/Meter A/DataLog/DataLogSetup.ini"));
    QCOMPARE(f.FWorkbookPath, data_->Path() + "/Meter A/DataLog/template.xlsx");
    QCOMPARE(f.StatusText(1), QStringLiteral("FTP: Disconnected."));  // the probe's closing text
    QVERIFY(!f.IsFtpConnected());

    // A file node is no group: the download item goes off for it.
    f.tv1->topLevelItem(2)->addChild(new QTreeWidgetItem(QStringList{"20261201.dat"}));
    f.tv1->setCurrentItem(f.tv1->topLevelItem(2)->child(0));
    f.tv1Click();
    QVERIFY(!f.mniDownload1->isEnabled());
    f.tv1->setCurrentItem(f.tv1->topLevelItem(2));
    f.tv1Click();
    QVERIFY(f.mniDownload1->isEnabled());

    QTest::mouseClick(f.btnConnect, Qt::LeftButton);
    QVERIFY(!f.FConnected);
    QVERIFY(!f.FComm);
    QVERIFY(!f.FMeter);
    QCOMPARE(f.btnConnect->text(), QStringLiteral("Connect"));
    QVERIFY(f.edtIP->isEnabled());
    QVERIFY(f.sePort->isEnabled());
    QVERIFY(!f.mniDownload1->isVisible());
    QVERIFY(f.mniOpen1->isEnabled());
    QVERIFY(f.mniLoadOfflineFile->isEnabled());
    QCOMPARE(f.StatusText(1), QStringLiteral("Disconnected with Device successed."));
    QVERIFY(boxes_.empty());
  }

  void refusedFtpLoginKeepsTheModbusSession() {
    SimProcess sim({"--ftp-refuse-login"});
    WriteCommSet(std::to_string(sim.ModbusPort()), sim.FtpPort());
    TestForm f;
    QTest::mouseClick(f.btnConnect, Qt::LeftButton);
    QCOMPARE(boxes_.size(), size_t{1});
    QCOMPARE(boxes_[0].icon, QMessageBox::Critical);
    QCOMPARE(boxes_[0].text, QStringLiteral("Login incorrect."));
    QVERIFY(f.FConnected);
    QVERIFY(f.FComm && f.FComm->isopen());
    QCOMPARE(f.tv1->topLevelItemCount(), 0);
    QCOMPARE(f.mmoDevInfo->toPlainText().split('\n').size(), 3);
  }

  void errorsLeavingAHandlerAreShown() {
    // A firmware date that does not exist: the conversion error reaches the
    // default error display, and the window goes on with the session open.
    SimProcess sim({"--firmware-date", "2026-02-30"});
    WriteCommSet(std::to_string(sim.ModbusPort()), sim.FtpPort());
    TestForm f;
    QTest::mouseClick(f.btnConnect, Qt::LeftButton);
    QCOMPARE(boxes_.size(), size_t{1});
    QCOMPARE(boxes_[0].text, QStringLiteral("Invalid argument to date encode"));
    QVERIFY(f.FConnected);
    QCOMPARE(f.mmoDevInfo->toPlainText().split('\n').size(), 1);  // the clock line stays
  }

  void watchdogClosesASilentSession() {
    // The clock answers, then nothing: the identity fails at connect, and the
    // watchdog's next read closes the session.
    SimProcess sim({"--stop-after", "1"});
    WriteCommSet(std::to_string(sim.ModbusPort()), sim.FtpPort());
    TestForm f;
    QTest::mouseClick(f.btnConnect, Qt::LeftButton);
    QVERIFY(f.FConnected);
    QVERIFY(f.mmoDevInfo->toPlainText().endsWith(QStringLiteral("Read Device infomation fail.")));
    QTRY_VERIFY_WITH_TIMEOUT(!f.FConnected, 15000);
    QCOMPARE(f.StatusText(1), QStringLiteral("Disconnected with Device successed."));
    QVERIFY(!f.FComm);
    QCOMPARE(f.btnConnect->text(), QStringLiteral("Connect"));
    QVERIFY(boxes_.empty());
  }

  void watchdogRefreshesAHealthySession() {
    SimProcess sim;
    WriteCommSet(std::to_string(sim.ModbusPort()), sim.FtpPort());
    TestForm f;
    QTest::mouseClick(f.btnConnect, Qt::LeftButton);
    const QString first = f.mmoDevInfo->toPlainText().split('\n')[0];
    QTRY_VERIFY_WITH_TIMEOUT(f.mmoDevInfo->toPlainText().split('\n')[0] != first, 8000);
    QVERIFY(f.FConnected);
    QCOMPARE(f.mmoDevInfo->toPlainText().split('\n').size(), 3);
  }

  void logTable() {
    TestForm f;
    GroupSetups = {};
    TDataLogSetup& g = GroupSetups[2];
    g.KeyNum = 4;
    const uint16_t keys[4] = {1, 10, 0, 205};
    std::copy(keys, keys + 4, g.keyArr);
    LogRecords.Clear();
    LogRecords.SetKeyCount(4);
    auto add = [](int y, int mo, int d, int h, double first) {
      double* v = LogRecords.Add(TSystemTime{static_cast<uint16_t>(y), static_cast<uint16_t>(mo), 0,
                                             static_cast<uint16_t>(d), static_cast<uint16_t>(h), 0, 0, 0});
      v[0] = first;
      v[1] = 0.987;
      v[2] = -2147483648.0;
      v[3] = 1e-5;
    };
    add(2026, 12, 3, 10, 230.5);
    add(2026, 12, 1, 10, 229);
    add(2026, 2, 30, 0, 1);  // no such day: stays put and splits the sort
    add(2026, 12, 7, 8, 231);
    add(2026, 12, 5, 9, 232);

    f.BuildGroupTree(0);
    f.tv1->setCurrentItem(f.tv1->topLevelItem(2));
    f.SetupLogColumns(2);
    QAbstractItemModelTester tester(f.lv1->model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    QAbstractItemModel* m = f.lv1->model();
    QCOMPARE(m->columnCount(), 6);
    QCOMPARE(m->rowCount(), 0);
    QStringList captions;
    for (int c = 0; c < m->columnCount(); ++c) captions << m->headerData(c, Qt::Horizontal).toString();
    QCOMPARE(captions, (QStringList{"No.", "TimeStamp", "Voltage-I Ua", "Mains-I  Ia", "None",
                                    "1-Phase SM#01 Loading"}));
    QCOMPARE(f.lv1->columnWidth(1), 180);
    QCOMPARE(f.lv1->columnWidth(2), 96);  // 12 characters
    f.SetLogRowCount(LogRecords.Count());
    QCOMPARE(f.edtLogsNumber->text(), QStringLiteral("5"));
    auto cell = [m](int r, int c) { return m->data(m->index(r, c)).toString(); };
    QCOMPARE(cell(0, 0), QStringLiteral("1"));
    QCOMPARE(cell(0, 1), QStringLiteral("2026-12-03 10:00:00"));
    QCOMPARE(cell(0, 2), QStringLiteral("230.5"));
    QCOMPARE(cell(0, 3), QStringLiteral("0.987"));
    QCOMPARE(cell(0, 4), QStringLiteral("--"));
    QCOMPARE(cell(0, 5), QStringLiteral("1E-5"));
    QCOMPARE(cell(2, 1), QStringLiteral("Invalid Time"));

    // Clicks on "TimeStamp": oldest first, then newest first; other headers do nothing.
    auto times = [&] {
      QStringList t;
      for (int r = 0; r < m->rowCount(); ++r) t << cell(r, 1).left(10);
      return t;
    };
    emit f.lv1->horizontalHeader()->sectionClicked(0);
    QCOMPARE(times()[0], QStringLiteral("2026-12-03"));
    emit f.lv1->horizontalHeader()->sectionClicked(1);
    QCOMPARE(times(), (QStringList{"2026-12-01", "2026-12-03", "Invalid Ti", "2026-12-05", "2026-12-07"}));
    QCOMPARE(cell(0, 0), QStringLiteral("1"));
    QCOMPARE(cell(0, 2), QStringLiteral("229"));
    emit f.lv1->horizontalHeader()->sectionClicked(1);
    QCOMPARE(times(), (QStringList{"2026-12-03", "2026-12-01", "Invalid Ti", "2026-12-07", "2026-12-05"}));

    // The pickers span the first and the last record, earlier one first.
    f.SetTimeRangeFromRecords();
    QCOMPARE(f.RangeStart(), QDateTime(QDate(2026, 12, 3), QTime(10, 0), Qt::UTC));
    QCOMPARE(f.RangeEnd(), QDateTime(QDate(2026, 12, 5), QTime(9, 0), Qt::UTC));
    QCOMPARE(f.dtp1->dateTime(), QDateTime(QDate(2026, 12, 3), QTime(10, 0), Qt::UTC));
    QVERIFY(boxes_.empty());
    // Start after end: the warning, and the start is set back to the end.
    f.dtp1->setDate(QDate(2026, 12, 9));
    QCOMPARE(boxes_.size(), size_t{1});
    QCOMPARE(boxes_[0].icon, QMessageBox::Warning);
    QCOMPARE(boxes_[0].text, QStringLiteral("Start Time must be less than End Time."));
    QCOMPARE(f.RangeStart(), f.RangeEnd());
    QVERIFY(f.CheckTimeRange());  // equal is accepted
    QCOMPARE(boxes_.size(), size_t{1});

    // No node selected: rows get no value cells.
    f.tv1->setCurrentItem(nullptr);
    QCOMPARE(cell(0, 2), QString());
    QCOMPARE(cell(0, 1), QStringLiteral("2026-12-03 10:00:00"));

    // A first record without a valid time: the conversion error, pickers kept.
    std::swap(LogRecords.Items()[0], LogRecords.Items()[2]);
    try {
      f.SetTimeRangeFromRecords();
      QFAIL("no error");
    } catch (const EConvertError& e) {
      QCOMPARE(QString::fromUtf8(e.what()), QStringLiteral("Invalid argument to date encode"));
    }
    QCOMPARE(f.RangeEnd(), QDateTime(QDate(2026, 12, 5), QTime(9, 0), Qt::UTC));

    // Empty list: the pickers show now; the table is empty again.
    LogRecords.Clear();
    f.SetTimeRangeFromRecords();
    QVERIFY(qAbs(f.RangeEnd().secsTo(TForm1::WallClockNow())) < 60);
    f.SetupLogColumns(0);
    QCOMPARE(m->columnCount(), 2);
    QCOMPARE(f.edtLogsNumber->text(), QStringLiteral("0"));
  }

  void pickersKeepWallClockTimesInEveryTimeZone() {
    // Records inside Berlin's daylight-saving gap (02:00-03:00 on 2026-03-29).
    const QByteArray oldTz = qgetenv("TZ");
    qputenv("TZ", "Europe/Berlin");
    tzset();
    TestForm f;
    GroupSetups = {};
    LogRecords.Clear();
    for (int minute : {30, 50}) LogRecords.Add({2026, 3, 0, 29, 2, static_cast<uint16_t>(minute), 0, 0});
    f.SetTimeRangeFromRecords();
    QCOMPARE(f.dtp1->text(), QStringLiteral("2026-03-29"));
    QCOMPARE(f.dtp2->text(), QStringLiteral("02:30:00"));
    QCOMPARE(f.dtp3->text(), QStringLiteral("2026-03-29"));
    QCOMPARE(f.dtp4->text(), QStringLiteral("02:50:00"));
    QVERIFY(f.CheckTimeRange());
    QVERIFY(boxes_.empty());
    // The whole text of a picker fits beside its button.
    for (QDateTimeEdit* p : {f.dtp1, f.dtp2}) {
      QStyleOptionSpinBox opt;
      opt.initFrom(p);
      opt.subControls = QStyle::SC_SpinBoxEditField;
      const QRect field = p->style()->subControlRect(QStyle::CC_SpinBox, &opt, QStyle::SC_SpinBoxEditField, p);
      QVERIFY2(field.width() >= p->fontMetrics().horizontalAdvance(p->text()), qPrintable(p->text()));
    }
    // Rows as high as a report list's, not the style's taller default.
    QVERIFY(f.lv1->verticalHeader()->defaultSectionSize() <= 20);
    QVERIFY(f.lv1->verticalHeader()->defaultSectionSize() > f.lv1->fontMetrics().height());
    LogRecords.Clear();
    if (oldTz.isNull()) {
      qunsetenv("TZ");
    } else {
      qputenv("TZ", oldTz);
    }
    tzset();
  }

  void saveAsCopiesTheWorkbook() {
    TestForm f;
    TInfoForm info;
    InfoForm = &info;
    std::vector<QString> proposed;
    std::vector<QString> answers;  // the dialog's answers, in turn; empty: cancel
    SetSaveDialogHook([&](const QString& name) {
      proposed.push_back(name);
      if (answers.empty()) return QString();
      QString a = answers.front();
      answers.erase(answers.begin());
      return a;
    });
    std::vector<bool> replies;
    int questions = 0;
    QString question;
    SetQuestionHook([&](const QString& text) {
      ++questions;
      question = text;
      const bool yes = replies.front();
      replies.erase(replies.begin());
      return yes;
    });
    QString noticeDuringCopy;
    SetMessageBoxHook([&](QMessageBox::Icon icon, const QString& text) {
      boxes_.push_back({icon, text});
      if (info.isVisible()) noticeDuringCopy = info.lbInfo->text();
    });

    // No node selected.
    QTest::mouseClick(f.btnSaveAsLogs, Qt::LeftButton);
    QCOMPARE(boxes_.size(), size_t{1});
    QCOMPARE(boxes_[0].text, QStringLiteral("Please Load Datalog File first."));
    QVERIFY(proposed.empty());

    f.BuildGroupTree(0);
    PanelNames.DeviceName = "Meter A";
    const std::string dir = data_->Path();
    f.FWorkbookPath = dir + "/Meter A/DataLog/template.xlsx";
    const QString target = QString::fromStdString(dir + "/out.xlsx");

    // Cancel: nothing written, nothing said.
    boxes_.clear();
    f.mniSave1Click();
    QCOMPARE(proposed.size(), size_t{1});
    QVERIFY(QRegularExpression(QStringLiteral("^Meter A_\\d{8}_\\d{4}_\\.xlsx$")).match(proposed[0]).hasMatch());
    QVERIFY(boxes_.empty());
    QVERIFY(!FileExists(target.toStdString()));

    // No working workbook yet.
    answers = {target};
    f.mniSave1Click();
    QCOMPARE(boxes_.size(), size_t{1});
    QCOMPARE(boxes_[0].icon, QMessageBox::Critical);
    QCOMPARE(boxes_[0].text, QStringLiteral("Exporting Logs Failed."));
    QVERIFY(!FileExists(target.toStdString()));
    QVERIFY(!info.isVisible());

    // An existing target: No shows the dialog again; Yes replaces it.
    ForceFolders(dir + "/Meter A/DataLog");
    WriteAll(f.FWorkbookPath, "the workbook");
    WriteAll(target.toStdString(), "older");
    boxes_.clear();
    proposed.clear();
    answers = {target, target};
    replies = {false, true};
    f.mniSave1Click();
    QCOMPARE(proposed.size(), size_t{2});
    QCOMPARE(questions, 2);
    QCOMPARE(question, QStringLiteral(
                           "There is already a file with the same name in this location,Confirm to replace it?"));
    QCOMPARE(boxes_.size(), size_t{1});
    QCOMPARE(boxes_[0].icon, QMessageBox::Information);
    QCOMPARE(boxes_[0].text, QStringLiteral("Exporting Logs Successed."));
    QCOMPARE(noticeDuringCopy, QStringLiteral("Exporting Logs...\n") + target);
    QVERIFY(!info.isVisible());
    QCOMPARE(ReadAll(target.toStdString()), std::string("the workbook"));

    SetSaveDialogHook({});
    SetQuestionHook({});
    InfoForm = nullptr;
    PanelNames = TPanelName{};
  }

  void closingStopsABigSheetWithoutBreakingTheWorkbook() {
    TestForm f;
    f.show();
    GroupSetups = {};
    GroupSetups[0].KeyNum = 64;
    for (int j = 0; j < 64; ++j) GroupSetups[0].keyArr[j] = static_cast<uint16_t>(1 + j);
    f.FWorkbookPath = data_->Path() + "/template.xlsx";
    QVERIFY(f.UpdateWorkbook(-1).Written);
    const std::string before = ReadAll(f.FWorkbookPath);
    LogRecords.Clear();
    LogRecords.SetKeyCount(64);
    for (int i = 0; i < 200000; ++i) {
      double* v = LogRecords.Add({2026, 12, 0, 1, 0, 0, 0, 0});
      for (int j = 0; j < 64; ++j) v[j] = i + j / 100.0;
    }
    // Events run while the sheet is written; the first one closes the window.
    int ticks = 0;
    QTimer tick;
    connect(&tick, &QTimer::timeout, [&] {
      if (++ticks == 1) f.close();
    });
    tick.start(0);
    const TWorkbookUpdate u = f.UpdateWorkbook(0);
    QVERIFY(ticks >= 1);
    QVERIFY(u.Stopped);
    QVERIFY(!u.Written);
    QCOMPARE(ReadAll(f.FWorkbookPath), before);
    for (const auto& e : std::filesystem::directory_iterator(data_->Path()))
      QVERIFY2(e.path().filename().string().find(".~krvo") == std::string::npos, e.path().c_str());
    LogRecords.Clear();
  }

  void downloadThenLoadOffline() {
    // Modbus from the simulator; FTP from pyftpdlib serving files named as
    // operators find them (mixed case, an upper-case extension).
    const std::string served = data_->Path() + "/served";
    for (const char* f : {"b.dat", "DATA.DAT", "a.dat", "C.dat"}) {
      std::filesystem::create_directories(served + "/DataLog/Group1");
      AppendAll(served + "/DataLog/Group1/" + f,
                DatRecord({22000, static_cast<int32_t>(f[0])}, {26, 12, 1, 8, 0, static_cast<uint8_t>(f[0] % 60)}));
    }
    std::filesystem::create_directories(served + "/DataLog/Group2");
    AppendAll(served + "/DataLog/Group2/x.dat", DatRecord({1}, {26, 12, 2, 0, 0, 0}));
    PyFtpdProcess ftp(served);
    SimProcess sim({"--device-name", "Meter A", "--group", "1:60:1,10", "--group", "2:60:1"});
    WriteCommSet(std::to_string(sim.ModbusPort()), ftp.Port());
    TestForm f;
    QTest::mouseClick(f.btnConnect, Qt::LeftButton);
    QVERIFY2(boxes_.empty(), boxes_.empty() ? "" : qPrintable(boxes_[0].text));
    const std::string mirror = data_->Path() + "/Meter A/DataLog";
    WriteAll(mirror + "/stale.txt", "from an earlier download");

    // While it runs, the commands that would change the folder are off.
    bool offDuringWork = true;
    int seenDuringWork = 0;
    QTimer watch;
    connect(&watch, &QTimer::timeout, [&] {
      if (!f.LongWorkRunning()) return;
      ++seenDuringWork;
      offDuringWork = offDuringWork && !f.mniDownload1->isEnabled() && !f.mniDisplayCurrentGroup->isEnabled() &&
                      !f.mniLoadOfflineFile->isEnabled() && !f.btnSaveAsLogs->isEnabled();
    });
    watch.start(0);
    f.mniDownload1->trigger();
    watch.stop();
    QVERIFY(seenDuringWork > 0);
    QVERIFY(offDuringWork);

    QCOMPARE(boxes_.size(), size_t{1});
    QCOMPARE(boxes_[0].icon, QMessageBox::Information);
    QVERIFY(QRegularExpression(QStringLiteral("^Finished to download logs, elapsed time: 00:00:\\d\\d$"))
                .match(boxes_[0].text)
                .hasMatch());
    QCOMPARE(f.StatusText(1), boxes_[0].text);
    QStringList children;
    for (int c = 0; c < f.tv1->topLevelItem(0)->childCount(); ++c) children << f.tv1->topLevelItem(0)->child(c)->text(0);
    QCOMPARE(children, (QStringList{"a", "b", "C", "DATA"}));  // case-insensitive order, ".dat" gone
    QCOMPARE(f.tv1->topLevelItem(1)->childCount(), 1);
    QCOMPARE(f.tv1->currentItem(), f.tv1->topLevelItem(0));
    QVERIFY(f.mniDisplayCurrentGroup->isEnabled());
    QVERIFY(f.mniDownload1->isEnabled());
    QVERIFY(f.btnSaveAsLogs->isEnabled());
    QVERIFY(!FileExists(mirror + "/stale.txt"));
    QCOMPARE(ReadAll(mirror + "/Group1/DATA.DAT"), ReadAll(served + "/DataLog/Group1/DATA.DAT"));
    QVERIFY(FileExists(mirror + "/template.xlsx"));

    f.mniDisplayCurrentGroup->trigger();
    QCOMPARE(f.lblLogsNumber->text(), QStringLiteral("Logs Number of Group 01:"));
    QCOMPARE(f.edtLogsNumber->text(), QStringLiteral("4"));
    QCOMPARE(boxes_.size(), size_t{1});
    QCOMPARE(f.lv1->model()->columnCount(), 4);

    // Only what is new: one more day on the meter; the rest stays as it is.
    AppendAll(served + "/DataLog/Group1/d.dat", DatRecord({22100, 1}, {26, 12, 3, 8, 0, 0}));
    const auto before = std::filesystem::last_write_time(mirror + "/Group1/a.dat");
    boxes_.clear();
    f.mniDownloadNew->trigger();
    QCOMPARE(boxes_.size(), size_t{1});
    QVERIFY(boxes_[0].text.startsWith(QStringLiteral("Finished to download new files, elapsed time: ")));
    QCOMPARE(f.tv1->topLevelItem(0)->childCount(), 5);
    QCOMPARE(std::filesystem::last_write_time(mirror + "/Group1/a.dat"), before);
    QCOMPARE(ReadAll(mirror + "/Group1/d.dat"), ReadAll(served + "/DataLog/Group1/d.dat"));
    QVERIFY(f.mniDownloadNew->isEnabled());

    // Offline: the three refusals, then the folder just downloaded.
    QTest::mouseClick(f.btnConnect, Qt::LeftButton);  // disconnect
    std::vector<QString> chosen;
    QStringList asked;
    SetFolderDialogHook([&](const QString& caption, const QString& root) {
      asked << caption + QStringLiteral("|") + QString::fromStdString(WithSeparator(root.toStdString()));
      QString c = chosen.front();
      chosen.erase(chosen.begin());
      return c;
    });
    const QString base = QString::fromStdString(data_->Path());
    std::filesystem::create_directories(data_->Path() + "/DataLog");
    std::filesystem::copy(mirror + "/DataLogSetup.ini", data_->Path() + "/DataLog/DataLogSetup.ini");
    std::filesystem::create_directories(data_->Path() + "/Other/DataLog");
    chosen = {base + "/Meter A", base + "/DataLog", base + "/Other/DataLog", QString()};
    boxes_.clear();
    for (int i = 0; i < 4; ++i) f.mniLoadOfflineFile->trigger();
    QCOMPARE(boxes_.size(), size_t{3});
    QCOMPARE(asked.size(), 4);
    QCOMPARE(asked[0], QStringLiteral("Open One Group Data Log:|") + QString::fromStdString(BaseFolder()));
    QCOMPARE(boxes_[0].text, base + "/Meter A\n\nGet *.dat file failed.\nPlease select a path containing with 'DataLog'.");
    QCOMPARE(boxes_[1].text, base + "/DataLog/\n\nIt not be found Device Name.\nPlease select a path containing with KVRO Decive Name.");
    QVERIFY(boxes_[2].text.contains(QStringLiteral("Not find file DataLogSetup.ini.")));
    QCOMPARE(f.tv1->topLevelItemCount(), 10);  // rebuilt, without the file nodes
    QCOMPARE(f.tv1->topLevelItem(0)->childCount(), 0);

    std::remove((mirror + "/template.xlsx").c_str());
    boxes_.clear();
    chosen = {base + "/Meter A/DataLog/Group1"};
    f.mniLoadOfflineFile->trigger();
    QVERIFY2(boxes_.empty(), boxes_.empty() ? "" : qPrintable(boxes_[0].text));
    QCOMPARE(f.StatusText(1), QStringLiteral("Finished to load logs."));
    QCOMPARE(f.tv1->currentItem(), f.tv1->topLevelItem(9));
    QCOMPARE(f.lblLogsNumber->text(), QStringLiteral("Logs Number of Group 10:"));
    QVERIFY(f.mniDisplayCurrentGroup->isEnabled());
    QCOMPARE(f.FWorkbookPath, mirror + "/template.xlsx");
    const WorkbookDump book = DumpWorkbook(f.FWorkbookPath, 3);
    QCOMPARE(book.Cell("Panel Name!B1").Value, std::string("'Meter A'"));
    QCOMPARE(book.Size.at("Data Log #01").first, 6);
    QCOMPARE(book.Sheets[2], std::string("Data Log #02"));
    f.tv1->setCurrentItem(f.tv1->topLevelItem(1));
    f.mniDisplayCurrentGroup->trigger();
    QCOMPARE(f.edtLogsNumber->text(), QStringLiteral("1"));
    SetFolderDialogHook({});
  }

  void disconnectDuringADownloadAndAnEmptyTree() {
    SimProcess sim({"--records", "200", "--group", "1:3600:1"});
    WriteCommSet(std::to_string(sim.ModbusPort()), sim.FtpPort());
    // The pauses after each file let events run: Disconnect is pressed in one.
    TestForm f;
    QTest::mouseClick(f.btnConnect, Qt::LeftButton);
    QVERIFY(f.FConnected);
    QTimer press;
    connect(&press, &QTimer::timeout, [&] {
      if (f.FConnected && f.tv1->topLevelItem(0)->childCount() >= 2) QTest::mouseClick(f.btnConnect, Qt::LeftButton);
    });
    press.start(0);
    f.mniDownload1->trigger();
    press.stop();
    QVERIFY(!f.FConnected);
    QVERIFY(boxes_.empty());  // no final message
    const int kept = f.tv1->topLevelItem(0)->childCount();
    QVERIFY(kept >= 2);
    QVERIFY(kept < 9);  // 200 hourly records make nine day files
    int files = 0;
    for (const auto& e : std::filesystem::directory_iterator(data_->Path() + "/Panel A/DataLog/Group1")) {
      QVERIFY(std::filesystem::file_size(e.path()) > 0);
      ++files;
    }
    QVERIFY(files >= kept);
    QVERIFY(f.mniLoadOfflineFile->isEnabled());

    // No FTP server: the tree stays empty, and a download says "Invalid index"
    // before it touches the earlier files.
    SimProcess noFtp({"--ftp-port", "-1"});
    WriteCommSet(std::to_string(noFtp.ModbusPort()), 1);
    TestForm g;
    QTest::mouseClick(g.btnConnect, Qt::LeftButton);
    QCOMPARE(g.tv1->topLevelItemCount(), 0);
    boxes_.clear();
    g.mniDownload1->trigger();
    QCOMPARE(boxes_.size(), size_t{1});
    QCOMPARE(boxes_[0].text, QStringLiteral("Invalid index"));
    QCOMPARE(std::distance(std::filesystem::directory_iterator(data_->Path() + "/Panel A/DataLog/Group1"),
                           std::filesystem::directory_iterator()),
             static_cast<std::ptrdiff_t>(files));
    QVERIFY(!g.mniDownload1->isEnabled());
  }

  void busyNotice() {
    TInfoForm info;
    QCOMPARE(info.size(), QSize(345, 76));
    QVERIFY(info.windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(info.lbInfo->geometry(), QRect(48, 24, 297, 29));
    QCOMPARE(info.lbInfo->text(), QString::fromUtf8("正在通信,请稍候......"));
    QCOMPARE(info.lbInfo->font().family(), QStringLiteral("Tahoma"));
    QCOMPARE(info.lbInfo->font().pixelSize(), 13);
    QCOMPARE(info.lbCancel->geometry(), QRect(296, 56, 41, 17));
    QCOMPARE(info.lbCancel->text(), QString::fromUtf8("取消"));
    QVERIFY(info.lbCancel->isHidden());
    QVERIFY(!info.isVisible());
    QVERIFY(!info.Cancelled);

    int shows = 0, paints = 0;
    struct Counter : QObject {
      int* shows;
      int* paints;
      bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Show) ++*shows;
        if (e->type() == QEvent::Paint) ++*paints;
        return false;
      }
    } counter;
    counter.shows = &shows;
    counter.paints = &paints;
    info.installEventFilter(&counter);

    info.ShowInfo(QStringLiteral("first"));
    QVERIFY(info.isVisible());
    QCOMPARE(shows, 1);
    QVERIFY(paints >= 1);  // painted before the caller holds the event loop
    info.ShowInfo(QStringLiteral("Exporting Logs...\r\n/tmp/x.xlsx"));
    QCOMPARE(shows, 1);
    QCOMPARE(info.lbInfo->text(), QStringLiteral("Exporting Logs...\n/tmp/x.xlsx"));
    info.close();
    QVERIFY(!info.isVisible());
    info.ShowInfo(QStringLiteral("again"));
    QCOMPARE(shows, 2);
    info.lbCancel->show();
    QTest::mouseClick(info.lbCancel, Qt::LeftButton);
    QVERIFY(info.Cancelled);
  }
};

int main(int argc, char** argv) {
  KrvoApplication app(argc, argv);
  TestWindow tests;
  return QTest::qExec(&tests, argc, argv);
}

#include "test_window.moc"
