// Result lists on a large database: opening each list, a surname search,
// "show all", the detail display of the newest record and deleting 100
// selected rows, each beside the same SELECT run by the sqlite3 CLI.
//
//   bench_lists [DB]   (without DB a 100,000 + 100,000 row database is generated
//                       with quelmar-make-bigdb into a scratch folder)
#include "app/globals.h"
#include "app/mainwindow.h"
#include "people/resultlists.h"
#include "people/resultmodels.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QFile>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QSqlQueryModel>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>

namespace {
QTextStream out(stdout);

double msSince(const QElapsedTimer &t)
{
    return double(t.nsecsElapsed()) / 1e6;
}

// The SELECT as the sqlite3 CLI runs it: ".timer on" real time with the
// rows written to /dev/null, and the wall time of the whole process.
struct CliTime
{
    double runMs = -1;
    double wallMs = -1;
};

CliTime cliTime(const QString &db, const QString &sql)
{
    CliTime result;
    QProcess sqlite;
    sqlite.setProcessChannelMode(QProcess::MergedChannels);
    QElapsedTimer wall;
    wall.start();
    sqlite.start(QStringLiteral("sqlite3"), {QStringLiteral("-batch"), db});
    if (!sqlite.waitForStarted(5000))
        return result;
    sqlite.write(QStringLiteral(".timer on\n.once /dev/null\n%1;\n").arg(sql).toUtf8());
    sqlite.closeWriteChannel();
    sqlite.waitForFinished(120000);
    result.wallMs = msSince(wall);
    const QString text = QString::fromUtf8(sqlite.readAll());
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("Run Time: real ([0-9.]+)")).match(text);
    if (m.hasMatch())
        result.runMs = m.captured(1).toDouble() * 1000.0;
    return result;
}

QString plan(const QString &sql)
{
    QSqlQuery q;
    QStringList steps;
    if (q.exec(QStringLiteral("EXPLAIN QUERY PLAN ") + sql)) {
        while (q.next())
            steps << q.value(3).toString();
    }
    return steps.join(QStringLiteral("; "));
}

QString literal(const QString &text)
{
    QString quoted = text;
    quoted.replace(QLatin1Char('\''), QStringLiteral("''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

// One line: the program's figure, the same SELECT in the CLI with every row,
// and (for lists) the CLI reading only as many rows as the model fetches first.
void row(const QString &what, double programMs, const QString &db, const QString &cliSql,
         const QString &note = {}, bool firstPage = false)
{
    const CliTime full = cliTime(db, cliSql);
    out << QStringLiteral("%1 %2 ms | sqlite3: %3 ms (process %4 ms)")
               .arg(what, -46)
               .arg(programMs, 9, 'f', 2)
               .arg(full.runMs, 8, 'f', 2)
               .arg(full.wallMs, 8, 'f', 1);
    if (firstPage) {
        const CliTime page = cliTime(db, cliSql + QStringLiteral(" LIMIT 256"));
        out << QStringLiteral(" | first 256: %1 ms").arg(page.runMs, 6, 'f', 2);
    }
    if (!note.isEmpty())
        out << "  " << note;
    out << Qt::endl;
}

// Runs |body| inside the next modal dialog's event loop, then closes it.
void insideModal(const std::function<void(QDialog *)> &body)
{
    QTimer::singleShot(0, [body] {
        auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        body(dialog);
        dialog->reject();
    });
}

QPushButton *button(QWidget *dialog, const QString &text)
{
    for (QPushButton *b : dialog->findChildren<QPushButton *>()) {
        if (b->text() == text)
            return b;
    }
    return nullptr;
}

void answerNextBox(QMessageBox::StandardButton answer)
{
    QTimer::singleShot(0, [answer] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget()))
            box->button(answer)->click();
    });
}

struct ListTimes
{
    double openMs = 0;
    double searchMs = 0;
    double backMs = 0;
    double deleteMs = 0;
    int rowsAfterOpen = 0;
    int rowsAfterDelete = 0;
};

