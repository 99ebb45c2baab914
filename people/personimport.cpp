#include "people/personimport.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTextCodec>
#include <QVariant>

namespace personimport {
namespace {
// Lines between two progress reports: often enough for a smooth bar and a
// responsive cancel button, rarely enough not to cost time.
constexpr int kProgressStep = 50;

QString tr(const char *text)
{
    return QCoreApplication::translate("personimport", text);
}

bool isValidUtf8(const QByteArray &bytes)
{
    QTextCodec *utf8 = QTextCodec::codecForName("UTF-8");
    QTextCodec::ConverterState state;
    utf8->toUnicode(bytes.constData(), bytes.size(), &state);
    return state.invalidChars == 0 && state.remainingChars == 0;
}

QTextCodec *codecFor(TextEncoding encoding)
{
    switch (encoding) {
    case TextEncoding::Utf8:
    case TextEncoding::Utf8Bom:
        return QTextCodec::codecForName("UTF-8");
    case TextEncoding::Utf16LeBom:
        return QTextCodec::codecForName("UTF-16LE");
    case TextEncoding::Utf16BeBom:
        return QTextCodec::codecForName("UTF-16BE");
    case TextEncoding::Gb18030:
        break;
    }
    QTextCodec *gb = QTextCodec::codecForName("GB18030");
    return gb ? gb : QTextCodec::codecForLocale();
}
} // namespace

TextEncoding detectEncoding(const QByteArray &bytes)
{
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return TextEncoding::Utf8Bom;
    if (bytes.startsWith("\xFF\xFE"))
        return TextEncoding::Utf16LeBom;
    if (bytes.startsWith("\xFE\xFF"))
        return TextEncoding::Utf16BeBom;
    return isValidUtf8(bytes) ? TextEncoding::Utf8 : TextEncoding::Gb18030;
}

QString encodingName(TextEncoding encoding)
{
    switch (encoding) {
    case TextEncoding::Utf8:
        return QStringLiteral("UTF-8");
    case TextEncoding::Utf8Bom:
        return QStringLiteral("UTF-8 (BOM)");
    case TextEncoding::Utf16LeBom:
        return QStringLiteral("UTF-16LE (BOM)");
    case TextEncoding::Utf16BeBom:
        return QStringLiteral("UTF-16BE (BOM)");
    case TextEncoding::Gb18030:
        break;
    }
    return QStringLiteral("GB18030");
}

QString decodeText(const QByteArray &bytes, TextEncoding *detected)
{
    const TextEncoding encoding = detectEncoding(bytes);
    if (detected)
        *detected = encoding;
    QString text = codecFor(encoding)->toUnicode(bytes);
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    return text;
}

QStringList splitLines(const QString &text)
{
    QStringList lines;
    int start = 0;
    const int n = text.size();
    for (int i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        if (c != QLatin1Char('\n') && c != QLatin1Char('\r'))
            continue;
        lines << text.mid(start, i - start);
        if (c == QLatin1Char('\r') && i + 1 < n && text.at(i + 1) == QLatin1Char('\n'))
            ++i;
        start = i + 1;
    }
    if (start < n)
        lines << text.mid(start);
    return lines;
}

QString convertUid(const QString &field)
{
    if (field.startsWith(QLatin1Char('N')) || field.startsWith(QLatin1Char('n'))) {
        qDebug() << "去掉首字母";
        return field.mid(1);
    }
    return field;
}

QString convertSex(const QString &field)
{
    return field == QStringLiteral("男") ? QStringLiteral("1") : QStringLiteral("2");
}

std::optional<PersonRow> parseLine(const QString &line)
{
    const QStringList fields = line.split(QLatin1Char(','));
    if (fields.size() < 6)
        return std::nullopt;
    bool blank = true;
    for (int i = 0; i < 6 && blank; ++i)
        blank = fields.at(i).trimmed().isEmpty();
    if (blank)
        return std::nullopt;
    PersonRow row;
    row.uuid = fields.at(0);
    row.uid = convertUid(fields.at(1));
    row.name = fields.at(2);
    row.sex = convertSex(fields.at(3));
    row.birthYear = fields.at(4);
    row.height = fields.at(5);
    return row;
}

QString insertStatement()
{
    return QStringLiteral(
        "INSERT INTO Person (UUID, UID, Name, Sex, BirthYear, Height)VALUES (?, ?, ?, ?, ?, ?)");
}

ImportResult importLines(const QStringList &lines, const Progress &progress)
{
    ImportResult result;
    result.opened = true;
    result.lineCount = lines.size();

    QSqlDatabase db = QSqlDatabase::database();
    // One transaction: a class list of thousands of lines is written in one
    // go instead of one disk sync per person.
    const bool inTransaction = db.transaction();
    if (!inTransaction)
        qDebug() << "import without transaction:" << db.lastError();

    QSqlQuery query(db);
    const bool prepared = query.prepare(insertStatement());
    if (!prepared)
        qDebug() << query.lastError();

    int imported = 0;
    for (int i = 0; i < lines.size(); ++i) {
        if (progress && i % kProgressStep == 0 && !progress(i, lines.size())) {
            result.cancelled = true;
            result.stoppedAtLine = i + 1;
            qDebug() << "import cancelled before line" << i + 1;
            break;
        }
        const QString &line = lines.at(i);
        qDebug() << "list=" << line.split(QLatin1Char(','));
        if (i == 0)
            continue; // header
        qDebug() << "i=" << i;
        const std::optional<PersonRow> row = parseLine(line);
        if (!row) {
            qDebug() << "line skipped, empty or fewer than six fields: i=" << i;
            result.skippedLines << i + 1;
            continue;
        }
        qDebug() << "UID=" << row->uid;
        bool ok = prepared;
        if (ok) {
            query.bindValue(0, row->uuid);
            query.bindValue(1, row->uid);
            query.bindValue(2, row->name);
            query.bindValue(3, row->sex);
            query.bindValue(4, row->birthYear);
            query.bindValue(5, row->height);
            ok = query.exec();
        }
        if (ok) {
            ++imported;
            qDebug() << "人员数据已插入! 行号：" << i;
        } else {
            const QSqlError error = query.lastError();
            qDebug() << error;
            result.failedLines << i + 1;
            result.insertError = error.text();
        }
    }
    query.finish();

    if (inTransaction && !db.commit()) {
        result.commitFailed = true;
        result.commitError = db.lastError().text();
        qDebug() << "import commit failed:" << db.lastError();
        db.rollback();
        imported = 0;
    }
    result.imported = imported;
    if (progress && !result.cancelled)
        progress(lines.size(), lines.size());
    return result;
}

std::optional<QStringList> readLines(const QString &path, TextEncoding *encoding, QString *error)
{
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = path.isEmpty() ? tr("没有选择文件") : file.errorString();
        return std::nullopt;
    }
    TextEncoding detected = TextEncoding::Utf8;
    const QString text = decodeText(file.readAll(), &detected);
    qDebug() << "import file" << path << "read as" << encodingName(detected);
    if (encoding)
        *encoding = detected;
    return splitLines(text);
}

