// Person history on a large database: one person with 500 body-composition
// and 500 fitness tests among 100,000 results of each kind. Times reading
// the history (the dialog's data), building the dialog with its charts and
// tables, and writing the history page to PDF, with the query plans.
//
//   bench_history [DB]   (without DB a 100,000 + 100,000 row database is
//                         generated with quelmar-make-bigdb into a scratch folder)
#include "app/globals.h"
#include "dialogs/historydlg.h"
#include "reports/historypage.h"
#include "reports/personhistory.h"

#include "benchsupport.h"

#include <QApplication>
#include <QDate>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTextStream>
#include <QVariant>

#include <algorithm>
#include <cstdio>

namespace {
QTextStream out(stdout);
const QString kUid = QStringLiteral("BENCH500");
constexpr int kTests = 500;
constexpr int kRuns = 7;

double msSince(const QElapsedTimer &t)
{
    return double(t.nsecsElapsed()) / 1e6;
}

double median(QVector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.isEmpty() ? 0 : v.at(v.size() / 2);
}

bool makeDatabase(const QString &path)
{
    QProcess maker;
    maker.setProcessChannelMode(QProcess::ForwardedChannels);
    maker.start(QCoreApplication::applicationDirPath() + QStringLiteral("/quelmar-make-bigdb"), {path});
    return maker.waitForFinished(600000) && maker.exitStatus() == QProcess::NormalExit &&
           maker.exitCode() == 0;
}

// The frequent visitor: registered, tested every week for ten years.
bool addFrequentPerson()
{
    QSqlDatabase db = QSqlDatabase::database();
    db.transaction();
    QSqlQuery q;
    q.prepare(QStringLiteral(
        "INSERT INTO Person (UID, Name, Sex, BirthYear, Height) VALUES (?, ?, '1', 1980, 175)"));
    q.addBindValue(kUid);
    q.addBindValue(QStringLiteral("常来客"));
    bool ok = q.exec();
    QSqlQuery bca;
    bca.prepare(
        QStringLiteral("INSERT INTO Result (UID, Name, Sex, BirthYear, TestDate, Height, Weight, PBF, SMM, "
                       "VFI, BodyType) VALUES (?, '常来客', '1', 1980, ?, 175, ?, ?, ?, ?, '超重型')"));
    QSqlQuery fit;
    fit.prepare(
        QStringLiteral("INSERT INTO ResultFIT (UID, Name, Sex, BirthYear, TestDate, Height, Weight, WOLI, "
                       "FHL, TQQ, TZ, YWQZ, FYS, FWC, BYDJ, ZT, TY) VALUES (?, '常来客', '1', 1980, ?, 175, "
                       "?, 45, 3800, 10, 55, 20, 450, 22, 30, 35, 230)"));
    const QDate first(2015, 1, 5);
    for (int i = 0; ok && i < kTests; ++i) {
        const QString day = first.addDays(7 * qint64(i)).toString(Qt::ISODate);
        const double weight = 82 - 6.0 * i / kTests + (i % 5) * 0.3;
        bca.addBindValue(kUid);
        bca.addBindValue(day);
        bca.addBindValue(weight);
        bca.addBindValue(24 - 4.0 * i / kTests);
        bca.addBindValue(33 + 2.0 * i / kTests);
        bca.addBindValue(10 - (i * 3) / kTests);
        fit.addBindValue(kUid);
        fit.addBindValue(day);
        fit.addBindValue(weight);
        ok = bca.exec() && fit.exec();
    }
    return ok && db.commit();
}

QString plan(const QString &sql)
{
    QSqlQuery q;
    q.prepare(QStringLiteral("EXPLAIN QUERY PLAN ") + sql);
    q.addBindValue(kUid);
    QStringList steps;
    if (q.exec()) {
        while (q.next())
            steps << q.value(3).toString();
    }
    return steps.join(QStringLiteral("; "));
}
} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &msg) {
        if (type != QtDebugMsg && !msg.contains(QLatin1String("propagateSizeHints")))
            fprintf(stderr, "%s\n", qPrintable(msg));
    });

    QTemporaryDir scratch;
    const QString source =
        argc > 1 ? QString::fromLocal8Bit(argv[1]) : scratch.filePath(QStringLiteral("big.db"));
    if (argc <= 1 && !makeDatabase(source)) {
        fprintf(stderr, "could not generate the database\n");
        return 1;
    }
    const QString db = scratch.filePath(QStringLiteral("maindb.db"));
    QFile::remove(db);
    if (!QFile::copy(source, db)) {
        fprintf(stderr, "could not copy %s\n", qPrintable(source));
        return 1;
    }
    initProcessState(db);
    if (!dbSetupResult || !addFrequentPerson()) {
        fprintf(stderr, "could not prepare the database\n");
        return 1;
    }
    const auto count = [](const char *table) {
        QSqlQuery q(QStringLiteral("SELECT count(*) FROM %1").arg(QLatin1String(table)));
        return q.next() ? q.value(0).toInt() : -1;
    };
    out << "database: " << count("Result") << " Result rows, " << count("ResultFIT") << " ResultFIT rows; "
        << kUid << " has " << kTests << " of each" << Qt::endl;
    out << "plan Result:    " << plan(QStringLiteral("SELECT * FROM Result WHERE UID = ? ORDER BY TestID"))
        << Qt::endl;
    out << "plan ResultFIT: "
        << plan(QStringLiteral("SELECT * FROM ResultFIT WHERE UID = ? ORDER BY TestDate, TestID"))
        << Qt::endl;

    QVector<double> loadMs, dialogMs, pdfMs;
    history::PersonHistory h;
    QString error;
    qint64 pdfBytes = 0;
    for (int run = 0; run < kRuns; ++run) {
        QElapsedTimer clock;
        clock.start();
        if (!history::loadPersonHistory(kUid, &h, &error)) {
            fprintf(stderr, "loading failed: %s\n", qPrintable(error));
            return 1;
        }
        loadMs << msSince(clock);

        clock.restart();
        {
            HistoryDlg dialog(h);
            dialog.show();
            QApplication::processEvents(); // lays out and paints the charts and tables once
            dialogMs << msSince(clock) + loadMs.last();
        }

        const QString pdf = scratch.filePath(QStringLiteral("history.pdf"));
        clock.restart();
        if (!history::writeHistoryPdf(pdf, h, &error)) {
            fprintf(stderr, "PDF failed: %s\n", qPrintable(error));
            return 1;
        }
        pdfMs << msSince(clock);
        pdfBytes = QFileInfo(pdf).size();
    }
    out << "tests read: " << h.bca.size() << " body composition, " << h.fitness.size() << " fitness"
        << Qt::endl;
    out << QStringLiteral("read the history (dialog data):   median %1 ms (first %2 ms)\n")
               .arg(median(loadMs), 0, 'f', 1)
               .arg(loadMs.first(), 0, 'f', 1);
    out << QStringLiteral("open the dialog (data + charts):  median %1 ms (first %2 ms)\n")
               .arg(median(dialogMs), 0, 'f', 1)
               .arg(dialogMs.first(), 0, 'f', 1);
    out << QStringLiteral("history page to PDF:              median %1 ms (first %2 ms), %3 KB\n")
               .arg(median(pdfMs), 0, 'f', 1)
               .arg(pdfMs.first(), 0, 'f', 1)
               .arg(pdfBytes / 1024);
    const rusage u = bench::usage();
    out << "peak memory: " << u.ru_maxrss / 1024 << " MB, CPU "
        << QString::number(bench::cpuSeconds(u), 'f', 2) << " s" << Qt::endl;
    releaseProcessState();
    return 0;
}
