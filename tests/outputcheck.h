// Helpers for the report and exchange tests (which include this header for
// QtTest and the shared test support too): rows put straight into a table,
// the program run headless, PDF files read back with poppler's tools, and
// modal windows closed and remembered.
#pragma once

#include "tests/testsupport.h"

#include <QApplication>
#include <QMessageBox>
#include <QProgressDialog>
#include <QSqlError>
#include <QSqlQuery>
#include <QtTest>

namespace outputcheck {

// Inserts |values| into |columns| ("A, B, C") of |table|; the row's TestID, or -1.
inline int insertRow(const QString &table, const QString &columns, const QVariantList &values)
{
    QSqlQuery q;
    q.prepare(QStringLiteral("INSERT INTO %1 (%2) VALUES (?%3)")
                  .arg(table, columns, QStringLiteral(", ?").repeated(values.size() - 1)));
    for (const QVariant &v : values)
        q.addBindValue(v);
    if (!q.exec())
        qWarning() << q.lastError();
    return q.lastError().isValid() ? -1 : q.lastInsertId().toInt();
}

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
};

// Runs |program| in |dir|; the program binary itself runs without any display
// or platform chosen, as a scheduled job would.
inline Run run(const QString &program, const QStringList &args, const QString &dir = QString())
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QLatin1String(name));
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(dir);
    p.start(program, args);
    Run r;
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit)
        return r;
    r.exitCode = p.exitCode();
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

inline const QString program = QStringLiteral(QUELMAR_BUILD_DIR "/quelmar");

// Pages of a PDF file, -1 when there is no readable file.
inline int pdfPages(const QString &path)
{
    if (!QFile::exists(path))
        return -1;
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)"))
                                          .match(run(QStringLiteral("pdfinfo"), {path}).out);
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

inline QString pdfText(const QString &path, const QStringList &options = {})
{
    return run(QStringLiteral("pdftotext"), options + QStringList{path, QStringLiteral("-")}).out;
}

// Kangxi and CJK radicals: the look-alikes a bad font subset extracts
// instead of the characters drawn.
inline const QRegularExpression radicals(QStringLiteral("[\\x{2E80}-\\x{2FDF}]"));

// Closes every modal window that comes up while it lives and remembers it as
// "title|text" (message boxes, accepted) or "title|class" (other dialogs,
// rejected). Progress dialogs are left to run.
class ModalWatcher : public QObject
{
public:
    ModalWatcher()
    {
        m_timer.setInterval(10);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            QWidget *w = QApplication::activeModalWidget();
            if (!w || !w->isVisible() || qobject_cast<QProgressDialog *>(w))
                return;
            if (auto *box = qobject_cast<QMessageBox *>(w)) {
                seen << box->windowTitle() + QLatin1Char('|') + box->text();
                box->accept();
            } else if (auto *dialog = qobject_cast<QDialog *>(w)) {
                seen << dialog->windowTitle() + QLatin1Char('|') +
                            QLatin1String(dialog->metaObject()->className());
                dialog->reject();
            }
        });
        m_timer.start();
    }
    QStringList seen;

private:
    QTimer m_timer;
};

} // namespace outputcheck
