#include "exchange/csvexport.h"

#include <QDebug>
#include <QLocale>
#include <QLoggingCategory>
#include <QObject>
#include <QSaveFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>

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

const char *const kPersonColumns[] = {"UUID", "UID", "Name", "Sex", "BirthYear", "Height", "Phone", "Note"};

// clang-format off
const char *const kResultColumns[] = {
    "TestDate", "Fat", "Bone", "Protein", "Water", "ICW", "ECW", "Muscle", "LBM", "Weight",
    "Standard_weight", "Weight_control", "Fat_control", "Muscle_control", "PBF", "SMM", "BMI", "WHR",
    "BMR", "Edema", "VFI", "BodyType", "LiverRisk", "Body_age", "Score",
    "TR_fat", "LA_fat", "RA_fat", "LL_fat", "RL_fat",
    "TR_muscle", "LA_muscle", "RA_muscle", "LL_muscle", "RL_muscle",
    "TR_bone", "LA_bone", "RA_bone", "LL_bone", "RL_bone",
    "TR_LBM", "LA_LBM", "RA_LBM", "LL_LBM", "RL_LBM",
    "TR_water", "LA_water", "RA_water", "LL_water", "RL_water",
    "TR_ECW", "LA_ECW", "RA_ECW", "LL_ECW", "RL_ECW",
    "TR_edema", "LA_edema", "RA_edema", "LL_edema", "RL_edema"};
// clang-format on

constexpr int kPersonValues = int(sizeof(kPersonColumns) / sizeof(kPersonColumns[0]));
constexpr int kResultValues = int(sizeof(kResultColumns) / sizeof(kResultColumns[0]));
static_assert(kPersonValues == 8 && kResultValues == 60, "68 columns in the body-composition file");

// Lines go through a buffer that is handed to the file in large pieces.
class LineSink
{
public:
    explicit LineSink(QSaveFile &file) : m_file(file) { m_buffer.reserve(kChunk + 4096); }

    QByteArray &buffer() { return m_buffer; }
    bool endLine()
    {
        m_buffer += '\n';
        return m_buffer.size() < kChunk || flush();
    }
    bool flush()
    {
        if (!m_buffer.isEmpty() && m_file.write(m_buffer) != m_buffer.size())
            return false;
        m_buffer.clear();
        return true;
    }

private:
    static constexpr int kChunk = 1 << 19;
    QSaveFile &m_file;
    QByteArray m_buffer;
};

qint64 countOf(const QString &sql)
{
    QSqlQuery q;
    q.setForwardOnly(true);
    if (!q.exec(sql) || !q.next())
        return 0;
    return q.value(0).toLongLong();
}

// Carries the file from opening to commit; a failure or cancel on the way
// discards it, so the chosen name never holds a partial export.
class ExportJob
{
public:
    ExportJob(const QString &path, const ExportProgress &progress, qint64 total)
        : m_file(path), m_sink(m_file), m_progress(progress), m_total(total)
    {
        m_result.path = path;
    }

    bool open(const QString &header)
    {
        // Text mode: line ends are "\r\n" on Windows, "\n" elsewhere.
        if (!m_file.open(QIODevice::WriteOnly | QIODevice::Text))
            return fail(QObject::tr("文件无法写入：%1").arg(m_file.errorString()));
        m_sink.buffer() += "\xEF\xBB\xBF";
        m_sink.buffer() += header.toUtf8();
        return m_sink.endLine() || writeFailed();
    }

    QByteArray &line() { return m_sink.buffer(); }

    // Ends the current line; false when the write failed or was cancelled.
    bool endLine()
    {
        ++m_result.lines;
        if (!m_sink.endLine())
            return writeFailed();
        if (m_progress && (m_result.lines & 0xFF) == 0 && !m_progress(m_result.lines, m_total)) {
            m_result.cancelled = true;
            m_result.error = QObject::tr("导出已取消");
            return false;
        }
        return true;
    }

