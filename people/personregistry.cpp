#include "people/personregistry.h"

#include "app/dbtarget.h"
#include "exchange/errortext.h"

#include <QCoreApplication>
#include <QDebug>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace personregistry {
namespace {
QString tr(const char *text)
{
    return QCoreApplication::translate("personregistry", text);
}
} // namespace

QString nameProblem(const QString &name)
{
    const QString trimmed = name.trimmed();
    if (trimmed.isEmpty())
        return tr("姓名不得为空！");
    if (trimmed.toUcs4().size() > kNameMaxLength)
        return tr("姓名最多%1个字符！").arg(kNameMaxLength);
    return QString();
}

QString sexCode(const QString &text)
{
    const QString t = text.trimmed().toLower();
    if (t == QStringLiteral("男") || t == QLatin1String("1") || t == QLatin1String("m") ||
        t == QLatin1String("male"))
        return QStringLiteral("1");
    if (t == QStringLiteral("女") || t == QLatin1String("2") || t == QLatin1String("f") ||
        t == QLatin1String("female"))
        return QStringLiteral("2");
    return QString();
}

Holder holderOf(const QString &uid, int exceptId)
{
    Holder holder;
    QSqlQuery q;
    q.prepare(
        dbSql(QStringLiteral("SELECT ID, Name FROM Person WHERE UID = ? AND ID <> ? ORDER BY ID LIMIT 1")));
    q.addBindValue(uid);
    q.addBindValue(exceptId);
    if (!q.exec()) {
        qDebug() << "user number lookup failed:" << q.lastError();
        return holder;
    }
    if (q.next()) {
        holder.found = true;
        holder.id = q.value(0).toInt();
        holder.name = q.value(1).toString();
    }
    return holder;
}

QString duplicateText(const QString &uid, const Holder &holder)
{
    return tr("用户编号 %1 已登记给 %2（序号 %3）").arg(uid, holder.name).arg(holder.id);
}

int insertPerson(const NewPerson &person, QString *error)
{
    const auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return -1;
    };
    const QString uid = person.uid.trimmed();
    if (!uid.isEmpty()) {
        const Holder holder = holderOf(uid);
        if (holder.found)
            return fail(duplicateText(uid, holder) + tr("，请换一个编号。"));
    }
    QSqlDatabase db = QSqlDatabase::database();
    // An empty user number becomes the serial number, known only after the
    // insert: both happen in one transaction.
    const bool inTransaction = db.transaction();
    QSqlQuery q(db);
    const SqlDialect dialect = SqlDialect::current();
    q.prepare(dialect.sql(
        QStringLiteral("INSERT INTO Person (UUID, UID, Name, Sex, BirthYear, Height, Phone, Note) "
                       "VALUES (?, ?, ?, ?, ?, ?, ?, ?)") +
        dialect.returningKey(QStringLiteral("ID"))));
    for (const QVariant &v :
         {QVariant(person.uuid), uid.isEmpty() ? QVariant(QVariant::String) : QVariant(uid),
          QVariant(person.name.trimmed()), QVariant(person.sex), QVariant(person.birthYear),
          QVariant(person.height), QVariant(person.phone), QVariant(person.note)})
        q.addBindValue(v);
    const auto rollback = [&db, inTransaction, &fail](const QString &why) {
        if (inTransaction)
            db.rollback();
        return fail(why);
    };
    if (!q.exec())
        return rollback(tr("数据库错误: %1").arg(exchange::systemErrorText(q.lastError().text())));
    const int id = dialect.insertedKey(q).toInt();
    q.finish();
    if (uid.isEmpty()) {
        const QString serial = QString::number(id);
        const Holder holder = holderOf(serial, id);
        if (holder.found)
            return rollback(tr("用户序号 %1 已被 %2（序号 %3）用作用户编号，请填写编号。")
                                .arg(serial, holder.name)
                                .arg(holder.id));
        QSqlQuery set(db);
        set.prepare(dbSql(QStringLiteral("UPDATE Person SET UID = ? WHERE ID = ?")));
        set.addBindValue(serial);
        set.addBindValue(id);
        if (!set.exec())
            return rollback(tr("数据库错误: %1").arg(exchange::systemErrorText(set.lastError().text())));
    }
    if (inTransaction && !db.commit())
        return rollback(tr("数据库错误: %1").arg(exchange::systemErrorText(db.lastError().text())));
    qDebug() << "person inserted, ID" << id;
    return id;
}

} // namespace personregistry
