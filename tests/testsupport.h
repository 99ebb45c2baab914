// Helpers shared by the tests: a fresh copy of the supplied database in a
// scratch folder, opened as the default connection the program uses, and
// answering the modal dialogs a slot opens.
#pragma once

#include "app/globals.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QSqlQuery>
#include <QTimer>

#include <functional>

// Debug lines of the program under test, captured while the handler is
// installed (initTestCase: g_previousHandler =
// qInstallMessageHandler(captureLog)).
inline QStringList g_log;
inline QtMessageHandler g_previousHandler = nullptr;

inline void captureLog(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtDebugMsg) {
        g_log << message;
        return;
    }
    g_previousHandler(type, context, message);
}

namespace testsupport {
inline QString sourcePath(const QString &relative)
{
    return QStringLiteral(QUELMAR_SOURCE_DIR) + QLatin1Char('/') + relative;
}

// Builds |dbPath| from db/maindb.sql with the sqlite3 CLI, as set-up does.
inline bool buildSuppliedDatabase(const QString &dbPath)
{
    QFile::remove(dbPath);
    QProcess sqlite;
    sqlite.setStandardInputFile(sourcePath(QStringLiteral("db/maindb.sql")));
    sqlite.start(QStringLiteral("sqlite3"), {dbPath});
    return sqlite.waitForFinished(30000) && sqlite.exitStatus() == QProcess::NormalExit &&
           sqlite.exitCode() == 0;
}

// Fresh supplied database at |dbPath| plus the shared process state on it.
inline bool startProcessOn(const QString &dbPath)
{
    if (!buildSuppliedDatabase(dbPath))
        return false;
    initProcessState(dbPath);
    return dbSetupResult;
}

// Registers a person; false when the insert fails.
inline bool addPerson(const QString &uid, const QString &name, const QString &sex, int birthYear)
{
    QSqlQuery q;
    q.prepare(QStringLiteral("INSERT INTO Person (UID, Name, Sex, BirthYear) VALUES (?, ?, ?, ?)"));
    q.addBindValue(uid);
    q.addBindValue(name);
    q.addBindValue(sex);
    q.addBindValue(birthYear);
    return q.exec();
}

// The non-empty lines of a text file (simulator logs), trimmed.
inline QStringList readLines(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    QStringList out;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (!line.trimmed().isEmpty())
            out << QString::fromUtf8(line.trimmed());
    }
    return out;
}

inline QVariant scalar(const QString &sql)
{
    QSqlQuery q;
    if (!q.exec(sql) || !q.next())
        return QVariant();
    return q.value(0);
}

inline int count(const QString &sql)
{
    return scalar(sql).toInt();
}

// Runs |open|, which shows a modal dialog accepted by |wanted|, then |body|
// on that dialog, and closes it; false when no such dialog came. exec()
// blocks the caller, so a timer polls from inside the nested event loop; a
// dialog still open after 10 s without a match is rejected so no test hangs.
inline bool withModal(const std::function<bool(QWidget *)> &wanted, const std::function<void()> &open,
                      const std::function<void(QWidget *)> &body)
{
    bool ran = false;
    QElapsedTimer elapsed;
    elapsed.start();
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        auto *d = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (ran || !d || !d->isVisible())
            return;
        if (wanted(d)) {
            ran = true;
            body(d);
        } else if (elapsed.elapsed() < 10000) {
            return;
        }
        d->reject();
    });
    timer.start(5);
    open();
    return ran;
}

struct BoxSeen
{
    bool seen = false;
    QMessageBox::Icon icon = QMessageBox::NoIcon; // of the last box
    QString text;                                 // of the last box
    QStringList texts;                            // of every box, in order
};

// Runs |action|, answering every message box it shows with |answer| (the
// box's first button when it has no such button), and tells what they showed.
inline BoxSeen boxOf(const std::function<void()> &action,
                     QMessageBox::StandardButton answer = QMessageBox::Ok)
{
    BoxSeen seen;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&seen, answer] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        seen = {true, box->icon(), box->text(), seen.texts << box->text()};
        QAbstractButton *b = box->button(answer);
        (b ? b : box->buttons().first())->click();
    });
    timer.start(5);
    action();
    return seen;
}

} // namespace testsupport
