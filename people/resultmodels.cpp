#include "people/resultmodels.h"

#include "app/dbtarget.h"
#include "people/namesearch.h"

#include <QCoreApplication>
#include <QDebug>
#include <QSqlQueryModel>

namespace {
const char *const kResultHeaders[] = {
    QT_TRANSLATE_NOOP("ResultLists", "用户编号"),       QT_TRANSLATE_NOOP("ResultLists", "测试编号"),
    QT_TRANSLATE_NOOP("ResultLists", "姓名"),           QT_TRANSLATE_NOOP("ResultLists", "出生年份"),
    QT_TRANSLATE_NOOP("ResultLists", "性别"),           QT_TRANSLATE_NOOP("ResultLists", "测试日期"),
    QT_TRANSLATE_NOOP("ResultLists", "身高(cm)"),       QT_TRANSLATE_NOOP("ResultLists", "体重(kg)"),
    QT_TRANSLATE_NOOP("ResultLists", "总水分(kg)"),     QT_TRANSLATE_NOOP("ResultLists", "脂肪(kg)"),
    QT_TRANSLATE_NOOP("ResultLists", "体脂率(%)"),      QT_TRANSLATE_NOOP("ResultLists", "骨质(kg)"),
    QT_TRANSLATE_NOOP("ResultLists", "蛋白质(kg)"),     QT_TRANSLATE_NOOP("ResultLists", "肌肉(kg)"),
    QT_TRANSLATE_NOOP("ResultLists", "体质指数(BMI)"),  QT_TRANSLATE_NOOP("ResultLists", "身体年龄"),
    QT_TRANSLATE_NOOP("ResultLists", "体型判定"),       QT_TRANSLATE_NOOP("ResultLists", "健康评分"),
    QT_TRANSLATE_NOOP("ResultLists", "左上肢肌肉"),     QT_TRANSLATE_NOOP("ResultLists", "右上肢肌肉"),
    QT_TRANSLATE_NOOP("ResultLists", "躯干水肌肉"),     QT_TRANSLATE_NOOP("ResultLists", "左下肢肌肉"),
    QT_TRANSLATE_NOOP("ResultLists", "右下肢肌肉"),     QT_TRANSLATE_NOOP("ResultLists", "左上肢脂肪"),
    QT_TRANSLATE_NOOP("ResultLists", "右上肢脂肪"),     QT_TRANSLATE_NOOP("ResultLists", "躯干脂肪"),
    QT_TRANSLATE_NOOP("ResultLists", "左下肢脂肪"),     QT_TRANSLATE_NOOP("ResultLists", "右下肢脂肪"),
    QT_TRANSLATE_NOOP("ResultLists", "水肿系数"),       QT_TRANSLATE_NOOP("ResultLists", "左上肢水肿系数"),
    QT_TRANSLATE_NOOP("ResultLists", "右上肢水肿系数"), QT_TRANSLATE_NOOP("ResultLists", "躯干水肿系数"),
    QT_TRANSLATE_NOOP("ResultLists", "左下肢水肿系数"), QT_TRANSLATE_NOOP("ResultLists", "右下肢水肿系数"),
    QT_TRANSLATE_NOOP("ResultLists", "左上肢水分"),     QT_TRANSLATE_NOOP("ResultLists", "右上肢水分"),
    QT_TRANSLATE_NOOP("ResultLists", "躯干总水分"),     QT_TRANSLATE_NOOP("ResultLists", "左下肢水分"),
    QT_TRANSLATE_NOOP("ResultLists", "右下肢水分"),     QT_TRANSLATE_NOOP("ResultLists", "左上肢细胞外液"),
    QT_TRANSLATE_NOOP("ResultLists", "右上肢细胞外液"), QT_TRANSLATE_NOOP("ResultLists", "躯干细胞外液"),
    QT_TRANSLATE_NOOP("ResultLists", "左下肢细胞外液"), QT_TRANSLATE_NOOP("ResultLists", "右下肢细胞外液"),
};

const char *const kFitHeaders[] = {
    QT_TRANSLATE_NOOP("ResultLists", "用户编号"),   QT_TRANSLATE_NOOP("ResultLists", "测试编号"),
    QT_TRANSLATE_NOOP("ResultLists", "用户姓名"),   QT_TRANSLATE_NOOP("ResultLists", "测试日期"),
    QT_TRANSLATE_NOOP("ResultLists", "身高(厘米)"), QT_TRANSLATE_NOOP("ResultLists", "体重"),
    QT_TRANSLATE_NOOP("ResultLists", "握力(公斤)"), QT_TRANSLATE_NOOP("ResultLists", "肺活量"),
    QT_TRANSLATE_NOOP("ResultLists", "坐位体前屈"), QT_TRANSLATE_NOOP("ResultLists", "台阶指数"),
    QT_TRANSLATE_NOOP("ResultLists", "仰卧起坐"),   QT_TRANSLATE_NOOP("ResultLists", "选择反应时"),
    QT_TRANSLATE_NOOP("ResultLists", "俯卧撑"),     QT_TRANSLATE_NOOP("ResultLists", "闭眼单脚站"),
    QT_TRANSLATE_NOOP("ResultLists", "纵跳"),       QT_TRANSLATE_NOOP("ResultLists", "立定跳远"),
};

template <std::size_t N> QStringList translated(const char *const (&texts)[N])
{
    QStringList out;
    out.reserve(int(N));
    for (const char *text : texts)
        out << QCoreApplication::translate("ResultLists", text);
    return out;
}

void setHeaders(QSqlQueryModel *model, const QStringList &headers)
{
    for (int i = 0; i < headers.size(); ++i)
        model->setHeaderData(i, Qt::Horizontal, headers.at(i), Qt::EditRole);
}
} // namespace