// Opens a list with |open| and times, inside it: the dialog coming up with its
// first rows painted, a search for |surname|, "show all", and (when asked)
// deleting the first 100 rows through the delete button.
ListTimes timeList(const std::function<void()> &open, const QString &surname, bool deleteRows)
{
    ListTimes times;
    QElapsedTimer clock;
    insideModal([&](QDialog *dialog) {
        auto *view = dialog->findChild<QTableView *>(QStringLiteral("resultView"));
        dialog->repaint();
        times.openMs = msSince(clock);
        times.rowsAfterOpen = view->model()->rowCount();
        if (surname.isNull())
            return;

        dialog->findChild<QLineEdit *>(QStringLiteral("searchEdit"))->setText(surname);
        clock.restart();
        button(dialog, QStringLiteral("搜索"))->click();
        dialog->repaint();
        times.searchMs = msSince(clock);

        clock.restart();
        button(dialog, QStringLiteral("<<返回"))->click();
        dialog->repaint();
        times.backMs = msSince(clock);

        if (deleteRows) {
            QAbstractItemModel *model = view->model();
            view->selectionModel()->select(
                QItemSelection(model->index(0, 0), model->index(99, model->columnCount() - 1)),
                QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            answerNextBox(QMessageBox::Yes);
            clock.restart();
            button(dialog, QStringLiteral("删除"))->click();
            dialog->repaint();
            times.deleteMs = msSince(clock);
            times.rowsAfterDelete = model->rowCount();
        }
    });
    clock.start();
    open();
    return times;
}

bool makeDatabase(const QString &path)
{
    QProcess maker;
    maker.setProcessChannelMode(QProcess::ForwardedChannels);
    maker.start(QCoreApplication::applicationDirPath() + QStringLiteral("/quelmar-make-bigdb"), {path});
    return maker.waitForFinished(600000) && maker.exitStatus() == QProcess::NormalExit &&
           maker.exitCode() == 0;
}

double median(QVector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.isEmpty() ? 0 : v.at(v.size() / 2);
}
} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &msg) {
        if (type != QtDebugMsg && !msg.contains(QLatin1String("propagateSizeHints")))
            fprintf(stderr, "%s\n", qPrintable(msg));
    });

    QTemporaryDir scratch;
    const QString source =
        argc > 1 ? QString::fromLocal8Bit(argv[1]) : scratch.filePath(QStringLiteral("big.db"));
    if (argc <= 1 && !makeDatabase(source)) {
        fprintf(stderr, "could not generate the database\n");
        return 1;
    }
    // The program works on its own copy (rows get deleted), the CLI on another.
    const QString db = scratch.filePath(QStringLiteral("maindb.db"));
    const QString cliDb = scratch.filePath(QStringLiteral("cli.db"));
    QFile::remove(db);
    QFile::remove(cliDb);
    if (!QFile::copy(source, db) || !QFile::copy(source, cliDb)) {
        fprintf(stderr, "could not copy %s\n", qPrintable(source));
        return 1;
    }
    initProcessState(db);
    if (!dbSetupResult)
        return 1;
    const auto count = [](const char *table) {
        QSqlQuery q(QStringLiteral("SELECT count(*) FROM %1").arg(QLatin1String(table)));
        return q.next() ? q.value(0).toInt() : -1;
    };
    out << "database: " << source << " (" << count("Result") << " Result rows, " << count("ResultFIT")
        << " ResultFIT rows)" << Qt::endl;
    cliTime(cliDb, QStringLiteral("SELECT count(*) FROM Result")); // warm the file cache for both sides

    const QString surname = QStringLiteral("张");
    QString personName;
    {
        QSqlQuery q(QStringLiteral("SELECT Name FROM Result ORDER BY TestID DESC LIMIT 1"));
        if (q.next())
            personName = q.value(0).toString();
    }

    QElapsedTimer clock;
    clock.start();
    auto window = std::make_unique<MainWindow>();
    MainWindow &w = *window;
    const double windowMs = msSince(clock);

    out << Qt::endl
        << "plans: list: " << plan(resultlists::resultListQuery())
        << " | fitness list: " << plan(resultlists::fitListQuery()) << " | search: "
        << plan(QString(resultlists::resultSearchQuery()).replace(QLatin1Char('?'), QStringLiteral("'张%'")))
        << Qt::endl;
    out << "(the program's figures include building and painting the dialog; its models fetch the first "
           "rows only, the CLI reads every row of the SELECT)"
        << Qt::endl
        << Qt::endl;

    const QString resultList = resultlists::resultListQuery();
    const QString fitList = resultlists::fitListQuery();
    const QString resultSearch = QString(resultlists::resultSearchQuery())
                                     .replace(QLatin1Char('?'), literal(resultlists::prefixPattern(surname)));
    const QString fitSearch = QString(resultlists::fitSearchQuery())
                                  .replace(QLatin1Char('?'), literal(resultlists::prefixPattern(surname)));
    const QString personSearch =
        QString(resultlists::resultSearchQuery())
            .replace(QLatin1Char('?'), literal(resultlists::prefixPattern(personName)));

    row(QStringLiteral("main window (fitness page filled)"), windowMs, cliDb, fitList);

    QVector<double> opens, fitOpens;
    ListTimes bca, fit;
    for (int i = 0; i < 3; ++i) {
        bca = timeList([&] { w.dataList(); }, surname, false);
        opens << bca.openMs;
        fit = timeList([&] { w.dataListFit(); }, surname, false);
        fitOpens << fit.openMs;
    }
    row(QStringLiteral("open body-composition list (median of 3)"), median(opens), cliDb, resultList,
        QStringLiteral("rows fetched: %1").arg(bca.rowsAfterOpen), true);
    row(QStringLiteral("  surname search \"张\""), bca.searchMs, cliDb, resultSearch, {}, true);
    row(QStringLiteral("  show all (<<返回)"), bca.backMs, cliDb, resultList, {}, true);
    row(QStringLiteral("open fitness list (median of 3)"), median(fitOpens), cliDb, fitList,
        QStringLiteral("rows fetched: %1").arg(fit.rowsAfterOpen), true);
    row(QStringLiteral("  surname search \"张\""), fit.searchMs, cliDb, fitSearch, {}, true);
    row(QStringLiteral("  show all (<<返回)"), fit.backMs, cliDb, fitList, {}, true);
    const ListTimes person = timeList([&] { w.showPersonResults(personName); }, QString(), false);
    row(QStringLiteral("open person list (%1)").arg(personName), person.openMs, cliDb, personSearch, {},
        true);

    // Detail display of the newest record (test number 0).
    const QString detail = QStringLiteral(
        "SELECT  UID, TestID, Name, Sex, Height, TestDate, Weight, Standard_weight, Weight_control, LBM, "
        "Body_age, Score, Water, Fat, PBF, Protein, Muscle, Bone,  BMI, BMR, VFI, WHR, SMM, bodyType FROM "
        "Result");
    const QString newestByKey = detail + QStringLiteral(" ORDER BY TestID DESC LIMIT 1");
    int newest = 0;
    {
        QSqlQuery q(QStringLiteral("SELECT max(TestID) FROM Result"));
        newest = q.next() ? q.value(0).toInt() : 0;
    }
    global::currentTestID = 0;
    if (QTableWidgetItem *old = w.bcaTable()->item(1, 1))
        old->setText(QString());
    clock.restart();
    w.displayData();
    const double displayMs = msSince(clock);
    QTableWidgetItem *shown = w.bcaTable()->item(1, 1);
    if (shown && shown->text().toInt() == newest) {
        row(QStringLiteral("displayData, test 0 (newest)"), displayMs, cliDb, newestByKey);
    } else {
        // displayData does not fill the table yet: time the key lookup it needs.
        clock.restart();
        QSqlQuery q;
        q.exec(newestByKey);
        const bool found = q.next() && q.value(1).toInt() == newest;
        row(QStringLiteral("newest record by key (displayData not built)"), msSince(clock), cliDb,
            newestByKey, found ? QString() : QStringLiteral("NOT FOUND"));
    }
    clock.restart();
    {
        QSqlQuery q;
        q.exec(detail);
        q.last();
    }
    row(QStringLiteral("  for contrast: whole table + last()"), msSince(clock), cliDb, detail);

    // Deleting the 100 newest rows through each dialog (confirmation answered at once).
    QStringList cliDeletes;
    QStringList cliFitDeletes;
    for (int id = newest; id > newest - 100; --id)
        cliDeletes << QStringLiteral("DELETE FROM Result WHERE TestID=%1").arg(id);
    {
        QSqlQuery q(QStringLiteral("SELECT TestID FROM ResultFIT ORDER BY TestID DESC LIMIT 100"));
        while (q.next())
            cliFitDeletes << QStringLiteral("DELETE FROM ResultFIT WHERE TestID=%1").arg(q.value(0).toInt());
    }
    const int before = count("Result");
    const int fitBefore = count("ResultFIT");
    const ListTimes del = timeList([&] { w.dataList(); }, surname, true);
    row(QStringLiteral("delete 100 selected rows + reload (Result)"), del.deleteMs, cliDb,
        QStringLiteral("BEGIN; %1; COMMIT").arg(cliDeletes.join(QStringLiteral("; "))),
        QStringLiteral("rows %1 -> %2").arg(before).arg(count("Result")));
    const ListTimes fitDel = timeList([&] { w.dataListFit(); }, surname, true);
    row(QStringLiteral("delete 100 selected rows + reloads (ResultFIT)"), fitDel.deleteMs, cliDb,
        QStringLiteral("BEGIN; %1; COMMIT").arg(cliFitDeletes.join(QStringLiteral("; "))),
        QStringLiteral("rows %1 -> %2").arg(fitBefore).arg(count("ResultFIT")));

    // The same 100 deletions without a transaction, each its own commit.
    QList<int> ids;
    {
        QSqlQuery q(QStringLiteral("SELECT TestID FROM Result ORDER BY TestID DESC LIMIT 100"));
        while (q.next())
            ids << q.value(0).toInt();
    }
    clock.restart();
    for (const int id : qAsConst(ids)) {
        QSqlQuery q;
        q.exec(QStringLiteral("DELETE FROM Result WHERE TestID=%1").arg(id));
    }
    out << QStringLiteral("%1 %2 ms")
               .arg(QStringLiteral("  for contrast: 100 autocommit deletions"), -46)
               .arg(msSince(clock), 9, 'f', 2)
        << Qt::endl;

    window.reset();
    releaseProcessState();
    return 0;
}
