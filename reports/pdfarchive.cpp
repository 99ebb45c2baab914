#include "reports/pdfarchive.h"

#include "app/database.h"
#include "app/dbtarget.h"
#include "app/globals.h"
#include "exchange/commandline.h"
#include "reports/layout.h"
#include "reports/reportprint.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryFile>
#include <QTextCodec>
#include <QTextStream>
#include <QThread>
#include <QVariant>

#include <cstdio>
#include <map>
#include <memory>
#include <vector>

namespace reports {

bool parseArchiveRange(const QString &text, int *first, int *last)
{
    static const QRegularExpression re(QStringLiteral("^\\s*(\\d+)\\s*(?:-\\s*(\\d+)\\s*)?$"));
    const QRegularExpressionMatch m = re.match(text);
    if (!m.hasMatch())
        return false;
    bool okA = false;
    bool okB = true;
    const int a = m.captured(1).toInt(&okA);
    const int b = m.captured(2).isEmpty() ? a : m.captured(2).toInt(&okB);
    if (!okA || !okB || a < 1 || b < a)
        return false;
    *first = a;
    *last = b;
    return true;
}

namespace {
// A lone surrogate (half of a character) becomes '_', so the text is valid
// UTF-16 for the expressions and the file system.
QString withoutLoneSurrogates(QString text)
{
    for (int i = 0; i < text.size(); ++i) {
        if (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            ++i;
        else if (text.at(i).isSurrogate())
            text[i] = QLatin1Char('_');
    }
    return text;
}

// The longest prefix of |text| that takes at most |maxBytes| in UTF-8, cut
// between characters.
QString cutToUtf8Bytes(const QString &text, int maxBytes)
{
    int bytes = 0;
    int i = 0;
    while (i < text.size()) {
        const ushort c = text.at(i).unicode();
        const bool pair = text.at(i).isHighSurrogate();
        const int size = pair ? 4 : c < 0x80 ? 1 : c < 0x800 ? 2 : 3;
        if (bytes + size > maxBytes)
            break;
        bytes += size;
        i += pair ? 2 : 1;
    }
    return text.left(i);
}
} // namespace

QString archiveFileName(int testId, const QString &uid, const QString &name)
{
    static const QRegularExpression unsafe(QStringLiteral("[\\\\/:*?\"<>|\\x00-\\x1f\\x7f\\s]"));
    auto clean = [](QString part, int maxBytes) {
        part = withoutLoneSurrogates(part).trimmed().replace(unsafe, QStringLiteral("_"));
        part = cutToUtf8Bytes(part, maxBytes);
        if (part.isEmpty() || part.startsWith(QLatin1Char('.')))
            part = QLatin1Char('_') + cutToUtf8Bytes(part, maxBytes - 1);
        return part;
    };
    // File systems allow 255 bytes; the name keeps well below that in UTF-8.
    constexpr int kMaxBytes = 200;
    const QString head = QString::number(testId) + QLatin1Char('_') + clean(uid, 64) + QLatin1Char('_');
    const QString tail = QStringLiteral(".pdf");
    return head + clean(name, kMaxBytes - head.toUtf8().size() - tail.size()) + tail;
}

QString foldRuns(const NumberRuns &runs)
{
    QStringList parts;
    for (const auto &run : runs)
        parts << (run.first == run.second ? QString::number(run.first)
                                          : QStringLiteral("%1-%2").arg(run.first).arg(run.second));
    return parts.join(QStringLiteral(", "));
}

namespace {

struct ArchiveRecord
{
    int testId;
    QString uid;
    QString name;
};

bool folderWritable(const QString &dir)
{
    if (!QDir().mkpath(dir))
        return false;
    QTemporaryFile probe(QDir(dir).filePath(QStringLiteral(".quelmar-XXXXXX")));
    return probe.open();
}

// What became of one record: the file written, or empty when it failed.
using Outcomes = std::map<int, QString>;

// Writes one record's report; reports a failure on |err| (the run goes on).
void writeRecord(const ArchiveRecord &r, const QString &dir, const QString &sheetTag, QTextStream &err,
                 Outcomes *outcomes)
{
    const QString path = QDir(dir).filePath(archiveFileName(r.testId, r.uid, r.name));
    QString error;
    const QString title = QStringLiteral("%1 %2 %3").arg(r.testId).arg(r.uid, r.name);
    if (writeReportPdf(path, sheetTag, r.testId, &error, title)) {
        (*outcomes)[r.testId] = path;
    } else {
        err << "test " << r.testId << ": " << error << Qt::endl;
        (*outcomes)[r.testId] = QString();
    }
}

// The program's own arguments without argv[0] and without the options a
// worker gets from its caller.
QStringList workerArguments(const QStringList &arguments)
{
    QStringList kept;
    for (int i = 1; i < arguments.size(); ++i) {
        const QString &a = arguments.at(i);
        if (a == QLatin1String("--export-pdf") || a == QLatin1String("--jobs")) {
            ++i; // and its value
            continue;
        }
        if (a.startsWith(QLatin1String("--export-pdf=")) || a.startsWith(QLatin1String("--jobs=")) ||
            a == QLatin1String("--archive-part"))
            continue;
        kept << a;
    }
    return kept;
}

// A second process of the program writing one part of the records, so the
// archive uses every core: each PDF file embeds its own font subset, which
// costs more than painting the page. Its stdout goes to a file read after it
// ends ("ok<TAB>id<TAB>path" / "failed<TAB>id"); its stderr is ours.
struct Worker
{
    QProcess process;
    QTemporaryFile report;
    int begin = 0; // records[begin, end)
    int end = 0;
};

Outcomes readWorkerReport(QIODevice &report)
{
    Outcomes outcomes;
    while (!report.atEnd()) {
        const QString line = QString::fromUtf8(report.readLine()).chopped(1);
        bool ok = false;
        const int testId = line.section(QLatin1Char('\t'), 1, 1).toInt(&ok);
        if (!ok)
            continue;
        if (line.startsWith(QLatin1String("ok\t")))
            outcomes[testId] = line.section(QLatin1Char('\t'), 2);
        else if (line.startsWith(QLatin1String("failed\t")))
            outcomes[testId] = QString();
    }
    return outcomes;
}

} // namespace

int runPdfArchive(const QStringList &arguments, QTextStream &out, QTextStream &err,
                  const QString &workerProgram)
{
    QCommandLineParser parser;
    const QCommandLineOption range(QStringLiteral("export-pdf"), QString(), QStringLiteral("FIRST-LAST"));
    const QCommandLineOption outDir(QStringLiteral("out"), QString(), QStringLiteral("DIR"));
    const QCommandLineOption fitness(QStringLiteral("fitness"));
    const QCommandLineOption jobsOption(QStringLiteral("jobs"), QString(), QStringLiteral("N"));
    const QCommandLineOption part(QStringLiteral("archive-part")); // a worker of another run
    parser.addOptions({range, outDir, fitness, jobsOption, part});
    if (!parser.parse(arguments)) {
        err << parser.errorText() << "\n" << pdfArchiveHelp();
        return 2;
    }
    if (!parser.positionalArguments().isEmpty()) {
        err << "unexpected argument: " << parser.positionalArguments().first() << "\n" << pdfArchiveHelp();
        return 2;
    }
    if (const QString repeated = exchange::repeatedOption(parser); !repeated.isEmpty()) {
        err << "--" << repeated << " given more than once\n";
        return 2;
    }
    int first = 0;
    int last = 0;
    if (!parseArchiveRange(parser.value(range), &first, &last)) {
        err << "bad range \"" << parser.value(range) << "\": expected FIRST-LAST with 1 <= FIRST <= LAST\n";
        return 2;
    }
    int jobs = 0; // 0: one per core
    if (parser.isSet(jobsOption)) {
        bool ok = false;
        jobs = parser.value(jobsOption).toInt(&ok);
        if (!ok || jobs < 1 || jobs > 16) {
            err << "bad --jobs \"" << parser.value(jobsOption) << "\": expected 1 to 16\n";
            return 2;
        }
    }
    const QString dir = parser.value(outDir);
    if (dir.isEmpty()) {
        err << "--out DIR is required\n";
        return 2;
    }
    // The database is looked at before the folder is made: a run that cannot
    // write anything leaves nothing behind.
    const DbTarget &target = activeDbTarget();
    if (!dbSetupResult) {
        if (target.isServer())
            err << "cannot reach the database " << target.display()
                << " (无法连接数据库服务器): " << QSqlDatabase::database().lastError().text().trimmed()
                << "\n";
        else
            err << "cannot open the database " << target.path << " in " << QDir::currentPath() << "\n";
        return 1;
    }
    const bool fit = parser.isSet(fitness);
    const QStringList tables = fit ? QStringList{QStringLiteral("ResultFIT")}
                                   : QStringList{QStringLiteral("Result"), QStringLiteral("Report")};
    DatabaseFileCheck check;
    if (target.isServer()) {
        check.where = target.display();
        check.missing = missingTables();
    } else {
        check = checkDatabaseFile(QSqlDatabase::database().databaseName());
    }
    if (const QString problem = check.reason(QSqlDatabase::database().databaseName(), tables);
        !problem.isEmpty()) {
        err << "cannot export: " << problem << "\n";
        return 1;
    }
    if (!folderWritable(dir)) {
        err << "cannot write to folder " << QFileInfo(dir).absoluteFilePath() << "\n";
        return 2;
    }

    const QString sheetTag = fit ? sheet::fitness : readSelectedSheetTag();
    const QString table = resultTable(sheetTag);
    QSqlQuery q;
    q.prepare(
        dbSql(QStringLiteral("SELECT TestID, UID, Name FROM %1 WHERE TestID BETWEEN ? AND ? ORDER BY TestID")
                  .arg(table)));
    q.addBindValue(first);
    q.addBindValue(last);
    if (!q.exec()) {
        err << "cannot read table " << table << ": " << q.lastError().text() << "\n";
        return 1;
    }
    QList<ArchiveRecord> records;
    while (q.next())
        records.append({q.value(0).toInt(), q.value(1).toString(), q.value(2).toString()});
    q.finish();

    if (parser.isSet(part)) {
        // A worker: one line per record for the run that started it.
        for (const ArchiveRecord &r : qAsConst(records)) {
            Outcomes outcome;
            writeRecord(r, dir, sheetTag, err, &outcome);
            const QString path = outcome.begin()->second;
            out << (path.isEmpty() ? QStringLiteral("failed\t%1").arg(r.testId)
                                   : QStringLiteral("ok\t%1\t%2").arg(r.testId).arg(path))
                << Qt::endl;
        }
        return 0;
    }

    // Parts of at least kMinPerJob records, one per core unless --jobs says.
    constexpr int kMinPerJob = 10;
    if (workerProgram.isEmpty())
        jobs = 1;
    else if (jobs == 0)
        jobs = qBound(1, std::min(QThread::idealThreadCount(), int(records.size() / kMinPerJob)), 4);
    jobs = std::max(1, std::min(jobs, int(records.size())));
    std::vector<std::unique_ptr<Worker>> workers;
    for (int j = 1; j < jobs; ++j) {
        auto w = std::make_unique<Worker>();
        w->begin = int(qint64(records.size()) * j / jobs);
        w->end = int(qint64(records.size()) * (j + 1) / jobs);
        if (!w->report.open()) { // its records are written here
            workers.push_back(std::move(w));
            continue;
        }
        w->process.setStandardOutputFile(w->report.fileName());
        w->process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        w->process.start(
            workerProgram,
            workerArguments(arguments)
                << QStringLiteral("--export-pdf")
                << QStringLiteral("%1-%2").arg(records.at(w->begin).testId).arg(records.at(w->end - 1).testId)
                << QStringLiteral("--archive-part"));
        workers.push_back(std::move(w));
    }

    Outcomes outcomes;
    const auto report = [&out](const Outcomes &done) {
        for (const auto &entry : done)
            if (!entry.second.isEmpty())
                out << entry.second << Qt::endl;
    };
    // This process writes the first part, printing each file as it goes.
    const int own = workers.empty() ? records.size() : workers.front()->begin;
    for (int i = 0; i < own; ++i) {
        Outcomes done;
        writeRecord(records.at(i), dir, sheetTag, err, &done);
        report(done);
        outcomes.insert(done.begin(), done.end());
    }
    // Then each worker's part in order; what a worker did not report (it did
    // not start, or ended early) is written here.
    for (const auto &w : workers) {
        w->process.waitForFinished(-1);
        Outcomes done = w->report.isOpen() ? readWorkerReport(w->report) : Outcomes();
        for (int i = w->begin; i < w->end; ++i)
            if (done.find(records.at(i).testId) == done.end())
                writeRecord(records.at(i), dir, sheetTag, err, &done);
        report(done);
        outcomes.insert(done.begin(), done.end());
    }

    QList<int> existing;
    NumberRuns failed; // one run per record: the list stays in test order
    for (const auto &entry : outcomes) {
        existing << entry.first;
        if (entry.second.isEmpty())
            failed.append({entry.first, entry.first});
    }
    // Missing numbers are kept as runs, so a range such as 1-999999999 costs
    // no more than its gaps.
    const NumberRuns missing = missingRuns(first, last, existing);
    qint64 missingCount = 0;
    for (const auto &run : missing)
        missingCount += run.second - run.first + 1;
    const int written = int(outcomes.size()) - failed.size();
    out << written << " written, " << missingCount << " missing";
    if (!missing.isEmpty())
        out << ": " << foldRuns(missing);
    if (!failed.isEmpty())
        out << "; " << failed.size() << " failed: " << foldRuns(failed);
    out << Qt::endl;
    return written > 0 && failed.isEmpty() ? 0 : 1;
}

bool wantsPdfArchive(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (arg == "--export-pdf" || arg.startsWith("--export-pdf="))
            return true;
    }
    return false;
}

int pdfArchiveMain(int argc, char *argv[])
{
    return exchange::runHeadlessJob(
        argc, argv, [](const QStringList &arguments, QTextStream &out, QTextStream &err) {
            return runPdfArchive(arguments, out, err, QCoreApplication::applicationFilePath());
        });
}

QString pdfArchiveHelp()
{
    return QStringLiteral(
        "\nReport archive (no window, no display needed):\n"
        "  --export-pdf FIRST-LAST --out DIR [--fitness] [--jobs N]\n"
        "                        write the report of every existing test number in the range\n"
        "                        to DIR/<TestID>_<UID>_<Name>.pdf without opening a window\n"
        "                        (body-composition report in the selected sheet style, or the\n"
        "                        fitness report with --fitness) and exit; N processes share\n"
        "                        the work (default: one per core)\n");
}

} // namespace reports
