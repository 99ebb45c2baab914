// The analyzer link from end to end: a real QSerialPort on the analyzer
// simulator's pseudo-terminal, the main window polling once a second, the
// download and the saving into a real database. Every record the simulator
// reports as delivered must be in Result exactly once, column for column.
#include "rowsapart.h"
#include "simprocess.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

class TestAnalyzerE2E : public QObject
{
    Q_OBJECT

private slots:
    void eachDeliveredRecordStoredOnce_data();
    void eachDeliveredRecordStoredOnce();
    void pcControlStoresTheChosenPerson();
};

void TestAnalyzerE2E::eachDeliveredRecordStoredOnce_data()
{
    QTest::addColumn<QString>("args");
    QTest::addColumn<int>("records");
    QTest::addColumn<QStringList>("faultsMade"); // as the simulator reports them
    // At the real line rate: a person steps on every 0.5 s of standby.
    QTest::newRow("real time") << "--measure-every 0.5 --measurements 1" << 1 << QStringList{};
    QTest::newRow("batch") << "--batch 5 --fast" << 5 << QStringList{};
    // Answers in random pieces, noise in front of answers, a whole-body and a
    // status answer lost, one digit changed (checksum as before): the damaged
    // answer is dropped and asked again like a lost one.
    QTest::newRow("line faults")
        << "--batch 3 --fast --chunk 1:64 --garbage 0.3 --drop 86:2 --drop 81:3 --corrupt 87:2" << 3
        << QStringList{"with a changed digit", "dropped answer", "garbage before"};
}

void TestAnalyzerE2E::eachDeliveredRecordStoredOnce()
{
    QFETCH(QString, args);
    QFETCH(int, records);
    QFETCH(QStringList, faultsMade);
    Road road;
    QVERIFY(road.ok);
    road.analyzer(args.split(QLatin1Char(' ')), records);
    for (const QString &fault : faultsMade)
        QVERIFY2(road.notes.contains(fault), qPrintable(fault));
}

void TestAnalyzerE2E::pcControlStoresTheChosenPerson()
{
    Road road;
    QVERIFY(road.ok);
    SimProcess sim;
    QVERIFY(sim.start(QStringLiteral("quelmar-analyzer-sim"), {"--test-time", "300", "--fast"}, BCAport,
                      road.path("delivered.log")));
    global::portFlag = QStringLiteral("1");
    MainWindow w;
    w.connectBCA();
    QTRY_COMPARE_WITH_TIMEOUT(global::BCAstate, 1, 10000);

    // The operator picks a woman in the registry and starts PC control.
    bool started = false;
    QTimer::singleShot(0, [&] {
        auto *dlg = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        QVERIFY(dlg);
        dlg->findChild<QLineEdit *>(QStringLiteral("uidEdit"))->setText(QStringLiteral("P'7"));
        dlg->findChild<QLineEdit *>(QStringLiteral("nameEdit"))->setText(QStringLiteral("王小丽"));
        dlg->findChild<QComboBox *>(QStringLiteral("sexCombo"))->setCurrentText(QStringLiteral("女"));
        dlg->findChild<QSpinBox *>(QStringLiteral("birthYearSpin"))->setValue(2001);
        dlg->findChild<QSpinBox *>(QStringLiteral("heightSpin"))->setValue(158);
        for (QPushButton *b : dlg->findChildren<QPushButton *>()) {
            if (b->text() == QStringLiteral("主控测试")) {
                b->click();
                started = true;
            }
        }
        dlg->reject();
    });
    w.usersList();
    QVERIFY(started);
    QVERIFY(sim.awaitDelivered(1, 30000, 1000));
    QSqlQuery q(QStringLiteral("SELECT UID, Name, Sex, BirthYear FROM Result"));
    QVERIFY(q.next());
    QCOMPARE((QStringList{q.value(0).toString(), q.value(1).toString(), q.value(2).toString(),
                          q.value(3).toString()}),
             (QStringList{"P'7", "王小丽", "2", "2001"}));
    // The analyzer measured her as a woman (sex digit 1), born 2001, 158 cm.
    const QStringList person = sim.delivered()
                                   .value(0)
                                   .section(QLatin1Char(' '), 2)
                                   .section(QLatin1Char('|'), 0, 0)
                                   .split(QLatin1Char('#'));
    QCOMPARE(person.mid(2, 3), (QStringList{"1", "2001", "25"}));
    QCOMPARE(person.value(5).toDouble(), 158.0);

    // Leaving PC control: the analyzer gets 0C, saving is back to collection mode.
    w.stopPCctrl();
    QCOMPARE(global::PCCtrlUID, QStringLiteral("0"));
    QTRY_VERIFY_WITH_TIMEOUT(sim.notes().contains(QStringLiteral("PC control off")), 5000);
    w.stopCheckTimer();
}

QUELMAR_TEST_MAIN_ROWS_APART(TestAnalyzerE2E)
#include "tst_analyzer_e2e.moc"
