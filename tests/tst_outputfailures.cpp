// Outputs that cannot be written whole, here because of a file-size limit
// below their size (RLIMIT_FSIZE with SIGXFSZ ignored: writes fail as on a
// full disk). The command-line jobs run as child processes and the window's
// export and print-to-file roads in process: each ends with the system's
// reason, and the earlier file of that name stays as it was.
#include "app/mainwindow.h"
#include "exchange/safewrite.h"
#include "tests/outputcheck.h"

#include <QDataStream>
#include <QFileDialog>

#include <sys/resource.h>

#include <csignal>

namespace {
const QByteArray kEarlier("an earlier file\n");
constexpr rlim_t kLimit = 600; // bytes: below every output written here
const QString kReason = QStringLiteral("文件超过系统允许的大小");

// A child process whose files may not grow past kLimit bytes.
class LimitedProcess : public QProcess
{
protected:
    void setupChildProcess() override
    {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{kLimit, kLimit};
        setrlimit(RLIMIT_FSIZE, &limit);
    }
};

// The same limit for this process while it lives.
class LimitHere
{
public:
    LimitHere()
    {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit limit = m_old;
        limit.rlim_cur = kLimit;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~LimitHere() { setrlimit(RLIMIT_FSIZE, &m_old); }

private:
    rlimit m_old{};
};

QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
} // namespace

class TestOutputFailures : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

    QString path(const QString &name) const { return m_dir.filePath(name); }

