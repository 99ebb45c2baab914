#include "exchange/xlsxexport.h"

#include "exchange/csvexport.h"
#include "exchange/safewrite.h"
#include "reports/fitnessscore.h"
#include "reports/layout.h"

#include <QDate>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QObject>
#include <QRegularExpression>
#include <QTemporaryFile>

#include <xlsxwriter.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <future>
#include <vector>

namespace exchange {

namespace {
using reports::FitItem;

// The graded items of the fitness sheet, in the order of their file columns.
struct GradedItem
{
    FitItem item;
    const char *name;
};
const GradedItem kGraded[] = {
    {FitItem::BMI, "BMI"},        {FitItem::WOLI, "握力"},         {FitItem::FHL, "肺活量"},
    {FitItem::FYS, "反应时"},     {FitItem::BYDJ, "闭眼单脚站立"}, {FitItem::TZ, "台阶实验指数"},
    {FitItem::TQQ, "坐位体前屈"}, {FitItem::YWQZ, "仰卧起坐"},     {FitItem::FWC, "俯卧撑"},
    {FitItem::ZT, "纵跳"},        {FitItem::TY, "立定跳远"}};

constexpr int kMaxTextLength = 32767; // characters a cell holds
constexpr int kMaxDecimals = 15;
constexpr double kMaxWidth = 60;

// The fitness file's columns as the report reads the record.
reports::FitnessRecord fitnessRecord(const ExportRows &rows)
{
    reports::FitnessRecord r;
    const auto real = [&rows](int column) { return rows.value(column).toDouble(); };
    const auto whole = [&rows](int column) { return rows.value(column).toInt(); };
    r.uid = rows.value(1).toString();
    r.name = rows.value(2).toString();
    r.sex = rows.value(3).toString().trimmed();
    r.birthYear = whole(4);
    r.testDate = rows.value(5).toString();
    r.height = real(6);
    r.weight = real(7);
    r.woli = real(8);
    r.fhl = whole(9);
    r.fys = whole(10);
    r.bydj = real(11);
    r.tz = real(12);
    r.tqq = real(13);
    r.ywqz = whole(14);
    r.fwc = whole(15);
    r.zt = real(16);
    r.ty = real(17);
    return r;
}

// Display width of |text| in character cells (CJK characters take two).
double textWidth(const QString &text)
{
    double width = 0;
    for (const uint c : text.toUcs4())
        width += c >= 0x2E80 ? 2 : 1;
    return width;
}

// One worksheet written row by row (constant memory: a row is final once the
// next one starts).
class SheetWriter
{
public:
    SheetWriter(lxw_workbook *book, lxw_worksheet *sheet, int columns)
        : m_book(book), m_sheet(sheet), m_widths(size_t(columns), 0)
    {
        m_bold = workbook_add_format(book);
        format_set_bold(m_bold);
        m_date = numberFormat("yyyy-mm-dd");
        m_dateTime = numberFormat("yyyy-mm-dd hh:mm:ss");
    }

    void headerRow(const QStringList &headers)
    {
        for (int c = 0; c < headers.size(); ++c) {
            worksheet_write_string(m_sheet, 0, lxw_col_t(c), headers.at(c).toUtf8().constData(), m_bold);
            widen(c, textWidth(headers.at(c)) * 1.1);
        }
        worksheet_freeze_panes(m_sheet, 1, 0);
        m_row = 1;
    }

    bool full() const { return m_row >= LXW_ROW_MAX; }
    void endRow() { ++m_row; }

    void text(int column, QString value)
    {
        if (value.isEmpty())
            return;
        if (value.size() > kMaxTextLength) {
            qDebug() << "workbook: text cut to" << kMaxTextLength << "characters in row" << m_row;
            value.truncate(value.at(kMaxTextLength - 1).isHighSurrogate() ? kMaxTextLength - 1
                                                                          : kMaxTextLength);
        }
        worksheet_write_string(m_sheet, m_row, lxw_col_t(column), value.toUtf8().constData(), nullptr);
        widen(column, textWidth(value));
    }

    // A number shown with as many decimals as the CSV file writes it.
    void number(int column, double value)
    {
        const QByteArray shown = QByteArray::number(value, 'g', QLocale::FloatingPointShortest);
        lxw_format *format = nullptr; // General for numbers in exponent form
        if (!shown.contains('e')) {
            const int dot = shown.indexOf('.');
            format = decimals(dot < 0 ? 0 : qMin(kMaxDecimals, shown.size() - dot - 1));
        }
        worksheet_write_number(m_sheet, m_row, lxw_col_t(column), value, format);
        widen(column, shown.size());
    }

