#include "people/personimport.h"

#include "app/dbtarget.h"
#include "people/personregistry.h"

#include <QCoreApplication>
#include <QDate>
#include <QDebug>
#include <QFile>
#include <QHash>
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

bool isText(const QByteArray &bytes)
{
    if (bytes.contains('\0') && detectEncoding(bytes) != TextEncoding::Utf16LeBom &&
        detectEncoding(bytes) != TextEncoding::Utf16BeBom)
        return false;
    const TextEncoding encoding = detectEncoding(bytes);
    QTextCodec::ConverterState state;
    const QString text = codecFor(encoding)->toUnicode(bytes.constData(), bytes.size(), &state);
    if (state.invalidChars > 0)
        return false;
    // The GB18030 decoder does not count what it cannot read: it puts a
    // replacement character there instead.
    if (encoding == TextEncoding::Gb18030 && text.contains(QChar(QChar::ReplacementCharacter)))
        return false;
    for (const QChar c : text) {
        const ushort u = c.unicode();
        if (u < 0x20 && u != '\t' && u != '\n' && u != '\r' && u != '\f')
            return false;
    }
    return true;
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
    return personregistry::sexCode(field);
}

QString reasonText(SkipReason reason)
{
    switch (reason) {
    case SkipReason::Incomplete:
        return tr("空行或字段不足六个");
    case SkipReason::MissingUid:
        return tr("没有用户编号");
    case SkipReason::MissingName:
        return tr("没有姓名");
    case SkipReason::BadSex:
        return tr("性别不是男/女、1/2、M/F 或 male/female");
    case SkipReason::BadBirthYear:
        return tr("出生年份不是1900年到今年之间的四位年份");
    case SkipReason::BadHeight:
        return tr("身高不是50到250之间的数字");
    case SkipReason::AlreadyRegistered:
        return tr("已登记");
    case SkipReason::InsertFailed:
        break;
    }
    return tr("写入数据库失败");
}

namespace {
int yearNow(int currentYear)
{
    return currentYear > 0 ? currentYear : QDate::currentDate().year();
}

bool isBirthYear(const QString &text, int currentYear)
{
    if (text.size() != 4)
        return false;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    const int year = text.toInt();
    return year >= 1900 && year <= yearNow(currentYear);
}

bool isHeight(const QString &text)
{
    bool ok = false;
    const double cm = text.toDouble(&ok);
    return ok && cm >= 50 && cm <= 250;
}
} // namespace

std::optional<PersonRow> parseFields(const QStringList &fields, SkipReason *reason, int currentYear)
{
    auto skip = [reason](SkipReason why) -> std::optional<PersonRow> {
        if (reason)
            *reason = why;
        return std::nullopt;
    };
    if (fields.size() < 6)
        return skip(SkipReason::Incomplete);
    QStringList f;
    for (int i = 0; i < 6; ++i)
        f << fields.at(i).trimmed();
    if (f.join(QString()).isEmpty())
        return skip(SkipReason::Incomplete);
    PersonRow row;
    row.uuid = f.at(0);
    row.uid = convertUid(f.at(1));
    row.name = f.at(2);
    row.sex = convertSex(f.at(3));
    row.birthYear = f.at(4);
    row.height = f.at(5);
    if (row.uid.trimmed().isEmpty())
        return skip(SkipReason::MissingUid);
    if (row.name.isEmpty())
        return skip(SkipReason::MissingName);
    if (row.sex.isEmpty())
        return skip(SkipReason::BadSex);
    // The registry form requires both: a spin box has no empty value.
    if (!isBirthYear(row.birthYear, currentYear))
        return skip(SkipReason::BadBirthYear);
    if (!isHeight(row.height))
        return skip(SkipReason::BadHeight);
    return row;
}

std::optional<PersonRow> parseLine(const QString &line)
{
    const QList<csv::Record> records = csv::parse(line);
    return parseFields(records.isEmpty() ? QStringList() : records.first().fields);
}

bool looksLikeData(const QStringList &fields, int currentYear)
{
    return fields.size() >= 5 && isBirthYear(fields.at(4).trimmed(), currentYear);
}