    bool run(QSqlQuery &query, const QString &sql)
    {
        query.setForwardOnly(true);
        if (query.exec(sql))
            return true;
        qDebug() << "export query failed:" << query.lastError();
        return fail(QObject::tr("查询失败：%1").arg(query.lastError().text()));
    }

    bool queryFailed(const QSqlQuery &query)
    {
        // next() returns false both at the end and on an error.
        if (!query.lastError().isValid())
            return false;
        qDebug() << "export query failed:" << query.lastError();
        return fail(QObject::tr("读取数据失败：%1").arg(query.lastError().text()));
    }

    ExportResult finish()
    {
        if (!m_sink.flush()) {
            writeFailed();
            return m_result;
        }
        if (m_progress)
            m_progress(m_result.lines, m_result.lines);
        if (!m_file.commit()) {
            fail(QObject::tr("文件保存失败：%1").arg(m_file.errorString()));
            return m_result;
        }
        m_result.ok = true;
        return m_result;
    }

    ExportResult abandon()
    {
        m_file.cancelWriting();
        return m_result;
    }

    bool fail(const QString &error)
    {
        m_result.error = error;
        return false;
    }

private:
    bool writeFailed() { return fail(QObject::tr("文件写入失败：%1").arg(m_file.errorString())); }

    QSaveFile m_file;
    LineSink m_sink;
    ExportProgress m_progress;
    qint64 m_total;
    ExportResult m_result;
};

void appendValues(QByteArray &out, const QSqlQuery &query, int first, int count)
{
    for (int i = first; i < first + count; ++i) {
        appendCsvField(out, query.value(i));
        out += ',';
    }
}
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
    return QStringLiteral(
        "单位标识,用户ID,姓名,性别,出生年份,身高,手机号,备注, "
        "测试日期,脂肪,骨质,蛋白质,总水分,细胞内液,细胞外液,肌肉,去脂体重,体重,标准体重,体重控制,"
        "脂肪控制量,肌肉控制量,体脂百分比,骨骼肌,BMI,腰臀比,基础代谢,全身水肿系数,内脏脂肪指数,体型,"
        "脂肪肝风险度%,身体年龄,健康评分, 躯干脂肪,左上肢脂肪,右上肢脂肪,左下肢脂肪,右下肢脂肪, "
        "躯干肌肉,左上肢肌肉,右上肢肌肉,左下肢肌肉,右下肢肌肉, 躯干骨质,左上肢骨质,右上肢骨质,左下肢骨质,"
        "右下肢骨质, 躯干去脂体重,左上肢去脂体重,右上肢去脂体重,左下肢去脂体重,右下肢去脂体重, "
        "躯干水分,左上肢水分,右上肢水分,左下肢水分,右下肢水分, 躯干外水,左上肢外水,右上肢外水,左下肢外水,"
        "右下肢外水, 躯干水肿系数,左上肢水肿系数,右上肢水肿系数,左下肢水肿系数,右下肢水肿系数");
}

QString fitHeader()
{
    return QStringLiteral("单位标识,用户ID,姓名,性别,出生年份,测试日期,身高,体重,握力,肺活量,反应时,"
                          "闭眼单脚站立,台阶实验指数,坐位体前屈,仰卧起坐,俯卧撑,纵跳,立定跳远");
}

QString bcaPersonStatement()
{
    QStringList columns;
    for (const char *c : kPersonColumns)
        columns << QStringLiteral("p.") + QLatin1String(c);
    for (const char *c : kResultColumns)
        columns << QStringLiteral("r.") + QLatin1String(c);
    // r.TestID tells a person without results (NULL) from a result row.
    columns << QStringLiteral("r.TestID");
    return QStringLiteral("SELECT %1 FROM Person p LEFT JOIN Result r ON r.UID = p.UID "
                          "ORDER BY p.rowid, r.rowid")
        .arg(columns.join(QStringLiteral(", ")));
}

