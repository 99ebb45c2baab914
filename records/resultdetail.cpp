#include "records/resultdetail.h"

#include "app/dbtarget.h"

#include <QDebug>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

namespace resultdetail {
namespace {
const QString detailQuery = QStringLiteral(
    "SELECT  UID, TestID, Name, Sex, Height, TestDate, Weight, Standard_weight, Weight_control, "
    "LBM, Body_age, Score, Water, Fat, PBF, Protein, Muscle, Bone,  BMI, BMR, VFI, WHR, SMM, "
    "bodyType FROM Result");

// Query columns in order: the cell each goes to and whether it is a number
// shown with one decimal.
struct Placement
{
    int row;
    int column;
    bool number;
};
constexpr Placement placements[24] = {
    {0, 1, false}, {1, 1, false}, {2, 1, false}, {3, 1, false}, {4, 1, false}, {5, 1, false},
    {0, 3, true},  {1, 3, true},  {2, 3, true},  {3, 3, true},  {4, 3, false}, {5, 3, true},
    {0, 5, true},  {1, 5, true},  {2, 5, true},  {3, 5, true},  {4, 5, true},  {5, 5, true},
    {0, 7, true},  {1, 7, true},  {2, 7, true},  {3, 7, true},  {4, 7, true},  {5, 7, false},
};
} // namespace

Detail loadDetail(int testId)
{
    QString sql = detailQuery;
    if (testId == 0) {
        // The newest record by key, without reading the whole table.
        sql += QStringLiteral(" ORDER BY TestID DESC LIMIT 1");
        qDebug() << "sqlStrData = " << sql;
    } else {
        sql += QStringLiteral(" WHERE TestID = ") + QString::number(testId);
        qDebug() << "sqlStrData3 = " << sql;
    }

    Detail detail;
    QSqlQuery query;
    query.setForwardOnly(true);
    if (!query.exec(dbSql(sql))) {
        qDebug() << "查询失败！" << query.lastError();
        detail.error = query.lastError().text();
        return detail;
    }
    // No matching row leaves every value invalid: empty texts, numbers 0.0.
    const bool found = query.next();
    detail.ok = true;
    detail.testId = found ? query.value(1).toInt() : 0;
    detail.cells.reserve(24);
    for (int i = 0; i < 24; ++i) {
        const QVariant value = found ? query.value(i) : QVariant();
        const Placement &p = placements[i];
        const QString text =
            p.number ? QString::number(static_cast<double>(value.toFloat()), 'f', 1) : value.toString();
        detail.cells.append({p.row, p.column, text});
    }
    return detail;
}
} // namespace resultdetail
