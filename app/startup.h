// Command-line options of the program (all optional; without any the program
// starts exactly as an operator knows it) and the demo instruments.
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

#include <memory>

class MainWindow;

struct StartOptions
{
    QString analyzerPort; // --analyzer-port PATH
    QString stationPort;  // --station-port PATH
    bool connect = false; // --connect
    bool batch = false;   // --batch
    bool demo = false;    // --demo
    bool help = false;    // --help
    QString error;        // not empty when the command line could not be read
};

StartOptions parseStartOptions(const QStringList &arguments);
QString startOptionsHelp();

// A child process that the kernel ends (SIGTERM) when this process dies,
// however it dies: a simulator never outlives the program, even on SIGKILL.
class ParentBoundProcess : public QProcess
{
public:
    ParentBoundProcess();

protected:
    void setupChildProcess() override;

private:
    const qint64 m_parentPid; // this process, as the child must see it
};

// Both instrument simulators as child processes; they end with this object.
class DemoInstruments
{
public:
    ~DemoInstruments();
    // |binDir| holds quelmar-analyzer-sim and quelmar-station-sim.
    bool start(const QString &binDir, QString *error);
    QString analyzerPath() const { return m_analyzerPath; }
    QString stationPath() const { return m_stationPath; }

private:
    bool startOne(ParentBoundProcess &proc, const QString &program, const QStringList &args, QString *path,
                  QString *error);
    ParentBoundProcess m_analyzer;
    ParentBoundProcess m_station;
    QString m_analyzerPath;
    QString m_stationPath;
};

// Opens the ports named in |options| exactly as the settings dialog's open
// buttons do (line settings and flags). Returns the operator-readable problems.
QStringList openStartPorts(const StartOptions &options);

// Installs Qt's own Chinese translation (qtbase_zh_CN.qm from Qt's
// translations folder) on |app|, so that standard buttons and dialogs read
// 是/否/确定/取消. Returns false, with a log line, when the file is missing.
class QCoreApplication;
bool installQtChineseTranslation(QCoreApplication *app);

// SIGTERM (a session manager, systemd, kill), SIGINT (Ctrl+C) and SIGHUP (its
// terminal closed) quit the event loop of |app|, so the program ends through
// its normal path: windows closed, demo simulators ended, database released. The handler only writes
// one byte to a pipe that a socket notifier reads. Call once.
bool installQuitOnSignals(QCoreApplication *app);
