#include "exchange/dbcopy.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlField>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>
#include <QVariant>

namespace exchange {

namespace {
struct CopiedTable
{
    const char *name;
    const char *key; // assigned by the database: never copied
};
const CopiedTable kTables[] = {{"Person", "ID"}, {"Result", "TestID"}, {"ResultFIT", "TestID"}};

QString quoted(const QSqlDatabase &db, const QString &column)
{
    return db.driver()->escapeIdentifier(column, QSqlDriver::FieldName);
}

// Column names of |table| in |db| but its key, in the table's order.
QStringList copiedColumns(const QSqlDatabase &db, const QString &table, const QString &key)
{
    // The columns as a statement sees them: the same on both databases,
    // whatever case the server keeps table names in.
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("SELECT * FROM %1 WHERE 1 = 0").arg(table)))
        return {};
    const QSqlRecord rec = q.record();
    QStringList columns;
    for (int i = 0; i < rec.count(); ++i) {
        if (rec.fieldName(i).compare(key, Qt::CaseInsensitive) != 0)
            columns << rec.fieldName(i);
    }
    return columns;
}

// The case-insensitive match of |name| in |columns|, empty when none.
QString findColumn(const QStringList &columns, const QString &name)
{
    for (const QString &c : columns) {
        if (c.compare(name, Qt::CaseInsensitive) == 0)
            return c;
    }
    return QString();
}

QString tableInOrder(const QSqlDatabase &db, const QString &table, const QString &key)
{
    return QStringLiteral("SELECT * FROM %1 ORDER BY %2").arg(table, quoted(db, key));
}

// Records the copy in the target; false with |error| on failure.
bool recordCopy(QSqlDatabase &target, const CopyResult &r, const QString &label, bool before, QString *error)
{
    QSqlQuery q(target);
    if (before) {
        q.prepare(QStringLiteral("UPDATE CopiedFile SET \"Source\" = ?, \"CopiedAt\" = ?, \"Copies\" = "
                                 "\"Copies\" + 1, \"People\" = ?, \"Results\" = ?, \"FitnessResults\" = ? "
                                 "WHERE \"Fingerprint\" = ?"));
    } else {
        q.prepare(
            QStringLiteral("INSERT INTO CopiedFile (\"Source\", \"CopiedAt\", \"Copies\", \"People\", "
                           "\"Results\", \"FitnessResults\", \"Fingerprint\") VALUES (?, ?, 1, ?, ?, ?, ?)"));
    }
    for (const QVariant &v :
         {QVariant(label), QVariant(QDateTime::currentDateTime().toString(Qt::ISODate)),
          QVariant(r.peopleCopied), QVariant(r.results), QVariant(r.fitness), QVariant(r.fingerprint)})
        q.addBindValue(v);
    if (!q.exec()) {
        *error = QStringLiteral("cannot record the copy: %1").arg(q.lastError().text());
        return false;
    }
    return true;
}
} // namespace

QString dataFingerprint(QSqlDatabase source, QString *error)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (const CopiedTable &t : kTables) {
        QSqlQuery q(source);
        q.setForwardOnly(true);
        if (!q.exec(tableInOrder(source, QLatin1String(t.name), QLatin1String(t.key)))) {
            *error = QStringLiteral("cannot read %1: %2").arg(QLatin1String(t.name), q.lastError().text());
            return QString();
        }
        hash.addData(t.name);
        const int columns = q.record().count();
        while (q.next()) {
            // Unit separators between values, a record separator after
            // each row; NULL apart from any text.
            for (int c = 0; c < columns; ++c) {
                const QVariant v = q.value(c);
                hash.addData(v.isNull() ? QByteArray("\x01") : v.toString().toUtf8());
                hash.addData("\x1f", 1);
            }
            hash.addData("\x1e", 1);
        }
    }
    return QString::fromLatin1(hash.result().toHex());
}

