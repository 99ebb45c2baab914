#include "exchange/csvexport.h"

#include "exchange/safewrite.h"

#include <QDebug>
#include <QLocale>
#include <QLoggingCategory>
#include <QObject>

// One debug line per written line; the command-line jobs switch it off.
Q_LOGGING_CATEGORY(exportRows, "quelmar.export.rows")

namespace exchange {

namespace {
bool isPlainNumber(const QString &text)
{
    bool ok = false;
    QLocale::c().toDouble(text, &ok);
    return ok;
}

bool startsLikeFormula(const QString &text)
{
    if (text.isEmpty())
        return false;
    const QChar c = text.at(0);
    const bool trigger = c == QLatin1Char('=') || c == QLatin1Char('+') || c == QLatin1Char('-') ||
                         c == QLatin1Char('@') || c == QLatin1Char('\t') || c == QLatin1Char('\r');
    return trigger && !isPlainNumber(text);
}

bool needsQuotes(const QString &text)
{
    if (text.isEmpty())
        return false;
    if (text.at(0).isSpace() || text.at(text.size() - 1).isSpace())
        return true;
    for (const QChar c : text) {
        if (c == QLatin1Char(',') || c == QLatin1Char('"') || c == QLatin1Char('\n') ||
            c == QLatin1Char('\r'))
            return true;
    }
    return false;
}

QString quoted(const QString &text, bool apostrophe)
{
    QString out;
    out.reserve(text.size() + 4);
    out += QLatin1Char('"');
    if (apostrophe)
        out += QLatin1Char('\'');
    for (const QChar c : text) {
        if (c == QLatin1Char('"'))
            out += QLatin1Char('"');
        out += c;
    }
    out += QLatin1Char('"');
    return out;
}

QString textField(const QString &text)
{
    const bool formula = startsLikeFormula(text);
    if (formula || needsQuotes(text))
        return quoted(text, formula);
    return text;
}

bool isNumberType(int type)
{
    return type == QMetaType::Double || type == QMetaType::LongLong || type == QMetaType::Int ||
           type == QMetaType::ULongLong || type == QMetaType::UInt || type == QMetaType::Float;
}

// Lines go to the file in pieces of this size.
constexpr int kChunk = 1 << 19;
} // namespace

QString csvField(const QVariant &value)
{
    if (value.isNull())
        return QString();
    if (isNumberType(value.userType()))
        return value.toString();
    return textField(value.toString());
}

void appendCsvField(QByteArray &out, const QVariant &value)
{
    switch (value.userType()) {
    case QMetaType::Double:
        if (!value.isNull())
            out += QByteArray::number(value.toDouble(), 'g', QLocale::FloatingPointShortest);
        return;
    case QMetaType::LongLong:
    case QMetaType::Int:
        if (!value.isNull())
            out += QByteArray::number(value.toLongLong());
        return;
    default:
        break;
    }
    out += csvField(value).toUtf8();
}

QString bcaHeader()
{
    return exportHeaders(ExportTable::BodyComposition).join(QLatin1Char(','));
}

QString fitHeader()
{
    return exportHeaders(ExportTable::Fitness).join(QLatin1Char(','));
}

ExportResult exportCsv(ExportTable table, const QString &path, const ExportProgress &progress)
{
    ExportResult result;
    result.path = path;
    ExportRows rows(table);
    const qint64 total = progress ? rows.expectedRows() : 0;
    SaveFile file(path);
    // Text mode: line ends are "\r\n" on Windows, "\n" elsewhere.
    if (!file.open(&result.error, QIODevice::Text))
        return result;
    QByteArray buffer;
    buffer.reserve(kChunk + 4096);
    buffer += "\xEF\xBB\xBF";
    buffer += (table == ExportTable::BodyComposition ? bcaHeader() : fitHeader()).toUtf8();
    buffer += '\n';

    const bool bca = table == ExportTable::BodyComposition;
    const int columns = rows.columnCount();
    while (rows.next()) {
        for (int i = 0; i < columns; ++i) {
            if (i > 0)
                buffer += ',';
            appendCsvField(buffer, rows.value(i));
        }
        buffer += '\n';
        if (!bca) {
            qCDebug(exportRows) << "写入此条测试数据-----------------------------------";
        } else if (rows.inClosingPart()) {
            qCDebug(exportRows) << "BCA数据-----------------------------------";
        } else {
            qCDebug(exportRows) << "jPerson=" << rows.value(1).toString();
            qCDebug(exportRows) << (rows.testId() == 0
                                        ? "无数据-----------------------------------"
                                        : "写入此条测试数据-----------------------------------");
        }
        ++result.lines;
        if (buffer.size() >= kChunk) {
            if (!file.writeAll(buffer, &result.error))
                return result;
            buffer.clear();
        }
        if (progress && result.lines % kProgressEvery == 0 && !progress(result.lines, total)) {
            result.cancelled = true;
            result.error = QObject::tr("导出已取消");
            file.cancelWriting();
            return result;
        }
    }
    if (!rows.error().isEmpty()) {
        result.error = rows.error();
        file.cancelWriting();
        return result;
    }
    if (!file.writeAll(buffer, &result.error))
        return result;
    if (progress)
        progress(result.lines, result.lines);
    result.ok = file.finish(&result.error);
    return result;
}

ExportResult exportBca(const QString &path, const ExportProgress &progress)
{
    return exportCsv(ExportTable::BodyComposition, path, progress);
}

ExportResult exportFit(const QString &path, const ExportProgress &progress)
{
    return exportCsv(ExportTable::Fitness, path, progress);
}

} // namespace exchange
