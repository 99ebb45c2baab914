#include "fitness/fitnessstore.h"

#include "app/database.h"
#include "app/dbtarget.h"

#include <QDebug>
#include <QObject>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace fitnessstore {
namespace {
QString errorText(const QSqlQuery &q)
{
    const QString text = q.lastError().text();
    return text.isEmpty() ? QStringLiteral("unknown database error") : text;
}
} // namespace

PersonInfo lookupPerson(const QString &userId, QString *error)
{
    PersonInfo p;
    p.uid = userId;
    QSqlQuery q;
    q.prepare(
        dbSql(QStringLiteral("SELECT UID, Name, BirthYear, Sex FROM Person WHERE UID = ? ORDER BY ID")));
    q.addBindValue(userId);
    if (!q.exec()) {
        qDebug() << "person lookup failed / 人员查询失败:" << q.lastError();
        if (error)
            *error = errorText(q);
        return p;
    }
    int rows = 0;
    while (q.next()) {
        if (rows == 0) {
            p.uid = q.value(0).toString();
            p.name = q.value(1).toString();
            p.birthYear = q.value(2).toInt();
            p.sex = q.value(3).toString();
            p.registered = true;
        }
        ++rows;
    }
    qDebug() << "rowsPerson=" << rows;
    if (!p.registered)
        qDebug() << "查无此人";
    return p;
}

namespace {
StoreOutcome storeOnce(const fitness::FitResult &result, fitness::FitValues &values, const QDate &today);
} // namespace

StoreOutcome storeResult(const fitness::FitResult &result, fitness::FitValues &values, const QDate &today)
{
    StoreOutcome out;
    out.uid = result.userId;
    out.error = databaseReadyForStore();
    if (out.error.isEmpty()) {
        // Stations on other PCs may store items of the same person on the
        // same day: one of them at a time looks for the day row and writes.
        QSqlDatabase db = QSqlDatabase::database();
        const QString lock = SqlDialect::current().tryKeyLock();
        const bool serialised = !lock.isEmpty();
        if (serialised) {
            QSqlQuery take(db);
            if (!db.transaction()) {
                out.error = db.lastError().text();
            } else if (!take.prepare(lock) ||
                       (take.addBindValue(result.userId + QLatin1Char('|') + today.toString(Qt::ISODate)),
                        !take.exec() || !take.next())) {
                out.error = errorText(take);
            } else if (!take.value(0).toBool()) {
                out.error = QObject::tr("另一台电脑正在保存此人的体测结果，稍后自动重试");
            }
            if (!out.error.isEmpty()) {
                take.finish();
                db.rollback();
            }
        }
        if (out.error.isEmpty()) {
            out = storeOnce(result, values, today);
            if (serialised && out.ok && !db.commit()) {
                out.ok = false;
                out.error = db.lastError().text();
            }
            if (serialised && !out.ok)
                db.rollback();
        }
    }
    // A server out of reach says so; the result stays unacknowledged and an
    // insert whose answer was lost is found by the day lookup next time.
    out.error = storeErrorText(out.error);
    return out;
}

namespace {
StoreOutcome storeOnce(const fitness::FitResult &result, fitness::FitValues &values, const QDate &today)
{
    StoreOutcome out;
    QString error;
    const PersonInfo person = lookupPerson(result.userId, &error);
    out.uid = person.uid;
    if (!error.isEmpty()) {
        out.error = error;
        return out;
    }
    const QString date = today.toString(Qt::ISODate);

    fitness::convertItem(values, result.itemCode, result.value);
    qDebug() << "personalInfo: " << person.uid << person.name << person.birthYear << person.sex;

    // Day lookup: the first row of this person on this day.
    // The filter text is only logged; the query binds both values.
    qDebug() << "searchFindStr=" << QStringLiteral("UID='%1' AND TestDate='%2'").arg(person.uid, date);
    QSqlQuery day;
    day.prepare(
        dbSql(QStringLiteral("SELECT TestID FROM ResultFIT WHERE UID = ? AND TestDate = ? ORDER BY TestID")));
    day.addBindValue(person.uid);
    day.addBindValue(date);
    if (!day.exec()) {
        qDebug() << "row error" << day.lastError();
        out.error = errorText(day);
        return out;
    }
    int rows = 0;
    while (day.next()) {
        if (rows == 0)
            out.testId = day.value(0).toInt();
        ++rows;
    }
    day.finish();
    qDebug() << "rows=" << rows;

    // Column names come from the fixed item table, never from the station's text.
    const QString column = fitness::itemColumn(result.itemCode);
    const QVariant value = fitness::itemValue(values, result.itemCode);
    QSqlQuery write;
    if (rows == 0) {
        qDebug() << "没有此人的记录。插入！UID=" << person.uid;
        const QString columns = QStringLiteral("UID, Name, Sex, BirthYear, TestDate") +
                                (column.isEmpty() ? QString() : QStringLiteral(", ") + column);
        const QString marks =
            column.isEmpty() ? QStringLiteral("?, ?, ?, ?, ?") : QStringLiteral("?, ?, ?, ?, ?, ?");
        const SqlDialect dialect = SqlDialect::current();
        write.prepare(
            dialect.sql(QStringLiteral("INSERT INTO ResultFIT (%1) VALUES (%2)").arg(columns, marks) +
                        dialect.returningKey(QStringLiteral("TestID"))));
        write.addBindValue(person.uid);
        write.addBindValue(person.name);
        write.addBindValue(person.sex);
        write.addBindValue(person.birthYear);
        write.addBindValue(date);
        if (!column.isEmpty())
            write.addBindValue(value);
        if (!write.exec()) {
            qDebug() << "fitness result insert failed / 体测结果插入失败:" << write.lastError();
            out.error = errorText(write);
            return out;
        }
        out.testId = dialect.insertedKey(write).toInt();
        out.inserted = true;
    } else {
        qDebug() << "已有此人记录。更新！";
        // A row begun before its person was registered takes the registered
        // name, sex and birth year with the next item of the day.
        const QString identity =
            person.registered ? QStringLiteral("Name = ?, Sex = ?, BirthYear = ?, ") : QString();
        const QString sets = identity + QStringLiteral("TestDate = ?") +
                             (column.isEmpty() ? QString() : QStringLiteral(", %1 = ?").arg(column));
        write.prepare(dbSql(QStringLiteral("UPDATE ResultFIT SET %1 WHERE TestID = ?").arg(sets)));
        if (person.registered) {
            write.addBindValue(person.name);
            write.addBindValue(person.sex);
            write.addBindValue(person.birthYear);
        }
        write.addBindValue(date);
        if (!column.isEmpty())
            write.addBindValue(value);
        write.addBindValue(out.testId);
        if (!write.exec()) {
            qDebug() << "fitness result update failed / 体测结果更新失败:" << write.lastError();
            out.error = errorText(write);
            return out;
        }
        if (write.numRowsAffected() < 1) {
            out.error = QStringLiteral("row %1 of ResultFIT no longer exists").arg(out.testId);
            qDebug() << "fitness result update failed / 体测结果更新失败:" << out.error;
            return out;
        }
    }
    out.ok = true;
    return out;
}

} // namespace

} // namespace fitnessstore
