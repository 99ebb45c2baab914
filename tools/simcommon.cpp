#include "tools/simcommon.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace sim {

namespace {
constexpr qint64 kNsPerByte = qint64(1e9 / kBytesPerSecond);

int s_quitPipe[2] = {-1, -1};

void quitHandler(int)
{
    const char byte = 1;
    // Nothing else is safe in a signal handler; the event loop reads the byte.
    [[maybe_unused]] const ssize_t n = ::write(s_quitPipe[1], &byte, 1);
}

QString errnoText()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// Raw 8N1 at 9600 baud, no echo, no translation, reads return at once.
void makeRaw(int fd)
{
    termios tio;
    if (tcgetattr(fd, &tio) != 0)
        return;
    cfmakeraw(&tio);
    cfsetispeed(&tio, B9600);
    cfsetospeed(&tio, B9600);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    tcsetattr(fd, TCSANOW, &tio);
}

void setNonBlocking(int fd)
{
    const int flags = fcntl(fd, F_GETFL);
    if (flags >= 0)
        fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}
} // namespace

void note(const QString &text)
{
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
}

void addCommonOptions(QCommandLineParser &parser)
{
    parser.addHelpOption();
    parser.addOptions({
        {QStringLiteral("port"),
         QStringLiteral("Use this serial device instead of opening a pseudo-terminal. The path printed on "
                        "the first line of stdout is then PATH itself."),
         QStringLiteral("PATH")},
        {QStringLiteral("fast"), QStringLiteral("Write every answer at once instead of pacing it at the line "
                                                "rate of 9600 baud 8N1 (960 bytes per second).")},
        {QStringLiteral("seed"),
         QStringLiteral(
             "Seed of the generator of records/results and of the line faults (default 1). The same "
             "seed gives the same records."),
         QStringLiteral("N"), QStringLiteral("1")},
        {QStringLiteral("chunk"),
         QStringLiteral(
             "Split every answer into random pieces of MIN to MAX bytes with a pause of 1 to 20 ms "
             "between the pieces, so that the program receives it over several reads."),
         QStringLiteral("MIN:MAX")},
        {QStringLiteral("garbage"),
         QStringLiteral("With probability P (0 to 1) write 1 to 16 random bytes in front of an answer (with "
                        ":KIND only in front of answers of that kind, listed below). The bytes lie in "
                        "0x40..0x7E: no start or end mark, no digit, no blank."),
         QStringLiteral("P[:KIND]")},
        {QStringLiteral("drop"),
         QStringLiteral("Do not send the N-th answer (default the first) of kind CODE. May be given several "
                        "times. The kinds are listed below."),
         QStringLiteral("CODE[:N]")},
        {QStringLiteral("log"),
         QStringLiteral("Append one line per delivered record or result to FILE, flushed at once (format "
                        "below)."),
         QStringLiteral("FILE")},
    });
}

bool parseKindRules(const QStringList &texts, const QStringList &kinds, const QString &option,
                    QList<DropRule> *out, QString *error)
{
    for (const QString &text : texts) {
        const QStringList parts = text.split(QLatin1Char(':'));
        DropRule rule;
        rule.kind = parts.value(0).trimmed().toLower();
        if (parts.size() > 2 || !kinds.contains(rule.kind)) {
            *error = QStringLiteral("--%1 %2: the kind must be one of %3")
                         .arg(option, text, kinds.join(QLatin1Char(' ')));
            return false;
        }
        bool ok = true;
        if (parts.size() == 2)
            rule.nth = parts[1].toInt(&ok);
        if (!ok || rule.nth < 1) {
            *error = QStringLiteral("--%1 %2: N must be a whole number of 1 or more").arg(option, text);
            return false;
        }
        out->append(rule);
    }
    return true;
}