    void value(int column, const QVariant &v, CellKind kind)
    {
        if (v.isNull())
            return;
        const int type = v.userType();
        const bool numeric = type == QMetaType::Double || type == QMetaType::LongLong ||
                             type == QMetaType::Int || type == QMetaType::ULongLong ||
                             type == QMetaType::UInt || type == QMetaType::Float;
        if (kind == CellKind::Number) {
            bool ok = numeric;
            const double d = numeric ? v.toDouble() : QLocale::c().toDouble(v.toString().trimmed(), &ok);
            if (ok) {
                number(column, d);
                return;
            }
        } else if (kind == CellKind::Date && date(column, v.toString())) {
            return;
        }
        // Texts, and whatever does not read as its column's kind, stay as stored.
        text(column, v.toString());
    }

    void finish()
    {
        for (size_t c = 0; c < m_widths.size(); ++c)
            worksheet_set_column(m_sheet, lxw_col_t(c), lxw_col_t(c), qMin(kMaxWidth, m_widths[c] + 2),
                                 nullptr);
        worksheet_autofilter(m_sheet, 0, 0, m_row > 1 ? m_row - 1 : 1, lxw_col_t(m_widths.size() - 1));
    }

    lxw_row_t rows() const { return m_row; }

private:
    // "2024-03-15" and "2024-03-15 09:30[:05]" (also with '/' or 'T').
    bool date(int column, const QString &text)
    {
        static const QRegularExpression re(QStringLiteral(
            "^(\\d{4})[-/](\\d{1,2})[-/](\\d{1,2})(?:[ T](\\d{1,2}):(\\d{2})(?::(\\d{2}))?)?$"));
        const QRegularExpressionMatch m = re.match(text);
        if (!m.hasMatch())
            return false;
        const int y = m.captured(1).toInt();
        const int mo = m.captured(2).toInt();
        const int d = m.captured(3).toInt();
        const bool timed = !m.captured(4).isEmpty();
        const int h = m.captured(4).toInt();
        const int mi = m.captured(5).toInt();
        const int s = m.captured(6).toInt();
        if (!QDate::isValid(y, mo, d) || y < 1900 || h > 23 || mi > 59 || s > 59)
            return false;
        lxw_datetime when = {y, mo, d, h, mi, double(s)};
        worksheet_write_datetime(m_sheet, m_row, lxw_col_t(column), &when, timed ? m_dateTime : m_date);
        widen(column, timed ? 19 : 10);
        return true;
    }

    lxw_format *numberFormat(const char *pattern)
    {
        lxw_format *f = workbook_add_format(m_book);
        format_set_num_format(f, pattern);
        return f;
    }

    lxw_format *decimals(int n)
    {
        lxw_format *&f = m_decimals[size_t(n)];
        if (!f)
            f = numberFormat(n == 0 ? "0" : ("0." + QByteArray(n, '0')).constData());
        return f;
    }

    void widen(int column, double width)
    {
        double &w = m_widths[size_t(column)];
        w = qMax(w, width);
    }

    lxw_workbook *m_book;
    lxw_worksheet *m_sheet;
    lxw_format *m_bold = nullptr;
    lxw_format *m_date = nullptr;
    lxw_format *m_dateTime = nullptr;
    std::array<lxw_format *, kMaxDecimals + 1> m_decimals{};
    std::vector<double> m_widths;
    lxw_row_t m_row = 0;
};

QString libraryFailure(lxw_error error, int errnum)
{
    // The library reports system failures (a full disk, a size limit) by its
    // own code; errno still holds the system's reason then.
    switch (errnum) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
    case EIO:
    case EROFS:
    case EACCES:
    case EPERM:
        return systemReason(errnum);
    default:
        return QObject::tr("工作簿生成失败（%1）").arg(QString::fromUtf8(lxw_strerror(error)));
    }
}

// Moves the finished workbook |temp| into |path| through the common save road.
bool saveCopy(const QString &temp, const QString &path, QString *error)
{
    QFile in(temp);
    if (!in.open(QIODevice::ReadOnly)) {
        *error = writeFailedText(temp, in.errorString());
        return false;
    }
    SaveFile out(path);
    if (!out.open(error))
        return false;
    while (!in.atEnd()) {
        const QByteArray chunk = in.read(1 << 20);
        if (chunk.isEmpty()) {
            *error = writeFailedText(temp, in.errorString());
            out.cancelWriting();
            return false;
        }
        if (!out.writeAll(chunk, error))
            return false;
    }
    return out.finish(error);
}
} // namespace

bool isWorkbookPath(const QString &path)
{
    return QFileInfo(path).suffix().compare(QLatin1String("xlsx"), Qt::CaseInsensitive) == 0;
}

QString workbookSheetName(ExportTable table)
{
    return table == ExportTable::BodyComposition ? QStringLiteral("体成分") : QStringLiteral("体测");
}

QStringList workbookHeaders(ExportTable table)
{
    QStringList headers = QStringList{QStringLiteral("测试编号")} + exportHeaders(table);
    if (table == ExportTable::Fitness) {
        for (const GradedItem &g : kGraded) {
            const QString name = QString::fromUtf8(g.name);
            headers << name + QStringLiteral("得分") << name + QStringLiteral("等级");
        }
        headers << QStringLiteral("总分");
    }
    return headers;
}

