// Group statistics over 100,000 fitness and 100,000 body-composition results
// (quelmar-make-bigdb), side by side with the sqlite3 CLI computing the same
// counts and means of the same rows; the figures of both are compared. Then
// one day of the same database (what the dialog opens with) and writing the
// CSV and PDF outputs. Best of three runs each.
//
//   bench_groupstats [--keep DIR]   (--keep leaves the database in DIR)
#include "app/database.h"
#include "bench/benchsupport.h"
#include "exchange/statscsv.h"
#include "reports/groupstats.h"
#include "reports/statspage.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>

using namespace reports;

namespace {
void quiet(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type != QtDebugMsg && type != QtInfoMsg)
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

// Best wall time and best CPU time of three runs; the CPU time is this
// process's own, or its children's (the sqlite3 CLI) with |children|. On a
// busy machine the CPU time is the fairer comparison.
struct Timing
{
    double wall = 1e30;
    double cpu = 1e30;
};

double cpuNow(bool children)
{
    rusage u{};
    getrusage(children ? RUSAGE_CHILDREN : RUSAGE_SELF, &u);
    return bench::cpuSeconds(u);
}

Timing bestOfThree(const std::function<bool()> &work, bool children = false)
{
    Timing best;
    for (int i = 0; i < 3; ++i) {
        const double cpu = cpuNow(children);
        QElapsedTimer t;
        t.start();
        if (!work())
            return {-1, -1};
        best.wall = std::min(best.wall, double(t.nsecsElapsed()) / 1e9);
        best.cpu = std::min(best.cpu, cpuNow(children) - cpu);
    }
    return best;
}

// The counts and means sqlite3 prints, one line of '|'-separated numbers.
QString sqliteFigures(const QString &db, const QString &sql)
{
    QProcess p;
    p.start(QStringLiteral("sqlite3"), {db, sql});
    if (!p.waitForFinished(600000) || p.exitCode() != 0)
        return QString();
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

// Count and mean of a column over the range, 0 and empty left out.
QString countMean(const QString &expr)
{
    return QStringLiteral("COUNT(NULLIF(%1,0)), AVG(NULLIF(%1,0))").arg(expr);
}

QString fitnessSql(const StatsFilter &f)
{
    QStringList parts = {QStringLiteral("COUNT(*)"),
                         countMean(QStringLiteral("CASE WHEN Height > 0 AND Weight > 0 THEN "
                                                  "Weight / ((Height / 100.0) * (Height / 100.0)) END"))};
    for (const char *c : {"WOLI", "FHL", "FYS", "BYDJ", "TZ", "TQQ", "YWQZ", "FWC", "ZT", "TY"})
        parts << countMean(QLatin1String(c));
    return QStringLiteral("SELECT %1 FROM ResultFIT WHERE TestDate BETWEEN '%2' AND '%3';")
        .arg(parts.join(QStringLiteral(", ")), f.from.toString(Qt::ISODate), f.to.toString(Qt::ISODate));
}

QString bcaSql(const StatsFilter &f)
{
    QStringList parts = {QStringLiteral("COUNT(*)")};
    for (const char *c : {"Weight", "BMI", "PBF", "SMM", "VFI"})
        parts << countMean(QLatin1String(c));
    return QStringLiteral("SELECT %1 FROM Result WHERE TestDate BETWEEN '%2' AND '%3';")
        .arg(parts.join(QStringLiteral(", ")), f.from.toString(Qt::ISODate), f.to.toString(Qt::ISODate));
}

// Our figures in the order of the two statements above.
QList<double> ourFigures(const GroupStatistics &s)
{
    QList<double> out = {double(s.fitness.records)};
    for (FitItem item : {FitItem::BMI, FitItem::WOLI, FitItem::FHL, FitItem::FYS, FitItem::BYDJ, FitItem::TZ,
                         FitItem::TQQ, FitItem::YWQZ, FitItem::FWC, FitItem::ZT, FitItem::TY}) {
        const RunningStats &v = s.fitness.item(item).values;
        out << double(v.count()) << v.mean();
    }
    out << double(s.bca.records);
    for (int q = 0; q < BcaQuantityCount; ++q)
        out << double(s.bca.quantities[size_t(q)].values.count())
            << s.bca.quantities[size_t(q)].values.mean();
    return out;
}

bool sameFigures(const QList<double> &ours, const QString &theirs)
{
    const QStringList parts = theirs.split(QRegularExpression(QStringLiteral("[|\\n]")));
    if (parts.size() != ours.size())
        return false;
    for (int i = 0; i < ours.size(); ++i) {
        const double t = parts.at(i).isEmpty() ? 0 : parts.at(i).toDouble();
        if (std::abs(ours.at(i) - t) > 1e-9 * std::max(1.0, std::abs(t)))
            return false;
    }
    return true;
}

void row(const char *what, const Timing &ours, const Timing &theirs)
{
    std::printf(
        "%-28s wall: ours %6.3f s, sqlite3 %6.3f s, ratio %.2fx   cpu: ours %6.3f s, sqlite3 %6.3f s, "
        "ratio %.2fx\n",
        what, ours.wall, theirs.wall, theirs.wall > 0 ? ours.wall / theirs.wall : 0.0, ours.cpu, theirs.cpu,
        theirs.cpu > 0 ? ours.cpu / theirs.cpu : 0.0);
}
} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    qInstallMessageHandler(quiet);
    QTemporaryDir tmp;
    QString dir = tmp.path();
    const int keep = app.arguments().indexOf(QStringLiteral("--keep"));
    if (keep > 0 && keep + 1 < app.arguments().size()) {
        dir = app.arguments().at(keep + 1);
        QDir().mkpath(dir);
    }
    const QString db = dir + QStringLiteral("/maindb.db");
    std::printf("generating %s ...\n", qPrintable(db));
    std::fflush(stdout);
    if (QProcess::execute(QStringLiteral(QUELMAR_BUILD_DIR "/quelmar-make-bigdb"),
                          {db, QStringLiteral("--results"), QStringLiteral("100000"), QStringLiteral("--fit"),
                           QStringLiteral("100000")}) != 0) {
        std::fprintf(stderr, "quelmar-make-bigdb failed (build it first)\n");
        return 1;
    }
    if (!openDefaultDatabase(db)) {
        std::fprintf(stderr, "cannot open %s\n", qPrintable(db));
        return 1;
    }
    // Warm the page cache once so neither side pays for the first read.
    sqliteFigures(db, QStringLiteral("SELECT COUNT(*), SUM(length(Name)) FROM Result; "
                                     "SELECT COUNT(*) FROM ResultFIT;"));

