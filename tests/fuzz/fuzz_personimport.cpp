// Fuzz target: the person CSV reader and import. The input is the file.
//
// What must hold: the text check and decoding agree; the reader loses and
// invents nothing (without quoted fields the records joined again are the
// text with its line ends unified), numbers its records by the file lines
// they start on, and reads what it is given back when the records are
// written again fully quoted; the import stores or skips every data record
// exactly once, and every person it stores passes the import's own rules
// (user number not yet registered, name, sex code, birth year 1900 to this
// year, height 50 to 250).
#include "people/csvreader.h"
#include "people/personimport.h"
#include "tests/fuzz/fuzzsupport.h"

#include <QCoreApplication>
#include <QDate>
#include <QSet>
#include <QVariant>

namespace {

// Whether a quote opens a field anywhere: at the start of the text or
// right after a comma or a line end.
bool opensQuotedField(const QString &text)
{
    for (int i = 0; i < text.size(); ++i) {
        if (text.at(i) != QLatin1Char('"'))
            continue;
        if (i == 0 || text.at(i - 1) == QLatin1Char(',') || text.at(i - 1) == QLatin1Char('\n') ||
            text.at(i - 1) == QLatin1Char('\r'))
            return true;
    }
    return false;
}

QString joined(const QList<csv::Record> &records, bool quoteAll)
{
    QStringList lines;
    for (const csv::Record &r : records) {
        QStringList fields = r.fields;
        if (quoteAll) {
            for (QString &f : fields)
                f = QLatin1Char('"') + QString(f).replace(QLatin1String("\""), QLatin1String("\"\"")) +
                    QLatin1Char('"');
        }
        lines << fields.join(QLatin1Char(','));
    }
    return lines.join(QLatin1Char('\n'));
}

void checkReader(const QString &text)
{
    const QList<csv::Record> records = csv::parse(text);
    const QByteArray detail = text.toUtf8().toHex();
    FUZZ_CHECK(records.isEmpty() == text.isEmpty(), detail);
    int lineEnds = 0;
    for (int i = 0; i < text.size(); ++i) {
        lineEnds += text.at(i) == QLatin1Char('\n') ||
                    (text.at(i) == QLatin1Char('\r') &&
                     !(i + 1 < text.size() && text.at(i + 1) == QLatin1Char('\n')));
    }
    int previous = 0;
    for (const csv::Record &r : records) {
        FUZZ_CHECK(r.line > previous && r.line <= lineEnds + 1 && !r.fields.isEmpty(), detail);
        previous = r.line;
    }
    if (!opensQuotedField(text)) {
        QString unified = text;
        unified.replace(QLatin1String("\r\n"), QLatin1String("\n"))
            .replace(QLatin1Char('\r'), QLatin1Char('\n'));
        if (unified.endsWith(QLatin1Char('\n')))
            unified.chop(1);
        FUZZ_CHECK(joined(records, false) == unified, detail);
    }
    const QList<csv::Record> again = csv::parse(joined(records, true));
    FUZZ_CHECK(again.size() == records.size(), detail);
    for (int i = 0; i < records.size(); ++i)
        FUZZ_CHECK(again[i].fields == records[i].fields, detail);
}

void checkImport(const QList<csv::Record> &records, const QByteArray &detail)
{
    QSqlQuery q;
    q.exec(QStringLiteral("DELETE FROM Person"));
    q.exec(QStringLiteral("INSERT INTO Person (ID, UUID, UID, Name, Sex, BirthYear, Height) VALUES "
                          "(1, 'U', 'A1', '甲', '1', 1990, 170), (2, 'U', '007', '乙', '2', 1991, 160)"));
    const personimport::ImportResult result = personimport::importRecords(records);
    FUZZ_CHECK(!result.commitFailed && !result.cancelled, detail);
    FUZZ_CHECK(result.imported + result.skipped.size() == std::max(0, int(records.size()) - 1), detail);
    int previous = records.isEmpty() ? 0 : records.first().line;
    for (const personimport::Skipped &s : result.skipped) {
        FUZZ_CHECK(s.line > previous, detail);
        previous = s.line;
    }
    QSet<QString> uids = {QStringLiteral("A1"), QStringLiteral("007")};
    int stored = 0;
    const int thisYear = QDate::currentDate().year();
    q.exec(QStringLiteral("SELECT UID, Name, Sex, BirthYear, Height FROM Person WHERE ID > 2"));
    while (q.next()) {
        ++stored;
        const QString uid = q.value(0).toString();
        FUZZ_CHECK(!uid.trimmed().isEmpty() && !uids.contains(uid), detail);
        uids.insert(uid);
        FUZZ_CHECK(!q.value(1).toString().trimmed().isEmpty(), detail);
        FUZZ_CHECK(q.value(2).toString() == QLatin1String("1") || q.value(2).toString() == QLatin1String("2"),
                   detail);
        const int year = q.value(3).toInt();
        FUZZ_CHECK(year >= 1900 && year <= thisYear, detail);
        const double height = q.value(4).toDouble();
        FUZZ_CHECK(height >= 50 && height <= 250, detail);
    }
    FUZZ_CHECK(stored == result.imported, detail);
}

} // namespace

// NOLINTNEXTLINE(readability-non-const-parameter): libFuzzer's own signature
extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    fuzzsupport::silenceLog();
    new QCoreApplication(*argc, *argv); // lives as long as the process
    fuzzsupport::openSuppliedDatabase();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    personimport::TextEncoding encoding;
    const QString text = personimport::decodeText(bytes, &encoding);
    FUZZ_CHECK(encoding == personimport::detectEncoding(bytes), bytes.toHex());
    if (personimport::isText(bytes)) {
        for (const QChar c : text)
            FUZZ_CHECK(c.unicode() >= 0x20 || QStringLiteral("\t\n\r\f").contains(c), bytes.toHex());
    }
    checkReader(text);
    // The import reads only what passed the text check.
    if (personimport::isText(bytes))
        checkImport(csv::parse(text), bytes.toHex());
    return 0;
}
