// Result lists on a real SQLite file: name search with literal quotes and
// wildcards, the grip column under its header after a search, the current
// test a selection sets, the detail table, deletion (asked, all-or-nothing at
// the commit, a failed row reported, the fitness page reloaded), one person's
// results, and no upload without a chosen test.
#include "app/mainwindow.h"
#include "dialogs/resultlistdlg.h"
#include "people/resultlists.h"
#include "testsupport.h"

#include <QLineEdit>
#include <QSqlQueryModel>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

using resultlists::ResultTable;
using testsupport::boxOf;
using testsupport::count;

namespace {
// Opens a list with |open| and runs |body| on its dialog, then closes it.
void withList(const std::function<void()> &open, const std::function<void(ResultListDlg *)> &body)
{
    QVERIFY2(testsupport::withModal([](QWidget *w) { return qobject_cast<ResultListDlg *>(w) != nullptr; },
                                    open, [&](QWidget *w) { body(static_cast<ResultListDlg *>(w)); }),
             "the list dialog did not open");
}

void clickDelete(ResultListDlg *dialog, const QList<int> &rows, QMessageBox::StandardButton answer)
{
    QTableView *view = dialog->view();
    view->clearSelection();
    for (int row : rows)
        view->selectionModel()->select(view->model()->index(row, 0),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
    QVERIFY(boxOf([dialog] { dialog->deleteButton()->click(); }, answer).seen);
}

// Stores a result with its weight, or a fitness result with its grip; returns its test number.
int insertResult(const QString &name, const QString &uid, double value = 60, bool fitness = false)
{
    QSqlQuery q;
    q.prepare(fitness ? QStringLiteral("INSERT INTO ResultFIT (UID, Name, Sex, WOLI) VALUES (?, ?, '1', ?)")
                      : QStringLiteral("INSERT INTO Result (UID, Name, Sex, Weight) VALUES (?, ?, '1', ?)"));
    q.addBindValue(uid);
    q.addBindValue(name);
    q.addBindValue(value);
    return q.exec() ? q.lastInsertId().toInt() : -1;
}

int insertFit(const QString &name, const QString &uid, double grip = 30)
{
    return insertResult(name, uid, grip, true);
}

// The given columns of every row, "a|b" per row: test numbers are column 1.
QStringList rowsOf(QAbstractItemModel *model, const QList<int> &columns = {1})
{
    QStringList out;
    for (int r = 0; r < model->rowCount(); ++r) {
        QStringList cells;
        for (int c : columns)
            cells << model->index(r, c).data().toString();
        out << cells.join(QLatin1Char('|'));
    }
    return out;
}
} // namespace

class TestLists : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;

private slots:
    void initTestCase() { g_previousHandler = qInstallMessageHandler(captureLog); }
    void cleanupTestCase() { qInstallMessageHandler(g_previousHandler); }
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(testsupport::startProcessOn(m_dir->filePath(QStringLiteral("maindb.db"))));
    }
    void cleanup() { releaseProcessState(); }

    void nameSearchIsPrefixAndLiteral_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("found");
        QTest::newRow("prefix") << "张" << QStringList{"张三", "张四"};
        QTest::newRow("quote, any ASCII case") << "o'b" << QStringList{"O'Brien"};
        QTest::newRow("percent") << "100%" << QStringList{"100%纯"};
        QTest::newRow("underscore") << "a_" << QStringList{"a_b"};
        QTest::newRow("backslash") << "c\\" << QStringList{"c\\d"};
        QTest::newRow("injection") << "'; DELETE FROM Result; --" << QStringList{};
        QTest::newRow("empty: everyone")
            << "" << QStringList{"100%纯", "100x纯", "O'Brien", "a_b", "axb", "c\\d", "张三", "张四", "李张"};
    }
    void nameSearchIsPrefixAndLiteral()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, found);
        for (const char *n : {"张三", "张四", "李张", "O'Brien", "100%纯", "100x纯", "a_b", "axb", "c\\d"})
            QVERIFY(insertResult(n, "u") > 0 && insertFit(n, "u") > 0);
        for (const ResultTable table : {ResultTable::BodyComposition, ResultTable::Fitness}) {
            QSqlQueryModel model;
            QVERIFY(resultlists::searchByName(&model, table, text));
            QStringList names = rowsOf(&model, {2});
            names.sort();
            QCOMPARE(names, found);
        }
        QCOMPARE(count("SELECT count(*) FROM Result"), 9);
    }

    void gripStaysUnderItsHeader()
    {
        insertFit("张三", "u1", 41.5);
        insertFit("李四", "u2", 38);
        const auto grip = [](QAbstractItemModel *model) {
            return model->headerData(6, Qt::Horizontal).toString() + model->index(0, 6).data().toString();
        };
        MainWindow w;
        QCOMPARE(grip(w.fitModel()), QStringLiteral("握力(公斤)38"));
        withList([&] { w.dataListFit(); },
                 [&](ResultListDlg *dialog) {
                     dialog->searchEdit()->setText("张");
                     dialog->searchButton()->click();
                     QCOMPARE(grip(dialog->view()->model()), QStringLiteral("握力(公斤)41.5"));
                     dialog->backButton()->click();
                     QCOMPARE(grip(dialog->view()->model()), QStringLiteral("握力(公斤)38"));
                 });
    }

    void detailTableShowsTheChosenTest()
    {
        const int older = insertResult("张三", "u1", 61.25);
        const int gone = insertResult("李四", "u2", 70);
        const int newest = insertResult("王五", "u3", 80.04);
        MainWindow w;
        // Current test, then test number, name and weight of the detail table.
        const auto detail = [&w] {
            QStringList cells{QString::number(global::currentTestID)};
            for (const auto &rc : {std::pair<int, int>{1, 1}, {2, 1}, {0, 3}}) {
                const QTableWidgetItem *item = w.bcaTable()->item(rc.first, rc.second);
                cells << (item ? item->text() : QString());
            }
            return cells.join(QLatin1Char('|'));
        };
        withList([&] { w.dataList(); },
                 [&](ResultListDlg *dialog) {
                     dialog->view()->selectRow(2);
                     dialog->viewButton()->click();
                     QCOMPARE(detail(), QStringLiteral("%1|%1|张三|61.3").arg(older));
                     dialog->view()->selectRow(0);
                     emit dialog->view()->doubleClicked(dialog->view()->model()->index(0, 3));
                     QCOMPARE(detail(), QStringLiteral("%1|%1|王五|80.0").arg(newest));
                     const auto typed = [&](const QString &text) {
                         dialog->testIdEdit()->setText(text);
                         dialog->viewButton()->click();
                         return detail();
                     };
                     QCOMPARE(typed("abc"), QStringLiteral("0|%1|王五|80.0").arg(newest)); // none: the newest
                     QVERIFY(
                         QSqlQuery().exec(QStringLiteral("DELETE FROM Result WHERE TestID=%1").arg(gone)));
                     QCOMPARE(typed(QString::number(gone)), QStringLiteral("%1|||0.0").arg(gone));
                 });
    }

    void fitnessReportUsesTheFitnessSheet()
    {
        const int older = insertFit("张三", "u1");
        insertFit("李四", "u2");
        MainWindow w;
        withList([&] { w.dataListFit(); },
                 [&](ResultListDlg *dialog) {
                     dialog->view()->selectRow(1);
                     global::sheetTag = QStringLiteral("TQ-20");
                     // The report preview it opens is closed unseen.
                     QPointer<QTimer> preview =
                         testsupport::whenModal([dialog](QWidget *m) { return m != dialog; },
                                                [](QWidget *m) { static_cast<QDialog *>(m)->reject(); });
                     dialog->viewButton()->click();
                     delete preview.data();
                     QCOMPARE(global::currentTestID, older);
                     QCOMPARE(global::sheetTag, QStringLiteral("FITreport"));
                 });
    }

    void deletionAsksAndDeletesTheChosenTests()
    {
        QStringList ids;
        for (int i = 0; i < 6; ++i)
            ids.prepend(QString::number(insertResult(QStringLiteral("人%1").arg(i), "u")));
        MainWindow w;
        withList([&] { w.dataList(); },
                 [&](ResultListDlg *dialog) {
                     QCOMPARE(boxOf([&] { dialog->deleteButton()->click(); }).text,
                              QStringLiteral("没有选择记录！"));
                     clickDelete(dialog, {0, 2, 4}, QMessageBox::No);
                     QCOMPARE(count("SELECT count(*) FROM Result"), 6);
                     QSignalSpy resets(dialog->view()->model(), &QAbstractItemModel::modelReset);
                     clickDelete(dialog, {0, 2, 4}, QMessageBox::Yes);
                     QCOMPARE(resets.count(), 1);
                     const QStringList left{ids.at(1), ids.at(3), ids.at(5)};
                     QCOMPARE(rowsOf(dialog->view()->model()), left);
                     QCOMPARE(dialog->testIdEdit()->text(), left.first());
                 });
        QCOMPARE(count("SELECT count(*) FROM Result"), 3);
    }

    void deletionIsAllOrNothingAtTheCommit()
    {
        const QList<int> ids{insertResult("甲", "u1"), insertResult("乙", "u2"), insertResult("丙", "u3")};
        // A deferred reference to the middle test fails the commit, not its statement.
        QSqlQuery q;
        QVERIFY(q.exec("PRAGMA foreign_keys = ON"));
        QVERIFY(q.exec("CREATE TABLE Hold (T REFERENCES Result(TestID) DEFERRABLE INITIALLY DEFERRED)"));
        QVERIFY(q.exec(QStringLiteral("INSERT INTO Hold VALUES (%1)").arg(ids.at(1))));
        const resultlists::DeleteOutcome outcome =
            resultlists::deleteTests(ResultTable::BodyComposition, ids);
        QVERIFY(outcome.deleted.isEmpty() && !outcome.error.isEmpty());
        QCOMPARE(outcome.failed.size(), 3);
        QCOMPARE(count("SELECT count(*) FROM Result"), 3);
    }

    void failedDeletionIsReported()
    {
        insertResult("甲", "u1");
        const int locked = insertResult("乙", "u2");
        insertResult("丙", "u3");
        QVERIFY(QSqlQuery().exec(QStringLiteral("CREATE TRIGGER keep_one BEFORE DELETE ON Result WHEN "
                                                "old.TestID = %1 BEGIN SELECT RAISE(ABORT, 'locked'); END")
                                     .arg(locked)));
        MainWindow w;
        withList([&] { w.dataList(); },
                 [&](ResultListDlg *dialog) {
                     dialog->view()->selectAll();
                     QCOMPARE(boxOf([dialog] { dialog->deleteButton()->click(); }, QMessageBox::Yes).texts,
                              QStringList({"你确定删除所选记录吗？", "删除记录出错！"}));
                     // The other two went; the locked one is still listed after the reload.
                     QCOMPARE(rowsOf(dialog->view()->model()), QStringList{QString::number(locked)});
                 });
        QCOMPARE(count("SELECT count(*) FROM Result"), 1);
    }

    void fitnessDeletionRefreshesThePage()
    {
        const int keep = insertFit("张三", "u1");
        insertFit("李四", "u2");
        insertFit("王五", "u3");
        MainWindow w;
        withList([&] { w.dataListFit(); },
                 [&](ResultListDlg *dialog) {
                     clickDelete(dialog, {0, 1}, QMessageBox::Yes);
                 });
        QCOMPARE(count("SELECT count(*) FROM ResultFIT"), 1);
        // The page no longer lists or points at a deleted test.
        QCOMPARE(rowsOf(w.fitModel()), QStringList{QString::number(keep)});
        QCOMPARE(w.fitTestIdEdit()->text(), QString::number(keep));
    }

    void personDialogShowsOnlyThatPerson_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("uid");
        QTest::newRow("王 (a prefix of 王飞)") << "王"
                                               << "7";
        QTest::newRow("王飞") << "王飞"
                              << "8";
    }
    void personDialogShowsOnlyThatPerson()
    {
        QFETCH(QString, name);
        QFETCH(QString, uid);
        for (const auto &person : {std::pair<const char *, const char *>{"王", "7"}, {"王飞", "8"}}) {
            QVERIFY(testsupport::addPerson(person.second, person.first, "1", 1990));
            QVERIFY(insertResult(person.first, person.second) > 0 &&
                    insertResult(person.first, person.second) > 0);
        }
        const QString mine = uid + QLatin1Char('|') + name + QStringLiteral("|男"); // UID, name, shown sex
        MainWindow w;
        bool opened = false;
        testsupport::withModal(
            [](QWidget *d) { return d->windowTitle() == QStringLiteral("用户列表"); }, [&] { w.usersList(); },
            [&](QWidget *registry) {
                auto *view = registry->findChild<QTableView *>(QStringLiteral("personView"));
                view->selectRow(rowsOf(view->model(), {3}).indexOf(name));
                withList([&] { testsupport::buttonIn(registry, QStringLiteral("查人员测试结果"))->click(); },
                         [&](ResultListDlg *dialog) {
                             opened = true;
                             const auto rows = [dialog] {
                                 return rowsOf(dialog->view()->model(), {0, 2, 4});
                             };
                             QCOMPARE(rows(), QStringList({mine, mine}));
                             clickDelete(dialog, {0}, QMessageBox::Yes);
                             QCOMPARE(rows(), QStringList{mine});
                             dialog->backButton()->click();
                             QCOMPARE(rows(), QStringList{mine});
                             dialog->searchEdit()->setText("王");
                             dialog->searchButton()->click();
                             QCOMPARE(rows(), QStringList{mine});
                         });
            });
        QVERIFY(opened);
        QCOMPARE(count("SELECT count(*) FROM Result"), 3); // only the one chosen row went
        // No registry form open: nobody is chosen.
        QCOMPARE(boxOf([&] { w.dataListWithPerson(); }).text, QStringLiteral("您还没有选择人员！"));
    }

    void uploadNeedsAChosenTest()
    {
        insertFit("张三", "u1");
        MainWindow w;
        withList([&] { w.dataListFit(); },
                 [&](ResultListDlg *dialog) {
                     // An empty list has no test to send: a warning, no upload.
                     dialog->searchEdit()->setText("nobody");
                     dialog->searchButton()->click();
                     g_log.clear();
                     QCOMPARE(boxOf([&] { dialog->uploadButton()->click(); }).text,
                              QStringLiteral("请先选择测试记录!"));
                     QVERIFY(!g_log.join(QLatin1Char('\n')).contains(QStringLiteral("uploadPhy function")));
                 });
    }
};

QTEST_MAIN(TestLists)
#include "tst_lists.moc"
