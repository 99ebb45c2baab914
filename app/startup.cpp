#include "app/startup.h"

#include "app/globals.h"
#include "app/serialports.h"
#include "exchange/commandline.h"
#include "exchange/errortext.h"
#include "reports/historypage.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QElapsedTimer>
#include <QLibraryInfo>
#include <QObject>
#include <QSerialPort>
#include <QSocketNotifier>
#include <QTranslator>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/prctl.h>
#include <unistd.h>

StartOptions parseStartOptions(const QStringList &arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption analyzer(QStringLiteral("analyzer-port"), QString(), QStringLiteral("PATH"));
    const QCommandLineOption station(QStringLiteral("station-port"), QString(), QStringLiteral("PATH"));
    const QCommandLineOption connect(QStringLiteral("connect"));
    const QCommandLineOption batch(QStringLiteral("batch"));
    const QCommandLineOption demo(QStringLiteral("demo"));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    parser.addOptions({analyzer, station, connect, batch, demo, help});

    StartOptions options;
    if (!parser.parse(arguments)) {
        options.error = parser.errorText();
        return options;
    }
    if (!parser.positionalArguments().isEmpty()) {
        options.error = QStringLiteral("unexpected argument: %1").arg(parser.positionalArguments().first());
        return options;
    }
    options.analyzerPort = parser.value(analyzer);
    options.stationPort = parser.value(station);
    options.connect = parser.isSet(connect);
    options.batch = parser.isSet(batch);
    options.demo = parser.isSet(demo);
    options.help = parser.isSet(help);
    return options;
}

QString startOptionsHelp()
{
    QString text = QStringLiteral(
        "Usage: quelmar [options]\n"
        "Without options the program starts as usual; ports are opened in the settings dialog.\n\n"
        "  --analyzer-port PATH  open the body-composition analyzer port at start\n"
        "  --station-port PATH   open the fitness-station port at start\n"
        "  --connect             then start polling the instruments (as \"连接仪器\")\n"
        "  --batch               open the batch-collection dialog once the window is shown\n"
        "  --demo                start both instrument simulators, open their ports and connect\n"
        "  --database DB         the database of this run and of every job below: a file (PATH or\n"
        "                        sqlite:PATH) or a server (postgresql://user@host:port/dbname; the\n"
        "                        password from ~/.pgpass or PGPASSWORD). Without it: QUELMAR_DATABASE,\n"
        "                        then the choice in the settings dialog (quelmar.ini), then maindb.db\n"
        "  -h, --help            this text\n");
    // --- data exchange jobs ---
    text += exchange::jobOptionsHelp();
    text += history::historyExportHelp();
    // --- end of data exchange jobs ---
    return text;
}

DemoInstruments::~DemoInstruments()
{
    for (QProcess *proc : {&m_analyzer, &m_station}) {
        if (proc->state() == QProcess::NotRunning)
            continue;
        proc->terminate();
        if (!proc->waitForFinished(2000)) {
            proc->kill();
            proc->waitForFinished(2000);
        }
    }
}

ParentBoundProcess::ParentBoundProcess() : m_parentPid(::getpid()) {}

void ParentBoundProcess::setupChildProcess()
{
    // Runs in the child between fork and exec. When the parent already died
    // before the request took effect, the child has been re-parented: end.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != m_parentPid)
        ::_exit(1);
}

bool DemoInstruments::startOne(ParentBoundProcess &proc, const QString &program, const QStringList &args,
                               QString *path, QString *error)
{
    proc.setProgram(program);
    proc.setArguments(args);
    proc.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    proc.start();
    if (!proc.waitForStarted(5000)) {
        *error = QObject::tr("无法启动模拟仪器 %1：%2").arg(program, proc.errorString());
        return false;
    }
    QElapsedTimer waited;
    waited.start();
    while (!proc.canReadLine() && waited.elapsed() < 5000 && proc.state() == QProcess::Running)
        proc.waitForReadyRead(100);
    *path = QString::fromLocal8Bit(proc.readLine()).trimmed();
    if (path->isEmpty()) {
        *error = QObject::tr("模拟仪器 %1 没有给出串口").arg(program);
        return false;
    }
    return true;
}

bool DemoInstruments::start(const QString &binDir, QString *error)
{
    // A person steps on the analyzer every 25 s; a station result every 4 s.
    return startOne(m_analyzer, binDir + QStringLiteral("/quelmar-analyzer-sim"),
                    {QStringLiteral("--measure-every"), QStringLiteral("25"), QStringLiteral("--seed"),
                     QString::number(QDateTime::currentSecsSinceEpoch() % 100000)},
                    &m_analyzerPath, error) &&
           startOne(m_station, binDir + QStringLiteral("/quelmar-station-sim"),
                    {QStringLiteral("--results"), QStringLiteral("100000"), QStringLiteral("--interval"),
                     QStringLiteral("4000")},
                    &m_stationPath, error);
}

QStringList openStartPorts(const StartOptions &options)
{
    QStringList problems;
    const auto open = [&problems](QSerialPort *port, const QString &name, QString &flag,
                                  const char *resultLog, const char *flagLog) {
        QString error;
        const bool ok = openInstrumentPort(port, name, &error);
        qDebug() << resultLog << ok;
        if (!ok) {
            problems << QObject::tr("%1 串口打开失败：%2").arg(name, exchange::systemErrorText(error));
            return;
        }
        flag = portFlagFor(name);
        qDebug() << flagLog << flag;
    };
    if (!options.analyzerPort.isEmpty())
        open(BCAport, options.analyzerPort, global::portFlag, "Open port result:", "Now portflag is: ");
    if (!options.stationPort.isEmpty())
        open(fitPort, options.stationPort, global::fitPortFlag,
             "Open fitport result:", "Now fit portflag is: ");
    return problems;
}

bool installQtChineseTranslation(QCoreApplication *app)
{
    auto *translator = new QTranslator(app);
    const QString folder = QLibraryInfo::location(QLibraryInfo::TranslationsPath);
    if (!translator->load(QStringLiteral("qtbase_zh_CN"), folder)) {
        qDebug() << "Qt Chinese translation not found in" << folder;
        delete translator;
        return false;
    }
    return app->installTranslator(translator);
}

namespace {
int s_signalPipe[2] = {-1, -1};

void quitSignalHandler(int)
{
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(s_signalPipe[1], &byte, 1);
    errno = saved;
}
} // namespace

bool installQuitOnSignals(QCoreApplication *app)
{
    if (::pipe2(s_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        qWarning() << "no signal pipe:" << std::strerror(errno);
        return false;
    }
    auto *notifier = new QSocketNotifier(s_signalPipe[0], QSocketNotifier::Read, app);
    QObject::connect(notifier, &QSocketNotifier::activated, app, [app] {
        char bytes[16];
        while (::read(s_signalPipe[0], bytes, sizeof bytes) > 0) {
        }
        qWarning() << "quit signal received, ending";
        app->quit();
    });
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = quitSignalHandler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int sig : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(sig, &action, nullptr);
    return true;
}
