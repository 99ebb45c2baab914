// Helpers shared by the benchmarks: a scratch copy of the supplied database,
// a simulator child process and the process's own CPU time and memory.
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

#include <sys/resource.h>

#include <cstdio>

namespace bench {

// Builds |db| from db/maindb.sql with the sqlite3 CLI.
inline bool buildSuppliedDatabase(const QString &db)
{
    QProcess sqlite;
    sqlite.setStandardInputFile(QStringLiteral(QUELMAR_SOURCE_DIR "/db/maindb.sql"));
    sqlite.start(QStringLiteral("sqlite3"), {db});
    if (sqlite.waitForFinished(30000) && sqlite.exitCode() == 0)
        return true;
    std::fprintf(stderr, "cannot build the scratch database with sqlite3\n");
    return false;
}

// Starts build/<name> with |args| in |sim| and returns the device path it
// prints first; empty when it did not start.
inline QString startSimulator(QProcess &sim, const QString &name, const QStringList &args)
{
    sim.start(QStringLiteral(QUELMAR_BUILD_DIR "/") + name, args);
    if (!sim.waitForReadyRead(10000)) {
        std::fprintf(stderr, "%s did not start\n", qPrintable(name));
        return QString();
    }
    return QString::fromLocal8Bit(sim.readLine()).trimmed();
}

inline rusage usage()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u;
}

inline double cpuSeconds(const rusage &u = usage())
{
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

} // namespace bench
