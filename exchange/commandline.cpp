#include "exchange/commandline.h"

#include "app/database.h"
#include "exchange/backup.h"
#include "exchange/csvexport.h"
#include "exchange/statsjob.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSqlDatabase>
#include <QSqlError>
#include <QTextStream>

#include <cstring>

namespace exchange {

namespace {
const char *const kJobOptions[] = {"--export-bca", "--export-fit", "--backup"};

bool isJobOption(const char *arg)
{
    for (const char *option : kJobOptions) {
        const size_t n = std::strlen(option);
        // "--export-bca FILE" and "--export-bca=FILE"
        if (std::strncmp(arg, option, n) == 0 && (arg[n] == '\0' || arg[n] == '='))
            return true;
    }
    return false;
}
} // namespace

bool isJobCommandLine(int argc, char **argv)
{
    if (isStatsCommandLine(argc, argv))
        return true;
    for (int i = 1; i < argc; ++i) {
        if (isJobOption(argv[i]))
            return true;
    }
    return false;
}

QString jobOptionsHelp()
{
    const QString help = QStringLiteral(
        "\nScheduled jobs (no window; on maindb.db of the working directory; may be combined):\n"
        "  --export-bca FILE     write the body-composition results to the CSV file FILE\n"
        "  --export-fit FILE     write the fitness results to the CSV file FILE\n"
        "  --backup              copy the database to ../backup/maindbYYYYMMDDhhmmss.db\n"
        "Each job prints what it wrote; on failure the reason goes to stderr and the exit code is 1.\n");
    return help + statsJobHelp();
}

int runJobCommandLine(int argc, char **argv)
{
    // The statistics run on their own (their PDF needs a GUI application).
    if (isStatsCommandLine(argc, argv))
        return runStatsCommandLine(argc, argv);
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    out.setCodec("UTF-8");
    err.setCodec("UTF-8");

    QCommandLineParser parser;
    const QCommandLineOption exportBcaOption(QStringLiteral("export-bca"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption exportFitOption(QStringLiteral("export-fit"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption backupOption(QStringLiteral("backup"));
    const QCommandLineOption helpOption(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    parser.addOptions({exportBcaOption, exportFitOption, backupOption, helpOption});
    if (!parser.parse(app.arguments()) || !parser.positionalArguments().isEmpty()) {
        err << "quelmar: "
            << (parser.errorText().isEmpty()
                    ? QStringLiteral("unexpected argument: %1").arg(parser.positionalArguments().value(0))
                    : parser.errorText())
            << "\n"
            << jobOptionsHelp();
        return 2;
    }

    if (parser.isSet(helpOption)) {
        out << jobOptionsHelp();
        return 0;
    }

    // A missing database file would be created empty by the driver: refuse instead.
    const QString dbPath = QStringLiteral("maindb.db");
    if (!QFileInfo(dbPath).isFile()) {
        err << "quelmar: " << QFileInfo(dbPath).absoluteFilePath() << " does not exist ("
            << QObject::tr("找不到数据库文件") << ")\n";
        return 1;
    }
    if (!openDefaultDatabase(dbPath)) {
        err << "quelmar: cannot open " << QFileInfo(dbPath).absoluteFilePath() << ": "
            << QSqlDatabase::database().lastError().text() << "\n";
        return 1;
    }
    // One debug line per exported line is for the window's log, not for cron mail.
    QLoggingCategory::setFilterRules(QStringLiteral("quelmar.export.rows.debug=false"));

    int failures = 0;
    if (parser.isSet(backupOption)) {
        qDebug() << "DBbackup function";
        const BackupResult r = backupDatabase(backupTarget(QDateTime::currentDateTime()));
        if (r.ok) {
            out << "backup: " << QFileInfo(r.target).absoluteFilePath() << "\n";
        } else {
            err << "quelmar: backup failed (" << QObject::tr("数据库备份失败！") << "): " << r.error << "\n";
            ++failures;
        }
    }
    const auto runExport = [&](const QCommandLineOption &option, const char *what,
                               ExportResult (*job)(const QString &, const ExportProgress &)) {
        if (!parser.isSet(option))
            return;
        const QString path = parser.value(option);
        const ExportResult r = job(path, {});
        if (r.ok) {
            out << what << ": " << QFileInfo(path).absoluteFilePath() << " (" << r.lines << " rows)\n";
        } else {
            err << "quelmar: " << what << " to " << QFileInfo(path).absoluteFilePath()
                << " failed: " << r.error << "\n";
            ++failures;
        }
    };
    runExport(exportBcaOption, "export-bca", exportBca);
    runExport(exportFitOption, "export-fit", exportFit);
    out.flush();
    err.flush();
    return failures == 0 ? 0 : 1;
}

} // namespace exchange
