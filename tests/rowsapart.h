// The end-to-end programs spend their time waiting on the instruments' and
// the program's timers, hardly computing. Run without arguments (as CTest
// does), such a program runs each data row of each test function in a
// process of its own, several at once, prints every row's output in order
// and fails when any row failed. With arguments it is an ordinary QtTest
// program, so "tst_x function:tag" runs one row as before.
#pragma once

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <sys/prctl.h>

#include <csignal>
#include <cstdio>
#include <memory>
#include <vector>

namespace testsupport {

// A row's process, killed by the kernel when the runner dies (CTest's
// time-out kills only the runner): SIGKILL, as the window under test takes
// SIGTERM as a request to quit its event loop. Its simulators end with it.
class RowProcess : public QProcess
{
protected:
    void setupChildProcess() override { prctl(PR_SET_PDEATHSIG, SIGKILL); }
};

// Longest a single row may take before it counts as hung.
constexpr int kRowLimitMs = 240000; // CTest allows the whole program 300 s

inline int runRowsApart(int argc, char *argv[], int atOnce = 4)
{
    QCoreApplication app(argc, argv);
    const QString self = QCoreApplication::applicationFilePath();
    QProcess list;
    list.start(self, {QStringLiteral("-datatags")});
    if (!list.waitForFinished(60000) || list.exitStatus() != QProcess::NormalExit || list.exitCode() != 0) {
        std::fprintf(stderr, "cannot list the test rows: %s\n", list.readAllStandardError().constData());
        return 1;
    }
    // "<class> <function> [<tag, may hold blanks>]" per line.
    QStringList rows;
    for (const QString &line :
         QString::fromUtf8(list.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts)) {
        const QString function = line.section(' ', 1, 1);
        const QString tag = line.section(' ', 2);
        if (!function.isEmpty())
            rows << (tag.isEmpty() ? function : function + ':' + tag);
    }
    if (rows.isEmpty()) {
        std::fprintf(stderr, "no test rows listed\n");
        return 1;
    }

    QTemporaryDir outDir;
    struct Row
    {
        QString name;
        std::unique_ptr<RowProcess> proc;
        qint64 startedAt = 0; // ms on the runner's clock
        bool done = false;
        bool passed = false;
    };
    std::vector<Row> all(size_t(rows.size()));
    auto outFile = [&](size_t i) { return outDir.filePath(QString::number(i)); };
    size_t next = 0;
    int running = 0;
    int failed = 0;
    QElapsedTimer clock;
    clock.start();
    while (next < all.size() || running > 0) {
        while (running < atOnce && next < all.size()) {
            Row &row = all[next];
            row.name = rows.at(int(next));
            row.proc = std::make_unique<RowProcess>();
            row.proc->setProcessChannelMode(QProcess::MergedChannels);
            row.proc->setStandardOutputFile(outFile(next));
            row.proc->start(self, {row.name});
            row.startedAt = clock.elapsed();
            ++running;
            ++next;
        }
        for (size_t i = 0; i < next; ++i) {
            Row &row = all[i];
            if (row.done)
                continue;
            bool finished = row.proc->waitForFinished(20) || row.proc->state() == QProcess::NotRunning;
            if (!finished && clock.elapsed() - row.startedAt > kRowLimitMs) {
                row.proc->kill();
                row.proc->waitForFinished(5000);
                finished = true;
            }
            if (!finished)
                continue;
            row.done = true;
            row.passed = row.proc->exitStatus() == QProcess::NormalExit && row.proc->exitCode() == 0;
            failed += row.passed ? 0 : 1;
            --running;
        }
    }

    for (size_t i = 0; i < all.size(); ++i) {
        QFile out(outFile(i));
        const QByteArray text = out.open(QIODevice::ReadOnly) ? out.readAll() : QByteArray();
        std::printf("===== %s: %s\n%s\n", qPrintable(all[i].name), all[i].passed ? "PASS" : "FAIL",
                    text.constData());
    }
    std::printf("===== %d rows in their own processes, %d failed\n", int(all.size()), failed);
    return failed > 0 ? 1 : 0;
}

} // namespace testsupport

// QTEST_MAIN, with each row apart when no arguments are given.
#define QUELMAR_TEST_MAIN_ROWS_APART(TestObject)                                                             \
    int main(int argc, char *argv[])                                                                         \
    {                                                                                                        \
        if (argc == 1)                                                                                       \
            return testsupport::runRowsApart(argc, argv);                                                    \
        QApplication app(argc, argv);                                                                        \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                                             \
        TestObject tc;                                                                                       \
        QTEST_SET_MAIN_SOURCE_PATH                                                                           \
        return QTest::qExec(&tc, argc, argv);                                                                \
    }
