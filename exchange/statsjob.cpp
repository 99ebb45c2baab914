#include "exchange/statsjob.h"

#include "app/database.h"
#include "app/dbtarget.h"
#include "exchange/commandline.h"
#include "exchange/statscsv.h"
#include "reports/groupstats.h"
#include "reports/layout.h"
#include "reports/statspage.h"

#include <QDebug>
#include <QFileInfo>
#include <QGuiApplication>
#include <QSqlDatabase>
#include <QSqlError>
#include <QTextStream>

#include <cstring>

namespace exchange {

namespace {
using namespace reports;

struct StatsArguments
{
    QString from;
    QString to;
    QString out;
    QString error; // why the command line is wrong
};

StatsArguments parseArguments(const QStringList &args)
{
    StatsArguments a;
    for (int i = 1; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        if (arg == QLatin1String("--stats")) {
            if (i + 2 >= args.size() || args.at(i + 1).startsWith(QLatin1String("--")) ||
                args.at(i + 2).startsWith(QLatin1String("--"))) {
                a.error = QStringLiteral("--stats needs two dates: --stats FROM TO");
                return a;
            }
            a.from = args.at(i + 1);
            a.to = args.at(i + 2);
            i += 2;
        } else if (arg == QLatin1String("--out")) {
            if (i + 1 >= args.size()) {
                a.error = QStringLiteral("--out needs a file name");
                return a;
            }
            a.out = args.at(++i);
        } else if (arg.startsWith(QLatin1String("--out="))) {
            a.out = arg.mid(6);
        } else {
            a.error = QStringLiteral("unexpected argument with --stats: %1").arg(arg);
            return a;
        }
    }
    if (a.out.isEmpty())
        a.error = QStringLiteral("--out FILE is required (FILE ending in .csv or .pdf)");
    return a;
}

QDate parseDay(const QString &text)
{
    return QDate::fromString(text.trimmed(), QStringLiteral("yyyy-MM-dd"));
}

void printSummary(QTextStream &out, const GroupStatistics &s)
{
    out << QObject::tr("统计：%1").arg(describeFilter(s.filter)) << "\n";
    if (s.isEmpty()) {
        out << emptyStatsSentence(s.filter) << "\n";
        return;
    }
    out << QObject::tr("体质测试 %1 人，体成分测试 %2 人").arg(s.fitness.records).arg(s.bca.records) << "\n";
    if (s.fitness.records > 0) {
        const RunningStats &t = s.fitness.total;
        out << QObject::tr("总分：平均 %1，标准差 %2，最低 %3，最高 %4")
                   .arg(formatStat(t.mean(), 1), formatStat(t.sd(), 1), formatValue(t.min()),
                        formatValue(t.max()))
            << "\n";
        for (const FitItem item : statsItemOrder()) {
            const FitnessItemStats &i = s.fitness.item(item);
            if (i.values.count() == 0)
                continue;
            out << statsItemName(item)
                << QObject::tr("：%1 人，平均 %2")
                       .arg(i.values.count())
                       .arg(formatStat(i.values.mean(), statsItemDecimals(item)));
            for (int g = 0; g < StatsGradeCount; ++g) {
                if (i.graded() > 0)
                    out << QStringLiteral("，") << statsGradeName(g) << ' ' << formatShare(i.share(g));
            }
            out << "\n";
        }
    }
    for (int q = 0; q < BcaQuantityCount && s.bca.records > 0; ++q) {
        const BcaQuantityStats &b = s.bca.quantities[size_t(q)];
        if (b.values.count() == 0)
            continue;
        out << bcaQuantityName(q)
            << QObject::tr("：%1 人，平均 %2").arg(b.values.count()).arg(formatStat(b.values.mean(), 1));
        if (b.classified() > 0)
            out << QObject::tr("，正常 %1").arg(formatShare(b.share(RangeWithin)));
        out << "\n";
    }
}
} // namespace

bool isStatsCommandLine(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--stats") == 0)
            return true;
    }
    return false;
}

QString statsJobHelp()
{
    return QStringLiteral(
        "\nGroup statistics (no window, no display needed):\n"
        "  --stats FROM TO --out FILE\n"
        "                        statistics of the fitness and body-composition results tested\n"
        "                        from FROM to TO (yyyy-MM-dd, both included) into FILE: a CSV\n"
        "                        table for FILE.csv, the printable statistics pages for FILE.pdf;\n"
        "                        a summary goes to stdout\n");
}

int runStatsCommandLine(int argc, char **argv)
{
    // The PDF's text needs fonts, so a GUI application, without any display.
    useOffscreenUnlessChosen();
    QGuiApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    useUtf8Output(out, err);
    const auto finish = [&out, &err](int code) {
        out.flush();
        err.flush();
        return code;
    };

    const StatsArguments args = parseArguments(app.arguments());
    if (!args.error.isEmpty()) {
        err << "quelmar: " << args.error << "\n" << statsJobHelp();
        return finish(2);
    }
    StatsFilter filter;
    filter.from = parseDay(args.from);
    filter.to = parseDay(args.to);
    if (!filter.from.isValid() || !filter.to.isValid()) {
        err << "quelmar: --stats dates must be yyyy-MM-dd, got \"" << args.from << "\" and \"" << args.to
            << "\"\n";
        return finish(2);
    }
    const QString problem = checkStatsFilter(filter);
    if (!problem.isEmpty()) {
        err << "quelmar: " << problem << "\n";
        return finish(2);
    }
    const QString suffix = QFileInfo(args.out).suffix().toLower();
    if (suffix != QLatin1String("csv") && suffix != QLatin1String("pdf")) {
        err << "quelmar: --out " << args.out << ": the file name must end in .csv or .pdf\n";
        return finish(2);
    }

    // A missing database file would be created empty by the driver: refuse instead.
    const DbTarget &database = activeDbTarget();
    if (const DatabaseFileCheck check = openJobDatabase(database); !check.problem.isEmpty()) {
        err << "quelmar: " << check.reason(database.path, {}) << "\n";
        return finish(1);
    }

    const StatsOutcome outcome = computeGroupStatistics(filter);
    if (!outcome.ok) {
        err << "quelmar: statistics failed: " << outcome.error << "\n";
        return finish(1);
    }
    printSummary(out, outcome.stats);

    const QString target = QFileInfo(args.out).absoluteFilePath();
    if (suffix == QLatin1String("csv")) {
        const ExportResult r = writeStatsCsv(args.out, outcome.stats);
        if (!r.ok) {
            err << "quelmar: stats to " << target << " failed: " << r.error << "\n";
            return finish(1);
        }
        out << "stats: " << target << " (" << r.lines << (r.lines == 1 ? " row)\n" : " rows)\n");
    } else {
        QString error;
        if (!writeStatisticsPdf(args.out, outcome.stats, &error)) {
            err << "quelmar: stats to " << target << " failed: " << error << "\n";
            return finish(1);
        }
        const int pages = statisticsPageCount(outcome.stats);
        out << "stats: " << target << " (" << pages << (pages == 1 ? " page)\n" : " pages)\n");
    }
    return finish(0);
}

} // namespace exchange