bool readCommonOptions(const QCommandLineParser &parser, const QStringList &dropKinds, CommonOptions *out,
                       QString *error)
{
    CommonOptions opt;
    opt.port = parser.value(QStringLiteral("port"));
    opt.fast = parser.isSet(QStringLiteral("fast"));
    bool ok = false;
    opt.seed = parser.value(QStringLiteral("seed")).toUInt(&ok);
    if (!ok) {
        *error = QStringLiteral("--seed needs a non-negative whole number");
        return false;
    }
    if (parser.isSet(QStringLiteral("chunk"))) {
        const QStringList parts = parser.value(QStringLiteral("chunk")).split(QLatin1Char(':'));
        bool okMin = false;
        bool okMax = false;
        if (parts.size() == 2) {
            opt.chunkMin = parts[0].toInt(&okMin);
            opt.chunkMax = parts[1].toInt(&okMax);
        }
        if (!okMin || !okMax || opt.chunkMin < 1 || opt.chunkMax < opt.chunkMin) {
            *error = QStringLiteral("--chunk needs MIN:MAX with 1 <= MIN <= MAX");
            return false;
        }
    }
    if (parser.isSet(QStringLiteral("garbage"))) {
        const QStringList parts = parser.value(QStringLiteral("garbage")).split(QLatin1Char(':'));
        opt.garbage = parts[0].toDouble(&ok);
        opt.garbageKind = parts.value(1).trimmed().toLower();
        if (!ok || opt.garbage < 0.0 || opt.garbage > 1.0 || parts.size() > 2 ||
            (parts.size() == 2 && !dropKinds.contains(opt.garbageKind))) {
            *error = QStringLiteral("--garbage needs a probability between 0 and 1, optionally :KIND");
            return false;
        }
    }
    if (!parseKindRules(parser.values(QStringLiteral("drop")), dropKinds, QStringLiteral("drop"), &opt.drops,
                        error))
        return false;
    opt.logFile = parser.value(QStringLiteral("log"));
    *out = opt;
    return true;
}

bool installQuitSignals()
{
    if (::pipe(s_quitPipe) != 0)
        return false;
    fcntl(s_quitPipe[0], F_SETFD, FD_CLOEXEC);
    fcntl(s_quitPipe[1], F_SETFD, FD_CLOEXEC);
    setNonBlocking(s_quitPipe[1]);
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = quitHandler;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (const int sig : {SIGTERM, SIGINT, SIGHUP})
        sigaction(sig, &sa, nullptr);
    // A closed stdout or stderr pipe must not kill the simulator.
    std::signal(SIGPIPE, SIG_IGN);
    auto *notifier = new QSocketNotifier(s_quitPipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [notifier] {
        char byte;
        [[maybe_unused]] const ssize_t n = ::read(s_quitPipe[0], &byte, 1);
        notifier->setEnabled(false);
        note(QStringLiteral("signal received, ending"));
        QCoreApplication::quit();
    });
    return true;
}

QByteArray garbageBytes(std::mt19937 &rng, int count)
{
    std::uniform_int_distribution<int> byte(0x40, 0x7E);
    QByteArray out;
    for (int i = 0; i < count; ++i)
        out.append(char(byte(rng)));
    return out;
}

SimLink::SimLink(const CommonOptions &options, QObject *parent)
    : QObject(parent), m_opt(options), m_pumpTimer(new QTimer(this)), m_exclTimer(new QTimer(this))
{
    // Line faults draw from their own stream, so that --garbage or --chunk
    // never change the generated records.
    std::seed_seq seq{options.seed, 0x11e5eedu};
    m_rng.seed(seq);
    m_pumpTimer->setSingleShot(true);
    m_pumpTimer->setTimerType(Qt::PreciseTimer);
    connect(m_pumpTimer, &QTimer::timeout, this, &SimLink::pump);
    m_clock.start();
}

SimLink::~SimLink()
{
    if (m_fd >= 0)
        ::close(m_fd);
    if (m_slaveFd >= 0)
        ::close(m_slaveFd);
}

bool SimLink::open(QString *error)
{
    if (!m_opt.logFile.isEmpty()) {
        m_log = std::make_unique<QFile>(m_opt.logFile);
        if (!m_log->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
            *error =
                QStringLiteral("cannot open the log file %1: %2").arg(m_opt.logFile, m_log->errorString());
            return false;
        }
    }
    if (!m_opt.port.isEmpty()) {
        m_fd = ::open(m_opt.port.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (m_fd < 0) {
            *error = QStringLiteral("cannot open %1: %2").arg(m_opt.port, errnoText());
            return false;
        }
        if (isatty(m_fd))
            makeRaw(m_fd);
        m_path = m_opt.port;
    } else {
        char name[256] = {};
        if (openpty(&m_fd, &m_slaveFd, name, nullptr, nullptr) != 0) {
            *error = QStringLiteral("cannot open a pseudo-terminal: %1").arg(errnoText());
            return false;
        }
        fcntl(m_fd, F_SETFD, FD_CLOEXEC);
        fcntl(m_slaveFd, F_SETFD, FD_CLOEXEC);
        // Both sides raw: the master so nothing is translated, the slave so that
        // settings a closing program restores never echo our output back.
        makeRaw(m_fd);
        makeRaw(m_slaveFd);
        setNonBlocking(m_fd);
        m_path = QString::fromLocal8Bit(name);
        // A program killed while holding the port leaves it in exclusive mode,
        // which blocks a later open by a normal user; clear it now and then.
        connect(m_exclTimer, &QTimer::timeout, this, [this] { ioctl(m_slaveFd, TIOCNXCL); });
        m_exclTimer->start(1000);
    }
    m_readNotifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this, &SimLink::readAvailable);
    return true;
}