ResultListModel::ResultListModel(int sexColumn, QObject *parent)
    : QSqlQueryModel(parent), m_sexColumn(sexColumn)
{}

QVariant ResultListModel::data(const QModelIndex &index, int role) const
{
    QVariant value = QSqlQueryModel::data(index, role);
    if (role == Qt::DisplayRole && index.column() == m_sexColumn)
        return namesearch::sexText(value.toString());
    return value;
}

namespace resultlists {
QString resultColumns()
{
    return QStringLiteral(
        "UID, TestID, Name, BirthYear, Sex, TestDate, Height, Weight, Water, Fat, PBF, Bone, Protein, "
        "Muscle, BMI, Body_age, bodyType, Score, LA_muscle,RA_muscle,TR_muscle,LL_muscle,RL_muscle, "
        "LA_fat,RA_fat,TR_fat,LL_fat,RL_fat, Edema, LA_edema,RA_edema,TR_edema,LL_edema,RL_edema, "
        "LA_water,RA_water,TR_water,LL_water,RL_water, LA_ECW,RA_ECW,TR_ECW,LL_ECW,RL_ECW");
}

QString fitColumns()
{
    return QStringLiteral(
        "UID, TestID, Name, TestDate, Height, Weight, WOLI, FHL, TQQ, TZ, YWQZ, FYS, FWC, BYDJ, ZT, TY");
}

QString resultListQuery()
{
    return QStringLiteral("SELECT %1 FROM Result order by TestID desc").arg(resultColumns());
}

QString fitListQuery()
{
    return QStringLiteral("SELECT %1 FROM ResultFIT order by TestID desc").arg(fitColumns());
}

QString resultSearchQuery()
{
    return QStringLiteral("SELECT %1 FROM Result WHERE %2 order by TestID desc")
        .arg(resultColumns(), namesearch::nameCondition());
}

QString fitSearchQuery()
{
    return QStringLiteral("SELECT %1 FROM ResultFIT WHERE %2 order by TestID desc")
        .arg(fitColumns(), namesearch::nameCondition());
}

QStringList resultHeaders()
{
    return translated(kResultHeaders);
}

QStringList fitHeaders()
{
    return translated(kFitHeaders);
}

void applyResultHeaders(QSqlQueryModel *model)
{
    setHeaders(model, resultHeaders());
}

void applyFitHeaders(QSqlQueryModel *model)
{
    setHeaders(model, fitHeaders());
}
} // namespace resultlists

void initializeModelResult(QSqlQueryModel *model)
{
    model->setQuery(dbSql(resultlists::resultListQuery()));
    resultlists::applyResultHeaders(model);
}

void initilizeModelFitResult(QSqlQueryModel *model)
{
    qDebug() << "initilizeModelFitResult";
    model->setQuery(dbSql(resultlists::fitListQuery()));
    resultlists::applyFitHeaders(model);
}
