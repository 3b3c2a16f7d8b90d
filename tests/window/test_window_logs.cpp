// The window's logs: the table, Save As, the workbook's writing, the download
// and the offline load, driven headless against krvo-sim and pyftpdlib.
#include <unistd.h>

#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QTableWidget>
#include <map>

#include "app/DeviceLock.h"
#include "app/report/Report.h"
#include "app/window/ReportWindow.h"
#include "tests/window/WindowFixture.h"

class TestWindowLogs : public WindowTestBase {
  Q_OBJECT

 private slots:
  void init() { SetUpWindowTest(); }
  void cleanup() { TearDownWindowTest(); }

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
      double* v =
          LogRecords.Add(TSystemTime{static_cast<uint16_t>(y), static_cast<uint16_t>(mo), 0,
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
    QAbstractItemModelTester tester(f.lv1->model(),
                                    QAbstractItemModelTester::FailureReportingMode::QtTest);
    QAbstractItemModel* m = f.lv1->model();
    QCOMPARE(m->columnCount(), 6);
    QCOMPARE(m->rowCount(), 0);
    QStringList captions;
    for (int c = 0; c < m->columnCount(); ++c)
      captions << m->headerData(c, Qt::Horizontal).toString();
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
    QCOMPARE(times(),
             (QStringList{"2026-12-01", "2026-12-03", "Invalid Ti", "2026-12-05", "2026-12-07"}));
    QCOMPARE(cell(0, 0), QStringLiteral("1"));
    QCOMPARE(cell(0, 2), QStringLiteral("229"));
    emit f.lv1->horizontalHeader()->sectionClicked(1);
    QCOMPARE(times(),
             (QStringList{"2026-12-03", "2026-12-01", "Invalid Ti", "2026-12-07", "2026-12-05"}));

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
    for (int minute : {30, 50})
      LogRecords.Add({2026, 3, 0, 29, 2, static_cast<uint16_t>(minute), 0, 0});
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
      const QRect field =
          p->style()->subControlRect(QStyle::CC_SpinBox, &opt, QStyle::SC_SpinBoxEditField, p);
      QVERIFY2(field.width() >= p->fontMetrics().horizontalAdvance(p->text()),
               qPrintable(p->text()));
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
    QVERIFY(QRegularExpression(QStringLiteral("^Meter A_\\d{8}_\\d{4}_\\.xlsx$"))
                .match(proposed[0])
                .hasMatch());
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
    QCOMPARE(
        question,
        QStringLiteral(
            "There is already a file with the same name in this location,Confirm to replace it?"));
    QCOMPARE(boxes_.size(), size_t{1});
    QCOMPARE(boxes_[0].icon, QMessageBox::Information);
    QCOMPARE(boxes_[0].text, QStringLiteral("Exporting Logs Successed."));
    QCOMPARE(noticeDuringCopy, QStringLiteral("Exporting Logs...\n") + target);
    QVERIFY(!info.isVisible());
    QCOMPARE(ReadAll(target.toStdString()), std::string("the workbook"));

    // The working workbook itself, spelt otherwise or through a hard link: refused, nothing
    // deleted.
    const std::string link = dir + "/link.xlsx";
    std::filesystem::create_hard_link(f.FWorkbookPath, link);
    for (const std::string& self : {dir + "/Meter A/./DataLog/../DataLog/template.xlsx", link}) {
      boxes_.clear();
      questions = 0;
      answers = {QString::fromStdString(self)};
      replies = {true};
      f.mniSave1Click();
      QCOMPARE(ReadAll(f.FWorkbookPath), std::string("the workbook"));
      QVERIFY(FileExists(link));
      QCOMPARE(boxes_.size(), size_t{1});
      QCOMPARE(boxes_[0].icon, QMessageBox::Critical);
      QCOMPARE(boxes_[0].text, QStringLiteral("Exporting Logs Failed."));
      QCOMPARE(questions, 0);
    }

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
    {
      CWorkbookBuild first(f.FWorkbookPath);
      QVERIFY(f.UpdateWorkbook(first, -1).Written);
      QVERIFY(first.Commit());
    }
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
    {
      // As a load does: its build ends with the stop, uncommitted.
      CWorkbookBuild build(f.FWorkbookPath);
      QVERIFY(f.UpdateWorkbook(build, -1).Written);
      tick.start(0);
      const TWorkbookUpdate u = f.UpdateWorkbook(build, 0);
      QVERIFY(ticks >= 1);
      QVERIFY(u.Stopped);
      QVERIFY(!u.Written);
    }
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
                DatRecord({22000, static_cast<int32_t>(f[0])},
                          {26, 12, 1, 8, 0, static_cast<uint8_t>(f[0] % 60)}));
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
      offDuringWork = offDuringWork && !f.mniDownload1->isEnabled() &&
                      !f.mniDisplayCurrentGroup->isEnabled() &&
                      !f.mniLoadOfflineFile->isEnabled() && !f.btnSaveAsLogs->isEnabled();
    });
    watch.start(0);
    f.mniDownload1->trigger();
    watch.stop();
    QVERIFY(seenDuringWork > 0);
    QVERIFY(offDuringWork);

    QCOMPARE(boxes_.size(), size_t{1});
    QCOMPARE(boxes_[0].icon, QMessageBox::Information);
    QVERIFY(QRegularExpression(
                QStringLiteral("^Finished to download logs, elapsed time: 00:00:\\d\\d$"))
                .match(boxes_[0].text)
                .hasMatch());
    QCOMPARE(f.StatusText(1), boxes_[0].text);
    QStringList children;
    for (int c = 0; c < f.tv1->topLevelItem(0)->childCount(); ++c)
      children << f.tv1->topLevelItem(0)->child(c)->text(0);
    QCOMPARE(children,
             (QStringList{"a", "b", "C", "DATA"}));  // case-insensitive order, ".dat" gone
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
    QVERIFY(boxes_[0].text.startsWith(
        QStringLiteral("Finished to download new files, elapsed time: ")));
    QCOMPARE(f.tv1->topLevelItem(0)->childCount(), 5);
    QCOMPARE(std::filesystem::last_write_time(mirror + "/Group1/a.dat"), before);
    QCOMPARE(ReadAll(mirror + "/Group1/d.dat"), ReadAll(served + "/DataLog/Group1/d.dat"));
    QVERIFY(f.mniDownloadNew->isEnabled());

    // Offline: the three refusals, then the folder just downloaded.
    QTest::mouseClick(f.btnConnect, Qt::LeftButton);  // disconnect
    std::vector<QString> chosen;
    QStringList asked;
    SetFolderDialogHook([&](const QString& caption, const QString& root) {
      asked << caption + QStringLiteral("|") +
                   QString::fromStdString(WithSeparator(root.toStdString()));
      QString c = chosen.front();
      chosen.erase(chosen.begin());
      return c;
    });
    const QString base = QString::fromStdString(data_->Path());
    std::filesystem::create_directories(data_->Path() + "/DataLog");
    std::filesystem::copy(mirror + "/DataLogSetup.ini",
                          data_->Path() + "/DataLog/DataLogSetup.ini");
    std::filesystem::create_directories(data_->Path() + "/Other/DataLog");
    chosen = {base + "/Meter A", base + "/DataLog", base + "/Other/DataLog", QString()};
    boxes_.clear();
    for (int i = 0; i < 4; ++i) f.mniLoadOfflineFile->trigger();
    QCOMPARE(boxes_.size(), size_t{3});
    QCOMPARE(asked.size(), 4);
    QCOMPARE(asked[0],
             QStringLiteral("Open One Group Data Log:|") + QString::fromStdString(BaseFolder()));
    QCOMPARE(
        boxes_[0].text,
        base +
            "/Meter A\n\nGet *.dat file failed.\nPlease select a path containing with 'DataLog'.");
    QCOMPARE(boxes_[1].text, base +
                                 "/DataLog/\n\nIt not be found Device Name.\nPlease select a path "
                                 "containing with KVRO Decive Name.");
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

  void theDeviceLockKeepsOtherWritersOut() {
    SimProcess sim({"--device-name", "Meter A", "--records", "48", "--group", "1:3600:1"});
    WriteCommSet(std::to_string(sim.ModbusPort()), sim.FtpPort());
    TestForm f;
    QTest::mouseClick(f.btnConnect, Qt::LeftButton);
    QVERIFY(f.FConnected);
    const std::string device = data_->Path() + "/Meter A";
    const std::string mirror = device + "/DataLog/";
    auto folder = [&] {
      std::map<std::string, std::string> files;
      for (const auto& e : std::filesystem::recursive_directory_iterator(device))
        if (e.is_regular_file()) files[e.path().string()] = ReadAll(e.path().string());
      return files;
    };
    // Who holds the lock while the window works (a reader's probe leaves the holder's note alone).
    std::string heldBy;
    QTimer watch;
    connect(&watch, &QTimer::timeout, [&] {
      if (!f.LongWorkRunning() || !heldBy.empty()) return;
      CDeviceLock probe;
      std::string holder, error;
      if (!probe.TryAcquire(mirror, "probe", holder, error, TLockMode::Shared)) heldBy = holder;
    });
    const QString refused = QStringLiteral(
        "The folder of \"Meter A\" is being written by 127.0.0.1:5020. Try again when it has "
        "finished.");

    // Another program writes the folder: neither download starts, and the box names it.
    auto other = std::make_unique<CDeviceLock>();
    std::string holder, error;
    QVERIFY(other->TryAcquire(mirror, "127.0.0.1:5020", holder, error));
    auto before = folder();
    for (QAction* download : {f.mniDownload1, f.mniDownloadNew}) {
      boxes_.clear();
      download->trigger();
      QCOMPARE(boxes_.size(), size_t{1});
      QCOMPARE(boxes_[0].icon, QMessageBox::Critical);
      QCOMPARE(boxes_[0].text, refused);
      QVERIFY(folder() == before);
    }
    // Free: the window's download holds it under its meter's name, and lets go at the end.
    other.reset();
    boxes_.clear();
    watch.start(0);
    f.mniDownload1->trigger();
    watch.stop();
    QCOMPARE(boxes_.size(), size_t{1});
    QVERIFY2(boxes_[0].text.startsWith(QStringLiteral("Finished to download logs")),
             qPrintable(boxes_[0].text));
    QCOMPARE(heldBy, "127.0.0.1:" + std::to_string(sim.ModbusPort()));
    QVERIFY(CDeviceLock().TryAcquire(mirror, "test", holder, error));

    // The offline load of the same folder.
    QTest::mouseClick(f.btnConnect, Qt::LeftButton);  // disconnect
    SetFolderDialogHook(
        [&](const QString&, const QString&) { return QString::fromStdString(mirror); });
    other = std::make_unique<CDeviceLock>();
    QVERIFY(other->TryAcquire(mirror, "127.0.0.1:5020", holder, error));
    before = folder();
    boxes_.clear();
    f.mniLoadOfflineFile->trigger();
    QCOMPARE(boxes_.size(), size_t{1});
    QCOMPARE(boxes_[0].text, refused);
    QVERIFY(folder() == before);
    QVERIFY(f.StatusText(1) != QStringLiteral("Finished to load logs."));
    other.reset();
    boxes_.clear();
    heldBy.clear();
    watch.start(0);
    f.mniLoadOfflineFile->trigger();
    watch.stop();
    QVERIFY2(boxes_.empty(), boxes_.empty() ? "" : qPrintable(boxes_[0].text));
    QCOMPARE(f.StatusText(1), QStringLiteral("Finished to load logs."));
    QCOMPARE(heldBy, "KRVOLogViewer (process " + std::to_string(getpid()) + ")");
    QVERIFY(CDeviceLock().TryAcquire(mirror, "test", holder, error));
    SetFolderDialogHook({});

    // The report reads the folder: not while another program writes it.
    other = std::make_unique<CDeviceLock>();
    QVERIFY(other->TryAcquire(mirror, "127.0.0.1:5020", holder, error));
    boxes_.clear();
    CReportBuilder refusedReport{TReportOptions{}};
    QVERIFY(!f.ReadReport(refusedReport));
    QCOMPARE(boxes_.size(), size_t{1});
    QCOMPARE(boxes_[0].text, refused);
    other.reset();
    boxes_.clear();
    CReportBuilder report{TReportOptions{}};
    QVERIFY(f.ReadReport(report));
    QVERIFY(boxes_.empty());
  }

  void aClickElsewhereDuringADownloadAndTheStatusBar() {
    SimProcess sim({"--records", "200", "--group", "1:3600:1,10,20", "--group", "5:3600:1"});
    WriteCommSet(std::to_string(sim.ModbusPort()), sim.FtpPort());
    TestForm f;
    f.show();
    QTest::mouseClick(f.btnConnect, Qt::LeftButton);
    QVERIFY(f.FConnected);
    // Group 05 is clicked while Group 01 downloads; Group 01's third value
    // column is read right after.
    QTreeWidgetItem* group5 = f.tv1->topLevelItem(4);
    bool clicked = false;
    QString thirdValue;
    QTimer press;
    connect(&press, &QTimer::timeout, [&] {
      if (clicked || f.tv1->topLevelItem(0)->childCount() < 2) return;
      clicked = true;
      QTest::mouseClick(f.tv1->viewport(), Qt::LeftButton, {},
                        f.tv1->visualItemRect(group5).center());
      thirdValue = f.lv1->model()->index(0, 4).data().toString();
    });
    press.start(0);
    f.mniDownload1->trigger();
    press.stop();
    QVERIFY(clicked);
    QVERIFY2(!thirdValue.isEmpty(), "the table took the clicked group's key count");
    QCOMPARE(boxes_.size(), size_t{1});

    // Each group's nodes are its own files, every one of them.
    for (int g : {1, 5}) {
      const std::string folder = data_->Path() + "/Panel A/DataLog/Group" + std::to_string(g);
      QSet<QString> files, nodes;
      for (const auto& e : std::filesystem::directory_iterator(folder))
        files << QString::fromStdString(e.path().stem().string());  // nodes drop ".dat"
      const QTreeWidgetItem* top = f.tv1->topLevelItem(g - 1);
      for (int c = 0; c < top->childCount(); ++c) nodes << top->child(c)->text(0);
      QCOMPARE(files.size(), 9);  // 200 hourly records make nine day files
      QCOMPARE(nodes, files);
    }

    // At rest the bar is empty, not a busy sweep; the panels' whole texts are in
    // their tooltips, and the last panel takes the room to its right.
    QVERIFY(f.ProgressBar1->maximum() > 0);
    QCOMPARE(f.ProgressBar1->value(), 0);
    QCOMPARE(f.StatusPanel[1]->toolTip(), f.StatusText(1));
    f.SetStatusText(2, QStringLiteral("Get file failed: /a/long/path/Group1/20261201.dat"));
    QCOMPARE(f.StatusPanel[2]->toolTip(), f.StatusText(2));
    f.resize(1400, f.height());
    QCoreApplication::processEvents();
    QVERIFY2(f.StatusPanel[2]->geometry().right() > f.StatusBar1->width() - 40,
             qPrintable(QString::number(f.StatusPanel[2]->geometry().right())));
  }

  void anotherMeterOfTheSameNameIsAskedAbout() {
    const std::string setupFile = data_->Path() + "/Panel A/DataLog/DataLogSetup.ini";
    {
      SimProcess first({"--serial", "111", "--records", "30", "--group", "1:3600:1"});
      WriteCommSet(std::to_string(first.ModbusPort()), first.FtpPort());
      TestForm f;
      QTest::mouseClick(f.btnConnect, Qt::LeftButton);
      f.mniDownload1->trigger();
      QCOMPARE(boxes_.size(), size_t{1});
    }
    const std::string firstSetup = ReadAll(setupFile);
    QVERIFY(firstSetup.find("SerialNumber=111") != std::string::npos);
    auto files = [&] {
      std::map<std::string, std::string> all;
      for (const auto& e :
           std::filesystem::recursive_directory_iterator(data_->Path() + "/Panel A"))
        if (e.is_regular_file() &&
            e.path().filename() != "DataLog.lock")  // the lock leaves its note
          all[e.path().string()] = ReadAll(e.path().string());
      return all;
    };
    const auto before = files();

    // Another meter, the same device name, other names and logs.
    SimProcess second({"--serial", "222", "--mains1-name", "Other mains", "--records", "50",
                       "--group", "1:3600:1,10"});
    WriteCommSet(std::to_string(second.ModbusPort()), second.FtpPort());
    TestForm g;
    QTest::mouseClick(g.btnConnect, Qt::LeftButton);
    QVERIFY(g.FConnected);
    QVERIFY(files() == before);  // connecting writes nothing over the first meter's folder
    QString asked;
    bool reply = false;
    SetQuestionHook([&](const QString& text) {
      asked = text;
      return reply;
    });
    boxes_.clear();
    g.mniDownload1->trigger();
    QVERIFY2(asked.contains(QStringLiteral("serial number 111")) &&
                 asked.contains(QStringLiteral("is 222")),
             qPrintable(asked));
    QCOMPARE(boxes_.size(), size_t{1});
    QVERIFY2(boxes_[0].text.endsWith(QStringLiteral("Nothing was downloaded.")),
             qPrintable(boxes_[0].text));
    QVERIFY(files() == before);

    reply = true;
    boxes_.clear();
    g.mniDownload1->trigger();
    SetQuestionHook({});
    QCOMPARE(boxes_.size(), size_t{1});
    QVERIFY2(boxes_[0].text.startsWith(QStringLiteral("Finished to download logs")),
             qPrintable(boxes_[0].text));
    const std::string secondSetup = ReadAll(setupFile);
    QVERIFY(secondSetup.find("SerialNumber=222") != std::string::npos);
    QVERIFY(secondSetup.find("Other mains") != std::string::npos);
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
      if (f.FConnected && f.tv1->topLevelItem(0)->childCount() >= 2)
        QTest::mouseClick(f.btnConnect, Qt::LeftButton);
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
    for (const auto& e :
         std::filesystem::directory_iterator(data_->Path() + "/Panel A/DataLog/Group1")) {
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
    QCOMPARE(std::distance(
                 std::filesystem::directory_iterator(data_->Path() + "/Panel A/DataLog/Group1"),
                 std::filesystem::directory_iterator()),
             static_cast<std::ptrdiff_t>(files));
    QVERIFY(!g.mniDownload1->isEnabled());
  }

  void reportOfTheLoadedFolder() {
    // Two days of hourly readings of branch 1's kWh register: a tenth an hour
    // on the first day, three tenths on the second; and its kW.
    const std::string dataLog = data_->Path() + "/Site/DataLog/";
    std::filesystem::create_directories(dataLog + "Group1");
    WriteAll(dataLog + "DataLogSetup.ini",
             "[PanelName]\nDeviceName=Site\nBranchName1=Pump Room\n"
             "[Group0]\nTimeInterval=3600\nKeyNum=2\nkeyArr00=2010\nkeyArr01=201\n");
    std::vector<int32_t> kwh;
    for (int h = 0; h < 48; ++h) {
      kwh.push_back(h == 0 ? 1000 : kwh.back() + (h <= 24 ? 1 : 3));
      AppendAll(dataLog + "Group1/a.dat",
                DatRecord({kwh.back(), 500 + h}, {26, 3, static_cast<uint8_t>(1 + h / 24),
                                                  static_cast<uint8_t>(h % 24), 0, 0}));
    }
    auto consumption = [&](int first, int last) {  // increments of the pairs from first to last
      double sum = 0;
      for (int h = first; h < last; ++h)
        sum += kwh[static_cast<size_t>(h + 1)] / 10.0 - kwh[static_cast<size_t>(h)] / 10.0;
      return sum;
    };
    SetFolderDialogHook(
        [&](const QString&, const QString&) { return QString::fromStdString(dataLog); });
    TestForm f;
    f.mniLoadOfflineFile->trigger();
    QCOMPARE(f.StatusText(1), QStringLiteral("Finished to load logs."));
    const size_t shown = LogRecords.Count();
    QTest::mouseClick(f.btnReport, Qt::LeftButton);
    TReportWindow* w = f.ReportWindow();
    QVERIFY(w != nullptr && w->isVisible());
    QVERIFY(w->cbAllRecords->isChecked());  // every record of the folder

    // While it reads, the commands that change the folder are off.
    bool sawOff = false;
    QTimer watch;
    connect(&watch, &QTimer::timeout, [&] {
      if (f.LongWorkRunning())
        sawOff =
            !f.btnReport->isEnabled() && !f.mniDownload1->isEnabled() && !w->btnRun->isEnabled();
    });
    watch.start(0);
    QTest::mouseClick(w->btnRun, Qt::LeftButton);
    watch.stop();
    QVERIFY(w->Report() != nullptr);
    QVERIFY(sawOff);
    QVERIFY(f.btnReport->isEnabled() && w->btnRun->isEnabled());
    QCOMPARE(LogRecords.Count(), shown);  // the table's records are not the report's

    QCOMPARE(w->tblSummary->rowCount(), 2);
    QCOMPARE(w->tblSummary->item(0, 1)->text(), QStringLiteral("1-Phase SM#01 kWh Export"));
    QCOMPARE(w->tblSummary->item(0, 2)->text(), QStringLiteral("Pump Room"));
    QCOMPARE(w->tblSummary->item(0, 6)->text().toDouble(), consumption(0, 47));
    QCOMPARE(w->tblSummary->item(1, 7)->text(), QStringLiteral("0.547"));  // kW maximum
    auto bars = [&] {
      const auto series = w->chartView->chart()->series();
      return series.isEmpty() ? nullptr : qobject_cast<QBarSeries*>(series.at(0));
    };
    QVERIFY(bars() != nullptr);
    QCOMPARE(bars()->count(), 1);
    QCOMPARE(bars()->barSets().at(0)->count(), 2);
    QCOMPARE(bars()->barSets().at(0)->at(0),
             consumption(0, 24));  // to the second day's first reading
    QCOMPARE(bars()->barSets().at(0)->at(1), consumption(24, 47));

    // The second day only, then the workbook.
    w->cbAllRecords->setChecked(false);
    w->dtFrom->setDateTime(QDateTime(QDate(2026, 3, 2), QTime(0, 0), Qt::UTC));
    w->dtTo->setDateTime(QDateTime(QDate(2026, 3, 2), QTime(23, 0), Qt::UTC));
    QTest::mouseClick(w->btnRun, Qt::LeftButton);
    QCOMPARE(bars()->barSets().at(0)->count(), 1);
    QCOMPARE(bars()->barSets().at(0)->at(0), consumption(24, 47));
    const std::string book = data_->Path() + "/report.xlsx";
    SetSaveDialogHook([&](const QString&) { return QString::fromStdString(book); });
    QTest::mouseClick(w->btnSave, Qt::LeftButton);
    SetSaveDialogHook({});
    SetFolderDialogHook({});
    const WorkbookDump d = DumpWorkbook(book);
    QCOMPARE(d.ExitCode, 0);
    QVERIFY(d.Sheets == (std::vector<std::string>{"Summary", "Energy", "Demand", "Events"}));
    QCOMPARE(d.Cell("Energy!A2").Value, std::string("2026-03-02 00:00:00"));
    QVERIFY(boxes_.empty());
  }
};

int main(int argc, char** argv) {
  KrvoApplication app(argc, argv);
  TestWindowLogs tests;
  return QTest::qExec(&tests, argc, argv);
}

#include "test_window_logs.moc"
