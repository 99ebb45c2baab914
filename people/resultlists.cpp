#include "people/resultlists.h"

#include "app/dbtarget.h"
#include "people/namesearch.h"
#include "people/resultmodels.h"

#include <QDebug>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlQueryModel>
#include <QVariant>

namespace resultlists {
QString tableName(ResultTable table)
{
    return table == ResultTable::Fitness ? QStringLiteral("ResultFIT") : QStringLiteral("Result");
}

bool selectResults(QSqlQueryModel *model, ResultTable table, const ResultFilter &filter)
{
    const bool fitness = table == ResultTable::Fitness;
    QStringList conditions;
    QVariantList values;
    if (!filter.uid.isNull()) {
        conditions << QStringLiteral("UID = ?");
        values << filter.uid;
    }
    if (!filter.namePrefix.isNull()) {
        conditions << namesearch::nameCondition();
        values << namesearch::prefixPattern(filter.namePrefix);
    }
    QString sql =
        QStringLiteral("SELECT %1 FROM %2").arg(fitness ? fitColumns() : resultColumns(), tableName(table));
    if (!conditions.isEmpty())
        sql += QStringLiteral(" WHERE ") + conditions.join(QStringLiteral(" AND "));
    sql += QStringLiteral(" order by TestID desc");
    qDebug().noquote() << sql << "values=" << values;

    QSqlQuery query;
    bool ok = query.prepare(dbSql(sql));
    if (ok) {
        for (const QVariant &value : qAsConst(values))
            query.addBindValue(value);
        ok = query.exec();
    }
    if (!ok)
        qDebug() << query.lastError();
    model->setQuery(query);
    if (fitness)
        applyFitHeaders(model);
    else
        applyResultHeaders(model);
    return ok;
}

bool searchByName(QSqlQueryModel *model, ResultTable table, const QString &text)
{
    return selectResults(model, table, {QString(), text.isNull() ? QStringLiteral("") : text});
}

int testIdFromText(const QString &text)
{
    bool ok = false;
    const int id = text.trimmed().toInt(&ok, 10);
    return ok ? id : 0;
}

QList<int> selectedTestIds(const QModelIndexList &indexes)
{
    QList<int> ids;
    for (const QModelIndex &index : indexes) {
        if (index.column() != 1)
            continue;
        const QVariant raw = index.data();
        const int tid = raw.toInt();
        qDebug() << "current indexindex:" << index;
        qDebug() << "Tid:" << tid;
        qDebug() << "Raw Tid:" << raw;
        qDebug() << "row:" << index.row();
        qDebug() << "column:" << index.column();
        ids << tid;
    }
    return ids;
}

DeleteOutcome deleteTests(ResultTable table, const QList<int> &testIds)
{
    DeleteOutcome outcome;
    if (testIds.isEmpty())
        return outcome;

    QSqlDatabase db = QSqlDatabase::database();
    // Without a transaction every DELETE would be its own journal commit.
    const bool inTransaction = db.transaction();
    if (!inTransaction)
        qDebug() << "delete without transaction:" << db.lastError();

    const QString text = QStringLiteral("DELETE FROM %1 WHERE TestID=").arg(tableName(table));
    QSqlQuery query(db);
    const bool prepared = query.prepare(dbSql(text + QLatin1Char('?')));
    for (const int tid : testIds) {
        qDebug().noquote() << text + QString::number(tid);
        bool ok = prepared;
        if (ok) {
            query.addBindValue(tid);
            ok = query.exec();
        }
        if (ok) {
            qDebug() << "delQuery succeed.";
            outcome.deleted << tid;
        } else {
            qDebug() << query.lastError();
            outcome.error = query.lastError().text();
            outcome.failed << tid;
        }
    }

    if (inTransaction && !db.commit()) {
        qDebug() << "delete commit failed:" << db.lastError();
        outcome.error = db.lastError().text();
        db.rollback();
        outcome.failed += outcome.deleted;
        outcome.deleted.clear();
    }
    return outcome;
}
} // namespace resultlists