    // The generator spreads its results over 2018-01-01 .. 2024-11-04.
    const StatsFilter all{QDate(2018, 1, 1), QDate(2024, 12, 31), -1, -1};
    const StatsFilter day{QDate(2021, 6, 1), QDate(2021, 6, 1), -1, -1};
    int status = 0;
    for (const auto &[label, chosen] : {std::pair<const char *, StatsFilter>{"all results", all},
                                        std::pair<const char *, StatsFilter>{"one day (2021-06-01)", day}}) {
        const StatsFilter &filter = chosen; // lambdas capture no structured binding before C++20
        GroupStatistics stats;
        const Timing ours = bestOfThree([&] {
            const StatsOutcome o = computeGroupStatistics(filter);
            stats = o.stats;
            return o.ok;
        });
        QString theirs;
        const QString sql = fitnessSql(filter) + QLatin1Char(' ') + bcaSql(filter);
        const Timing sqliteTime = bestOfThree(
            [&] {
                theirs = sqliteFigures(db, sql);
                return !theirs.isEmpty();
            },
            true);
        const bool agree = sameFigures(ourFigures(stats), theirs);
        std::printf("\n%s: %lld fitness, %lld body-composition results; counts and means %s\n", label,
                    stats.fitness.records, stats.bca.records, agree ? "agree with sqlite3" : "DIFFER");
        row(label, ours, sqliteTime);
        if (!agree) {
            std::printf("  sqlite3: %s\n", qPrintable(QString(theirs).replace('\n', '|')));
            status = 1;
        }
        if (filter.from == all.from) {
            // Progress callback as the dialog runs it (one counting statement more).
            const Timing withProgress = bestOfThree(
                [&] { return computeGroupStatistics(filter, [](qint64, qint64) { return true; }).ok; });
            row("all results, with progress", withProgress, sqliteTime);
            const double csv =
                bestOfThree([&] { return exchange::writeStatsCsv(dir + "/stats.csv", stats).ok; }).wall;
            QString error;
            const double pdf =
                bestOfThree([&] { return writeStatisticsPdf(dir + "/stats.pdf", stats, &error); }).wall;
            std::printf("writing the CSV %.3f s (%lld bytes), the PDF %.3f s (%lld bytes, %d pages)\n", csv,
                        QFile(dir + "/stats.csv").size(), pdf, QFile(dir + "/stats.pdf").size(),
                        statisticsPageCount(stats));
        }
    }
    return status;
}
