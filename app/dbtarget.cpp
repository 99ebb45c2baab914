#include "app/dbtarget.h"

#include "app/database.h"

#include <QFileInfo>
#include <QHash>
#include <QObject>
#include <QSettings>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QUrl>

namespace {
const QString kGroup = QStringLiteral("database");

QString decoded(const QString &part)
{
    return QUrl::fromPercentEncoding(part.toUtf8());
}

bool readPort(const QString &text, int *port, QString *error)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < 1 || value > 65535) {
        *error = QStringLiteral("port \"%1\" is not a number from 1 to 65535").arg(text);
        return false;
    }
    *port = value;
    return true;
}

bool parseServerUrl(const QString &text, const QString &rest, DbTarget *out, QString *error)
{
    DbTarget t;
    t.kind = DbTarget::Kind::Server;
    t.path.clear();
    QString body = rest;
    QString query;
    if (const int q = body.indexOf(QLatin1Char('?')); q >= 0) {
        query = body.mid(q + 1);
        body = body.left(q);
    }
    QString authority = body;
    if (const int slash = body.indexOf(QLatin1Char('/')); slash >= 0) {
        authority = body.left(slash);
        t.name = decoded(body.mid(slash + 1));
    }
    if (const int at = authority.lastIndexOf(QLatin1Char('@')); at >= 0) {
        const QString userInfo = authority.left(at);
        authority = authority.mid(at + 1);
        const int colon = userInfo.indexOf(QLatin1Char(':'));
        t.user = decoded(colon >= 0 ? userInfo.left(colon) : userInfo);
        if (colon >= 0)
            t.password = decoded(userInfo.mid(colon + 1));
    }
    QString hostText = authority;
    QString portText;
    if (authority.startsWith(QLatin1Char('['))) {
        const int close = authority.indexOf(QLatin1Char(']'));
        if (close < 0) {
            *error = QStringLiteral("%1: unclosed [ in the host").arg(text);
            return false;
        }
        hostText = authority.mid(1, close - 1);
        const QString after = authority.mid(close + 1);
        if (after.startsWith(QLatin1Char(':')))
            portText = after.mid(1);
        else if (!after.isEmpty()) {
            *error = QStringLiteral("%1: unexpected \"%2\" after the host").arg(text, after);
            return false;
        }
    } else if (const int colon = authority.lastIndexOf(QLatin1Char(':')); colon >= 0) {
        hostText = authority.left(colon);
        portText = authority.mid(colon + 1);
    }
    t.host = decoded(hostText);
    if (!portText.isEmpty() && !readPort(portText, &t.port, error)) {
        error->prepend(text + QStringLiteral(": "));
        return false;
    }
    for (const QString &pair : query.split(QLatin1Char('&'), Qt::SkipEmptyParts)) {
        const int eq = pair.indexOf(QLatin1Char('='));
        const QString key = eq >= 0 ? pair.left(eq) : pair;
        const QString value = eq >= 0 ? decoded(pair.mid(eq + 1)) : QString();
        if (key == QLatin1String("host")) {
            t.host = value;
        } else if (key == QLatin1String("port")) {
            if (!readPort(value, &t.port, error)) {
                error->prepend(text + QStringLiteral(": "));
                return false;
            }
        } else if (key == QLatin1String("user")) {
            t.user = value;
        } else if (key == QLatin1String("dbname")) {
            t.name = value;
        } else {
            *error =
                QStringLiteral("%1: unknown parameter \"%2\" (host, port, user and dbname are understood)")
                    .arg(text, key);
            return false;
        }
    }
    *out = t;
    return true;
}

DbTarget g_active;
} // namespace

QString DbTarget::display() const
{
    if (!isServer())
        return QFileInfo(path).absoluteFilePath();
    QString text = QStringLiteral("postgresql://");
    if (!user.isEmpty())
        text += user + QLatin1Char('@');
    // A socket folder would read as a path: show it as a parameter instead.
    const bool socket = host.startsWith(QLatin1Char('/'));
    if (!socket)
        text += host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host;
    if (port > 0)
        text += QLatin1Char(':') + QString::number(port);
    text += QLatin1Char('/') + name;
    if (socket)
        text += QStringLiteral("?host=") + host;
    return text;
}

bool DbTarget::operator==(const DbTarget &o) const
{
    if (kind != o.kind)
        return false;
    if (!isServer())
        return path == o.path;
    return host == o.host && port == o.port && user == o.user && password == o.password && name == o.name;
}

