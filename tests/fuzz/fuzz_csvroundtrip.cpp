// Fuzz target: the CSV writer of the exports in a round trip through our
// own CSV reader.
//
// Input: rows of values until the input ends; a row is a field count
// (1 + byte % 12) and that many database values (NULL, whole numbers,
// doubles of any bits, text, blobs).
//
// What must hold: the file (byte-order mark, header, one line per row) reads
// back as the same rows: every text as written except that a text a
// spreadsheet would run as a formula gains exactly one leading apostrophe,
// whole numbers and doubles as the same numbers, NULL as an empty field.
#include "exchange/csvexport.h"
#include "people/csvreader.h"
#include "people/personimport.h"
#include "tests/fuzz/fuzzsupport.h"

#include <QLocale>

#include <cmath>
#include <cstdlib>

using fuzzsupport::ByteReader;

namespace {

bool startsLikeFormula(const QString &s)
{
    return !s.isEmpty() && QStringLiteral("=+-@\t\r").contains(s.at(0));
}

void checkField(const QVariant &written, const QString &read, const QByteArray &detail)
{
    if (written.isNull()) {
        FUZZ_CHECK(read.isEmpty(), detail);
        return;
    }
    switch (written.userType()) {
    case QMetaType::Double: {
        // strtod, not QString::toDouble: Qt refuses subnormal numbers such as
        // 1.6e-322, which the file holds correctly.
        const QByteArray text = read.toLatin1();
        char *end = nullptr;
        const double back = std::strtod(text.constData(), &end);
        const bool ok = !text.isEmpty() && end == text.constData() + text.size();
        const double d = written.toDouble();
        // The same number (NaN and the sign of zero carry nothing worth keeping).
        FUZZ_CHECK(ok && (std::isnan(d) ? std::isnan(back) : back == d),
                   QByteArray::number(d, 'g', 17) + " read as " + text + "; " + detail);
        return;
    }
    case QMetaType::LongLong: {
        bool ok = false;
        FUZZ_CHECK(read.toLongLong(&ok) == written.toLongLong() && ok, detail);
        return;
    }
    default:
        break;
    }
    const QString text = written.toString();
    if (read == text) {
        // Left as it is only when a spreadsheet would not run it.
        bool number = false;
        QLocale::c().toDouble(text, &number);
        FUZZ_CHECK(!startsLikeFormula(text) || number, detail);
    } else {
        FUZZ_CHECK(startsLikeFormula(text) && read == QLatin1Char('\'') + text, detail);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzsupport::silenceLog();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    ByteReader in(data, size);
    QList<QVariantList> rows;
    QByteArray file = "\xEF\xBB\xBF"
                      "UID,Name,Value\n";
    while (!in.atEnd()) {
        QVariantList row;
        const int fields = 1 + in.byte() % 12;
        for (int i = 0; i < fields; ++i) {
            row << in.value();
            if (i > 0)
                file += ',';
            exchange::appendCsvField(file, row.last());
        }
        file += '\n';
        rows << row;
    }
    const QList<csv::Record> records = csv::parse(personimport::decodeText(file));
    const QByteArray detail = "file " + file.toHex();
    FUZZ_CHECK(records.size() == rows.size() + 1, detail);
    FUZZ_CHECK(records.first().fields == QStringList({"UID", "Name", "Value"}), detail);
    for (int r = 0; r < rows.size(); ++r) {
        FUZZ_CHECK(records[r + 1].fields.size() == rows[r].size(), detail);
        for (int f = 0; f < rows[r].size(); ++f)
            checkField(rows[r][f], records[r + 1].fields[f], "field " + QByteArray::number(f) + " " + detail);
    }
    return 0;
}