ExportResult exportWorkbook(ExportTable table, const QString &path, const ExportProgress &progress)
{
    ExportResult result;
    result.path = path;
    ExportRows rows(table);
    const qint64 total = rows.expectedRows();

    // The library writes a file of its own; it is copied into place only when complete.
    QTemporaryFile temp(QDir(QDir::tempPath()).filePath(QStringLiteral("quelmar-XXXXXX.xlsx")));
    if (!temp.open()) {
        result.error = writeFailedText(temp.fileTemplate(), temp.errorString());
        return result;
    }
    temp.close();
    const QByteArray tempName = QFile::encodeName(temp.fileName());
    QByteArray tmpDir = QFile::encodeName(QDir::tempPath());
    lxw_workbook_options options = {LXW_TRUE, tmpDir.data(), uint8_t(total > 300000 ? LXW_TRUE : LXW_FALSE)};
    lxw_workbook *book = workbook_new_opt(tempName.constData(), &options);
    lxw_worksheet *sheet =
        book ? workbook_add_worksheet(book, workbookSheetName(table).toUtf8().constData()) : nullptr;
    if (!sheet) {
        result.error = writeFailedText(temp.fileName(), systemReason(errno));
        if (book)
            lxw_workbook_free(book);
        return result;
    }

    const QStringList headers = workbookHeaders(table);
    const QVector<ExportColumn> &columns = exportColumns(table);
    SheetWriter writer(book, sheet, headers.size());
    writer.headerRow(headers);
    const bool fitness = table == ExportTable::Fitness;
    const int currentYear = QDate::currentDate().year();
    const auto abandon = [&](const QString &why, bool cancelled) {
        lxw_workbook_free(book);
        result.error = why;
        result.cancelled = cancelled;
        return result;
    };
    while (rows.next()) {
        if (writer.full())
            return abandon(QObject::tr("超过工作表的行数上限（%1 行），请改用 CSV 文件导出").arg(LXW_ROW_MAX),
                           false);
        if (rows.testId() != 0)
            writer.number(0, rows.testId());
        for (int c = 0; c < columns.size(); ++c)
            writer.value(c + 1, rows.value(c), columns.at(c).kind);
        if (fitness) {
            // Graded in the age group of the record's own test date, as the report does.
            const reports::FitnessRecord record = fitnessRecord(rows);
            const reports::FitnessAssessment a = reports::gradeFitness(
                record, reports::ageAtTest(record.birthYear, record.testDate, currentYear).value_or(-1));
            int column = columns.size() + 1;
            for (const GradedItem &g : kGraded) {
                writer.number(column++, a.grade(g.item).points);
                writer.text(column++, a.grade(g.item).word);
            }
            writer.number(column, a.total);
        }
        writer.endRow();
        ++result.lines;
        if (progress && result.lines % kProgressEvery == 0 && !progress(result.lines, total))
            return abandon(QObject::tr("导出已取消"), true);
    }
    if (!rows.error().isEmpty())
        return abandon(rows.error(), false);
    writer.finish();

    // Rows spill into a temporary file of the library; a failed write there
    // would otherwise surface as a cut sheet.
    errno = 0;
    if (sheet->optimize_tmpfile &&
        (std::fflush(sheet->optimize_tmpfile) != 0 || std::ferror(sheet->optimize_tmpfile))) {
        // The reason of a write that failed earlier is gone from errno by
        // now: one more byte fails the same way and tells it again.
        int reason = errno;
        std::clearerr(sheet->optimize_tmpfile);
        errno = 0;
        if (std::fputc(0, sheet->optimize_tmpfile) == EOF || std::fflush(sheet->optimize_tmpfile) != 0)
            reason = errno;
        return abandon(writeFailedText(QDir::tempPath(), systemReason(reason ? reason : EIO)), false);
    }

    // Compressing a large sheet takes a while: the caller's progress keeps
    // being called (and may cancel) until the library is done.
    auto closing = std::async(std::launch::async, [book] {
        errno = 0;
        const lxw_error error = workbook_close(book);
        return std::make_pair(error, errno);
    });
    bool cancelled = false;
    while (progress && closing.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready) {
        if (!cancelled && !progress(result.lines, result.lines))
            cancelled = true;
    }
    const auto [error, errnum] = closing.get();
    if (cancelled) {
        result.cancelled = true;
        result.error = QObject::tr("导出已取消");
        return result;
    }
    if (error != LXW_NO_ERROR) {
        result.error = writeFailedText(path, libraryFailure(error, errnum));
        return result;
    }
    if (progress)
        progress(result.lines, result.lines);
    result.ok = saveCopy(temp.fileName(), path, &result.error);
    return result;
}

ExportResult exportResults(ExportTable table, const QString &path, const ExportProgress &progress)
{
    return isWorkbookPath(path) ? exportWorkbook(table, path, progress) : exportCsv(table, path, progress);
}

} // namespace exchange
