// Shared parts of the two instrument simulators: the serial line (a
// pseudo-terminal or a given device), paced and faulty output, the delivery
// log, the common command-line options and clean termination on signals.
#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>
#include <random>

class QCommandLineParser;
class QSocketNotifier;
class QTimer;

namespace sim {

// Line rate of 9600 baud 8N1: ten bits per byte.
constexpr double kBytesPerSecond = 960.0;

struct DropRule
{
    QString kind; // answer kind, lower case ("85", "ready", ...)
    int nth = 1;  // 1-based count of answers of that kind
};

struct CommonOptions
{
    QString port; // empty: open a pseudo-terminal
    bool fast = false;
    quint32 seed = 1;
    int chunkMin = 0; // 0: answers are not split
    int chunkMax = 0;
    double garbage = 0.0;
    QString garbageKind; // empty: garbage may precede answers of every kind
    QList<DropRule> drops;
    QString logFile;
};

// Registers the options both simulators share (and --help).
void addCommonOptions(QCommandLineParser &parser);
// Parses "CODE[:N]" rules of option |option| (kinds from |kinds|, N from 1,
// default 1); false with |error| set when one is unusable.
bool parseKindRules(const QStringList &texts, const QStringList &kinds, const QString &option,
                    QList<DropRule> *out, QString *error);
// Reads them back; false with |error| set when a value is unusable.
// |dropKinds| lists the answer kinds --drop accepts.
bool readCommonOptions(const QCommandLineParser &parser, const QStringList &dropKinds, CommonOptions *out,
                       QString *error);

// Progress line on stderr, flushed at once.
void note(const QString &text);

// SIGTERM, SIGINT and SIGHUP end the event loop (through a self-pipe, so the
// handler does nothing but write one byte). Call once after QCoreApplication.
bool installQuitSignals();

// Bytes used for injected garbage: 0x40..0x7E. They can form neither a start
// or end mark, nor a "0d.." state pair in hex text, nor a digit or a blank.
QByteArray garbageBytes(std::mt19937 &rng, int count);

// One serial line of a simulator. Incoming bytes are delivered through
// received(); answers go out in order of sending, paced at the line rate
// unless --fast, split into chunks, preceded by garbage or dropped as the
// options ask.
class SimLink : public QObject
{
    Q_OBJECT

public:
    explicit SimLink(const CommonOptions &options, QObject *parent = nullptr);
    ~SimLink() override;

    // Opens the pseudo-terminal (or the --port device). On failure |error|
    // names the reason.
    bool open(QString *error);
    // Path the program should open (the slave side of the pseudo-terminal).
    QString devicePath() const { return m_path; }

    // Queues one answer of |kind|. Returns false when a --drop rule swallowed it.
    bool sendAnswer(const QString &kind, const QByteArray &bytes);
    // True while queued bytes have not yet gone out.
    bool busy() const { return !m_queue.isEmpty(); }

    // Appends one line to the --log file (flushed at once) and echoes it on stderr.
    void logDelivery(const QString &line);

signals:
    void received(const QByteArray &bytes);

private:
    struct Segment
    {
        QByteArray bytes;
        int pauseBeforeMs = 0;
    };

    void readAvailable();
    void pump();
    void schedule(qint64 atNs);
    qint64 nowNs() const { return m_clock.nsecsElapsed(); }
    int randomInt(int low, int high);

    CommonOptions m_opt;
    QString m_path;
    int m_fd = -1;      // master side (or the opened device)
    int m_slaveFd = -1; // kept open so the line never hangs up
    QSocketNotifier *m_readNotifier = nullptr;
    QTimer *m_pumpTimer = nullptr;
    QTimer *m_exclTimer = nullptr;
    QElapsedTimer m_clock;
    std::mt19937 m_rng;
    QHash<QString, int> m_answerCounts;
    std::unique_ptr<QFile> m_log;

    QList<Segment> m_queue;
    bool m_segStarted = false;
    int m_segSent = 0;
    qint64 m_segStartNs = 0;
    qint64 m_lineFreeNs = 0;
};

} // namespace sim
