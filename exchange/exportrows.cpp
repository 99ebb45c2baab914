#include "exchange/exportrows.h"

#include "app/dbtarget.h"

#include <QDebug>
#include <QObject>
#include <QSqlError>

#include <iterator>

namespace exchange {

namespace {
struct ColumnDef
{
    const char *header;
    const char *column;
    CellKind kind;
};

constexpr CellKind T = CellKind::Text;
constexpr CellKind N = CellKind::Number;
constexpr CellKind D = CellKind::Date;

// clang-format off
const ColumnDef kPersonColumns[] = {
    {"单位标识", "UUID", T}, {"用户ID", "UID", T}, {"姓名", "Name", T}, {"性别", "Sex", T},
    {"出生年份", "BirthYear", N}, {"身高", "Height", N}, {"手机号", "Phone", T}, {"备注", "Note", T}};

const ColumnDef kResultColumns[] = {
    {"测试日期", "TestDate", D}, {"脂肪", "Fat", N}, {"骨质", "Bone", N}, {"蛋白质", "Protein", N},
    {"总水分", "Water", N}, {"细胞内液", "ICW", N}, {"细胞外液", "ECW", N}, {"肌肉", "Muscle", N},
    {"去脂体重", "LBM", N}, {"体重", "Weight", N}, {"标准体重", "Standard_weight", N},
    {"体重控制", "Weight_control", N}, {"脂肪控制量", "Fat_control", N}, {"肌肉控制量", "Muscle_control", N},
    {"体脂百分比", "PBF", N}, {"骨骼肌", "SMM", N}, {"BMI", "BMI", N}, {"腰臀比", "WHR", N},
    {"基础代谢", "BMR", N}, {"全身水肿系数", "Edema", N}, {"内脏脂肪指数", "VFI", N}, {"体型", "BodyType", T},
    {"脂肪肝风险度%", "LiverRisk", N}, {"身体年龄", "Body_age", N}, {"健康评分", "Score", N},
    {"躯干脂肪", "TR_fat", N}, {"左上肢脂肪", "LA_fat", N}, {"右上肢脂肪", "RA_fat", N},
    {"左下肢脂肪", "LL_fat", N}, {"右下肢脂肪", "RL_fat", N},
    {"躯干肌肉", "TR_muscle", N}, {"左上肢肌肉", "LA_muscle", N}, {"右上肢肌肉", "RA_muscle", N},
    {"左下肢肌肉", "LL_muscle", N}, {"右下肢肌肉", "RL_muscle", N},
    {"躯干骨质", "TR_bone", N}, {"左上肢骨质", "LA_bone", N}, {"右上肢骨质", "RA_bone", N},
    {"左下肢骨质", "LL_bone", N}, {"右下肢骨质", "RL_bone", N},
    {"躯干去脂体重", "TR_LBM", N}, {"左上肢去脂体重", "LA_LBM", N}, {"右上肢去脂体重", "RA_LBM", N},
    {"左下肢去脂体重", "LL_LBM", N}, {"右下肢去脂体重", "RL_LBM", N},
    {"躯干水分", "TR_water", N}, {"左上肢水分", "LA_water", N}, {"右上肢水分", "RA_water", N},
    {"左下肢水分", "LL_water", N}, {"右下肢水分", "RL_water", N},
    {"躯干外水", "TR_ECW", N}, {"左上肢外水", "LA_ECW", N}, {"右上肢外水", "RA_ECW", N},
    {"左下肢外水", "LL_ECW", N}, {"右下肢外水", "RL_ECW", N},
    {"躯干水肿系数", "TR_edema", N}, {"左上肢水肿系数", "LA_edema", N}, {"右上肢水肿系数", "RA_edema", N},
    {"左下肢水肿系数", "LL_edema", N}, {"右下肢水肿系数", "RL_edema", N}};

const ColumnDef kFitColumns[] = {
    {"单位标识", "UUID", T}, {"用户ID", "UID", T}, {"姓名", "Name", T}, {"性别", "Sex", T},
    {"出生年份", "BirthYear", N}, {"测试日期", "TestDate", D}, {"身高", "Height", N}, {"体重", "Weight", N},
    {"握力", "WOLI", N}, {"肺活量", "FHL", N}, {"反应时", "FYS", N}, {"闭眼单脚站立", "BYDJ", N},
    {"台阶实验指数", "TZ", N}, {"坐位体前屈", "TQQ", N}, {"仰卧起坐", "YWQZ", N}, {"俯卧撑", "FWC", N},
    {"纵跳", "ZT", N}, {"立定跳远", "TY", N}};
// clang-format on

constexpr int kPersonValues = int(std::size(kPersonColumns));
constexpr int kResultValues = int(std::size(kResultColumns));
constexpr int kFitValues = int(std::size(kFitColumns));
static_assert(kPersonValues == 8 && kResultValues == 60 && kFitValues == 18, "file columns");

QVector<ExportColumn> columnsOf(std::initializer_list<std::pair<const ColumnDef *, int>> parts)
{
    QVector<ExportColumn> columns;
    for (const auto &part : parts) {
        for (int i = 0; i < part.second; ++i)
            columns.append({QString::fromUtf8(part.first[i].header), part.first[i].kind});
    }
    return columns;
}

QStringList selectList(const ColumnDef *defs, int count, const QString &prefix)
{
    QStringList list;
    for (int i = 0; i < count; ++i)
        list << prefix + QLatin1String(defs[i].column);
    return list;
}

qint64 countOf(const QString &sql)
{
    QSqlQuery q;
    q.setForwardOnly(true);
    if (!q.exec(dbSql(sql)) || !q.next())
        return 0;
    return q.value(0).toLongLong();
}

// Walk-in measurements: a BCA user number (any case) or nobody registered under it.
QString closingCondition()
{
    return QStringLiteral("UID %1 'BCA%' OR NOT EXISTS (SELECT 1 FROM Person p WHERE p.UID = Result.UID)")
        .arg(SqlDialect::current().like());
}
} // namespace

const QVector<ExportColumn> &exportColumns(ExportTable table)
{
    static const QVector<ExportColumn> bca =
        columnsOf({{kPersonColumns, kPersonValues}, {kResultColumns, kResultValues}});
    static const QVector<ExportColumn> fit = columnsOf({{kFitColumns, kFitValues}});
    return table == ExportTable::BodyComposition ? bca : fit;
}

QStringList exportHeaders(ExportTable table)
{
    QStringList headers;
    for (const ExportColumn &c : exportColumns(table))
        headers << c.header;
    return headers;
}

QString bcaPersonStatement()
{
    const QStringList columns = selectList(kPersonColumns, kPersonValues, QStringLiteral("p.")) +
                                selectList(kResultColumns, kResultValues, QStringLiteral("r.")) +
                                QStringList{QStringLiteral("r.TestID")};
    return QStringLiteral("SELECT %1 FROM Person p LEFT JOIN Result r ON r.UID = p.UID "
                          "ORDER BY p.ID, r.TestID")
        .arg(columns.join(QStringLiteral(", ")));
}

QString bcaClosingStatement()
{
    // The phone and remark columns carry the user number; the height is the measured one.
    QStringList columns = selectList(kPersonColumns, kPersonValues, QString());
    columns[6] = columns[7] = QStringLiteral("UID");
    columns << selectList(kResultColumns, kResultValues, QString()) << QStringLiteral("TestID");
    return QStringLiteral("SELECT %1 FROM Result WHERE %2 ORDER BY TestID")
        .arg(columns.join(QStringLiteral(", ")), closingCondition());
}

QString fitStatement()
{
    return QStringLiteral("SELECT %1, TestID FROM ResultFIT ORDER BY TestID")
        .arg(selectList(kFitColumns, kFitValues, QString()).join(QStringLiteral(", ")));
}

ExportRows::ExportRows(ExportTable table) : m_table(table), m_columns(exportColumns(table).size())
{
    if (table == ExportTable::BodyComposition)
        m_statements = QStringList{bcaPersonStatement(), bcaClosingStatement()};
    else
        m_statements = QStringList{fitStatement()};
}

qint64 ExportRows::expectedRows() const
{
    if (m_table == ExportTable::Fitness)
        return countOf(QStringLiteral("SELECT COUNT(*) FROM ResultFIT"));
    return countOf(QStringLiteral("SELECT COUNT(*) FROM Person p LEFT JOIN Result r ON r.UID = p.UID")) +
           countOf(QStringLiteral("SELECT COUNT(*) FROM Result WHERE ") + closingCondition());
}

bool ExportRows::start(const QString &sql)
{
    m_query = QSqlQuery();
    m_query.setForwardOnly(true);
    qDebug() << "queryResult=" << sql;
    if (m_query.exec(dbSql(sql)))
        return true;
    qDebug() << "export query failed:" << m_query.lastError();
    m_error = QObject::tr("查询失败：%1").arg(m_query.lastError().text());
    return false;
}

bool ExportRows::next()
{
    if (!m_error.isEmpty())
        return false;
    while (true) {
        if (m_part >= 0 && m_query.next())
            break;
        // next() is false both at the end and on an error.
        if (m_part >= 0 && m_query.lastError().isValid()) {
            qDebug() << "export query failed:" << m_query.lastError();
            m_error = QObject::tr("读取数据失败：%1").arg(m_query.lastError().text());
            return false;
        }
        m_query.finish();
        if (++m_part >= m_statements.size() || !start(m_statements.at(m_part)))
            return false;
    }
    m_testId = m_query.value(m_columns).toInt();
    return true;
}

QVariant ExportRows::value(int column) const
{
    // A person without results has NULL in every result column: empty fields.
    return m_query.value(column);
}

} // namespace exchange
