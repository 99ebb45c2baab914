#include "exchange/commandline.h"

#include "app/database.h"
#include "app/dbtarget.h"
#include "app/globals.h"
#include "exchange/backup.h"
#include "exchange/csvexport.h"
#include "exchange/dbinit.h"
#include "exchange/statsjob.h"
#include "exchange/xlsxexport.h"
#include "reports/historypage.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSqlDatabase>
#include <QSqlError>
#include <QTextCodec>
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

QString repeatedOption(const QCommandLineParser &parser)
{
    const QStringList names = parser.optionNames();
    for (const QString &name : names) {
        if (names.count(name) > 1)
            return name;
    }
    return QString();
}

QString sameFileProblem(const QList<QPair<QString, QString>> &outputs, const QString &databasePath)
{
    // Absolute and, where the file exists, with links resolved: "a.csv",
    // "./a.csv" and a link to it are one file.
    const auto identity = [](const QString &path) {
        const QFileInfo info(path);
        const QString canonical = info.canonicalFilePath();
        return canonical.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : canonical;
    };
    const QString database = identity(databasePath);
    for (int i = 0; i < outputs.size(); ++i) {
        const QString file = identity(outputs[i].second);
        if (file == database)
            return QStringLiteral("--%1 %2 would overwrite the database (不能写入数据库文件)")
                .arg(outputs[i].first, outputs[i].second);
        for (int j = 0; j < i; ++j) {
            if (identity(outputs[j].second) == file)
                return QStringLiteral("--%1 and --%2 name the same file %3 (两个任务不能写同一个文件)")
                    .arg(outputs[j].first, outputs[i].first, file);
        }
    }
    return QString();
}

bool isJobCommandLine(int argc, char **argv)
{
    if (history::wantsHistoryExport(argc, argv) || isStatsCommandLine(argc, argv) ||
        wantsDatabaseTool(argc, argv))
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
        "\nScheduled jobs (no window; on the chosen database, see --database; may be combined):\n"
        "  --export-bca FILE     write the body-composition results to FILE: a CSV file, or an\n"
        "                        Excel workbook when FILE ends in .xlsx\n"
        "  --export-fit FILE     write the fitness results (with points and grades in a workbook)\n"
        "                        to FILE, a CSV file or an Excel workbook (.xlsx) as above\n"
        "  --backup              copy the database to ../backup/maindbYYYYMMDDhhmmss.db\n"
        "                        (a PostgreSQL server: pg_dump archive maindbYYYYMMDDhhmmss.dump)\n"
        "Each job prints what it wrote; on failure the reason goes to stderr and the exit code is 1.\n");
    return help + statsJobHelp() + databaseToolHelp();
}

int runJobCommandLine(int argc, char **argv)
{
    // Setting up and filling a database: a run of its own.
    if (wantsDatabaseTool(argc, argv))
        return runDatabaseTool(argc, argv);
    // The history page holds charts: a run of its own with a GUI application.
    if (history::wantsHistoryExport(argc, argv))
        return history::historyExportMain(argc, argv);
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

    if (const QString repeated = repeatedOption(parser); !repeated.isEmpty()) {
        err << "quelmar: --" << repeated << " given more than once (选项重复)\n";
        return 2;
    }

    if (parser.isSet(helpOption)) {
        out << jobOptionsHelp();
        return 0;
    }

    const DbTarget &database = activeDbTarget();
    const QString dbPath = database.isServer() ? QString() : database.path;
    QList<QPair<QString, QString>> outputs;
    for (const QCommandLineOption *option : {&exportBcaOption, &exportFitOption}) {
        if (parser.isSet(*option))
            outputs.append({option->names().first(), parser.value(*option)});
    }
    if (const QString problem = sameFileProblem(outputs, dbPath); !problem.isEmpty()) {
        err << "quelmar: " << problem << "\n";
        return 2;
    }

    // A missing database file would be created empty by the driver, and a
    // file that is no database (or a server out of reach) fails every job
    // the same way: refuse at once.
    const DatabaseFileCheck check = openJobDatabase(database);
    if (!check.problem.isEmpty()) {
        err << "quelmar: " << check.reason(dbPath, {}) << "\n";
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
    const auto runExport = [&](const QCommandLineOption &option, const char *what, ExportTable table,
                               const QStringList &tables) {
        if (!parser.isSet(option))
            return;
        const QString path = parser.value(option);
        if (!check.usable(tables)) {
            err << "quelmar: " << what << " failed: " << check.reason(dbPath, tables) << "\n";
            ++failures;
            return;
        }
        const ExportResult r = exportResults(table, path);
        if (r.ok) {
            out << what << ": " << QFileInfo(path).absoluteFilePath() << " (" << r.lines << " rows)\n";
        } else {
            err << "quelmar: " << what << " to " << QFileInfo(path).absoluteFilePath()
                << " failed: " << r.error << "\n";
            ++failures;
        }
    };
    runExport(exportBcaOption, "export-bca", ExportTable::BodyComposition,
              {QStringLiteral("Person"), QStringLiteral("Result")});
    runExport(exportFitOption, "export-fit", ExportTable::Fitness, {QStringLiteral("ResultFIT")});
    out.flush();
    err.flush();
    return failures == 0 ? 0 : 1;
}

void useOffscreenUnlessChosen()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

void useUtf8Output(QTextStream &out, QTextStream &err)
{
    if (QTextCodec::codecForLocale()->mibEnum() != 106) // UTF-8
        QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));
    out.setCodec("UTF-8");
    err.setCodec("UTF-8");
}

int runHeadlessJob(int argc, char **argv, const HeadlessJob &job)
{
    useOffscreenUnlessChosen();
    QApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    useUtf8Output(out, err);
    const bool haveDatabase = databaseMayExist(activeDbTarget());
    if (haveDatabase)
        initProcessState(activeDbTarget());
    else
        dbSetupResult = false;
    const int code = job(app.arguments(), out, err);
    out.flush();
    err.flush();
    if (haveDatabase)
        releaseProcessState();
    return code;
}

} // namespace exchange