bool parseDbTarget(const QString &text, DbTarget *out, QString *error)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty()) {
        *error = QStringLiteral("the database is empty (name a file or a postgresql:// address)");
        return false;
    }
    for (const QLatin1String scheme : {QLatin1String("postgresql://"), QLatin1String("postgres://")}) {
        if (trimmed.startsWith(scheme, Qt::CaseInsensitive))
            return parseServerUrl(trimmed, trimmed.mid(scheme.size()), out, error);
    }
    QString path = trimmed;
    if (trimmed.startsWith(QLatin1String("sqlite:"), Qt::CaseInsensitive)) {
        path = trimmed.mid(7);
        if (path.startsWith(QLatin1String("//")))
            path = path.mid(2);
        if (path.isEmpty()) {
            *error = QStringLiteral("%1: no file named after sqlite:").arg(trimmed);
            return false;
        }
    } else if (trimmed.contains(QLatin1String("://"))) {
        *error =
            QStringLiteral("%1: unknown kind of database (use sqlite:PATH or postgresql://)").arg(trimmed);
        return false;
    }
    DbTarget t;
    t.path = path;
    *out = t;
    return true;
}

bool dbTargetFromForm(bool server, const QString &host, const QString &port, const QString &name,
                      const QString &user, DbTarget *out, QString *error)
{
    DbTarget t;
    if (!server) {
        *out = t;
        return true;
    }
    t.kind = DbTarget::Kind::Server;
    t.path.clear();
    t.host = host.trimmed();
    t.name = name.trimmed();
    t.user = user.trimmed();
    const QString portText = port.trimmed();
    if (!portText.isEmpty()) {
        bool ok = false;
        t.port = portText.toInt(&ok);
        if (!ok || t.port < 1 || t.port > 65535) {
            *error =
                QObject::tr("端口 %1 无效：请填写 1 到 65535 之间的数字，或留空使用 5432。").arg(portText);
            return false;
        }
    }
    if (t.name.isEmpty()) {
        *error = QObject::tr("请填写数据库名称。");
        return false;
    }
    *out = t;
    return true;
}

QString dbSettingsPath()
{
    return QStringLiteral("quelmar.ini");
}

QString unitIdOfThisPc(const QString &fromTable)
{
    if (!SqlDialect::current().server() || !QFileInfo::exists(dbSettingsPath()))
        return fromTable;
    const QString own = QSettings(dbSettingsPath(), QSettings::IniFormat)
                            .value(QStringLiteral("unit/id"))
                            .toString()
                            .trimmed();
    return own.isEmpty() ? fromTable : own;
}

bool setUnitIdOfThisPc(const QString &id, QString *error)
{
    QSettings s(dbSettingsPath(), QSettings::IniFormat);
    s.setValue(QStringLiteral("unit/id"), id.trimmed());
    s.sync();
    if (s.status() != QSettings::NoError) {
        *error = QStringLiteral("cannot write %1").arg(QFileInfo(dbSettingsPath()).absoluteFilePath());
        return false;
    }
    return true;
}

bool loadDbSetting(const QString &iniPath, DbTarget *out)
{
    if (!QFileInfo::exists(iniPath))
        return false;
    QSettings s(iniPath, QSettings::IniFormat);
    s.beginGroup(kGroup);
    const QString kind = s.value(QStringLiteral("kind")).toString();
    DbTarget t;
    if (kind == QLatin1String("postgresql")) {
        t.kind = DbTarget::Kind::Server;
        t.path.clear();
        t.host = s.value(QStringLiteral("host")).toString();
        t.port = s.value(QStringLiteral("port"), 0).toInt();
        t.user = s.value(QStringLiteral("user")).toString();
        t.name = s.value(QStringLiteral("name")).toString();
    } else if (kind == QLatin1String("sqlite")) {
        t.path = s.value(QStringLiteral("file"), t.path).toString();
    } else {
        return false;
    }
    *out = t;
    return true;
}

