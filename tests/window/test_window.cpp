// The main window's controls and device session, driven headless against krvo-sim.
#include "tests/window/WindowFixture.h"

class TestWindow : public WindowTestBase {
  Q_OBJECT

 private slots:
  void init() { SetUpWindowTest(); }
  void cleanup() { TearDownWindowTest(); }

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
    QVERIFY(
        (f.frameGeometry().center() - f.screen()->availableGeometry().center()).manhattanLength() <=
        4);
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

  // Shrunk, the window keeps every control in reach; Return and Enter on
  // the button and in the address and port boxes press Connect.
  void minimumSizeAndReturn() {
    TestForm f;
    f.SetLogsLabel(QStringLiteral("Logs Number of a group with a long caption indeed:"));
    f.show();
    f.resize(300, 200);
    QCoreApplication::processEvents();
    const int width = f.centralWidget()->width();
    for (QWidget* w :
         std::initializer_list<QWidget*>{f.btnSaveAsLogs, f.btnPlot, f.edtLogsNumber, f.mmoDevInfo})
      QVERIFY2(w->geometry().right() < width, qPrintable(w->objectName()));
    QVERIFY(f.lv1->height() > 0);
    QVERIFY(f.tv1->height() > 0);

    f.edtIP->setText(QString());
    QTest::keyClick(f.btnConnect, Qt::Key_Return);
    QCOMPARE(f.createCalls, 1);
    QTest::keyClick(f.edtIP, Qt::Key_Enter);
    QCOMPARE(f.createCalls, 2);
    QTest::keyClick(f.sePort, Qt::Key_Return);
    QCOMPARE(f.createCalls, 3);
    QVERIFY(!f.FConnected);
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
    QCOMPARE(info.lbInfo->size(), QSize(297, 29));  // one line fits the design's label
    info.ShowInfo(QStringLiteral("Exporting Logs...\r\n/tmp/x.xlsx"));
    QCOMPARE(shows, 1);
    QCOMPARE(info.lbInfo->text(), QStringLiteral("Exporting Logs...\n/tmp/x.xlsx"));
    // Both lines whole with the font that is there, underscores included.
    const QString name = QStringLiteral("Exporting Logs...\n/tmp/Panel_A_20261209_1000_.xlsx");
    info.ShowInfo(name);
    const int need = info.lbInfo->fontMetrics()
                         .boundingRect(QRect(0, 0, 297, 1000), Qt::AlignLeft, name)
                         .height();
    QVERIFY(info.lbInfo->height() >= need);
    QCOMPARE(info.lbInfo->width(), 297);
    QVERIFY(info.lbInfo->geometry().bottom() < info.lbCancel->y());
    QVERIFY(info.lbCancel->geometry().bottom() < info.height());
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