QString insertStatement()
{
    return QStringLiteral(
        "INSERT INTO Person (UUID, UID, Name, Sex, BirthYear, Height)VALUES (?, ?, ?, ?, ?, ?)");
}

ImportResult importRecords(const QList<csv::Record> &records, const Progress &progress)
{
    ImportResult result;
    result.opened = true;
    result.lineCount = records.size();
    const int total = records.size();

    QSqlDatabase db = QSqlDatabase::database();
    // One transaction: a class list of thousands of lines is written in one
    // go instead of one disk sync per person.
    const bool inTransaction = db.transaction();
    if (!inTransaction)
        qDebug() << "import without transaction:" << db.lastError();

    // User numbers registered already, with who holds them; the file's own
    // are added as they go in.
    QHash<QString, QString> registered;
    {
        QSqlQuery uids(db);
        if (uids.exec(dbSql(QStringLiteral("SELECT UID, Name, ID FROM Person ORDER BY ID DESC")))) {
            while (uids.next()) {
                personregistry::Holder holder{true, uids.value(2).toInt(), uids.value(1).toString()};
                registered.insert(uids.value(0).toString(),
                                  personregistry::duplicateText(uids.value(0).toString(), holder));
            }
        } else {
            qDebug() << uids.lastError();
        }
    }

    QSqlQuery query(db);
    const bool prepared = query.prepare(dbSql(insertStatement()));
    if (!prepared)
        qDebug() << query.lastError();

    const int year = QDate::currentDate().year();
    int imported = 0;
    for (int i = 0; i < total; ++i) {
        if (progress && i % kProgressStep == 0 && !progress(i, total)) {
            result.cancelled = true;
            result.stoppedAtLine = records.at(i).line;
            qDebug() << "import cancelled before line" << result.stoppedAtLine;
            break;
        }
        const csv::Record &record = records.at(i);
        qDebug() << "list=" << record.fields;
        if (i == 0) { // header
            result.headerLooksLikeData = looksLikeData(record.fields, year);
            continue;
        }
        qDebug() << "i=" << i;
        SkipReason reason = SkipReason::Incomplete;
        std::optional<PersonRow> row = parseFields(record.fields, &reason, year);
        QString detail;
        if (row && registered.contains(row->uid)) {
            detail = registered.value(row->uid);
            row.reset();
            reason = SkipReason::AlreadyRegistered;
        }
        if (!row) {
            qDebug() << "line skipped:" << record.line << reasonText(reason) << detail;
            result.skipped << Skipped{record.line, reason, detail};
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
            registered.insert(
                row->uid,
                tr("用户编号 %1 在第 %2 行已用于 %3").arg(row->uid).arg(record.line).arg(row->name));
            qDebug() << "人员数据已插入! 行号：" << i;
        } else {
            const QSqlError error = query.lastError();
            qDebug() << error;
            result.skipped << Skipped{record.line, SkipReason::InsertFailed, QString()};
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
        progress(total, total);
    return result;
}

namespace {
// The decoded text of |path|, or empty with |error| (and |notText|) set.
std::optional<QString> readText(const QString &path, TextEncoding *encoding, QString *error, bool *notText)
{
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = path.isEmpty() ? tr("没有选择文件") : file.errorString();
        return std::nullopt;
    }
    const QByteArray bytes = file.readAll();
    if (!isText(bytes)) {
        qDebug() << "import file" << path << "is not text";
        if (error)
            *error = tr("所选文件不是文本文件（CSV）");
        if (notText)
            *notText = true;
        return std::nullopt;
    }
    TextEncoding detected = TextEncoding::Utf8;
    QString text = decodeText(bytes, &detected);
    qDebug() << "import file" << path << "read as" << encodingName(detected);
    if (encoding)
        *encoding = detected;
    return text;
}
} // namespace

std::optional<QList<csv::Record>> readRecords(const QString &path, TextEncoding *encoding, QString *error,
                                              bool *notText)
{
    const std::optional<QString> text = readText(path, encoding, error, notText);
    if (!text)
        return std::nullopt;
    return csv::parse(*text);
}

std::optional<QStringList> readLines(const QString &path)
{
    const std::optional<QString> text = readText(path, nullptr, nullptr, nullptr);
    if (!text)
        return std::nullopt;
    return splitLines(*text);
}

ImportResult importFile(const QString &path, const Progress &progress)
{
    TextEncoding encoding = TextEncoding::Utf8;
    QString error;
    bool notText = false;
    const std::optional<QList<csv::Record>> records = readRecords(path, &encoding, &error, &notText);
    if (!records) {
        ImportResult result;
        result.fileError = error;
        result.notText = notText;
        return result;
    }
    ImportResult result = importRecords(*records, progress);
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

namespace {
// "  第 5 行：用户编号 0042 已登记给 张三（序号 12）" for the first few.
QStringList registeredDetails(const QList<Skipped> &skipped)
{
    constexpr int kShown = 5;
    QStringList lines;
    int more = 0;
    for (const Skipped &s : skipped) {
        if (s.reason != SkipReason::AlreadyRegistered)
            continue;
        if (lines.size() < kShown)
            lines << tr("  第 %1 行：%2").arg(s.line).arg(s.detail);
        else
            ++more;
    }
    if (more > 0)
        lines << tr("  另有 %1 行同样已登记").arg(more);
    return lines;
}
} // namespace

Summary summarize(const ImportResult &result)
{
    Summary summary;
    summary.title = tr("导入数据");
    if (result.notText) {
        summary.text = tr("所选文件不是文本文件（CSV），没有导入任何人员。\n"
                          "请在表格软件中把名单“另存为”CSV（逗号分隔）文件后再导入。");
        return summary;
    }
    const int skipped = result.skipped.size();
    summary.information = result.imported > 0 && skipped == 0 && !result.cancelled && !result.commitFailed &&
                          !result.headerLooksLikeData;
    if (summary.information) {
        summary.title = tr("导入数据成功");
        summary.text = tr("人员数据已插入!\n共导入 %1 人。").arg(result.imported);
        return summary;
    }
    if (result.commitFailed) {
        summary.text = tr("保存到数据库失败，没有导入任何人员。\n数据库错误: %1").arg(result.commitError);
        return summary;
    }
    QStringList parts;
    parts << tr("共导入 %1 人，跳过 %2 行。").arg(result.imported).arg(skipped);
    if (result.headerLooksLikeData)
        parts << tr("第 1 行按标题行跳过，但它看起来像人员数据（第 5 "
                    "列是年份）：如需导入此人，请在文件开头加一行标题后重新导入。");
    // One line per reason, in the order of the reasons, with the file lines.
    const SkipReason order[] = {
        SkipReason::AlreadyRegistered, SkipReason::Incomplete,  SkipReason::MissingUid,
        SkipReason::MissingName,       SkipReason::BadSex,      SkipReason::BadBirthYear,
        SkipReason::BadHeight,         SkipReason::InsertFailed};
    for (const SkipReason reason : order) {
        QList<int> lines;
        for (const Skipped &s : result.skipped) {
            if (s.reason == reason)
                lines << s.line;
        }
        if (lines.isEmpty())
            continue;
        parts << tr("%1：%2 行（第 %3 行）。").arg(reasonText(reason)).arg(lines.size()).arg(lineList(lines));
        if (reason == SkipReason::AlreadyRegistered)
            parts << registeredDetails(result.skipped);
        if (reason == SkipReason::InsertFailed)
            parts << tr("数据库错误: %1").arg(result.insertError);
    }
    if (result.cancelled)
        parts << tr("导入已取消：从第 %1 行起未导入，已导入的 %2 人已保存。")
                     .arg(result.stoppedAtLine)
                     .arg(result.imported);
    else if (result.imported == 0 && skipped == 0 && !result.headerLooksLikeData)
        parts << (result.lineCount == 0 ? tr("文件是空的，没有人员数据。")
                                        : tr("文件中只有标题行，没有人员数据。"));
    summary.text = parts.join(QLatin1Char('\n'));
    return summary;
}
} // namespace personimport