    // The target holds an earlier file; nothing else but the database is there.
    bool prepareTarget(const QString &target)
    {
        for (const QString &f : QDir(m_dir.path()).entryList(QDir::Files))
            if (f != QLatin1String("maindb.db") && !QFile::remove(path(f)))
                return false;
        QFile f(path(target));
        return f.open(QIODevice::WriteOnly) && f.write(kEarlier) == kEarlier.size();
    }
    // Whether the folder holds just the database and |target|.
    bool onlyTargetLeft(const QString &target) const
    {
        QStringList expected = {QStringLiteral("maindb.db"), target};
        expected.sort();
        return QDir(m_dir.path()).entryList(QDir::Files, QDir::Name) == expected;
    }

private slots:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
        QVERIFY(testsupport::startProcessOn(path(QStringLiteral("maindb.db"))));
        QSqlQuery q;
        for (const char *sql :
             {"INSERT INTO Person (UUID, UID, Name, Sex, BirthYear) VALUES ('单位', 'U1', '甲', '1', 1990)",
              "INSERT INTO Result (UID, Name, TestDate, Fat) VALUES ('U1', '甲', '2024-03-15', 11.5)",
              "INSERT INTO ResultFIT (UID, Name, Sex, BirthYear, TestDate, Height, Weight, WOLI) VALUES "
              "('U1', '甲', '1', 1990, '2024-03-15', 175, 70, 50), ('U2', '乙', '2', 1995, '2024-03-16', "
              "160, "
              "50, 30)"})
            QVERIFY2(q.exec(QString::fromUtf8(sql)), qPrintable(q.lastError().text()));
    }
    void cleanupTestCase() { releaseProcessState(); }

    void commandLine_data()
    {
        QTest::addColumn<QString>("args");
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("summary"); // stdout
        QTest::newRow("CSV export") << "--export-bca bca.csv"
                                    << "bca.csv"
                                    << "";
        QTest::newRow("workbook export") << "--export-fit fit.xlsx"
                                         << "fit.xlsx"
                                         << "";
        QTest::newRow("report archive") << "--export-pdf 1-2 --out . --fitness"
                                        << "1_U1_甲.pdf"
                                        << "0 written, 0 missing; 2 failed: 1, 2\n";
    }
    void commandLine()
    {
        QFETCH(QString, args);
        QFETCH(QString, target);
        QFETCH(QString, summary);
        QVERIFY(prepareTarget(target));
        LimitedProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(m_dir.path());
        p.start(outputcheck::program, args.split(' '));
        QVERIFY(p.waitForFinished(60000));
        const QString err = QString::fromUtf8(p.readAllStandardError());
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 1);
        QVERIFY2(err.contains(kReason), qPrintable(err));
        QCOMPARE(QString::fromUtf8(p.readAllStandardOutput()), summary);
        QCOMPARE(fileBytes(path(target)), kEarlier);
        QVERIFY(onlyTargetLeft(target));
    }

    // A backup copy cut short is neither renamed into place nor left behind.
    void backupCutShort()
    {
        QVERIFY(QDir().mkpath(path(QStringLiteral("job/run"))) &&
                QDir().mkpath(path(QStringLiteral("job/backup"))));
        QVERIFY(QFile::copy(path(QStringLiteral("maindb.db")), path(QStringLiteral("job/run/maindb.db"))));
        LimitedProcess p;
        p.setWorkingDirectory(path(QStringLiteral("job/run")));
        p.start(outputcheck::program, {QStringLiteral("--backup")});
        QVERIFY(p.waitForFinished(60000));
        const QString err = QString::fromUtf8(p.readAllStandardError());
        QCOMPARE(p.exitCode(), 1);
        QVERIFY2(err.contains(QStringLiteral("SQLite 无法复制数据库")), qPrintable(err));
        QCOMPARE(QDir(path(QStringLiteral("job/backup"))).entryList(QDir::Files | QDir::Hidden),
                 QStringList());
    }

    // A writer that stops at its first short write, as the PDF writer's
    // stream does, leaves no error on the file (the system took part of the
    // block and said nothing): the cut write alone must fail the file.
    void writerStoppingAtACutWrite()
    {
        const QString target = QStringLiteral("cut.pdf");
        QVERIFY(prepareTarget(target));
        QString error;
        bool finished = true;
        {
            LimitHere limit;
            exchange::SaveFile file(path(target));
            QVERIFY(file.open(&error));
            QDataStream out(&file);
            const QByteArray block(20000, 'x'); // past Qt's write buffer: written at once
            out.writeRawData(block.constData(), block.size());
            QCOMPARE(out.status(), QDataStream::WriteFailed);
            QCOMPARE(file.error(), QFileDevice::NoError);
            finished = file.finish(&error);
        }
        QVERIFY(!finished);
        QVERIFY2(error.contains(kReason), qPrintable(error));
        QCOMPARE(fileBytes(path(target)), kEarlier);
        QVERIFY(onlyTargetLeft(target));
    }

    void windowRoads_data()
    {
        QTest::addColumn<QString>("road");
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("box");
        QTest::newRow("export menu, CSV") << "bca"
                                          << "bca.csv"
                                          << "导出数据失败|数据导出失败，文件";
        QTest::newRow("export menu, workbook") << "fit"
                                               << "fit.xlsx"
                                               << "导出数据失败|数据导出失败，文件";
        QTest::newRow("print to PDF file") << "print"
                                           << "print.pdf"
                                           << "打印|报告没有保存。";
    }
    void windowRoads()
    {
        QFETCH(QString, road);
        QFETCH(QString, target);
        QFETCH(QString, box);
        QVERIFY(prepareTarget(target));
        MainWindow window;
        outputcheck::ModalWatcher watcher;
        {
            LimitHere limit;
            if (road == QLatin1String("print")) {
                window.presetPrintOutput(path(target));
                global::sheetTag = QStringLiteral("FITreport");
                global::currentTestID = 1;
                window.printReportPic();
            } else {
                window.presetExportFile(path(target));
                road == QLatin1String("fit") ? window.dataFitExport() : window.dataExport();
            }
        }
        QCOMPARE(watcher.seen.size(), 1);
        QVERIFY2(watcher.seen[0].startsWith(box) && watcher.seen[0].contains(kReason),
                 qPrintable(watcher.seen[0]));
        QCOMPARE(fileBytes(path(target)), kEarlier);
        QVERIFY(onlyTargetLeft(target));
    }

    // The export's save dialog offers the workbook first, then CSV.
    void saveDialogOffersWorkbookFirst()
    {
        MainWindow window;
        QStringList filters;
        QTimer poll;
        connect(&poll, &QTimer::timeout, [&filters] {
            if (auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget())) {
                filters = dialog->nameFilters();
                dialog->reject();
            }
        });
        poll.start(10);
        window.dataExport();
        QCOMPARE(filters,
                 (QStringList{QStringLiteral("Excel 工作簿 (*.xlsx)"), QStringLiteral("CSV (*.csv)")}));
    }
};

QTEST_MAIN(TestOutputFailures)
#include "tst_outputfailures.moc"
