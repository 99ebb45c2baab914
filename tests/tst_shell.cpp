// Application shell: command-line options and ports opened at start, the
// supplied database, the settings dialog on real ports (open buttons that
// follow the chosen port, the checked upload address), and the main window:
// start-up reads, where batch collection is reached, "当前测试号", the
// question before closing while measuring, and Qt's own buttons in Chinese.
#include "app/database.h"
#include "app/mainwindow.h"
#include "app/serialports.h"
#include "app/startup.h"
#include "dialogs/configdlg.h"
#include "pty.h"
#include "testsupport.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QSerialPort>
#include <QSqlRecord>
#include <QSqlTableModel>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QToolBar>
#include <QtTest>

using testsupport::scalar;

namespace {
QStringList columnsOf(const QString &table)
{
    QSqlTableModel model;
    model.setTable(table);
    QStringList names;
    for (int i = 0; i < model.record().count(); ++i)
        names << model.record().fieldName(i);
    return names;
}
} // namespace

class TestShell : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_db;

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_db = m_dir->filePath(QStringLiteral("maindb.db"));
        QVERIFY(testsupport::startProcessOn(m_db));
    }
    void cleanup()
    {
        BCAport->close();
        fitPort->close();
        releaseProcessState();
    }

    void startOptions()
    {
        const StartOptions all = parseStartOptions({"quelmar", "--analyzer-port", "/dev/pts/3",
                                                    "--station-port=/dev/pts/4", "--connect", "--batch"});
        QCOMPARE(all.error + all.analyzerPort + all.stationPort, QStringLiteral("/dev/pts/3/dev/pts/4"));
        QVERIFY(all.connect && all.batch && !all.demo);
        QVERIFY(parseStartOptions({"quelmar", "--demo"}).demo);
        for (const char *bad : {"--analyzer-port", "--no-such-thing", "stray"})
            QVERIFY2(!parseStartOptions({"quelmar", bad}).error.isEmpty(), bad);
    }

    void portsOpenAtStartWithTheDialogsSettings()
    {
        TestPty analyzer;
        QVERIFY(analyzer.isValid());
        StartOptions options;
        options.analyzerPort = analyzer.path();
        options.stationPort = QStringLiteral("/dev/no-station-here");
        const QStringList problems = openStartPorts(options);
        QVERIFY(BCAport->isOpen());
        QCOMPARE(BCAport->baudRate(), 9600);
        QCOMPARE(global::portFlag, portFlagFor(analyzer.path()));
        QVERIFY(!fitPort->isOpen());
        QCOMPARE(global::fitPortFlag, QStringLiteral("0"));
        QCOMPARE(problems.size(), 1);
        QVERIFY(problems.first().contains(QStringLiteral("/dev/no-station-here")));
    }

    void columnsSitWhereTheProgramReadsThem()
    {
        QCOMPARE(columnsOf(QStringLiteral("Person")),
                 QStringList({"ID", "UUID", "UID", "Name", "Sex", "BirthYear", "Height", "Phone", "Note"}));
        QCOMPARE(columnsOf(QStringLiteral("ResultFIT")),
                 QStringList({"TestID", "UUID",   "UID",  "Name", "Sex", "BirthYear", "TestDate",
                              "Height", "Weight", "WOLI", "FHL",  "TQQ", "TZ",        "YWQZ",
                              "FYS",    "FWC",    "BYDJ", "ZT",   "TY",  "ZFZ3",      "BUSU6"}));
        QCOMPARE(columnsOf(QStringLiteral("Unit")).mid(1), QStringList({"UnitName", "UnitPhone", "UUID"}));
        const QStringList result = columnsOf(QStringLiteral("Result"));
        QCOMPARE(result.size(), 98);
        QCOMPARE(result.mid(0, 7),
                 QStringList({"TestID", "UUID", "UID", "Name", "Sex", "BirthYear", "TestDate"}));
        QCOMPARE(result.at(81), QStringLiteral("BodyType"));
        QCOMPARE(result.last(), QStringLiteral("LL_ECW"));
        const QStringList print = columnsOf(QStringLiteral("Print"));
        QCOMPARE(print.size(), 224);
        QCOMPARE(print.mid(0, 4), QStringList({"IDPrint", "IDSize", "IDX", "IDY"}));
        QCOMPARE(print.last(), QStringLiteral("LiverRiskY"));
    }

    void seedRowsLetAFreshInstallWork()
    {
        // Every sheet style offered, all marked with the default choice.
        const QString sheets =
            scalar("SELECT group_concat(ReportType) FROM Report WHERE Selected = 'TQ-40'").toString();
        QCOMPARE(sheets, QStringLiteral("TQ-40,TQ-10,TQ-20,TQ-30,水分报告,自定义报告纸"));
        QCOMPARE(scalar("SELECT count(*) FROM Unit WHERE UUID <> ''").toInt(), 1);
        QVERIFY(scalar("SELECT PostAddress FROM Server").toString().startsWith("http://127.0.0.1"));
        QCOMPARE(scalar("SELECT count(*) FROM Print").toInt(), 7);
        QVERIFY(schemaProblemText(m_db).isEmpty());
    }

    void deletedTestNumbersAreNeverReused()
    {
        for (const QLatin1String table : {QLatin1String("Result"), QLatin1String("ResultFIT")}) {
            QSqlQuery q;
            const QString insert = QStringLiteral("INSERT INTO %1 (UID) VALUES ('1')").arg(table);
            QVERIFY(q.exec(insert) && q.exec(insert));
            const int last = q.lastInsertId().toInt();
            QVERIFY(q.exec(QStringLiteral("DELETE FROM %1 WHERE TestID = %2").arg(table).arg(last)));
            QVERIFY(q.exec(insert));
            QCOMPARE(q.lastInsertId().toInt(), last + 1);
        }
    }

    void emptyDatabaseFileIsReportedWithItsPath()
    {
        const QString empty = m_dir->filePath(QStringLiteral("empty.db"));
        QVERIFY(openDefaultDatabase(empty)); // SQLite creates the file, without tables
        QCOMPARE(missingTables(), requiredTables());
        const QString text = schemaProblemText(empty);
        QVERIFY(text.contains(QFileInfo(empty).absoluteFilePath()) &&
                text.contains(QStringLiteral("Result")));
    }

    void settingsOpenBothPortsFromOneList()
    {
        TestPty analyzer, station;
        QVERIFY(analyzer.isValid() && station.isValid());
        configDlg dlg;
        dlg.portList()->setEditText(analyzer.path());
        dlg.portOpen();
        QVERIFY(BCAport->isOpen());
        QCOMPARE(global::portFlag, portFlagFor(analyzer.path()));
        QCOMPARE(dlg.statusLabel()->text(), analyzer.path() + QStringLiteral("串口已打开"));
        dlg.portList()->setEditText(station.path());
        dlg.fitPortOpen();
        QVERIFY(fitPort->isOpen() && station.path().endsWith(fitPort->portName()));
        QCOMPARE(fitPort->baudRate(), 9600);
        // Bytes really travel through the opened port.
        BCAport->write("\xaa\xbb", 2);
        QVERIFY(BCAport->waitForBytesWritten(1000));
        QCOMPARE(analyzer.readMaster(), QByteArray("\xaa\xbb", 2));
    }

    void settingsFailedOpenLeavesPortClosed()
    {
        configDlg dlg;
        dlg.portList()->setEditText(QStringLiteral("/dev/does-not-exist"));
        dlg.portOpen();
        QVERIFY(!BCAport->isOpen());
        QCOMPARE(global::portFlag, QStringLiteral("0"));
        const QString status = dlg.statusLabel()->text();
        QVERIFY2(status.contains("/dev/does-not-exist") && status.contains(QStringLiteral("失败")),
                 qPrintable(status));
        dlg.portList()->setEditText(QString());
        dlg.fitPortOpen();
        QCOMPARE(global::fitPortFlag, QStringLiteral("0"));
    }

    // The open buttons follow the chosen port and the ports' state, closing
    // included (no scan needed afterwards).
    void settingsOpenButtonsFollowTheChosenPort()
    {
        TestPty analyzer, station;
        QVERIFY(analyzer.isValid() && station.isValid());
        configDlg dlg;
        const auto buttons = [&dlg](const QString &chosen) {
            dlg.portList()->setEditText(chosen);
            return QStringLiteral("%1%2")
                .arg(dlg.openButton()->isEnabled())
                .arg(dlg.fitOpenButton()->isEnabled());
        };
        QCOMPARE(buttons(QString()), QStringLiteral("00"));
        QCOMPARE(buttons(analyzer.path()), QStringLiteral("11"));
        dlg.portOpen();
        QCOMPARE(buttons(analyzer.path()), QStringLiteral("00")); // held by the analyzer
        QCOMPARE(buttons(station.path()), QStringLiteral("01"));
        dlg.fitPortOpen();
        QCOMPARE(buttons(station.path()), QStringLiteral("00"));
        dlg.portClose();
        QCOMPARE(buttons(station.path()), QStringLiteral("11"));
        QVERIFY(!BCAport->isOpen() && !fitPort->isOpen());
    }

    // The upload address is stored only when the upload would take it.
    void settingsUploadAddress_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("stored"); // empty: refused, the old one stays
        QTest::addColumn<QString>("box");
        QTest::newRow("http with port and path") << " http://10.0.0.5:8080/api/up "
                                                 << "http://10.0.0.5:8080/api/up"
                                                 << "上传地址已保存。";
        QTest::newRow("https") << "https://data.example.cn/upload"
                               << "https://data.example.cn/upload"
                               << "上传地址已保存。";
        QTest::newRow("empty") << ""
                               << ""
                               << "上传地址没有保存：上传地址为空";
        QTest::newRow("other scheme")
            << "ftp://10.0.0.5/up"
            << ""
            << "上传地址没有保存：上传地址必须以 http:// 或 https:// 开头：ftp://10.0.0.5/up";
        QTest::newRow("no scheme")
            << "10.0.0.5/up"
            << ""
            << "上传地址没有保存：上传地址必须以 http:// 或 https:// 开头：10.0.0.5/up";
        QTest::newRow("no host") << "http:///up"
                                 << ""
                                 << "上传地址没有保存：上传地址缺少主机名：http:///up";
    }
    void settingsUploadAddress()
    {
        QFETCH(QString, typed);
        QFETCH(QString, stored);
        QFETCH(QString, box);
        const QString before = scalar("SELECT PostAddress FROM Server").toString();
        configDlg dlg;
        QCOMPARE(dlg.uploadAddressEdit()->text(), before);
        dlg.uploadAddressEdit()->setText(typed);
        const testsupport::BoxSeen seen = testsupport::boxOf([&dlg] { dlg.saveUploadAddress(); });
        QCOMPARE(seen.text, box);
        QCOMPARE(seen.icon, stored.isEmpty() ? QMessageBox::Warning : QMessageBox::Information);
        QCOMPARE(scalar("SELECT group_concat(PostAddress) FROM Server").toString(),
                 stored.isEmpty() ? before : stored);
    }

    void settingsStoreSheetAndUnit()
    {
        configDlg dlg;
        dlg.reportList()->setCurrentText(QStringLiteral("水分报告"));
        dlg.sheetSelect();
        QCOMPARE(global::sheetTag, QStringLiteral("水分报告"));
        QCOMPARE(scalar("SELECT count(*) FROM Report WHERE Selected = '水分报告'").toInt(), 6);
        QCOMPARE(configDlg().reportList()->currentText(), QStringLiteral("水分报告"));
        dlg.unitNameEdit()->setText(QStringLiteral("市体育中心"));
        dlg.unitPhoneEdit()->setText(QStringLiteral("0571-8888"));
        const testsupport::BoxSeen changed = testsupport::boxOf([&] { dlg.modifyUnit(); });
        QCOMPARE(changed.text, QStringLiteral("单位信息修改成功！"));
        QCOMPARE(changed.icon, QMessageBox::Information);
        QCOMPARE(scalar("SELECT UnitName || '|' || UnitPhone FROM Unit").toString(),
                 QStringLiteral("市体育中心|0571-8888"));
    }

    void windowReadsSheetUnitAndFitnessTestAtStart()
    {
        QSqlQuery q;
        QVERIFY(q.exec("UPDATE Report SET Selected = 'TQ-20'"));
        for (int i = 0; i < 3; ++i)
            QVERIFY(q.exec("INSERT INTO ResultFIT (UID) VALUES ('u')"));
        MainWindow w;
        QCOMPARE(global::sheetTag, QStringLiteral("TQ-20"));
        QCOMPARE(w.unitId(), QStringLiteral("U0001"));
        QCOMPARE(global::PCCtrlUID, QStringLiteral("0")); // collection mode, not PC control
        // The fitness page lists the newest first; its hidden field follows the selection.
        QCOMPARE(global::currentTestID, 3);
        w.fitTable()->selectRow(2);
        QCOMPARE(w.fitTestIdEdit()->text(), QStringLiteral("1"));
    }

    // Batch collection sits in the collection menu and on the toolbar, with
    // an icon; the toolbar and its context menu entry are named in Chinese.
    void batchCollectionIsReachable()
    {
        MainWindow w;
        QAction *batch = w.batchAction();
        QVERIFY(!batch->icon().isNull());
        QVERIFY(w.toolBar()->actions().contains(batch));
        QCOMPARE(w.toolBar()->windowTitle(), QStringLiteral("工具栏"));
        QStringList menus;
        for (QAction *menu : w.menuBar()->actions()) {
            if (menu->menu() && menu->menu()->actions().contains(batch))
                menus << menu->text();
        }
        QCOMPARE(menus, QStringList{QStringLiteral("&数据采集")});
    }

    // "当前测试号" shows the test of the page in front and opens a typed one.
    void currentTestFieldFollowsThePage()
    {
        QSqlQuery q;
        for (const char *uid : {"a", "b"}) {
            QVERIFY(q.exec(QStringLiteral("INSERT INTO ResultFIT (UID, Name) VALUES ('%1', '甲')").arg(uid)));
            QVERIFY(q.exec(QStringLiteral("INSERT INTO Result (UID, Name) VALUES ('%1', '乙')").arg(uid)));
        }
        QVERIFY(q.exec("INSERT INTO ResultFIT (UID) VALUES ('c')")); // fitness 3, body composition 1..2
        MainWindow w;
        QLineEdit *field = w.currentTestEdit();
        QCOMPARE(field->focusPolicy(), Qt::ClickFocus);
        QCOMPARE(field->text(), QStringLiteral("3"));
        w.fitTable()->selectRow(1);
        QCOMPARE(field->text(), QStringLiteral("2"));
        w.pages()->setCurrentIndex(1);
        global::currentTestID = 1;
        w.displayData();
        QCOMPARE(field->text(), QStringLiteral("1"));
        // Enter on a number without a record says so; on one with a record
        // the page shows it and its report opens.
        field->setText(QStringLiteral("9"));
        QCOMPARE(testsupport::boxOf([field] { QTest::keyClick(field, Qt::Key_Return); }).text,
                 QStringLiteral("没有测试编号为 9 的体成分测试记录。"));
        QCOMPARE(field->text(), QStringLiteral("1"));
        field->setText(QStringLiteral("2"));
        QString preview;
        QVERIFY(testsupport::withModal([](QWidget *d) { return !d->windowTitle().isEmpty(); },
                                       [field] { QTest::keyClick(field, Qt::Key_Return); },
                                       [&preview](QWidget *d) { preview = d->windowTitle(); }));
        QCOMPARE(preview, QStringLiteral("体成分分析报告"));
        QCOMPARE(w.bcaTable()->item(1, 1)->text(), QStringLiteral("2"));
        QCOMPARE(field->text(), QStringLiteral("2"));
    }

    // Closing while the analyzer measures asks first; "继续测试" keeps the window.
    void closingWhileMeasuringAsks()
    {
        MainWindow w;
        w.show();
        QVERIFY(testsupport::boxOf([&w] { QVERIFY(w.close()); }).texts.isEmpty());
        w.show();
        global::BCAstate = 2;
        for (const QString &answer : {QStringLiteral("继续测试"), QStringLiteral("退出")}) {
            bool closed = false;
            QString text;
            QTimer timer;
            connect(&timer, &QTimer::timeout, [&] {
                auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
                if (!box || !box->isVisible())
                    return;
                text = box->text();
                for (QAbstractButton *b : box->buttons()) {
                    if (b->text() == answer)
                        b->click();
                }
            });
            timer.start(5);
            closed = w.close();
            QCOMPARE(text, QStringLiteral(
                               "体成分仪正在测试中。\n现在退出，这次测试的数据可能不会保存。确定要退出吗？"));
            QCOMPARE(closed, answer == QStringLiteral("退出"));
            QCOMPARE(w.isVisible(), !closed);
        }
    }

    void windowStartsWithoutDatabaseTables()
    {
        releaseProcessState();
        initProcessState(m_dir->filePath(QStringLiteral("nothing-here.db")));
        QVERIFY(dbSetupResult);
        MainWindow w;
        QVERIFY(global::sheetTag.isEmpty() && w.unitId().isEmpty());
        QCOMPARE(w.fitModel()->rowCount(), 0);
    }

    void chineseStandardButtons() // last: the translation stays installed
    {
        QVERIFY(installQtChineseTranslation(qApp));
        QMessageBox box;
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Ok | QMessageBox::Cancel);
        QStringList texts;
        for (const auto b : {QMessageBox::Yes, QMessageBox::No, QMessageBox::Ok, QMessageBox::Cancel})
            texts << box.button(b)->text().remove(QLatin1Char('&')).section(QLatin1Char('('), 0, 0);
        QCOMPARE(texts, QStringList({"是", "否", "确定", "取消"}));
    }
};

QTEST_MAIN(TestShell)
#include "tst_shell.moc"
