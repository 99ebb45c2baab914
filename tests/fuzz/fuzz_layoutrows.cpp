// Fuzz target: reading the layout rows of a damaged database (tables Print
// and Report) and drawing a record's overlay with them.
//
// Input: a program of damage done to the supplied database, then undone:
//   0 row column value  a Print cell takes any value (row % 8, column % 224)
//   1 row               a Print row is deleted
//   2 column            a Print column is dropped
//   3 value             Report's first row selects any value as its style
//   4 table             Report, Print or Unit is dropped (operand % 3)
//   5 column value      the record's column (of Result) takes any value
//   6 tag               the style drawn: one of the known tags, an unknown
//                       one, or the one Report selects (operand % 10)
//
// What must hold: every layout value read is within 10,000 page units and
// is the stored number when that is a whole number in range; an item is
// printed only with its own position and size in range; everything the
// overlay draws stays within reach of the page.
#include "reports/layout.h"
#include "reports/overlay.h"
#include "tests/fuzz/fuzzsupport.h"
#include "tests/pagerecorder.h"

#include <QGuiApplication>
#include <QSqlRecord>

#include <cmath>

using fuzzsupport::ByteReader;

namespace {

QStringList g_resultColumns;

bool beyondLayout(const QVariant &v)
{
    bool ok = false;
    const double d = v.toDouble(&ok);
    return ok && !(std::abs(d) <= reports::kLayoutLimit);
}

void exec(const QString &sql, const QVariantList &values = {})
{
    QSqlQuery q;
    q.prepare(sql);
    for (const QVariant &v : values)
        q.addBindValue(v);
    q.exec(); // damage that SQLite refuses is no damage
}

QString printColumn(int index)
{
    return reports::printColumns().at(index % reports::printColumns().size());
}

void checkLayout(const QString &tag)
{
    const reports::PrintLayout layout = reports::PrintLayout::read(tag);
    QSqlQuery raw;
    raw.prepare(QStringLiteral("SELECT * FROM Print ORDER BY rowid LIMIT 1 OFFSET ?"));
    raw.addBindValue(reports::printRowForTag(tag));
    const bool haveRow = raw.exec() && raw.next();
    for (const QString &name : reports::printColumns()) {
        const QVariant stored = haveRow ? raw.record().value(name) : QVariant();
        const QByteArray detail =
            (tag + QLatin1Char(' ') + name + QLatin1String(" = ") + stored.toString()).toUtf8();
        const int value = layout.value(name);
        FUZZ_CHECK(std::abs(value) <= reports::kLayoutLimit, detail);
        if ((stored.userType() == QMetaType::LongLong || stored.userType() == QMetaType::Int) &&
            std::abs(stored.toLongLong()) <= reports::kLayoutLimit)
            FUZZ_CHECK(value == stored.toInt(), detail);
        if (name.endsWith(QLatin1String("Print")) && layout.flag(name)) {
            const QString stem = name.chopped(5);
            for (const char *suffix : {"X", "Y", "Size"})
                FUZZ_CHECK(
                    !beyondLayout(haveRow ? raw.record().value(stem + QLatin1String(suffix)) : QVariant()),
                    detail);
        }
    }
}

void checkOverlay(const QString &tag, const reports::BcaRecord &rec)
{
    PageRecorder page;
    QPainter painter(&page);
    reports::paintOverlayItems(painter, reports::PrintLayout::read(tag), rec, tag);
    painter.end();
    // A position and a bar length of at most the limit each, and the overlay's own offsets.
    const double reach = 2 * reports::kLayoutLimit + 1000;
    const QRectF area(-reach, -reach, 2 * reach, 2 * reach);
    for (const auto &text : page.texts())
        FUZZ_CHECK(area.contains(text.first), text.second);
    for (const QRectF &rect : page.rects())
        FUZZ_CHECK(area.contains(rect),
                   QByteArray::number(rect.x()) + "," + QByteArray::number(rect.width()));
}

} // namespace

// NOLINTNEXTLINE(readability-non-const-parameter): libFuzzer's own signature
extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    fuzzsupport::silenceLog();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Lives as long as the process: Qt's caches stay reachable from it.
    new QGuiApplication(*argc, *argv);
    fuzzsupport::openSuppliedDatabase();
    const QSqlRecord columns = QSqlDatabase::database().record(QStringLiteral("Result"));
    for (int i = 0; i < columns.count(); ++i)
        g_resultColumns << columns.fieldName(i);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QStringList tags = {"TQ-40",        "TQ-10",     "TQ-20",      "TQ-30", "水分报告",
                                     "自定义报告纸", "FITreport", "默认报告纸", "TQ-40 "};
    ByteReader in(data, size);
    QSqlDatabase::database().transaction();
    reports::BcaRecord rec;
    rec.values = {
        {"Sex", "1"}, {"Height", 175.0}, {"Weight", 70.0}, {"BirthYear", 1980}, {"TestDate", "2020-05-06"}};
    int tagChoice = 0;
    while (!in.atEnd()) {
        switch (in.byte() % 7) {
        case 0: {
            const int row = in.byte() % 8;
            const QString column = printColumn(in.u16());
            exec(QStringLiteral("UPDATE Print SET \"%1\" = ? WHERE rowid = "
                                "(SELECT rowid FROM Print ORDER BY rowid LIMIT 1 OFFSET %2)")
                     .arg(column)
                     .arg(row),
                 {in.value()});
            break;
        }
        case 1:
            exec(QStringLiteral(
                     "DELETE FROM Print WHERE rowid = (SELECT rowid FROM Print ORDER BY rowid LIMIT 1 "
                     "OFFSET %1)")
                     .arg(in.byte() % 8));
            break;
        case 2:
            exec(QStringLiteral("ALTER TABLE Print DROP COLUMN \"%1\"").arg(printColumn(in.u16())));
            break;
        case 3:
            exec(QStringLiteral(
                     "UPDATE Report SET Selected = ? WHERE rowid = (SELECT MIN(rowid) FROM Report)"),
                 {in.value()});
            break;
        case 4:
            exec(QStringLiteral("DROP TABLE %1")
                     .arg(QStringList{"Report", "Print", "Unit"}.at(in.byte() % 3)));
            break;
        case 5: {
            const QString &column = g_resultColumns.at(in.u16() % g_resultColumns.size());
            rec.values.insert(column, in.value());
            break;
        }
        default:
            tagChoice = in.byte() % 10;
            break;
        }
    }
    const QString tag = tagChoice < tags.size() ? tags.at(tagChoice) : reports::readSelectedSheetTag();
    FUZZ_CHECK(reports::printRowForTag(tag) >= 0 && reports::printRowForTag(tag) < 7, tag);
    checkLayout(tag);
    checkOverlay(tag, rec);
    QSqlDatabase::database().rollback();
    return 0;
}
