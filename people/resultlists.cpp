#include "people/resultlists.h"

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

QString prefixPattern(const QString &text)
{
    QString escaped;
    escaped.reserve(text.size() + 2);
    for (const QChar c : text) {
        if (c == QLatin1Char('\\') || c == QLatin1Char('%') || c == QLatin1Char('_'))
            escaped += QLatin1Char('\\');
        escaped += c;
    }
    escaped += QLatin1Char('%');
    return escaped;
}

bool searchByName(QSqlQueryModel *model, ResultTable table, const QString &text)
{
    const bool fitness = table == ResultTable::Fitness;
    const QString sql = fitness ? fitSearchQuery() : resultSearchQuery();
    const QString pattern = prefixPattern(text);
    qDebug().noquote() << sql << "pattern=" << pattern;

    QSqlQuery query;
    bool ok = query.prepare(sql);
    if (ok) {
        query.addBindValue(pattern);
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
    const bool prepared = query.prepare(text + QLatin1Char('?'));
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