CopyResult copyDatabase(QSqlDatabase source, QSqlDatabase target, const QString &label, bool again)
{
    CopyResult r;
    // The columns of the source must all have a place in the target: a value
    // that would be dropped on the way refuses the copy.
    QStringList targetColumns[3];
    QStringList sourceColumns[3];
    for (int i = 0; i < 3; ++i) {
        const QString table = QLatin1String(kTables[i].name);
        const QString key = QLatin1String(kTables[i].key);
        sourceColumns[i] = copiedColumns(source, table, key);
        targetColumns[i] = copiedColumns(target, table, key);
        if (sourceColumns[i].isEmpty()) {
            r.error = QStringLiteral("%1 has no table %2 (源数据库缺少数据表)").arg(label, table);
            return r;
        }
        if (targetColumns[i].isEmpty()) {
            r.error =
                QStringLiteral("the target has no table %1: run --init-database first (目标数据库缺少数据表)")
                    .arg(table);
            return r;
        }
        QStringList lacking;
        for (const QString &c : sourceColumns[i]) {
            if (findColumn(targetColumns[i], c).isEmpty())
                lacking << c;
        }
        if (!lacking.isEmpty()) {
            r.error = QStringLiteral("the target's table %1 lacks the column(s) %2 (目标数据表缺少列)")
                          .arg(table, lacking.join(QStringLiteral(", ")));
            return r;
        }
    }

    r.fingerprint = dataFingerprint(source, &r.error);
    if (r.fingerprint.isEmpty())
        return r;

    bool marked = false;
    for (const QString &t : target.tables())
        marked = marked || t.compare(QLatin1String("CopiedFile"), Qt::CaseInsensitive) == 0;
    QSqlQuery setup(target);
    if (!marked && !setup.exec(QStringLiteral(
                       "CREATE TABLE IF NOT EXISTS CopiedFile (\"Fingerprint\" text PRIMARY KEY, "
                       "\"Source\" text, \"CopiedAt\" text, \"Copies\" integer, \"People\" integer, "
                       "\"Results\" integer, \"FitnessResults\" integer)"))) {
        r.error = QStringLiteral("cannot make the table of copied files: %1").arg(setup.lastError().text());
        return r;
    }
    setup.finish();

    if (!target.transaction()) {
        r.error = QStringLiteral("cannot start a transaction: %1").arg(target.lastError().text());
        return r;
    }
    const auto fail = [&target, &r](const QString &why) {
        target.rollback();
        r.ok = false;
        r.error = why;
        return r;
    };

    bool before = false;
    {
        QSqlQuery q(target);
        q.prepare(QStringLiteral("SELECT \"CopiedAt\", \"Source\", \"Results\", \"FitnessResults\" "
                                 "FROM CopiedFile WHERE \"Fingerprint\" = ?"));
        q.addBindValue(r.fingerprint);
        if (!q.exec())
            return fail(
                QStringLiteral("cannot read the table of copied files: %1").arg(q.lastError().text()));
        if (q.next()) {
            before = true;
            r.earlier = QStringLiteral("%1 from %2, %3 body-composition and %4 fitness results")
                            .arg(q.value(0).toString(), q.value(1).toString())
                            .arg(q.value(2).toInt())
                            .arg(q.value(3).toInt());
        }
    }
    if (before && !again) {
        target.rollback();
        r.refused = true;
        r.error = QStringLiteral("the data of %1 was copied into this database already (%2); "
                                 "--again copies it once more (该数据已复制过)")
                      .arg(label, r.earlier);
        return r;
    }

    QSqlQuery known(target);
    known.prepare(
        QStringLiteral("SELECT 1 FROM Person WHERE %1 = ?").arg(quoted(target, QStringLiteral("UID"))));
    for (int i = 0; i < 3; ++i) {
        const QString table = QLatin1String(kTables[i].name);
        QStringList names;
        QStringList marks;
        for (const QString &c : sourceColumns[i]) {
            names << quoted(target, findColumn(targetColumns[i], c));
            marks << QStringLiteral("?");
        }
        QSqlQuery insert(target);
        if (!insert.prepare(
                QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                    .arg(table, names.join(QStringLiteral(", ")), marks.join(QStringLiteral(", ")))))
            return fail(QStringLiteral("cannot prepare the insert into %1: %2")
                            .arg(table, insert.lastError().text()));
        QSqlQuery read(source);
        read.setForwardOnly(true);
        if (!read.exec(tableInOrder(source, table, QLatin1String(kTables[i].key))))
            return fail(
                QStringLiteral("cannot read %1 of %2: %3").arg(table, label, read.lastError().text()));
        const QSqlRecord shape = read.record();
        QVector<int> positions;
        for (const QString &c : sourceColumns[i])
            positions << shape.indexOf(c);
        const int uidAt = shape.indexOf(QStringLiteral("UID"));
        const QString key = QLatin1String(kTables[i].key);
        while (read.next()) {
            if (i == 0) {
                const QString uid = read.value(uidAt).toString().trimmed();
                if (!uid.isEmpty()) {
                    known.bindValue(0, uid);
                    if (!known.exec())
                        return fail(QStringLiteral("cannot look up person %1: %2")
                                        .arg(uid, known.lastError().text()));
                    const bool registered = known.next();
                    known.finish();
                    if (registered) {
                        ++r.peopleKept;
                        continue;
                    }
                }
            }
            for (int p = 0; p < positions.size(); ++p)
                insert.bindValue(p, read.value(positions[p]));
            if (!insert.exec())
                return fail(QStringLiteral("%1 row %2 %3 of %4 not copied: %5")
                                .arg(table, key, read.value(shape.indexOf(key)).toString(), label,
                                     insert.lastError().text()));
            (i == 0 ? r.peopleCopied : i == 1 ? r.results : r.fitness)++;
        }
    }
    if (!recordCopy(target, r, label, before, &r.error))
        return fail(r.error);
    if (!target.commit())
        return fail(QStringLiteral("cannot commit the copy: %1").arg(target.lastError().text()));
    r.ok = true;
    return r;
}

} // namespace exchange
