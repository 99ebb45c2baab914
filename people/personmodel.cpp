#include "people/personmodel.h"

#include "app/dbtarget.h"
#include "people/namesearch.h"

#include <QDebug>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

namespace {
constexpr int kSexColumn = 4;
}

PersonModel::PersonModel(QObject *parent) : QSqlTableModel(parent) {}

void PersonModel::initialize()
{
    qDebug() << "initialize model person";
    m_namePrefix = QString();
    setTable(SqlDialect::current().modelTable(QStringLiteral("Person")));
    setSort(0, Qt::DescendingOrder);
    if (!select())
        qDebug() << lastError();
    const char *headers[] = {"序号",     "单位识别码", "用户编号", "姓名", "性别",
                             "出生年份", "身高",       "手机号",   "备注"};
    for (int column = 0; column < 9; ++column)
        setHeaderData(column, Qt::Horizontal, tr(headers[column]));
}

void PersonModel::setNamePrefix(const QString &text)
{
    m_namePrefix = text;
}

bool PersonModel::select()
{
    if (m_namePrefix.isNull())
        return QSqlTableModel::select();
    // Pending edits belong to rows that are about to be replaced.
    revertAll();
    QSqlQuery query(database());
    const QString sql = QStringLiteral("SELECT * FROM Person WHERE %1 ORDER BY ID DESC")
                            .arg(namesearch::nameOrUidCondition());
    const QString pattern = namesearch::prefixPattern(m_namePrefix);
    qDebug().noquote() << "filter:" << sql << "pattern=" << pattern;
    bool ok = query.prepare(dbSql(sql));
    if (ok) {
        query.addBindValue(pattern);
        query.addBindValue(pattern);
        ok = query.exec();
    }
    if (!ok)
        qDebug() << query.lastError();
    setQuery(query);
    return ok;
}

QVariant PersonModel::data(const QModelIndex &index, int role) const
{
    QVariant value = QSqlTableModel::data(index, role);
    if (role == Qt::DisplayRole && index.column() == kSexColumn)
        return namesearch::sexText(value.toString());
    return value;
}

int PersonModel::rowOfId(int id)
{
    const int idColumn = fieldIndex(QStringLiteral("ID"));
    if (idColumn < 0)
        return -1;
    int row = 0;
    for (;;) {
        for (; row < rowCount(); ++row) {
            if (QSqlTableModel::data(index(row, idColumn)).toInt() == id)
                return row;
        }
        if (!canFetchMore())
            return -1;
        fetchMore();
    }
}
