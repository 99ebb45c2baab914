// Shared pieces of the fuzz targets: reading structured values out of the
// fuzzer's bytes, checks that abort with a message (libFuzzer then keeps the
// input), and the process set-up every target needs.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QVariant>
#include <QtGlobal>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#define FUZZ_CHECK(condition, detail)                                                                        \
    do {                                                                                                     \
        if (!(condition))                                                                                    \
            fuzzsupport::fail(#condition, __FILE__, __LINE__, detail);                                       \
    } while (0)

namespace fuzzsupport {

[[noreturn]] inline void fail(const char *condition, const char *file, int line, const QByteArray &detail)
{
    std::fprintf(stderr, "%s:%d: invariant broken: %s\n  %s\n", file, line, condition, detail.constData());
    std::abort();
}
[[noreturn]] inline void fail(const char *condition, const char *file, int line, const QString &detail)
{
    fail(condition, file, line, detail.toUtf8());
}
[[noreturn]] inline void fail(const char *condition, const char *file, int line, const char *detail)
{
    fail(condition, file, line, QByteArray(detail));
}

// Takes values from the front of the input; an exhausted input gives zeros
// and empty arrays, so every input is a valid program of operations.
class ByteReader
{
public:
    ByteReader(const uint8_t *data, size_t size) : m_data(data), m_size(size) {}

    bool atEnd() const { return m_pos >= m_size; }
    uint8_t byte() { return atEnd() ? 0 : m_data[m_pos++]; }
    uint16_t u16() { return uint16_t(byte() | (byte() << 8)); }
    uint64_t u64()
    {
        uint64_t v = 0;
        for (int i = 0; i < 8; ++i)
            v |= uint64_t(byte()) << (8 * i);
        return v;
    }
    double f64()
    {
        const uint64_t bits = u64();
        double v;
        std::memcpy(&v, &bits, sizeof v);
        return v;
    }
    QByteArray bytes(size_t n)
    {
        n = std::min(n, m_size - std::min(m_pos, m_size));
        const QByteArray out(reinterpret_cast<const char *>(m_data + m_pos), int(n));
        m_pos += n;
        return out;
    }
    // A length byte, then that many bytes.
    QByteArray chunk() { return bytes(byte()); }
    QByteArray rest() { return bytes(m_size); }

    // A database value: NULL, whole numbers (any, or near the ends of the
    // int range), a double of any bits, text or a blob.
    QVariant value()
    {
        switch (byte() % 6) {
        case 0:
            return QVariant();
        case 1:
            return QVariant(qint64(u64()));
        case 2: {
            const int near = byte();
            return byte() & 1 ? QVariant(qint64(2147483647) - near)
                              : QVariant(qint64(-2147483647 - 1) + near);
        }
        case 3:
            return QVariant(f64());
        case 4:
            return QVariant(QString::fromUtf8(chunk()));
        default:
            return QVariant(chunk());
        }
    }

private:
    const uint8_t *m_data;
    size_t m_size;
    size_t m_pos = 0;
};

// Debug lines cost most of the time of a run and say nothing here; warnings
// and worse still reach stderr.
inline void silenceLog()
{
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &message) {
        if (type != QtDebugMsg && type != QtInfoMsg)
            std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
    });
}

// The supplied database, built from db/maindb.sql, in memory as the default
// connection.
inline void openSuppliedDatabase()
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"));
    db.setDatabaseName(QStringLiteral(":memory:"));
    QFile sql(QStringLiteral(QUELMAR_SOURCE_DIR "/db/maindb.sql"));
    if (!db.open() || !sql.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot build the supplied database\n");
        std::abort();
    }
    QByteArray text;
    for (const QByteArray &line : sql.readAll().split('\n')) {
        if (!line.trimmed().startsWith("--"))
            text += line + '\n';
    }
    for (const QByteArray &statement : text.split(';')) {
        QSqlQuery q;
        if (!statement.trimmed().isEmpty() && !q.exec(QString::fromUtf8(statement)) &&
            !statement.contains("PRAGMA")) {
            std::fprintf(stderr, "%s\n%s\n", statement.constData(), qPrintable(q.lastError().text()));
            std::abort();
        }
    }
}

} // namespace fuzzsupport
