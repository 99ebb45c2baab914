// Builds a database of a busy organisation for benchmarks and screenshots:
// the supplied schema (db/maindb.sql, through the sqlite3 CLI) plus generated
// people, body-composition results and fitness results.
//
//   quelmar-make-bigdb OUT.db [--results N] [--fit N] [--seed S] [--schema FILE]
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDate>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QTextStream>
#include <QVariant>

#include <cstdio>

namespace {
const char *const kConnection = "bigdb";
QString lastError; // text of the statement that stopped the generation

struct Person
{
    QString uid;
    QString name;
    QString sex;
    int birthYear = 1980;
    double height = 170;
};

bool buildSchema(const QString &schema, const QString &out, QTextStream &err)
{
    QFile::remove(out);
    QProcess sqlite;
    sqlite.setStandardInputFile(schema);
    sqlite.start(QStringLiteral("sqlite3"), {out});
    if (!sqlite.waitForFinished(60000) || sqlite.exitStatus() != QProcess::NormalExit ||
        sqlite.exitCode() != 0) {
        err << "sqlite3 could not build " << out << " from " << schema << ": "
            << QString::fromLocal8Bit(sqlite.readAllStandardError()) << Qt::endl;
        return false;
    }
    return true;
}

QStringList columnsOf(QSqlDatabase &db, const QString &table)
{
    QStringList columns;
    QSqlQuery q(db);
    q.exec(QStringLiteral("PRAGMA table_info(%1)").arg(table));
    while (q.next()) {
        const QString name = q.value(1).toString();
        if (name != QLatin1String("TestID") && name != QLatin1String("ID"))
            columns << name;
    }
    return columns;
}

QList<Person> makePeople(int count, QRandomGenerator &rng)
{
    static const QStringList surnames = {
        QStringLiteral("张"),   QStringLiteral("王"),  QStringLiteral("李"), QStringLiteral("赵"),
        QStringLiteral("刘"),   QStringLiteral("陈"),  QStringLiteral("杨"), QStringLiteral("黄"),
        QStringLiteral("周"),   QStringLiteral("吴"),  QStringLiteral("徐"), QStringLiteral("孙"),
        QStringLiteral("马"),   QStringLiteral("朱"),  QStringLiteral("胡"), QStringLiteral("郭"),
        QStringLiteral("何"),   QStringLiteral("高"),  QStringLiteral("林"), QStringLiteral("罗"),
        QStringLiteral("欧阳"), QStringLiteral("司马")};
    static const QString given =
        QStringLiteral("伟芳娜敏静丽强磊军洋勇艳杰娟涛明超秀英华慧建国平红霞玲桂兰晨");
    QList<Person> people;
    people.reserve(count);
    for (int i = 0; i < count; ++i) {
        Person p;
        p.uid = QStringLiteral("U%1").arg(i + 1, 6, 10, QLatin1Char('0'));
        p.name = surnames.at(int(rng.bounded(surnames.size())));
        const int len = 1 + int(rng.bounded(2));
        for (int k = 0; k < len; ++k)
            p.name += given.at(int(rng.bounded(given.size())));
        p.sex = rng.bounded(2) ? QStringLiteral("1") : QStringLiteral("2");
        p.birthYear = 1945 + int(rng.bounded(60));
        p.height = 150 + int(rng.bounded(45));
        people << p;
    }
    return people;
}

double between(QRandomGenerator &rng, double lo, double hi)
{
    return qRound((lo + rng.generateDouble() * (hi - lo)) * 100.0) / 100.0;
}

bool insertPeople(QSqlDatabase &db, const QList<Person> &people)
{
    QSqlQuery q(db);
    q.prepare(QStringLiteral("INSERT INTO Person (UUID, UID, Name, Sex, BirthYear, Height, Phone, Note) "
                             "VALUES (?, ?, ?, ?, ?, ?, ?, ?)"));
    for (const Person &p : people) {
        q.addBindValue(QStringLiteral("UNIT-0001"));
        q.addBindValue(p.uid);
        q.addBindValue(p.name);
        q.addBindValue(p.sex);
        q.addBindValue(p.birthYear);
        q.addBindValue(int(p.height));
        q.addBindValue(QStringLiteral("13800000000"));
        q.addBindValue(QString());
        if (!q.exec()) {
            lastError = q.lastError().text();
            return false;
        }
    }
    return true;
}

QVariant resultValue(const QString &column, const Person &p, const QDate &day, QRandomGenerator &rng)
{
    static const QStringList bodyTypes = {
        QStringLiteral("隐性肥胖型"), QStringLiteral("肥胖型"),     QStringLiteral("超重肌肉型"),
        QStringLiteral("低脂肪型"),   QStringLiteral("标准型"),     QStringLiteral("标准肌肉型"),
        QStringLiteral("消瘦型"),     QStringLiteral("偏瘦肌肉型"), QStringLiteral("运动员型")};
    if (column == QLatin1String("UUID"))
        return QStringLiteral("UNIT-0001");
    if (column == QLatin1String("UID"))
        return p.uid;
    if (column == QLatin1String("Name"))
        return p.name;
    if (column == QLatin1String("Sex"))
        return p.sex;
    if (column == QLatin1String("BirthYear"))
        return p.birthYear;
    if (column == QLatin1String("TestDate"))
        return day.toString(QStringLiteral("yyyy-MM-dd"));
    if (column == QLatin1String("Height"))
        return p.height;
    if (column == QLatin1String("Weight"))
        return between(rng, 45, 110);
    if (column == QLatin1String("BodyType"))
        return bodyTypes.at(int(rng.bounded(bodyTypes.size())));
    if (column == QLatin1String("LiverRisk"))
        return 10 * int(rng.bounded(10));
    if (column == QLatin1String("Body_age"))
        return double(20 + rng.bounded(60));
    if (column == QLatin1String("BMR"))
        return between(rng, 1100, 2000);
    if (column == QLatin1String("Score"))
        return between(rng, 55, 95);
    static const QRegularExpression impedance(QStringLiteral("^(RA|LA|TR|RL|LL)\\d+$"));
    if (column.contains(impedance))
        return between(rng, 20, 600); // segment impedances
    return between(rng, 0.1, 40);
}

bool insertResults(QSqlDatabase &db, const QList<Person> &people, int count, QRandomGenerator &rng)
{
    const QStringList columns = columnsOf(db, QStringLiteral("Result"));
    QStringList marks;
    for (int i = 0; i < columns.size(); ++i)
        marks << QStringLiteral("?");
    QSqlQuery q(db);
    if (!q.prepare(QStringLiteral("INSERT INTO Result (%1) VALUES (%2)")
                       .arg(columns.join(QLatin1Char(',')), marks.join(QLatin1Char(',')))))
        return false;
    const QDate first(2018, 1, 1);
    for (int i = 0; i < count; ++i) {
        const Person &p = people.at(int(rng.bounded(people.size())));
        const QDate day = first.addDays(i * 2500LL / qMax(1, count));
        for (const QString &c : columns)
            q.addBindValue(resultValue(c, p, day, rng));
        if (!q.exec()) {
            lastError = q.lastError().text();
            return false;
        }
    }
    return true;
}

bool insertFitness(QSqlDatabase &db, const QList<Person> &people, int count, QRandomGenerator &rng)
{
    QSqlQuery q(db);
    if (!q.prepare(QStringLiteral("INSERT INTO ResultFIT (UUID, UID, Name, Sex, BirthYear, TestDate, Height, "
                                  "Weight, WOLI, FHL, TQQ, TZ, YWQZ, FYS, FWC, BYDJ, ZT, TY) "
                                  "VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)")))
        return false;
    const QDate first(2018, 1, 1);
    for (int i = 0; i < count; ++i) {
        const Person &p = people.at(int(rng.bounded(people.size())));
        const QDate day = first.addDays(i * 2500LL / qMax(1, count));
        q.addBindValue(QStringLiteral("UNIT-0001"));
        q.addBindValue(p.uid);
        q.addBindValue(p.name);
        q.addBindValue(p.sex);
        q.addBindValue(p.birthYear);
        q.addBindValue(day.toString(Qt::ISODate));
        q.addBindValue(p.height);
        q.addBindValue(between(rng, 45, 110));
        q.addBindValue(between(rng, 15, 60));
        q.addBindValue(1500 + int(rng.bounded(3500)));
        q.addBindValue(between(rng, -5, 25));
        q.addBindValue(between(rng, 40, 80));
        q.addBindValue(int(rng.bounded(60)));
        q.addBindValue(300 + int(rng.bounded(600)));
        q.addBindValue(int(rng.bounded(50)));
        q.addBindValue(between(rng, 2, 90));
        q.addBindValue(between(rng, 15, 60));
        q.addBindValue(between(rng, 120, 260));
        if (!q.exec()) {
            lastError = q.lastError().text();
            return false;
        }
    }
    return true;
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Builds a large result database for benchmarks."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("out"), QStringLiteral("database file to (re)create"));
    const QCommandLineOption results(QStringLiteral("results"), QStringLiteral("Result rows"),
                                     QStringLiteral("n"), QStringLiteral("100000"));
    const QCommandLineOption fit(QStringLiteral("fit"), QStringLiteral("ResultFIT rows"), QStringLiteral("n"),
                                 QStringLiteral("100000"));
    const QCommandLineOption seed(QStringLiteral("seed"), QStringLiteral("random seed"), QStringLiteral("s"),
                                  QStringLiteral("20240601"));
    const QCommandLineOption schema(QStringLiteral("schema"), QStringLiteral("schema script"),
                                    QStringLiteral("file"),
                                    QStringLiteral(QUELMAR_SOURCE_DIR "/db/maindb.sql"));
    parser.addOptions({results, fit, seed, schema});
    parser.process(app);
    if (parser.positionalArguments().size() != 1)
        parser.showHelp(2);

    const QString path = parser.positionalArguments().constFirst();
    bool okR = false, okF = false;
    const int resultCount = parser.value(results).toInt(&okR);
    const int fitCount = parser.value(fit).toInt(&okF);
    if (!okR || !okF || resultCount < 0 || fitCount < 0) {
        err << "row counts must be whole numbers >= 0" << Qt::endl;
        return 2;
    }

    QElapsedTimer clock;
    clock.start();
    if (!buildSchema(parser.value(schema), path, err))
        return 1;

    int status = 0;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QLatin1String(kConnection));
        db.setDatabaseName(path);
        if (!db.open()) {
            err << "cannot open " << path << ": " << db.lastError().text() << Qt::endl;
            return 1;
        }
        QSqlQuery(db).exec(QStringLiteral("PRAGMA synchronous = OFF"));
        QRandomGenerator rng(parser.value(seed).toUInt());
        const QList<Person> people = makePeople(qMax(1, qMax(resultCount, fitCount) / 20), rng);
        db.transaction();
        const bool ok = insertPeople(db, people) && insertResults(db, people, resultCount, rng) &&
                        insertFitness(db, people, fitCount, rng);
        if (!ok || !db.commit()) {
            err << "generating rows failed: " << (ok ? db.lastError().text() : lastError) << Qt::endl;
            db.rollback();
            status = 1;
        } else {
            out << "built " << path << ": " << people.size() << " people, " << resultCount << " Result rows, "
                << fitCount << " ResultFIT rows in " << clock.elapsed() << " ms" << Qt::endl;
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(QLatin1String(kConnection));
    return status;
}
