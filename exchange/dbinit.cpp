#include "exchange/dbinit.h"

#include "app/database.h"
#include "app/dbtarget.h"
#include "exchange/dbcopy.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QTextStream>

#include <cstring>

// Outside any namespace, as Qt requires.
static void initSchemaResource()
{
    Q_INIT_RESOURCE(schema);
}

namespace exchange {

namespace {
const char kInitOption[] = "--init-database";
const char kCopyOption[] = "--copy-database";

bool startsOption(const char *arg, const char *option)
{
    const size_t n = std::strlen(option);
    return std::strncmp(arg, option, n) == 0 && (arg[n] == '\0' || arg[n] == '=');
}

// Statements that the script's own transaction brackets: the whole script
// runs in one transaction of ours instead.
bool isTransactionControl(const QString &statement)
{
    const QString s = statement.simplified().toUpper();
    return s == QLatin1String("BEGIN") || s == QLatin1String("BEGIN TRANSACTION") ||
           s == QLatin1String("COMMIT") || s == QLatin1String("END");
}

const QString kSourceConnection = QStringLiteral("quelmar-copy-source");
} // namespace

QString schemaScript(const QString &driverName)
{
    initSchemaResource();
    QString name;
    if (driverName == QLatin1String("QPSQL"))
        name = QStringLiteral(":/schema/maindb.pg.sql");
    else if (driverName == QLatin1String("QSQLITE"))
        name = QStringLiteral(":/schema/maindb.sql");
    QFile f(name);
    if (name.isEmpty() || !f.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(f.readAll());
}

QStringList sqlStatements(const QString &script)
{
    QStringList out;
    QString current;
    const int n = script.size();
    for (int i = 0; i < n; ++i) {
        const QChar c = script.at(i);
        if (c == QLatin1Char('-') && i + 1 < n && script.at(i + 1) == QLatin1Char('-')) {
            // Comment to the end of the line.
            while (i < n && script.at(i) != QLatin1Char('\n'))
                ++i;
            current += QLatin1Char('\n');
            continue;
        }
        if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            // Literal or quoted name; a doubled quote stays inside it.
            current += c;
            for (++i; i < n; ++i) {
                current += script.at(i);
                if (script.at(i) == c) {
                    if (i + 1 < n && script.at(i + 1) == c)
                        current += script.at(++i);
                    else
                        break;
                }
            }
            continue;
        }
        if (c == QLatin1Char(';')) {
            if (!current.trimmed().isEmpty())
                out << current.trimmed();
            current.clear();
            continue;
        }
        current += c;
    }
    if (!current.trimmed().isEmpty())
        out << current.trimmed();
    return out;
}

QStringList programTablesIn(const QSqlDatabase &db)
{
    QStringList present;
    for (const QString &t : db.tables())
        present << t.toLower();
    QStringList found;
    for (const QString &t : requiredTables()) {
        if (present.contains(t.toLower()))
            found << t;
    }
    return found;
}

SchemaResult createSchema(QSqlDatabase db, const QString &script)
{
    SchemaResult r;
    if (script.isEmpty()) {
        r.error = QStringLiteral("no schema for the driver %1").arg(db.driverName());
        return r;
    }
    const QStringList present = programTablesIn(db);
    if (!present.isEmpty()) {
        r.error = QStringLiteral(
                      "the database holds the tables %1 already; nothing was changed (数据库中已有数据表)")
                      .arg(present.join(QStringLiteral(", ")));
        return r;
    }
    QStringList statements;
    for (const QString &s : sqlStatements(script)) {
        if (isTransactionControl(s))
            continue;
        // Settings of the connection (SQLite's journal mode) cannot change
        // inside a transaction: they run first.
        if (s.startsWith(QLatin1String("PRAGMA"), Qt::CaseInsensitive)) {
            QSqlQuery q(db);
            if (!q.exec(s)) {
                r.error = QStringLiteral("%1: %2").arg(s, q.lastError().text());
                return r;
            }
            continue;
        }
        statements << s;
    }
    if (!db.transaction()) {
        r.error = QStringLiteral("cannot start a transaction: %1").arg(db.lastError().text());
        return r;
    }
    for (const QString &s : statements) {
        QSqlQuery q(db);
        if (!q.exec(s)) {
            r.error = QStringLiteral("%1 ...: %2").arg(s.left(60).simplified(), q.lastError().text());
            db.rollback();
            r.tables = r.rows = 0;
            return r;
        }
        if (s.startsWith(QLatin1String("CREATE TABLE"), Qt::CaseInsensitive))
            ++r.tables;
        else if (s.startsWith(QLatin1String("INSERT"), Qt::CaseInsensitive))
            r.rows += q.numRowsAffected();
    }
    if (!db.commit()) {
        r.error = QStringLiteral("cannot commit: %1").arg(db.lastError().text());
        db.rollback();
        r.tables = r.rows = 0;
        return r;
    }
    r.ok = true;
    return r;
}

bool wantsDatabaseTool(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        if (startsOption(argv[i], kInitOption) || startsOption(argv[i], kCopyOption))
            return true;
    }
    return false;
}

QString databaseToolHelp()
{
    return QStringLiteral(
        "\nDatabase set-up (no window):\n"
        "  --init-database URL   create the program's tables and configuration rows in the empty\n"
        "                        database URL (postgresql://user@host:port/dbname or sqlite:PATH);\n"
        "                        a database that holds them already is refused\n"
        "  --copy-database FROM TO\n"
        "                        copy the people and results of the SQLite file FROM into the\n"
        "                        database TO under new test numbers; a person TO registers under\n"
        "                        the same user number is kept, not doubled. The same data is\n"
        "                        copied only once unless --again is given\n"
        "The password of a server comes from ~/.pgpass or PGPASSWORD.\n");
}