ImportResult importFile(const QString &path, const Progress &progress)
{
    TextEncoding encoding = TextEncoding::Utf8;
    QString error;
    const std::optional<QStringList> lines = readLines(path, &encoding, &error);
    if (!lines) {
        ImportResult result;
        result.fileError = error;
        return result;
    }
    ImportResult result = importLines(*lines, progress);
    result.encoding = encoding;
    return result;
}

QString lineList(const QList<int> &lines, int limit)
{
    QStringList shown;
    for (int i = 0; i < lines.size() && i < limit; ++i)
        shown << QString::number(lines.at(i));
    QString text = shown.join(QStringLiteral("、"));
    if (lines.size() > limit)
        text += tr("等");
    return text;
}

Summary summarize(const ImportResult &result)
{
    Summary summary;
    const int skipped = result.skippedLines.size() + result.failedLines.size();
    summary.information = result.imported > 0 && skipped == 0 && !result.cancelled && !result.commitFailed;
    if (summary.information) {
        summary.title = tr("导入数据成功");
        summary.text = tr("人员数据已插入!\n共导入 %1 人。").arg(result.imported);
        return summary;
    }

    summary.title = tr("导入数据");
    if (result.commitFailed) {
        summary.text = tr("保存到数据库失败，没有导入任何人员。\n数据库错误: %1").arg(result.commitError);
        return summary;
    }
    QStringList parts;
    parts << tr("共导入 %1 人，跳过 %2 行。").arg(result.imported).arg(skipped);
    if (!result.skippedLines.isEmpty())
        parts << tr("空行或字段不足六个：%1 行（第 %2 行）。")
                     .arg(result.skippedLines.size())
                     .arg(lineList(result.skippedLines));
    if (!result.failedLines.isEmpty())
        parts << tr("写入数据库失败：%1 行（第 %2 行）。\n数据库错误: %3")
                     .arg(result.failedLines.size())
                     .arg(lineList(result.failedLines), result.insertError);
    if (result.cancelled)
        parts << tr("导入已取消：从第 %1 行起未导入，已导入的 %2 人已保存。")
                     .arg(result.stoppedAtLine)
                     .arg(result.imported);
    else if (result.imported == 0 && skipped == 0)
        parts << (result.lineCount == 0 ? tr("文件是空的，没有人员数据。")
                                        : tr("文件中只有标题行，没有人员数据。"));
    summary.text = parts.join(QLatin1Char('\n'));
    return summary;
}
} // namespace personimport
