// Builds the database of one realistic test day for screenshots and for
// trying the group statistics: registered people of a company or school,
// each with a fitness result and a body-composition result of that day.
// Values follow sex and age (heights, weights, body fat, the fitness tests
// around the norms); men do push-ups and women sit-ups, and a few tests are
// missed, as on a real day. Body types come from the program's own rule.
//
//   quelmar-make-testday OUT.db [--date yyyy-MM-dd] [--people N] [--seed S]
//                               [--append] [--schema FILE]
#include "records/indicators.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDate>
#include <QFile>
#include <QLoggingCategory>
#include <QProcess>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTextStream>
#include <QVariant>

#include <cmath>

namespace {
const char *const kConnection = "testday";

struct Person
{
    QString uid;
    QString name;
    bool male = true;
    int birthYear = 1990;
    int age = 30; // at the test day
    double height = 170;
    double weight = 65;
    double fitness = 0; // -1 .. 1: how fit, shared by every test
};

class Generator
{
public:
    explicit Generator(quint32 seed) : m_rng(seed) {}

    double uniform(double lo, double hi) { return lo + m_rng.generateDouble() * (hi - lo); }
    double normal(double mean, double sd)
    {
        // Box-Muller.
        const double u = std::max(1e-12, m_rng.generateDouble());
        const double v = m_rng.generateDouble();
        return mean + sd * std::sqrt(-2 * std::log(u)) * std::cos(2 * M_PI * v);
    }
    bool chance(double p) { return m_rng.generateDouble() < p; }
    int index(int n) { return int(m_rng.bounded(n)); }

private:
    QRandomGenerator m_rng;
};

double round1(double v)
{
    return std::round(v * 10) / 10;
}
double round2(double v)
{
    return std::round(v * 100) / 100;
}

QList<Person> makePeople(int count, const QDate &day, Generator &g)
{
    static const QStringList surnames = {"张", "王", "李", "赵", "刘", "陈", "杨", "黄", "周", "吴",
                                         "徐", "孙", "马", "朱", "胡", "郭", "何", "高", "林", "罗"};
    static const QString given =
        QStringLiteral("伟芳娜敏静丽强磊军洋勇艳杰娟涛明超秀英华慧建国平红霞玲桂兰晨");
    QList<Person> people;
    for (int i = 0; i < count; ++i) {
        Person p;
        p.uid = QStringLiteral("T%1").arg(i + 1, 4, 10, QLatin1Char('0'));
        p.name = surnames.at(g.index(surnames.size()));
        for (int k = 0, n = 1 + g.index(2); k < n; ++k)
            p.name += given.at(g.index(given.size()));
        p.male = g.chance(0.55);
        // A workforce with some trainees: ages 18 to 58, most between 22 and 45.
        const int age = g.chance(0.08) ? 18 + g.index(2) : qBound(20, int(g.normal(33, 9)), 58);
        p.age = age;
        p.birthYear = day.year() - age;
        p.height = round1(p.male ? g.normal(171.5, 6) : g.normal(159.5, 5.5));
        const double bmi = qBound(16.0, g.normal(p.male ? 23.6 : 22.0, 3.0), 36.0);
        p.weight = round1(bmi * (p.height / 100) * (p.height / 100));
        p.fitness = qBound(-1.0, g.normal(0, 0.45), 1.0);
        people << p;
    }
    return people;
}

// A test value around |mean| with |sd|, shifted by the person's fitness.
double testValue(Generator &g, const Person &p, double mean, double sd, double ageSlope)
{
    return g.normal(mean + p.fitness * sd - ageSlope * std::max(0, p.age - 25), sd * 0.6);
}

bool insertPerson(QSqlDatabase &db, const Person &p)
{
    QSqlQuery q(db);
    q.prepare(QStringLiteral("INSERT INTO Person (UUID, UID, Name, Sex, BirthYear, Height, Phone, Note) "
                             "VALUES (?, ?, ?, ?, ?, ?, ?, ?)"));
    for (const QVariant &v : {QVariant(QStringLiteral("UNIT-0001")), QVariant(p.uid), QVariant(p.name),
                              QVariant(p.male ? "1" : "2"), QVariant(p.birthYear), QVariant(int(p.height)),
                              QVariant(QStringLiteral("13800000000")), QVariant(QString())})
        q.addBindValue(v);
    return q.exec();
}

bool insertFitness(QSqlDatabase &db, const Person &p, const QDate &day, Generator &g)
{
    const bool m = p.male;
    // Each test is missed by a few people (value 0, not measured).
    auto measured = [&g](double v, double missRate = 0.04) { return g.chance(missRate) ? 0.0 : v; };
    const double woli = measured(round1(qMax(10.0, testValue(g, p, m ? 47 : 28, m ? 7 : 4.5, 0.1))));
    const int fhl =
        int(measured(qMax(900.0, std::round(testValue(g, p, m ? 3800 : 2600, m ? 600 : 450, 15)))));
    const double tqq = measured(round1(testValue(g, p, m ? 10 : 13, 7, 0.1)));
    const double tz = measured(round1(qMax(30.0, testValue(g, p, 56, 8, 0.05))), 0.1);
    const int ywqz = m ? 0 : int(measured(qMax(0.0, std::round(testValue(g, p, 20, 8, 0.3)))));
    const int fwc = m ? int(measured(qMax(0.0, std::round(testValue(g, p, 22, 8, 0.3))))) : 0;
    const int fys = int(measured(qMax(250.0, std::round(g.normal(500 - p.fitness * 60, 60)))));
    const double bydj = measured(round1(qMax(1.0, testValue(g, p, 30, 18, 0.5))));
    const double zt = measured(round1(qMax(10.0, testValue(g, p, m ? 36 : 22, m ? 6 : 4, 0.2))));
    const double ty = measured(std::round(qMax(90.0, testValue(g, p, m ? 225 : 160, m ? 22 : 16, 0.8))));

    QSqlQuery q(db);
    q.prepare(
        QStringLiteral("INSERT INTO ResultFIT (UUID, UID, Name, Sex, BirthYear, TestDate, Height, Weight, "
                       "WOLI, FHL, TQQ, TZ, YWQZ, FYS, FWC, BYDJ, ZT, TY) "
                       "VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)"));
    for (const QVariant &v :
         {QVariant(QStringLiteral("UNIT-0001")), QVariant(p.uid), QVariant(p.name), QVariant(m ? "1" : "2"),
          QVariant(p.birthYear), QVariant(day.toString(Qt::ISODate)), QVariant(p.height), QVariant(p.weight),
          QVariant(woli), QVariant(fhl), QVariant(tqq), QVariant(tz), QVariant(ywqz), QVariant(fys),
          QVariant(fwc), QVariant(bydj), QVariant(zt), QVariant(ty)})
        q.addBindValue(v);
    return q.exec();
}

bool insertBca(QSqlDatabase &db, const Person &p, const QDate &day, Generator &g)
{
    const bool m = p.male;
    const double h = p.height;
    const double w = round1(p.weight + g.normal(0, 0.4));
    const double bmi = round1(w / (h / 100) / (h / 100));
    const double pbf =
        round1(qBound(5.0, g.normal((m ? 14.0 : 23.0) + (bmi - 22) * 1.4 - p.fitness * 3, 3.0), 50.0));
    const double fat = round2(w * pbf / 100);
    const double lbm = round2(w - fat);
    const double water = round2(lbm * 0.73);
    const double icw = round2(water * 0.62);
    const double ecw = round2(water - icw);
    const double protein = round2(lbm * 0.195);
    const double bone = round2(lbm * 0.065);
    const double muscle = round2(lbm - bone);
    const double smm = round2(muscle * (m ? 0.72 : 0.70));
    const double vfi = round1(qBound(1.0, g.normal(m ? 7.5 : 5.5, 2.5) + (bmi - 22) * 0.6, 25.0));
    const double standard = round1(m ? (h - 100) * 0.9 + 4 : (h - 105) * 0.95 + 3);
    const QString sex = m ? QStringLiteral("1") : QStringLiteral("2");

    QSqlQuery q(db);
    q.prepare(QStringLiteral(
        "INSERT INTO Result (UUID, UID, Name, Sex, BirthYear, TestDate, Fat, Bone, Protein, Water, ICW, ECW, "
        "Muscle, LBM, Height, Weight, Standard_weight, Weight_control, Fat_control, Muscle_control, PBF, "
        "SMM, "
        "BMI, WHR, BMR, Edema, VFI, Body_age, Score, BodyType, LiverRisk) "
        "VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)"));
    const int age = p.age;
    for (const QVariant &v :
         {QVariant(QStringLiteral("UNIT-0001")),
          QVariant(p.uid),
          QVariant(p.name),
          QVariant(sex),
          QVariant(p.birthYear),
          QVariant(day.toString(Qt::ISODate)),
          QVariant(fat),
          QVariant(bone),
          QVariant(protein),
          QVariant(water),
          QVariant(icw),
          QVariant(ecw),
          QVariant(muscle),
          QVariant(lbm),
          QVariant(h),
          QVariant(w),
          QVariant(standard),
          QVariant(round1(standard - w)),
          QVariant(round1(w * (m ? 0.15 : 0.23) - fat)),
          QVariant(0.0),
          QVariant(pbf),
          QVariant(smm),
          QVariant(bmi),
          QVariant(round2(g.normal(m ? 0.88 : 0.80, 0.04))),
          QVariant(std::round(370 + 21.6 * lbm)),
          QVariant(round2(ecw / water)),
          QVariant(vfi),
          QVariant(double(qBound(18, age + int(std::round((pbf - (m ? 15 : 23)) / 2)), 80))),
          QVariant(round1(qBound(50.0, 80 - std::abs(pbf - (m ? 15 : 23)) * 1.5 - std::abs(bmi - 22), 99.0))),
          QVariant(indicators::bodyTypeRule(sex, bmi, pbf, QString())),
          QVariant(indicators::liverRiskLadder(sex, fat))})
        q.addBindValue(v);
    return q.exec();
}

bool buildSchema(const QString &schema, const QString &out)
{
    QFile::remove(out);
    QProcess sqlite;
    sqlite.setStandardInputFile(schema);
    sqlite.start(QStringLiteral("sqlite3"), {out});
    return sqlite.waitForFinished(60000) && sqlite.exitStatus() == QProcess::NormalExit &&
           sqlite.exitCode() == 0;
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    QTextStream out(stdout);
    QTextStream err(stderr);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Builds the database of one realistic test day."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("out"), QStringLiteral("database file"));
    const QCommandLineOption date(QStringLiteral("date"),
                                  QStringLiteral("test day (yyyy-MM-dd, default today)"),
                                  QStringLiteral("day"), QDate::currentDate().toString(Qt::ISODate));
    const QCommandLineOption people(QStringLiteral("people"), QStringLiteral("people tested"),
                                    QStringLiteral("n"), QStringLiteral("200"));
    const QCommandLineOption seed(QStringLiteral("seed"), QStringLiteral("random seed"), QStringLiteral("s"),
                                  QStringLiteral("20240506"));
    const QCommandLineOption append(
        QStringLiteral("append"),
        QStringLiteral("add to an existing database instead of building a new one"));
    const QCommandLineOption schema(QStringLiteral("schema"), QStringLiteral("schema script"),
                                    QStringLiteral("file"),
                                    QStringLiteral(QUELMAR_SOURCE_DIR "/db/maindb.sql"));
    parser.addOptions({date, people, seed, append, schema});
    parser.process(app);
    if (parser.positionalArguments().size() != 1)
        parser.showHelp(2);
    const QString path = parser.positionalArguments().constFirst();
    const QDate day = QDate::fromString(parser.value(date), QStringLiteral("yyyy-MM-dd"));
    bool okCount = false;
    const int count = parser.value(people).toInt(&okCount);
    if (!day.isValid() || !okCount || count < 1) {
        err << "need --date yyyy-MM-dd and --people N >= 1" << Qt::endl;
        return 2;
    }
    if (!parser.isSet(append) && !buildSchema(parser.value(schema), path)) {
        err << "sqlite3 could not build " << path << Qt::endl;
        return 1;
    }

    int status = 0;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QLatin1String(kConnection));
        db.setDatabaseName(path);
        if (!db.open()) {
            err << "cannot open " << path << ": " << db.lastError().text() << Qt::endl;
            return 1;
        }
        Generator g(parser.value(seed).toUInt());
        const QList<Person> list = makePeople(count, day, g);
        db.transaction();
        bool ok = true;
        for (const Person &p : list)
            ok = ok && insertPerson(db, p) && insertFitness(db, p, day, g) && insertBca(db, p, day, g);
        if (!ok || !db.commit()) {
            err << "generating rows failed: " << db.lastError().text() << Qt::endl;
            db.rollback();
            status = 1;
        } else {
            out << "test day " << day.toString(Qt::ISODate) << ": " << count << " people with fitness and "
                << "body-composition results in " << path << Qt::endl;
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(QLatin1String(kConnection));
    return status;
}
