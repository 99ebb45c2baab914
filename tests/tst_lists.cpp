// Result lists on a real SQLite file: name search with literal quotes and
// wildcards, the grip column under its header after a search, the current
// test a selection sets, the detail table, deletion (asked, all-or-nothing at
// the commit, a failed row reported, the fitness page reloaded), and one
// person's results.
#include "app/mainwindow.h"
#include "dialogs/resultlistdlg.h"
#include "people/resultlists.h"
#include "testsupport.h"

#include <QLineEdit>
#include <QSqlError>
#include <QSqlQueryModel>
#include <QSqlRecord>
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
    bool ran = false;
    testsupport::whenModal([](QWidget *w) { return qobject_cast<ResultListDlg *>(w) != nullptr; },
                           [&](QWidget *w) {
                               ran = true;
                               body(static_cast<ResultListDlg *>(w));
                               static_cast<QDialog *>(w)->reject();
                           });
    open();
    QVERIFY2(ran, "the list dialog did not open");
}

void selectRows(QTableView *view, const QList<int> &rows)
{
    view->clearSelection();
    for (int row : rows)
        view->selectionModel()->select(view->model()->index(row, 0),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

int insertResult(const QString &name, const QString &uid, double weight = 60.0)
{
    QSqlQuery q;
    q.prepare(QStringLiteral("INSERT INTO Result (UUID, UID, Name, Sex, BirthYear, TestDate, Weight) "
                             "VALUES ('UNIT', ?, ?, '1', 1990, '2024-05-01', ?)"));
    q.addBindValue(uid);
    q.addBindValue(name);
    q.addBindValue(weight);
    return q.exec() ? q.lastInsertId().toInt() : -1;
}

int insertFit(const QString &name, const QString &uid, double grip = 30)
{
    QSqlQuery q;
    q.prepare(QStringLiteral("INSERT INTO ResultFIT (UID, Name, Sex, TestDate, "
                             "WOLI) VALUES (?, ?, '2', '2024-05-02', ?)"));
    q.addBindValue(uid);
    q.addBindValue(name);
    q.addBindValue(grip);
    return q.exec() ? q.lastInsertId().toInt() : -1;
}

// Column |col| of every row of |model|, e.g. the names (2) or test numbers (1).
QStringList columnOf(QAbstractItemModel *model, int col)
{
    QStringList values;
    for (int r = 0; r < model->rowCount(); ++r)
        values << model->index(r, col).data().toString();
    return values;
}
} // namespace

class TestLists : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { g_previousHandler = qInstallMessageHandler(captureLog); }
    void cleanupTestCase() { qInstallMessageHandler(g_previousHandler); }
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(testsupport::startProcessOn(m_dir->filePath(QStringLiteral("maindb.db"))));
        g_log.clear();
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
            QVERIFY(insertResult(QString::fromUtf8(n), "u") > 0 && insertFit(QString::fromUtf8(n), "u") > 0);
        for (const ResultTable table : {ResultTable::BodyComposition, ResultTable::Fitness}) {
            QSqlQueryModel model;
            QVERIFY(resultlists::searchByName(&model, table, text));
            QStringList names = columnOf(&model, 2);
            names.sort();
            QCOMPARE(names, found);
        }
        QCOMPARE(count(QStringLiteral("SELECT count(*) FROM Result")), 9);
    }
    void gripStaysUnderItsHeader()
    {
        insertFit(QStringLiteral("张三"), QStringLiteral("u1"), 41.5);
        insertFit(QStringLiteral("李四"), QStringLiteral("u2"), 38);
        // Newest first; the search finds 张三 only.
        const auto grip = [](QAbstractItemModel *model) {
            return model->headerData(6, Qt::Horizontal).toString() + model->index(0, 6).data().toString();
        };
        MainWindow w;
        QCOMPARE(grip(w.fitModel()), QStringLiteral("握力(公斤)38"));
        withList([&] { w.dataListFit(); },
                 [&](ResultListDlg *dialog) {
                     QAbstractItemModel *model = dialog->view()->model();
                     QCOMPARE(grip(model), QStringLiteral("握力(公斤)38"));
                     dialog->searchEdit()->setText(QStringLiteral("张"));
                     dialog->searchButton()->click();
                     QCOMPARE(grip(model), QStringLiteral("握力(公斤)41.5"));
                     dialog->backButton()->click();
                     QCOMPARE(grip(model), QStringLiteral("握力(公斤)38"));
                 });
        // The body-composition list keeps its headers through a search too.
        insertResult(QStringLiteral("张三"), QStringLiteral("u1"));
        QSqlQueryModel result;
        resultlists::searchByName(&result, ResultTable::BodyComposition, QStringLiteral("张"));
        QCOMPARE(result.headerData(43, Qt::Horizontal).toString(), QStringLiteral("右下肢细胞外液"));
        QCOMPARE(result.record().fieldName(43), QStringLiteral("RL_ECW"));
    }
    void selectionSetsTheCurrentTest()
    {
        const int first = insertResult(QStringLiteral("张三"), QStringLiteral("u1"));
        insertResult(QStringLiteral("李四"), QStringLiteral("u2"));
        insertResult(QStringLiteral("王五"), QStringLiteral("u3"));
        const int fitOld = insertFit(QStringLiteral("张三"), QStringLiteral("u1"));
        const int fitNew = insertFit(QStringLiteral("李四"), QStringLiteral("u2"));
        MainWindow w;
        withList([&] { w.dataList(); },
                 [&](ResultListDlg *dialog) {
                     dialog->view()->selectRow(2);
                     dialog->viewButton()->click();
                     QCOMPARE(global::currentTestID, first);
                     // A double-click on a row does the same for that row.
                     dialog->view()->selectRow(1);
                     emit dialog->view()->doubleClicked(dialog->view()->model()->index(1, 3));
                     QCOMPARE(global::currentTestID, first + 1);
                     // A typed number that is no number is test 0.
                     dialog->testIdEdit()->setText(QStringLiteral("abc"));
                     dialog->viewButton()->click();
                     QCOMPARE(global::currentTestID, 0);
                 });
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
                     QCOMPARE(global::currentTestID, fitOld);
                     QCOMPARE(global::sheetTag, QStringLiteral("FITreport"));
                 });
        // The main window's fitness page: its hidden field gives the test number.
        w.fitTable()->selectRow(1);
        global::sheetTag.clear();
        w.setCurrentDataFit();
        QCOMPARE(global::currentTestID, fitOld);
        QCOMPARE(global::sheetTag, QStringLiteral("FITreport"));
        w.fitTable()->selectRow(0);
        w.setCurrentData();
        QCOMPARE(global::currentTestID, fitNew);
    }
    void detailTableShowsTheChosenTest()
    {
        const int older = insertResult(QStringLiteral("张三"), QStringLiteral("u1"), 61.25);
        const int gone = insertResult(QStringLiteral("李四"), QStringLiteral("u2"), 70);
        const int newest = insertResult(QStringLiteral("王五"), QStringLiteral("u3"), 80.04);
        MainWindow w;
        // Test number, name and weight of the detail table.
        const auto detail = [&w] {
            QStringList cells;
            for (const auto &rc : {std::pair<int, int>{1, 1}, {2, 1}, {0, 3}}) {
                const QTableWidgetItem *item = w.bcaTable()->item(rc.first, rc.second);
                cells << (item ? item->text() : QString());
            }
            return cells.join(QLatin1Char('|'));
        };
        withList([&] { w.dataList(); },
                 [&](ResultListDlg *dialog) {
                     const auto show = [dialog](int testId) {
                         dialog->testIdEdit()->setText(QString::number(testId));
                         dialog->viewButton()->click();
                     };
                     show(older);
                     QCOMPARE(detail(), QStringLiteral("%1|张三|61.3").arg(older));
                     show(0); // no test chosen: the newest
                     QCOMPARE(detail(), QStringLiteral("%1|王五|80.0").arg(newest));
                     QVERIFY(
                         QSqlQuery().exec(QStringLiteral("DELETE FROM Result WHERE TestID=%1").arg(gone)));
                     show(gone);
                     QCOMPARE(detail(), QStringLiteral("||0.0"));
                 });
    }
    void deletionAsksAndDeletesTheChosenTests()
    {
        QList<int> ids;
        for (int i = 0; i < 6; ++i)
            ids << insertResult(QStringLiteral("人%1").arg(i), QStringLiteral("u%1").arg(i));
        MainWindow w;
        withList([&] { w.dataList(); },
                 [&](ResultListDlg *dialog) {
                     QTableView *view = dialog->view();
                     QCOMPARE(boxOf([&] { dialog->deleteButton()->click(); }).text,
                              QStringLiteral("没有选择记录！"));
                     selectRows(view, {0, 2, 4});
                     const testsupport::BoxSeen no =
                         boxOf([&] { dialog->deleteButton()->click(); }, QMessageBox::No);
                     QCOMPARE(no.text, QStringLiteral("你确定删除所选记录吗？"));
                     QCOMPARE(count(QStringLiteral("SELECT count(*) FROM Result")), 6);

                     selectRows(view, {0, 2, 4});
                     QSignalSpy resets(view->model(), &QAbstractItemModel::modelReset);
                     QVERIFY(boxOf([&] { dialog->deleteButton()->click(); }, QMessageBox::Yes).seen);
                     QCOMPARE(resets.count(), 1);
                     // Rows 0, 2, 4 were the newest, the fourth and the second.
                     const QStringList left{QString::number(ids.at(4)), QString::number(ids.at(2)),
                                            QString::number(ids.at(0))};
                     QCOMPARE(columnOf(view->model(), 1), left);
                     QCOMPARE(dialog->testIdEdit()->text(), left.first());
                 });
        QCOMPARE(count(QStringLiteral("SELECT count(*) FROM Result")), 3);
    }
    void deletionIsAllOrNothingAtTheCommit()
    {
        const QList<int> ids{insertResult("甲", "u1"), insertResult("乙", "u2"), insertResult("丙", "u3")};
        // A deferred reference to the middle test fails the commit, not its
        // statement.
        QSqlQuery q;
        QVERIFY(q.exec(QStringLiteral("PRAGMA foreign_keys = ON")));
        QVERIFY(q.exec(QStringLiteral("CREATE TABLE Hold (T INTEGER REFERENCES Result(TestID) "
                                      "DEFERRABLE INITIALLY DEFERRED)")));
        QVERIFY(q.exec(QStringLiteral("INSERT INTO Hold VALUES (%1)").arg(ids.at(1))));
        const resultlists::DeleteOutcome outcome =
            resultlists::deleteTests(ResultTable::BodyComposition, ids);
        QVERIFY(outcome.deleted.isEmpty());
        QCOMPARE(outcome.failed.size(), 3);
        QVERIFY(!outcome.error.isEmpty());
        QCOMPARE(count(QStringLiteral("SELECT count(*) FROM Result")), 3);
    }
    void failedDeletionIsReported()
    {
        insertResult(QStringLiteral("甲"), QStringLiteral("u1"));
        const int locked = insertResult(QStringLiteral("乙"), QStringLiteral("u2"));
        insertResult(QStringLiteral("丙"), QStringLiteral("u3"));
        QVERIFY(QSqlQuery().exec(QStringLiteral("CREATE TRIGGER keep_one BEFORE DELETE ON Result WHEN "
                                                "old.TestID = %1 "
                                                "BEGIN SELECT RAISE(ABORT, 'record is locked'); END")
                                     .arg(locked)));
        MainWindow w;
        withList([&] { w.dataList(); },
                 [&](ResultListDlg *dialog) {
                     dialog->view()->selectAll();
                     testsupport::BoxSeen error;
                     const testsupport::BoxSeen ask = boxOf(
                         [&] {
                             testsupport::answerBox(QMessageBox::Yes, &error);
                             dialog->deleteButton()->click();
                         },
                         QMessageBox::Yes);
                     QVERIFY(ask.seen);
                     QCOMPARE(error.text, QStringLiteral("删除记录出错！"));
                     // The other two went; the locked one is still listed after the
                     // reload.
                     QCOMPARE(columnOf(dialog->view()->model(), 1), QStringList{QString::number(locked)});
                 });
        QCOMPARE(count(QStringLiteral("SELECT count(*) FROM Result")), 1);
    }
    void fitnessDeletionRefreshesThePage()
    {
        const int keep = insertFit(QStringLiteral("张三"), QStringLiteral("u1"));
        insertFit(QStringLiteral("李四"), QStringLiteral("u2"));
        insertFit(QStringLiteral("王五"), QStringLiteral("u3"));
        MainWindow w;
        QCOMPARE(w.fitModel()->rowCount(), 3);
        withList([&] { w.dataListFit(); },
                 [&](ResultListDlg *dialog) {
                     selectRows(dialog->view(), {0, 1});
                     QVERIFY(boxOf([&] { dialog->deleteButton()->click(); }, QMessageBox::Yes).seen);
                     QCOMPARE(columnOf(dialog->view()->model(), 1), QStringList{QString::number(keep)});
                 });
        QCOMPARE(count(QStringLiteral("SELECT count(*) FROM ResultFIT")), 1);
        // The page no longer lists or points at a deleted test.
        QCOMPARE(columnOf(w.fitModel(), 1), QStringList{QString::number(keep)});
        QCOMPARE(w.fitTestIdEdit()->text(), QString::number(keep));
    }
    void personDialogShowsOnlyThatPerson_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("uid");
        QTest::newRow("王 (a prefix of 王飞)") << QStringLiteral("王") << QStringLiteral("7");
        QTest::newRow("王飞") << QStringLiteral("王飞") << QStringLiteral("8");
    }
    void personDialogShowsOnlyThatPerson()
    {
        QFETCH(QString, name);
        QFETCH(QString, uid);
        for (const auto &person : {std::pair<const char *, const char *>{"王", "7"}, {"王飞", "8"}}) {
            const QString n = QString::fromUtf8(person.first), u = QString::fromUtf8(person.second);
            QVERIFY(testsupport::addPerson(u, n, QStringLiteral("1"), 1990));
            QVERIFY(insertResult(n, u) > 0 && insertResult(n, u) > 0);
        }
        // What the dialog lists: "UID|Name|shown sex" per row.
        const auto rows = [](ResultListDlg *dialog) {
            QStringList out;
            for (int r = 0; r < dialog->view()->model()->rowCount(); ++r) {
                QStringList cells;
                for (int c : {0, 2, 4})
                    cells << dialog->view()->model()->index(r, c).data().toString();
                out << cells.join(QLatin1Char('|'));
            }
            return out;
        };
        const QString mine = uid + QLatin1Char('|') + name + QStringLiteral("|男");

        MainWindow w;
        bool opened = false;
        testsupport::whenModal(
            [](QWidget *d) { return d->windowTitle() == QStringLiteral("用户列表"); },
            [&](QWidget *registry) {
                auto *view = registry->findChild<QTableView *>(QStringLiteral("personView"));
                for (int r = 0; r < view->model()->rowCount(); ++r) {
                    if (view->model()->index(r, 3).data().toString() == name)
                        view->selectRow(r);
                }
                withList([&] { testsupport::buttonIn(registry, QStringLiteral("查人员测试结果"))->click(); },
                         [&](ResultListDlg *dialog) {
                             opened = true;
                             QCOMPARE(rows(dialog), QStringList({mine, mine}));
                             dialog->view()->selectRow(0);
                             QVERIFY(boxOf([&] { dialog->deleteButton()->click(); }, QMessageBox::Yes).seen);
                             QCOMPARE(rows(dialog), QStringList{mine});
                             dialog->backButton()->click();
                             QCOMPARE(rows(dialog), QStringList{mine});
                             dialog->searchEdit()->setText(QStringLiteral("王"));
                             dialog->searchButton()->click();
                             QCOMPARE(rows(dialog), QStringList{mine});
                         });
                static_cast<QDialog *>(registry)->reject();
            });
        w.usersList();
        QVERIFY(opened);
        QCOMPARE(count(QStringLiteral("SELECT count(*) FROM Result")),
                 3); // only the one chosen row went
        // No registry form open: nobody is chosen.
        QCOMPARE(boxOf([&] { w.dataListWithPerson(); }).text, QStringLiteral("您还没有选择人员！"));
    }
    void uploadNeedsAChosenTest()
    {
        insertFit(QStringLiteral("张三"), QStringLiteral("u1"));
        MainWindow w;
        withList([&] { w.dataListFit(); },
                 [&](ResultListDlg *dialog) {
                     // An empty list has no test to send: a warning, no upload.
                     dialog->searchEdit()->setText(QStringLiteral("nobody"));
                     dialog->searchButton()->click();
                     g_log.clear();
                     QCOMPARE(boxOf([&] { dialog->uploadButton()->click(); }).text,
                              QStringLiteral("请先选择测试记录!"));
                     QCOMPARE(testsupport::logCount(QStringLiteral("uploadPhy function")), 0);
                 });
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

QTEST_MAIN(TestLists)
#include "tst_lists.moc"