QString bcaAnalyzerUserStatement()
{
    return QStringLiteral(
        "SELECT UUID, UID, Name, Sex, BirthYear, Height, UID, UID, TestDate, Fat, Bone, Protein, Water, ICW, "
        "ECW, Muscle, LBM,  Weight, Standard_weight, Weight_control, Fat_control, Muscle_control,PBF, SMM, "
        "BMI, WHR, BMR, Edema, VFI, BodyType, LiverRisk, Body_age, Score, "
        "TR_fat,LA_fat,RA_fat,LL_fat,RL_fat, TR_muscle,LA_muscle,RA_muscle,LL_muscle,RL_muscle, "
        "TR_bone,LA_bone,RA_bone,LL_bone,RL_bone, TR_LBM,LA_LBM,RA_LBM,LL_LBM,RL_LBM, "
        "TR_water,LA_water,RA_water,LL_water,RL_water, TR_ECW,LA_ECW,RA_ECW,LL_ECW,RL_ECW, "
        "TR_edema,LA_edema,RA_edema,LL_edema,RL_edema FROM Result WHERE UID like 'BCA%'");
}

QString fitStatement()
{
    return QStringLiteral("SELECT UUID, UID, Name, Sex, BirthYear, TestDate, Height, Weight, WOLI, FHL, FYS, "
                          "BYDJ, TZ, TQQ, YWQZ, FWC, ZT, TY FROM ResultFIT");
}

ExportResult exportBca(const QString &path, const ExportProgress &progress)
{
    qint64 total = 0;
    if (progress) {
        total = countOf(QStringLiteral("SELECT COUNT(*) FROM Person p LEFT JOIN Result r ON r.UID = p.UID")) +
                countOf(QStringLiteral("SELECT COUNT(*) FROM Result WHERE UID like 'BCA%'"));
    }
    ExportJob job(path, progress, total);
    if (!job.open(bcaHeader()))
        return job.abandon();

    // Every person with his results in one ordered statement.
    QSqlQuery people;
    const QString personSql = bcaPersonStatement();
    qDebug() << "queryResult=" << personSql;
    if (!job.run(people, personSql))
        return job.abandon();
    constexpr int testIdColumn = kPersonValues + kResultValues;
    while (people.next()) {
        qCDebug(exportRows) << "jPerson=" << people.value(1).toString();
        appendValues(job.line(), people, 0, kPersonValues);
        if (people.isNull(testIdColumn)) {
            qCDebug(exportRows) << "无数据-----------------------------------";
        } else {
            appendValues(job.line(), people, kPersonValues, kResultValues);
            qCDebug(exportRows) << "写入此条测试数据-----------------------------------";
        }
        if (!job.endLine())
            return job.abandon();
    }
    if (job.queryFailed(people))
        return job.abandon();
    people.finish();

    // Results recorded under analyzer-side user numbers ("BCA...", any case).
    QSqlQuery analyzerUsers;
    if (!job.run(analyzerUsers, bcaAnalyzerUserStatement()))
        return job.abandon();
    while (analyzerUsers.next()) {
        appendValues(job.line(), analyzerUsers, 0, kPersonValues + kResultValues);
        qCDebug(exportRows) << "BCA数据-----------------------------------";
        if (!job.endLine())
            return job.abandon();
    }
    if (job.queryFailed(analyzerUsers))
        return job.abandon();
    analyzerUsers.finish();
    return job.finish();
}

ExportResult exportFit(const QString &path, const ExportProgress &progress)
{
    const qint64 total = progress ? countOf(QStringLiteral("SELECT COUNT(*) FROM ResultFIT")) : 0;
    ExportJob job(path, progress, total);
    if (!job.open(fitHeader()))
        return job.abandon();
    QSqlQuery query;
    const QString sql = fitStatement();
    qDebug() << "queryResult=" << sql;
    if (!job.run(query, sql))
        return job.abandon();
    while (query.next()) {
        appendValues(job.line(), query, 0, 18);
        qCDebug(exportRows) << "写入此条测试数据-----------------------------------";
        if (!job.endLine())
            return job.abandon();
    }
    if (job.queryFailed(query))
        return job.abandon();
    query.finish();
    return job.finish();
}

} // namespace exchange