bool saveDbSetting(const QString &iniPath, const DbTarget &target, QString *error)
{
    QSettings s(iniPath, QSettings::IniFormat);
    s.remove(kGroup);
    s.beginGroup(kGroup);
    if (target.isServer()) {
        s.setValue(QStringLiteral("kind"), QStringLiteral("postgresql"));
        s.setValue(QStringLiteral("host"), target.host);
        s.setValue(QStringLiteral("port"), target.port);
        s.setValue(QStringLiteral("user"), target.user);
        s.setValue(QStringLiteral("name"), target.name);
    } else {
        s.setValue(QStringLiteral("kind"), QStringLiteral("sqlite"));
        s.setValue(QStringLiteral("file"), target.path);
    }
    s.endGroup();
    s.sync();
    if (s.status() != QSettings::NoError) {
        *error = QStringLiteral("cannot write %1").arg(QFileInfo(iniPath).absoluteFilePath());
        return false;
    }
    return true;
}

DbChoice chooseDbTarget(bool optionGiven, const QString &option, const QString &env, const QString &iniPath)
{
    DbChoice choice;
    QString text;
    if (optionGiven) {
        choice.source = QStringLiteral("--database");
        text = option;
    } else if (!env.trimmed().isEmpty()) {
        choice.source = QStringLiteral("QUELMAR_DATABASE");
        text = env;
    } else {
        if (loadDbSetting(iniPath, &choice.target))
            choice.source = QStringLiteral("settings");
        else
            choice.source = QStringLiteral("default");
        return choice;
    }
    if (!parseDbTarget(text, &choice.target, &choice.error))
        choice.target = DbTarget();
    return choice;
}

const DbTarget &activeDbTarget()
{
    return g_active;
}

void setActiveDbTarget(const DbTarget &target)
{
    g_active = target;
}

bool takeDbTargetFromProcess(int *argc, char **argv, QString *error)
{
    bool given = false;
    QString option;
    int kept = 1;
    for (int i = 1; i < *argc; ++i) {
        const char *arg = argv[i];
        if (qstrcmp(arg, "--database") == 0) {
            given = true;
            if (i + 1 >= *argc) {
                *error = QStringLiteral("--database needs a value (a file, sqlite:PATH or postgresql://...) "
                                        "(缺少数据库地址)");
                return false;
            }
            option = QString::fromLocal8Bit(argv[++i]);
        } else if (qstrncmp(arg, "--database=", 11) == 0) {
            given = true;
            option = QString::fromLocal8Bit(arg + 11);
        } else {
            argv[kept++] = argv[i];
        }
    }
    for (int i = kept; i < *argc; ++i)
        argv[i] = nullptr;
    *argc = kept;
    const DbChoice choice =
        chooseDbTarget(given, option, qEnvironmentVariable("QUELMAR_DATABASE"), dbSettingsPath());
    if (!choice.error.isEmpty()) {
        *error = QStringLiteral("%1: %2 (数据库地址无法识别)").arg(choice.source, choice.error);
        return false;
    }
    setActiveDbTarget(choice.target);
    return true;
}

SqlDialect SqlDialect::forTarget(const DbTarget &target)
{
    return SqlDialect(target.isServer(), QLatin1String(QSqlDatabase::defaultConnection));
}

SqlDialect SqlDialect::of(const QSqlDatabase &db)
{
    return SqlDialect(db.driverName() == QLatin1String("QPSQL"), db.connectionName());
}

namespace {
// Lower-case name -> the schema's spelling, per connection.
QHash<QString, QHash<QString, QString>> g_schemaNames;

const QHash<QString, QString> &schemaNames(const QString &connection, const SqlDialect &dialect)
{
    auto it = g_schemaNames.find(connection);
    if (it != g_schemaNames.end())
        return *it;
    static const QHash<QString, QString> none;
    QSqlDatabase db = QSqlDatabase::database(connection, false);
    if (!db.isOpen())
        return none;
    QHash<QString, QString> names;
    for (const QString &table : requiredTables()) {
        const QSqlRecord record = db.record(dialect.modelTable(table));
        // Table names stay bare: the server keeps them folded to lower case.
        for (int i = 0; i < record.count(); ++i)
            names.insert(record.fieldName(i).toLower(), record.fieldName(i));
    }
    // Not kept while the server is out of reach: read again next time.
    if (names.isEmpty())
        return none;
    return *g_schemaNames.insert(connection, names);
}

bool identifierStart(QChar c)
{
    return c.isLetter() || c == QLatin1Char('_');
}

bool identifierPart(QChar c)
{
    return c.isLetterOrNumber() || c == QLatin1Char('_');
}
} // namespace

void SqlDialect::forgetSchema(const QString &connection)
{
    g_schemaNames.remove(connection);
}

