// Import of a generated class list into Person: the import logic alone, the
// slot with its progress dialog and closing box, a per-line autocommit loop
// for comparison, and the sqlite3 CLI's own .import of the same file into a
// scratch table, with the ratio.
//
//   bench_import [LINES] [--with-log]   (default 10,000 data lines; --with-log
//   repeats the logic run with the debug log on stderr, as the program writes it)
#include "app/globals.h"
#include "app/mainwindow.h"
#include "people/personimport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <cstdio>

namespace {
void quiet(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type != QtDebugMsg && type != QtInfoMsg)
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

double secondsSince(const QElapsedTimer &t)
{
    return double(t.nsecsElapsed()) / 1e9;
}

// The supplied schema, statement by statement, on the default connection.
bool buildSchema(const QString &db)
{
    initProcessState(db);
    if (!dbSetupResult)
        return false;
    QFile sql(QStringLiteral(QUELMAR_SOURCE_DIR "/db/maindb.sql"));
    if (!sql.open(QIODevice::ReadOnly))
        return false;
    const QStringList statements = QString::fromUtf8(sql.readAll()).split(QStringLiteral(";\n"));
    QSqlQuery q;
    for (const QString &statement : statements) {
        if (!statement.trimmed().isEmpty() && !q.exec(statement))
            return false;
    }
    return true;
}

void clearPeople()
{
    QSqlQuery q;
    q.exec(QStringLiteral("DELETE FROM Person"));
}

int people()
{
    QSqlQuery q(QStringLiteral("SELECT count(*) FROM Person"));
    return q.next() ? q.value(0).toInt() : -1;
}

void writeClassList(const QString &path, int lines)
{
    static const char *const surnames[] = {"张", "王", "李", "赵", "刘", "陈", "杨", "黄", "欧阳", "司马"};
    static const char *const given[] = {"伟", "芳", "娜", "敏", "静",   "强",
                                        "磊", "洋", "艳", "杰", "子涵", "雨桐"};
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    QTextStream out(&f);
    out.setCodec("UTF-8");
    out << QStringLiteral("单位识别码,用户编号,姓名,性别,出生年份,身高,班级\r\n");
    for (int i = 1; i <= lines; ++i) {
        out << "U0001,N" << QString::number(100000 + i) << ',' << QString::fromUtf8(surnames[i % 10])
            << QString::fromUtf8(given[(i / 10) % 12]) << ','
            << (i % 2 ? QStringLiteral("男") : QStringLiteral("女")) << ',' << 2005 + i % 8 << ','
            << 140 + i % 50 << ",初" << (i % 3 + 1) << "\r\n";
    }
}

struct CliRun
{
    bool ran = false;
    double seconds = 0;
    int rows = -1;
};

// Wall time of one sqlite3 process that runs |script| on |db|.
CliRun runCli(const QString &db, const QString &script)
{
    CliRun run;
    QProcess sqlite;
    sqlite.setProcessChannelMode(QProcess::MergedChannels);
    QElapsedTimer t;
    t.start();
    sqlite.start(QStringLiteral("sqlite3"), {QStringLiteral("-batch"), db});
    if (!sqlite.waitForStarted(5000))
        return run;
    sqlite.write(script.toUtf8());
    sqlite.closeWriteChannel();
    if (!sqlite.waitForFinished(300000) || sqlite.exitCode() != 0) {
        std::fprintf(stderr, "sqlite3: %s\n", sqlite.readAll().constData());
        return run;
    }
    run.seconds = secondsSince(t);
    run.ran = true;
    run.rows = QString::fromUtf8(sqlite.readAll()).trimmed().split(QLatin1Char('\n')).last().toInt();
    return run;
}

void row(const char *what, double seconds, int rows)
{
    std::printf("%-44s %9.3f s %10.0f rows/s  (%d rows)\n", what, seconds, seconds > 0 ? rows / seconds : 0.0,
                rows);
}
} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    qInstallMessageHandler(quiet);
    const QStringList args = app.arguments();
    const int lines = args.size() > 1 && args.at(1).toInt() > 0 ? args.at(1).toInt() : 10000;
    const bool withLog = args.contains(QStringLiteral("--with-log"));

    QTemporaryDir dir;
    const QString db = dir.filePath(QStringLiteral("maindb.db"));
    const QString csv = dir.filePath(QStringLiteral("class.csv"));
    if (!buildSchema(db)) {
        std::fprintf(stderr, "cannot build the scratch database %s\n", qPrintable(db));
        return 1;
    }
    writeClassList(csv, lines);
    std::printf("person import of a %d-line CSV (UTF-8, CRLF, 7 fields), scratch database %s\n", lines,
                qPrintable(db));

    // 1. The import logic: read, detect, decode, parse, insert, commit.
    QElapsedTimer t;
    t.start();
    const personimport::ImportResult logic = personimport::importFile(csv);
    const double logicSeconds = secondsSince(t);
    row("import logic (one transaction)", logicSeconds, logic.imported);
    if (logic.imported != lines || people() != lines) {
        std::fprintf(stderr, "expected %d people, got %d (table %d)\n", lines, logic.imported, people());
        return 1;
    }

    if (withLog) {
        clearPeople();
        qInstallMessageHandler(nullptr);
        t.restart();
        const int n = personimport::importFile(csv).imported;
        const double s = secondsSince(t);
        qInstallMessageHandler(quiet);
        row("import logic with the debug log on stderr", s, n);
    }

    // 2. The slot: progress dialog and the closing box (closed at once).
    clearPeople();
    {
        MainWindow w;
        QTimer closer;
        closer.setInterval(1);
        QObject::connect(&closer, &QTimer::timeout, [] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget()))
                box->accept();
        });
        closer.start();
        w.presetImportFile(csv);
        t.restart();
        w.usersImport();
        row("usersImport slot (progress dialog, box)", secondsSince(t), people());
    }

    // 3. For comparison: one autocommitted insert per line (no transaction).
    clearPeople();
    const int autocommitLines = qMin(lines, 1000);
    {
        const std::optional<QStringList> text = personimport::readLines(csv);
        QSqlQuery q;
        q.prepare(personimport::insertStatement());
        t.restart();
        for (int i = 1; i <= autocommitLines && i < text->size(); ++i) {
            const auto person = personimport::parseLine(text->at(i));
            q.bindValue(0, person->uuid);
            q.bindValue(1, person->uid);
            q.bindValue(2, person->name);
            q.bindValue(3, person->sex);
            q.bindValue(4, person->birthYear);
            q.bindValue(5, person->height);
            q.exec();
        }
        const double s = secondsSince(t);
        row("autocommit per line (first 1,000 lines only)", s, people());
        if (s > 0)
            std::printf("%-44s %9.3f s (extrapolated to %d lines)\n", "", s * lines / autocommitLines, lines);
    }

    // 4. The sqlite3 CLI's own .import into a scratch table.
    if (QStandardPaths::findExecutable(QStringLiteral("sqlite3")).isEmpty()) {
        std::printf("sqlite3 CLI not found: its .import is not measured\n");
        return 0;
    }
    runCli(db, QStringLiteral("DROP TABLE IF EXISTS ImportScratch;"));
    const CliRun empty = runCli(db, QStringLiteral("SELECT 0;\n"));
    const CliRun cli =
        runCli(db, QStringLiteral("CREATE TABLE ImportScratch (UUID TEXT, UID TEXT, Name TEXT, "
                                  "Sex TEXT, BirthYear TEXT, Height TEXT, Klass TEXT);\n"
                                  ".import --csv --skip 1 '%1' ImportScratch\n"
                                  "SELECT count(*) FROM ImportScratch;\n")
                       .arg(csv));
    if (!cli.ran) {
        std::printf("sqlite3 .import failed: not measured\n");
        return 0;
    }
    row("sqlite3 CLI .import (process wall time)", cli.seconds, cli.rows);
    const double cliNet = cli.seconds - (empty.ran ? empty.seconds : 0);
    row("sqlite3 CLI .import less process start", cliNet, cli.rows);
    if (cliNet > 0)
        std::printf("ratio import logic / sqlite3 .import: %.2f (against wall time %.2f)\n",
                    logicSeconds / cliNet, logicSeconds / cli.seconds);
    return 0;
}