void SimLink::readAvailable()
{
    QByteArray data;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(m_fd, buf, sizeof buf);
        if (n > 0) {
            data.append(buf, int(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
            // Hang-up or error of a real device: look again a little later
            // instead of spinning on a descriptor that is always readable.
            m_readNotifier->setEnabled(false);
            QTimer::singleShot(200, this, [this] { m_readNotifier->setEnabled(true); });
        }
        break;
    }
    if (!data.isEmpty())
        emit received(data);
}

int SimLink::randomInt(int low, int high)
{
    return std::uniform_int_distribution<int>(low, high)(m_rng);
}

bool SimLink::sendAnswer(const QString &kind, const QByteArray &bytes)
{
    const int count = ++m_answerCounts[kind];
    for (const DropRule &rule : qAsConst(m_opt.drops)) {
        if (rule.kind == kind && rule.nth == count) {
            note(QStringLiteral("dropped answer %1 #%2 (not sent)").arg(kind).arg(count));
            return false;
        }
    }
    if (m_opt.garbage > 0.0 && (m_opt.garbageKind.isEmpty() || m_opt.garbageKind == kind) &&
        std::uniform_real_distribution<double>(0.0, 1.0)(m_rng) < m_opt.garbage) {
        const QByteArray junk = garbageBytes(m_rng, randomInt(1, 16));
        m_queue.append({junk, 0});
        note(QStringLiteral("garbage before answer %1: %2").arg(kind, QString::fromLatin1(junk.toHex(' '))));
    }
    if (m_opt.chunkMin > 0) {
        int pos = 0;
        while (pos < bytes.size()) {
            const int size = randomInt(m_opt.chunkMin, m_opt.chunkMax);
            m_queue.append({bytes.mid(pos, size), pos == 0 ? 0 : randomInt(1, 20)});
            pos += size;
        }
    } else {
        m_queue.append({bytes, 0});
    }
    pump();
    return true;
}

void SimLink::logDelivery(const QString &line)
{
    if (m_log) {
        m_log->write(line.toUtf8() + '\n');
        m_log->flush();
    }
    note(line);
}

void SimLink::schedule(qint64 atNs)
{
    const qint64 waitNs = std::max<qint64>(0, atNs - nowNs());
    m_pumpTimer->start(int((waitNs + 999999) / 1000000));
}

void SimLink::pump()
{
    m_pumpTimer->stop();
    while (!m_queue.isEmpty()) {
        const qint64 now = nowNs();
        const Segment &seg = m_queue.first();
        if (!m_segStarted) {
            // A segment starts when the line is free again plus its pause; a line
            // idle for a while starts it now.
            const qint64 start =
                std::max(m_lineFreeNs + qint64(seg.pauseBeforeMs) * 1000000, now - kNsPerByte);
            if (start > now) {
                schedule(start);
                return;
            }
            m_segStarted = true;
            m_segSent = 0;
            m_segStartNs = std::max(start, m_lineFreeNs);
        }
        int allowed = seg.bytes.size();
        if (!m_opt.fast) {
            // A byte is handed over once the line would have carried it completely.
            allowed = int(std::min<qint64>(allowed, (now - m_segStartNs) / kNsPerByte));
        }
        const int want = allowed - m_segSent;
        if (want > 0) {
            const ssize_t n = ::write(m_fd, seg.bytes.constData() + m_segSent, size_t(want));
            if (n < 0) {
                if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
                    schedule(now + 5000000); // the reader is behind: try again shortly
                    return;
                }
                note(QStringLiteral("write failed: %1; %2 answer piece(s) discarded")
                         .arg(errnoText())
                         .arg(m_queue.size()));
                m_queue.clear();
                m_segStarted = false;
                return;
            }
            m_segSent += int(n);
            if (n < want) {
                schedule(now + 5000000);
                return;
            }
        }
        if (m_segSent >= seg.bytes.size()) {
            m_lineFreeNs = m_opt.fast ? now : m_segStartNs + qint64(seg.bytes.size()) * kNsPerByte;
            m_queue.removeFirst();
            m_segStarted = false;
            continue;
        }
        // Wake up for the next bytes, a few at a time.
        const qint64 due = m_segStartNs + qint64(m_segSent + 1) * kNsPerByte;
        schedule(std::max(due, now + 3000000));
        return;
    }
}

} // namespace sim