namespace {
int initDatabase(const QString &url, QTextStream &out, QTextStream &err)
{
    DbTarget target;
    QString why;
    if (!parseDbTarget(url, &target, &why)) {
        err << "quelmar: --init-database " << url << ": " << why << "\n";
        return 2;
    }
    if (!openDefaultDatabase(target)) {
        err << "quelmar: cannot open " << target.display() << ": "
            << QSqlDatabase::database(QSqlDatabase::defaultConnection, false).lastError().text()
            << QStringLiteral(" (无法连接数据库)\n");
        return 1;
    }
    QSqlDatabase db = QSqlDatabase::database();
    const SchemaResult r = createSchema(db, schemaScript(db.driverName()));
    if (!r.ok) {
        err << "quelmar: --init-database " << target.display() << ": " << r.error << "\n";
        return 1;
    }
    out << "init-database: " << target.display() << ": " << r.tables << " tables ("
        << requiredTables().join(QStringLiteral(", ")) << ") and " << r.rows
        << " configuration rows created\n";
    return 0;
}

int copyDatabase(const QString &from, const QString &to, bool again, QTextStream &out, QTextStream &err)
{
    DbTarget source;
    DbTarget target;
    QString why;
    if (!parseDbTarget(from, &source, &why) || source.isServer()) {
        err << "quelmar: --copy-database " << from << ": "
            << (why.isEmpty() ? QStringLiteral("the source must be an SQLite file (源必须是数据库文件)")
                              : why)
            << "\n";
        return 2;
    }
    if (!parseDbTarget(to, &target, &why)) {
        err << "quelmar: --copy-database target " << to << ": " << why << "\n";
        return 2;
    }
    const QString sourceFile = QFileInfo(source.path).absoluteFilePath();
    if (!target.isServer() && QFileInfo(target.path).absoluteFilePath() == sourceFile) {
        err << QStringLiteral(
            "quelmar: --copy-database: source and target are the same file (源和目标是同一个文件)\n");
        return 2;
    }
    const DatabaseFileCheck check = checkDatabaseFile(sourceFile);
    if (!check.usable({QStringLiteral("Person"), QStringLiteral("Result"), QStringLiteral("ResultFIT")})) {
        err << "quelmar: --copy-database: "
            << check.reason(sourceFile,
                            {QStringLiteral("Person"), QStringLiteral("Result"), QStringLiteral("ResultFIT")})
            << "\n";
        return 1;
    }
    if (!openDefaultDatabase(target)) {
        err << "quelmar: cannot open " << target.display() << ": "
            << QSqlDatabase::database(QSqlDatabase::defaultConnection, false).lastError().text()
            << QStringLiteral(" (无法连接数据库)\n");
        return 1;
    }
    int code = 0;
    {
        QSqlDatabase src =
            QSqlDatabase::addDatabase(SqlDialect::forTarget(source).driverName(), kSourceConnection);
        src.setDatabaseName(sourceFile);
        src.setConnectOptions(SqlDialect::forTarget(source).connectOptions(true));
        if (!src.open()) {
            err << "quelmar: cannot open " << sourceFile << ": " << src.lastError().text() << "\n";
            code = 1;
        } else {
            const CopyResult r = exchange::copyDatabase(src, QSqlDatabase::database(), sourceFile, again);
            if (r.ok) {
                out << "copy-database: " << sourceFile << " -> " << target.display() << ": " << r.peopleCopied
                    << " people copied, " << r.peopleKept << " already registered (kept), " << r.results
                    << " body-composition results, " << r.fitness << " fitness results"
                    << (again && !r.earlier.isEmpty() ? QStringLiteral(" (again; before: %1)").arg(r.earlier)
                                                      : QString())
                    << "\n";
            } else {
                err << "quelmar: --copy-database: " << r.error << "\n";
                code = 1;
            }
        }
        src.close();
    }
    QSqlDatabase::removeDatabase(kSourceConnection);
    return code;
}
} // namespace

int runDatabaseTool(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    out.setCodec("UTF-8");
    err.setCodec("UTF-8");

    QCommandLineParser parser;
    const QCommandLineOption initOption(QStringLiteral("init-database"), QString(), QStringLiteral("URL"));
    const QCommandLineOption copyOption(QStringLiteral("copy-database"), QString(), QStringLiteral("FROM"));
    const QCommandLineOption againOption(QStringLiteral("again"));
    parser.addOptions({initOption, copyOption, againOption});
    const auto usage = [&err](const QString &problem) {
        err << "quelmar: " << problem << "\n" << databaseToolHelp();
        return 2;
    };
    if (!parser.parse(app.arguments()))
        return usage(parser.errorText());
    if (parser.isSet(initOption) == parser.isSet(copyOption))
        return usage(QStringLiteral("give either --init-database or --copy-database (只能选一个)"));
    const QStringList rest = parser.positionalArguments();
    int code = 0;
    if (parser.isSet(initOption)) {
        if (!rest.isEmpty() || parser.isSet(againOption))
            return usage(QStringLiteral("--init-database takes one URL"));
        code = initDatabase(parser.value(initOption), out, err);
    } else {
        if (rest.size() != 1)
            return usage(QStringLiteral("--copy-database takes FROM and TO"));
        code = copyDatabase(parser.value(copyOption), rest.first(), parser.isSet(againOption), out, err);
    }
    out.flush();
    err.flush();
    return code;
}

} // namespace exchange
