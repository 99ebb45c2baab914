// Runs one of the instrument simulators as a child process for a test: the
// simulator prints the device path to open as its first line on stdout.
#pragma once

#include <QElapsedTimer>
#include <QProcess>
#include <QStringList>
#include <QtTest>

class SimProcess
{
public:
    ~SimProcess() { stop(); }

    // |program| is the binary name in the build folder, e.g. "quelmar-analyzer-sim".
    bool start(const QString &program, const QStringList &args)
    {
        m_proc.setProgram(QStringLiteral(QUELMAR_BUILD_DIR) + QLatin1Char('/') + program);
        m_proc.setArguments(args);
        m_proc.setProcessChannelMode(QProcess::SeparateChannels);
        m_proc.start();
        if (!m_proc.waitForStarted(5000))
            return false;
        QElapsedTimer t;
        t.start();
        while (!m_proc.canReadLine() && t.elapsed() < 5000)
            m_proc.waitForReadyRead(100);
        m_path = QString::fromLocal8Bit(m_proc.readLine()).trimmed();
        return !m_path.isEmpty();
    }

    QString devicePath() const { return m_path; }
    QProcess &process() { return m_proc; }

    // Ends the simulator by its own PID (terminate, then kill).
    void stop()
    {
        if (m_proc.state() == QProcess::NotRunning)
            return;
        m_proc.terminate();
        if (!m_proc.waitForFinished(3000)) {
            m_proc.kill();
            m_proc.waitForFinished(3000);
        }
    }

private:
    QProcess m_proc;
    QString m_path;
};
