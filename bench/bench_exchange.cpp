// Data exchange on a busy organisation's database (100,000 body-composition
// results of 10,000 people, 200,000 fitness results): both CSV exports side
// by side with the sqlite3 CLI writing the same columns with -csv, and the
// backup side by side with sqlite3's .backup. Best of three runs each.
//
//   bench_exchange [--keep DIR]   (--keep leaves the database and files in DIR)
#include "app/database.h"
#include "exchange/backup.h"
#include "exchange/csvexport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QProcess>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace {
void quiet(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type != QtDebugMsg && type != QtInfoMsg)
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

// Best wall time of three runs of |work| in seconds; |prepare| runs untimed before each.
double bestOfThree(const std::function<bool()> &work, const std::function<void()> &prepare = {})
{
    double best = 1e30;
    for (int i = 0; i < 3; ++i) {
        if (prepare)
            prepare();
        QElapsedTimer t;
        t.start();
        if (!work())
            return -1;
        best = std::min(best, double(t.nsecsElapsed()) / 1e9);
    }
    return best;
}

bool runSqlite(const QStringList &args, const QString &outFile = QString())
{
    QProcess p;
    if (!outFile.isEmpty())
        p.setStandardOutputFile(outFile);
    p.start(QStringLiteral("sqlite3"), args);
    return p.waitForFinished(600000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// An export statement without its last column (the result key, not a file
// column): exactly the columns of the file.
QString sameColumns(QString sql)
{
    sql.replace(QStringLiteral(", r.TestID FROM"), QStringLiteral(" FROM"));
    sql.replace(QStringLiteral(", TestID FROM"), QStringLiteral(" FROM"));
    return sql;
}

qint64 lineCount(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    qint64 n = 0;
    while (!f.atEnd()) {
        const QByteArray chunk = f.read(1 << 20);
        n += chunk.count('\n');
    }
    return n;
}

void row(const char *what, double ours, double theirs, const char *unit = "s")
{
    std::printf("%-44s ours %7.3f %s   sqlite3 %7.3f %s   ratio %.2fx\n", what, ours, unit, theirs, unit,
                theirs > 0 ? ours / theirs : 0.0);
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(quiet);
    QTemporaryDir tmp;
    QString dir = tmp.path();
    const int keep = app.arguments().indexOf(QStringLiteral("--keep"));
    if (keep > 0 && keep + 1 < app.arguments().size()) {
        dir = app.arguments().at(keep + 1);
        QDir().mkpath(dir);
    }
    const QString db = dir + QStringLiteral("/maindb.db");

    // 200,000 fitness rows make the generator register 10,000 people.
    std::printf("generating %s ...\n", qPrintable(db));
    std::fflush(stdout);
    if (QProcess::execute(QStringLiteral(QUELMAR_BUILD_DIR "/quelmar-make-bigdb"),
                          {db, QStringLiteral("--results"), QStringLiteral("100000"), QStringLiteral("--fit"),
                           QStringLiteral("200000")}) != 0) {
        std::fprintf(stderr, "quelmar-make-bigdb failed (build it first)\n");
        return 1;
    }
    if (!openDefaultDatabase(db)) {
        std::fprintf(stderr, "cannot open %s\n", qPrintable(db));
        return 1;
    }
    {
        QSqlQuery q;
        q.exec(QStringLiteral("SELECT (SELECT COUNT(*) FROM Person), (SELECT COUNT(*) FROM Result), "
                              "(SELECT COUNT(*) FROM ResultFIT)"));
        q.next();
        std::printf("database: %d people, %d body-composition results, %d fitness results\n\n",
                    q.value(0).toInt(), q.value(1).toInt(), q.value(2).toInt());
    }

    const QString ours = dir + QStringLiteral("/ours.csv");
    const QString theirs = dir + QStringLiteral("/sqlite3.csv");
    const QString bcaSql = sameColumns(exchange::bcaPersonStatement()) + QStringLiteral(";\n") +
                           sameColumns(exchange::bcaClosingStatement()) + QStringLiteral(";");
    const QString fitSql = sameColumns(exchange::fitStatement()) + QStringLiteral(";");

    // Warm the page cache once so neither side pays for the first read.
    runSqlite({db, QStringLiteral("SELECT COUNT(*), SUM(length(Name)) FROM Result")}, dir + "/warm.txt");

    // As the command-line job runs it: no per-line debug log.
    QLoggingCategory::setFilterRules(QStringLiteral("quelmar.export.rows.debug=false"));
    int lines = 0;
    const double bcaOurs = bestOfThree([&] {
        const exchange::ExportResult r = exchange::exportBca(ours);
        lines = r.lines;
        return r.ok;
    });
    const qint64 ourBytes = QFile(ours).size();
    const double bcaTheirs = bestOfThree([&] {
        return runSqlite({QStringLiteral("-csv"), db, bcaSql}, theirs);
    });
    std::printf("body-composition file: %d lines, ours %.1f MB (%lld lines), sqlite3 %.1f MB (%lld lines)\n",
                lines, ourBytes / 1e6, lineCount(ours), QFile(theirs).size() / 1e6, lineCount(theirs));
    row("body-composition export", bcaOurs, bcaTheirs);

    // In the window the per-line debug log is on (here discarded by the handler).
    QLoggingCategory::setFilterRules(QStringLiteral("quelmar.export.rows.debug=true"));
    const double bcaLogged = bestOfThree([&] { return exchange::exportBca(ours).ok; });
    row("body-composition export, per-line log on", bcaLogged, bcaTheirs);
    // With a progress callback, as the window runs it (two counting queries more).
    QLoggingCategory::setFilterRules(QStringLiteral("quelmar.export.rows.debug=false"));
    const double bcaProgress =
        bestOfThree([&] { return exchange::exportBca(ours, [](qint64, qint64) { return true; }).ok; });
    row("body-composition export, with progress", bcaProgress, bcaTheirs);

    const double fitOurs = bestOfThree([&] {
        const exchange::ExportResult r = exchange::exportFit(ours);
        lines = r.lines;
        return r.ok;
    });
    const double fitTheirs = bestOfThree([&] {
        return runSqlite({QStringLiteral("-csv"), db, fitSql}, theirs);
    });
    std::printf("\nfitness file: %d lines, ours %.1f MB, sqlite3 %.1f MB\n", lines, QFile(ours).size() / 1e6,
                QFile(theirs).size() / 1e6);
    row("fitness export", fitOurs, fitTheirs);

    // Backup: VACUUM INTO through a connection of its own, against .backup.
    const QString copy = dir + QStringLiteral("/copy.db");
    const auto removeCopy = [&] { QFile::remove(copy); };
    const double backupOurs = bestOfThree(
        [&] {
            const exchange::BackupResult r = exchange::backupDatabase(copy);
            if (!r.ok)
                std::fprintf(stderr, "backup failed: %s\n", qPrintable(r.error));
            return r.ok;
        },
        removeCopy);
    const qint64 ourCopy = QFile(copy).size();
    const double backupTheirs = bestOfThree(
        [&] {
            return runSqlite({db, QStringLiteral(".backup '%1'").arg(copy)});
        },
        removeCopy);
    std::printf("\ndatabase %.1f MB; our copy %.1f MB, sqlite3 .backup %.1f MB\n", QFile(db).size() / 1e6,
                ourCopy / 1e6, QFile(copy).size() / 1e6);
    row("backup", backupOurs, backupTheirs);
    return 0;
}