QString SqlDialect::sql(const QString &statement) const
{
    if (!m_server)
        return statement;
    return quoteSchemaNames(statement, schemaNames(m_connection, *this));
}

QString quoteSchemaNames(const QString &statement, const QHash<QString, QString> &names)
{
    if (names.isEmpty())
        return statement;
    QString out;
    out.reserve(statement.size() + statement.size() / 4);
    const int n = statement.size();
    for (int i = 0; i < n;) {
        const QChar c = statement.at(i);
        if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            // A literal or a quoted name, up to its closing quote (a doubled
            // quote inside stays part of it).
            int j = i + 1;
            while (j < n) {
                if (statement.at(j) == c) {
                    if (j + 1 < n && statement.at(j + 1) == c) {
                        j += 2;
                        continue;
                    }
                    ++j;
                    break;
                }
                ++j;
            }
            out += statement.midRef(i, j - i);
            i = j;
        } else if (c.isDigit()) {
            int j = i + 1;
            while (j < n && (identifierPart(statement.at(j)) || statement.at(j) == QLatin1Char('.')))
                ++j;
            out += statement.midRef(i, j - i);
            i = j;
        } else if (identifierStart(c)) {
            int j = i + 1;
            while (j < n && identifierPart(statement.at(j)))
                ++j;
            const QString word = statement.mid(i, j - i);
            const auto found = names.constFind(word.toLower());
            if (found != names.constEnd())
                out += QLatin1Char('"') + *found + QLatin1Char('"');
            else
                out += word;
            i = j;
        } else {
            out += c;
            ++i;
        }
    }
    return out;
}

SqlDialect SqlDialect::current()
{
    return of(QSqlDatabase::database(QSqlDatabase::defaultConnection, false));
}

QString SqlDialect::driverName() const
{
    return m_server ? QStringLiteral("QPSQL") : QStringLiteral("QSQLITE");
}

QString SqlDialect::connectOptions(bool readOnly) const
{
    // A network that drops without a word would leave a statement waiting
    // for minutes: keep-alives and a limit on unacknowledged data end it
    // after a few seconds, and the store is tried again later.
    if (m_server)
        return QStringLiteral("connect_timeout=%1;keepalives=1;keepalives_idle=5;keepalives_interval=2;"
                              "keepalives_count=3;tcp_user_timeout=%2")
            .arg(kConnectTimeoutSec)
            .arg(kUnacknowledgedMs);
    // Another program holding the file locked must not freeze the window: a
    // busy database fails a statement after this wait, and the links retry
    // at their next tick.
    const QString busy = QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs);
    return readOnly ? QStringLiteral("QSQLITE_OPEN_READONLY;") + busy : busy;
}

QString SqlDialect::modelTable(const QString &table) const
{
    return m_server ? table.toLower() : table;
}

QString SqlDialect::insertionOrder() const
{
    // ctid is the row's place in the table: the insertion order for rows
    // that are never updated (the supplied configuration rows).
    return m_server ? QStringLiteral("ctid") : QStringLiteral("rowid");
}

QString SqlDialect::returningKey(const QString &column) const
{
    return m_server ? QStringLiteral(" RETURNING \"%1\"").arg(column) : QString();
}

QVariant SqlDialect::insertedKey(QSqlQuery &query) const
{
    if (m_server)
        return query.next() ? query.value(0) : QVariant();
    return query.lastInsertId();
}

QString SqlDialect::like() const
{
    return m_server ? QStringLiteral("ILIKE") : QStringLiteral("LIKE");
}

QString SqlDialect::tryKeyLock() const
{
    return m_server ? QStringLiteral("SELECT pg_try_advisory_xact_lock(hashtext(?))") : QString();
}

QString SqlDialect::backupExtension() const
{
    return m_server ? QStringLiteral(".dump") : QStringLiteral(".db");
}

bool SqlDialect::lostConnection(const QString &errorText) const
{
    if (!m_server)
        return false;
    static const char *const kPhrases[] = {"server closed the connection",
                                           "no connection to the server",
                                           "could not connect to server",
                                           "connection to server",
                                           "terminating connection",
                                           "Connection refused",
                                           "could not send data to server",
                                           "could not receive data from server",
                                           "SSL SYSCALL error",
                                           "the database system is shutting down",
                                           "the database system is starting up"};
    for (const char *phrase : kPhrases) {
        if (errorText.contains(QLatin1String(phrase), Qt::CaseInsensitive))
            return true;
    }
    return false;
}
