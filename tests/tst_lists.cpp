// Result lists: the three list dialogs, name search with literal quotes and
// wildcards, selection of the current test, deletion and its reloads, on a
// real SQLite file.
#include "app/mainwindow.h"
#include "people/resultlists.h"
#include "people/resultmodels.h"
#include "testsupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlQueryModel>
#include <QSqlRecord>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <functional>

namespace {
int logCount(const QString &prefix)
{
    int n = 0;
    for (const QString &line : qAsConst(g_log))
        n += line.startsWith(prefix) ? 1 : 0;
    return n;
}

// First line at or after |from| that starts with one of |prefixes|, or -1.
int logIndex(const QStringList &prefixes, int from = 0)
{
    for (int i = from; i < g_log.size(); ++i) {
        for (const QString &prefix : prefixes) {
            if (g_log.at(i).startsWith(prefix))
                return i;
        }
    }
    return -1;
}

// Runs |body| once a modal widget accepted by |wanted| is up (exec() blocks
// the caller, so a timer polls from inside the nested event loop). A modal
// that never comes is given up after 10 s; one left open then is rejected.
QPointer<QTimer> whenModal(std::function<bool(QWidget *)> wanted, std::function<void(QWidget *)> body)
{
    QPointer<QTimer> timer = new QTimer;
    auto *elapsed = new QElapsedTimer;
    elapsed->start();
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::destroyed, [elapsed] { delete elapsed; });
    QObject::connect(timer, &QTimer::timeout, [timer, elapsed, wanted, body] {
        QWidget *w = QApplication::activeModalWidget();
        if (w && w->isVisible() && wanted(w)) {
            timer->stop();
            timer->deleteLater();
            body(w);
            return;
        }
        if (elapsed->elapsed() > 10000) {
            timer->stop();
            timer->deleteLater();
            if (auto *d = qobject_cast<QDialog *>(w))
                d->reject();
        }
    });
    timer->start();
    return timer;
}

bool isListDialog(QWidget *w)
{
    return w->windowTitle() == QStringLiteral("测量结果列表");
}

bool isMessageBox(QWidget *w)
{
    return qobject_cast<QMessageBox *>(w) != nullptr;
}

struct BoxSeen
{
    bool seen = false;
    QString title;
    QString text;
    QMessageBox::StandardButtons buttons;
};

// Answers the next message box with |answer| and records what it showed.
void answerBox(QMessageBox::StandardButton answer, BoxSeen *seen)
{
    whenModal(isMessageBox, [answer, seen](QWidget *w) {
        auto *box = static_cast<QMessageBox *>(w);
        seen->seen = true;
        seen->title = box->windowTitle();
        seen->text = box->text();
        seen->buttons = box->standardButtons();
        if (QAbstractButton *b = box->button(answer))
            b->click();
        else
            box->reject();
    });
}

// Rejects whatever other dialog a button opens (report previews, print
// dialogs); returns the watcher so the caller can drop it if none came.
QPointer<QTimer> rejectOtherModal(QWidget *listDialog, bool *opened)
{
    return whenModal([listDialog](QWidget *w) { return w != listDialog; },
                     [opened](QWidget *w) {
                         *opened = true;
                         if (auto *d = qobject_cast<QDialog *>(w))
                             d->reject();
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

QTableView *listView(QWidget *dialog)
{
    return dialog->findChild<QTableView *>(QStringLiteral("resultView"));
}

QLineEdit *field(QWidget *dialog, const char *name)
{
    return dialog->findChild<QLineEdit *>(QLatin1String(name));
}

// Opens a list with |open| and runs |body| on its dialog, then closes it.
void withListDialog(const std::function<void()> &open, const std::function<void(QWidget *)> &body)
{
    bool ran = false;
    whenModal(isListDialog, [&](QWidget *dialog) {
        ran = true;
        body(dialog);
        static_cast<QDialog *>(dialog)->reject();
    });
    open();
    QVERIFY2(ran, "the list dialog did not open");
}

int insertResult(const QString &name, const QString &uid, double weight = 60.0)
{
    QSqlQuery q;
    q.prepare(
        QStringLiteral("INSERT INTO Result (UUID, UID, Name, Sex, BirthYear, TestDate, Height, Weight, "
                       "Fat, PBF, BMI, bodyType) VALUES ('UNIT', ?, ?, '1', 1990, '2024-05-01', 170, ?, "
                       "12.5, 20.1, 22.3, '标准型')"));
    q.addBindValue(uid);
    q.addBindValue(name);
    q.addBindValue(weight);
    if (!q.exec())
        return -1;
    return q.lastInsertId().toInt();
}

int insertFit(const QString &name, const QString &uid, double grip)
{
    QSqlQuery q;
    q.prepare(
        QStringLiteral("INSERT INTO ResultFIT (UID, Name, Sex, BirthYear, TestDate, Height, Weight, WOLI, "
                       "FHL, ZFZ3, BUSU6) VALUES (?, ?, '2', 1988, '2024-05-02', 160, 50, ?, 3200, 1, 2)"));
    q.addBindValue(uid);
    q.addBindValue(name);
    q.addBindValue(grip);
    if (!q.exec())
        return -1;
    return q.lastInsertId().toInt();
}

int rowsIn(const QString &table)
{
    return testsupport::scalar(QStringLiteral("SELECT count(*) FROM %1").arg(table)).toInt();
}

QStringList namesOf(QSqlQueryModel *model)
{
    while (model->canFetchMore())
        model->fetchMore();
    QStringList names;
    const int col = model->record().indexOf(QStringLiteral("Name"));
    for (int r = 0; r < model->rowCount(); ++r)
        names << model->index(r, col).data().toString();
    names.sort();
    return names;
}

QStringList fieldNames(const QSqlRecord &record)
{
    QStringList names;
    for (int i = 0; i < record.count(); ++i)
        names << record.fieldName(i);
    return names;
}

QStringList headersOf(const QAbstractItemModel *model)
{
    QStringList headers;
    for (int c = 0; c < model->columnCount(); ++c)
        headers << model->headerData(c, Qt::Horizontal).toString();
    return headers;
}
} // namespace

class TestLists : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void nameSearchIsPrefixAndLiteral();
    void fitnessHeadersMatchColumnsInEveryView();
    void selectionSetsTheCurrentTest();
    void viewShowsTheChosenTestInTheDetailTable();
    void deletionAsksAndReloadsOnce();
    void fitnessDeletionRefreshesThePage();
    void failedDeletionIsReported();
    void personDialogShowsOnlyThatPerson_data();
    void personDialogShowsOnlyThatPerson();
    void uploadAndPrintButtons();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestLists::initTestCase()
{
    g_previousHandler = qInstallMessageHandler(captureLog);
}

void TestLists::cleanupTestCase()
{
    qInstallMessageHandler(g_previousHandler);
}

void TestLists::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(testsupport::startProcessOn(m_dir->filePath(QStringLiteral("maindb.db"))));
    g_log.clear();
}

void TestLists::cleanup()
{
    releaseProcessState();
}

void TestLists::nameSearchIsPrefixAndLiteral()
{
    const QStringList names = {QStringLiteral("张三"),    QStringLiteral("张四"),   QStringLiteral("李张"),
                               QStringLiteral("O'Brien"), QStringLiteral("100%纯"), QStringLiteral("100x纯"),
                               QStringLiteral("a_b"),     QStringLiteral("axb"),    QStringLiteral("c\\d")};
    for (const QString &n : names) {
        QVERIFY(insertResult(n, QStringLiteral("u")) > 0);
        QVERIFY(insertFit(n, QStringLiteral("u"), 30) > 0);
    }
    using resultlists::ResultTable;
    const struct
    {
        QString text;
        QStringList expected;
    } cases[] = {
        {QStringLiteral("张"), {QStringLiteral("张三"), QStringLiteral("张四")}},
        {QStringLiteral("o'b"), {QStringLiteral("O'Brien")}}, // LIKE ignores ASCII case
        {QStringLiteral("100%"), {QStringLiteral("100%纯")}},
        {QStringLiteral("a_"), {QStringLiteral("a_b")}},
        {QStringLiteral("c\\"), {QStringLiteral("c\\d")}},
        {QStringLiteral("'; DELETE FROM Result; --"), {}},
        {QString(), names},
    };
    for (const ResultTable table : {ResultTable::BodyComposition, ResultTable::Fitness}) {
        for (const auto &c : cases) {
            QSqlQueryModel model;
            QVERIFY2(resultlists::searchByName(&model, table, c.text), qPrintable(c.text));
            QVERIFY(!model.lastError().isValid());
            QStringList expected = c.expected;
            expected.sort();
            QCOMPARE(namesOf(&model), expected);
        }
    }
    QCOMPARE(rowsIn(QStringLiteral("Result")), names.size());
}

void TestLists::fitnessHeadersMatchColumnsInEveryView()
{
    insertFit(QStringLiteral("张三"), QStringLiteral("u1"), 41.5);
    insertFit(QStringLiteral("李四"), QStringLiteral("u2"), 38);
    const QStringList fitColumns = {"UID", "TestID", "Name", "TestDate", "Height", "Weight", "WOLI", "FHL",
                                    "TQQ", "TZ",     "YWQZ", "FYS",      "FWC",    "BYDJ",   "ZT",   "TY"};
    const QStringList fitHeaders = {"用户编号",   "测试编号",   "用户姓名",   "测试日期",
                                    "身高(厘米)", "体重",       "握力(公斤)", "肺活量",
                                    "坐位体前屈", "台阶指数",   "仰卧起坐",   "选择反应时",
                                    "俯卧撑",     "闭眼单脚站", "纵跳",       "立定跳远"};
    const auto check = [&](QSqlQueryModel *model, const char *where) {
        QVERIFY2(!model->lastError().isValid(), where);
        QCOMPARE(fieldNames(model->record()), fitColumns);
        QCOMPARE(headersOf(model), fitHeaders);
        QCOMPARE(model->index(0, 6).data().toDouble(), where == QByteArray("search") ? 41.5 : 38.0);
    };

    MainWindow w;
    check(w.fitModel(), "page");
    withListDialog([&] { w.dataListFit(); },
                   [&](QWidget *dialog) {
                       auto *model = qobject_cast<QSqlQueryModel *>(listView(dialog)->model());
                       check(model, "list");
                       field(dialog, "searchEdit")->setText(QStringLiteral("张"));
                       button(dialog, QStringLiteral("搜索"))->click();
                       check(model, "search");
                       button(dialog, QStringLiteral("<<返回"))->click();
                       check(model, "show all");
                   });

    // The body-composition list keeps its 44 headers through a search too.
    insertResult(QStringLiteral("张三"), QStringLiteral("u1"));
    QSqlQueryModel result;
    resultlists::searchByName(&result, resultlists::ResultTable::BodyComposition, QStringLiteral("张"));
    QCOMPARE(result.columnCount(), 44);
    QCOMPARE(headersOf(&result), resultlists::resultHeaders());
    QCOMPARE(result.headerData(43, Qt::Horizontal).toString(), QStringLiteral("右下肢细胞外液"));
    QCOMPARE(fieldNames(result.record()).at(43), QStringLiteral("RL_ECW"));
}

void TestLists::selectionSetsTheCurrentTest()
{
    const int first = insertResult(QStringLiteral("张三"), QStringLiteral("u1"));
    insertResult(QStringLiteral("李四"), QStringLiteral("u2"));
    insertResult(QStringLiteral("王五"), QStringLiteral("u3"));
    const int fitOld = insertFit(QStringLiteral("张三"), QStringLiteral("u1"), 30);
    const int fitNew = insertFit(QStringLiteral("李四"), QStringLiteral("u2"), 31);
    MainWindow w;

    withListDialog([&] { w.dataList(); },
                   [&](QWidget *dialog) {
                       QTableView *view = listView(dialog);
                       view->selectRow(2);
                       QCOMPARE(field(dialog, "testIdEdit")->text(), QString::number(first));
                       g_log.clear();
                       button(dialog, QStringLiteral("查看详情"))->click();
                       QCOMPARE(global::currentTestID, first);
                       const int set = logIndex({QStringLiteral("set current data function")});
                       QVERIFY(set >= 0 && logIndex({QStringLiteral("displayData function")}, set) > set);

                       // A double-click on a row does the same for that row.
                       view->selectRow(1);
                       const int second = field(dialog, "testIdEdit")->text().toInt();
                       QVERIFY(second != first);
                       emit view->doubleClicked(view->model()->index(1, 3));
                       QCOMPARE(global::currentTestID, second);

                       // A typed number that is no number is test 0.
                       field(dialog, "testIdEdit")->setText(QStringLiteral("abc"));
                       button(dialog, QStringLiteral("查看详情"))->click();
                       QCOMPARE(global::currentTestID, 0);
                   });

    global::sheetTag.clear();
    withListDialog([&] { w.dataListFit(); },
                   [&](QWidget *dialog) {
                       QTableView *view = listView(dialog);
                       view->selectRow(1);
                       global::sheetTag = QStringLiteral("TQ-20");
                       bool previewOpened = false;
                       QPointer<QTimer> watcher = rejectOtherModal(dialog, &previewOpened);
                       g_log.clear();
                       button(dialog, QStringLiteral("查看报告"))->click();
                       delete watcher;
                       QCOMPARE(global::currentTestID, fitOld);
                       QCOMPARE(global::sheetTag, QStringLiteral("FITreport"));
                       const int set = logIndex({QStringLiteral("set current dataFit function2")});
                       QVERIFY(set >= 0 &&
                               logIndex({QStringLiteral("viewReportFit"), QStringLiteral("selected testID=")},
                                        set) > set);

                       view->selectRow(0);
                       emit view->doubleClicked(view->model()->index(0, 0));
                       QCOMPARE(global::currentTestID, fitNew);
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

void TestLists::viewShowsTheChosenTestInTheDetailTable()
{
    const int older = insertResult(QStringLiteral("张三"), QStringLiteral("u1"), 61.25);
    const int doomed = insertResult(QStringLiteral("李四"), QStringLiteral("u2"), 70);
    const int newest = insertResult(QStringLiteral("王五"), QStringLiteral("u3"), 80.04);
    MainWindow w;
    QTableWidget *detail = w.bcaTable();
    const auto cell = [detail](int r, int c) {
        return detail->item(r, c) ? detail->item(r, c)->text() : QString();
    };

    withListDialog([&] { w.dataList(); },
                   [&](QWidget *dialog) {
                       QLineEdit *testId = field(dialog, "testIdEdit");
                       listView(dialog)->selectRow(2);
                       g_log.clear();
                       button(dialog, QStringLiteral("查看详情"))->click();
                       QCOMPARE(global::currentTestID, older);
                       QVERIFY(logIndex({QStringLiteral("currentTestID= ")}) >= 0);
                       QCOMPARE(cell(1, 1), QString::number(older));
                       QCOMPARE(cell(2, 1), QStringLiteral("张三"));
                       QCOMPARE(cell(0, 3), QStringLiteral("61.3"));

                       testId->setText(QStringLiteral("0"));
                       button(dialog, QStringLiteral("查看详情"))->click();
                       QCOMPARE(cell(1, 1), QString::number(newest));
                       QCOMPARE(cell(0, 3), QStringLiteral("80.0"));

                       QSqlQuery q;
                       QVERIFY(q.exec(QStringLiteral("DELETE FROM Result WHERE TestID=%1").arg(doomed)));
                       testId->setText(QString::number(doomed));
                       button(dialog, QStringLiteral("查看详情"))->click();
                       QVERIFY(cell(2, 1).isEmpty());
                       QVERIFY(cell(1, 1).isEmpty());
                       QCOMPARE(cell(0, 3), QStringLiteral("0.0"));
                       QCOMPARE(cell(5, 5), QStringLiteral("0.0"));
                   });
}

void TestLists::deletionAsksAndReloadsOnce()
{
    QList<int> ids;
    for (int i = 0; i < 6; ++i)
        ids << insertResult(QStringLiteral("人%1").arg(i), QStringLiteral("u%1").arg(i));
    MainWindow w;
    withListDialog(
        [&] { w.dataList(); },
        [&](QWidget *dialog) {
            QTableView *view = listView(dialog);
            QAbstractItemModel *model = view->model();

            // Nothing selected.
            BoxSeen none;
            answerBox(QMessageBox::Cancel, &none);
            button(dialog, QStringLiteral("删除"))->click();
            QVERIFY(none.seen);
            QCOMPARE(none.title, QStringLiteral("警告"));
            QCOMPARE(none.text, QStringLiteral("没有选择记录！"));
            QCOMPARE(none.buttons, QMessageBox::StandardButtons(QMessageBox::Cancel));

            const auto selectThree = [view] {
                view->selectRow(0);
                view->selectionModel()->select(view->model()->index(2, 0),
                                               QItemSelectionModel::Select | QItemSelectionModel::Rows);
                view->selectionModel()->select(view->model()->index(4, 0),
                                               QItemSelectionModel::Select | QItemSelectionModel::Rows);
            };

            // Escape answers No: everything stays.
            selectThree();
            BoxSeen ask;
            whenModal(isMessageBox, [&ask](QWidget *w) {
                auto *box = static_cast<QMessageBox *>(w);
                ask.seen = true;
                ask.title = box->windowTitle();
                ask.text = box->text();
                ask.buttons = box->standardButtons();
                QTest::keyClick(box, Qt::Key_Escape);
            });
            g_log.clear();
            button(dialog, QStringLiteral("删除"))->click();
            QVERIFY(ask.seen);
            QCOMPARE(ask.title, QStringLiteral("删除数据"));
            QCOMPARE(ask.text, QStringLiteral("你确定删除所选记录吗？"));
            QCOMPARE(ask.buttons, QMessageBox::Yes | QMessageBox::No);
            QCOMPARE(logCount(QStringLiteral("you press no")), 1);
            QCOMPARE(rowsIn(QStringLiteral("Result")), 6);

            // Answer Yes: three statements, one reload.
            selectThree();
            QSignalSpy resets(model, &QAbstractItemModel::modelReset);
            BoxSeen yes;
            answerBox(QMessageBox::Yes, &yes);
            g_log.clear();
            button(dialog, QStringLiteral("删除"))->click();
            QVERIFY(yes.seen);
            QCOMPARE(logCount(QStringLiteral("you press yes")), 1);
            QCOMPARE(logCount(QStringLiteral("DELETE FROM Result WHERE TestID=")), 3);
            QCOMPARE(logCount(QStringLiteral("delQuery succeed.")), 3);
            QCOMPARE(resets.count(), 1);
            QCOMPARE(rowsIn(QStringLiteral("Result")), 3);
            QCOMPARE(model->rowCount(), 3);
            // Rows 0, 2, 4 were the newest, the third and the fifth.
            QCOMPARE(model->index(0, 1).data().toInt(), ids.at(4));
            QCOMPARE(model->index(2, 1).data().toInt(), ids.at(0));
            QCOMPARE(field(dialog, "testIdEdit")->text(), QString::number(ids.at(4)));
        });
}

void TestLists::fitnessDeletionRefreshesThePage()
{
    const int keep = insertFit(QStringLiteral("张三"), QStringLiteral("u1"), 30);
    insertFit(QStringLiteral("李四"), QStringLiteral("u2"), 31);
    insertFit(QStringLiteral("王五"), QStringLiteral("u3"), 32);
    MainWindow w;
    QCOMPARE(w.fitModel()->rowCount(), 3);
    withListDialog([&] { w.dataListFit(); },
                   [&](QWidget *dialog) {
                       QTableView *view = listView(dialog);
                       view->selectRow(0);
                       view->selectionModel()->select(view->model()->index(1, 0),
                                                      QItemSelectionModel::Select |
                                                          QItemSelectionModel::Rows);
                       BoxSeen yes;
                       answerBox(QMessageBox::Yes, &yes);
                       g_log.clear();
                       button(dialog, QStringLiteral("删除"))->click();
                       QVERIFY(yes.seen);
                       QCOMPARE(logCount(QStringLiteral("deleteData Fit function")), 1);
                       QCOMPARE(logCount(QStringLiteral("DELETE FROM ResultFIT WHERE TestID=")), 2);
                       QCOMPARE(view->model()->rowCount(), 1);
                       QCOMPARE(view->model()->columnCount(), 16);
                       QCOMPARE(field(dialog, "testIdEdit")->text(), QString::number(keep));
                   });
    QCOMPARE(rowsIn(QStringLiteral("ResultFIT")), 1);
    QCOMPARE(w.fitModel()->rowCount(), 1);
    QCOMPARE(w.fitModel()->index(0, 1).data().toInt(), keep);
    QCOMPARE(w.fitTestIdEdit()->text(), QString::number(keep));
}

void TestLists::failedDeletionIsReported()
{
    const int a = insertResult(QStringLiteral("甲"), QStringLiteral("u1"));
    const int locked = insertResult(QStringLiteral("乙"), QStringLiteral("u2"));
    const int c = insertResult(QStringLiteral("丙"), QStringLiteral("u3"));
    QSqlQuery q;
    QVERIFY(q.exec(QStringLiteral("CREATE TRIGGER keep_one BEFORE DELETE ON Result WHEN old.TestID = %1 "
                                  "BEGIN SELECT RAISE(ABORT, 'record is locked'); END")
                       .arg(locked)));
    MainWindow w;
    withListDialog([&] { w.dataList(); },
                   [&](QWidget *dialog) {
                       QTableView *view = listView(dialog);
                       view->selectAll();
                       BoxSeen ask;
                       BoxSeen error;
                       whenModal(isMessageBox, [&](QWidget *box) {
                           ask.seen = true;
                           answerBox(QMessageBox::Yes, &error);
                           static_cast<QMessageBox *>(box)->button(QMessageBox::Yes)->click();
                       });
                       button(dialog, QStringLiteral("删除"))->click();
                       QVERIFY(ask.seen);
                       QVERIFY(error.seen);
                       QCOMPARE(error.title, QStringLiteral("删除数据"));
                       QCOMPARE(error.text, QStringLiteral("删除记录出错！"));
                       QCOMPARE(error.buttons, QMessageBox::StandardButtons(QMessageBox::Yes));
                       // The other two went; the locked one is still listed after the reload.
                       QCOMPARE(view->model()->rowCount(), 1);
                       QCOMPARE(view->model()->index(0, 1).data().toInt(), locked);
                   });
    QCOMPARE(testsupport::scalar(
                 QStringLiteral("SELECT count(*) FROM Result WHERE TestID IN (%1, %2)").arg(a).arg(c))
                 .toInt(),
             0);
}

void TestLists::personDialogShowsOnlyThatPerson_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("uid");
    QTest::newRow("王 (a prefix of 王飞)") << QStringLiteral("王") << QStringLiteral("7");
    QTest::newRow("王飞") << QStringLiteral("王飞") << QStringLiteral("8");
}

void TestLists::personDialogShowsOnlyThatPerson()
{
    QFETCH(QString, name);
    QFETCH(QString, uid);
    for (const auto &person : {std::pair<const char *, const char *>{"王", "7"}, {"王飞", "8"}}) {
        const QString n = QString::fromUtf8(person.first), u = QString::fromUtf8(person.second);
        QVERIFY(testsupport::addPerson(u, n, QStringLiteral("1"), 1990));
        QVERIFY(insertResult(n, u) > 0 && insertResult(n, u) > 0);
    }
    // What the dialog lists: "UID|Name|shown sex" per row.
    const auto rows = [](QWidget *dialog) {
        auto *model = qobject_cast<QSqlQueryModel *>(listView(dialog)->model());
        QStringList out;
        for (int r = 0; r < model->rowCount(); ++r)
            out << QStringList{model->index(r, 0).data().toString(), model->index(r, 2).data().toString(),
                               model->index(r, 4).data().toString()}
                       .join(QLatin1Char('|'));
        return out;
    };
    const QString mine = uid + QLatin1Char('|') + name + QStringLiteral("|男");

    MainWindow w;
    bool opened = false;
    whenModal([](QWidget *d) { return d->windowTitle() == QStringLiteral("用户列表"); },
              [&](QWidget *registry) {
                  auto *view = registry->findChild<QTableView *>(QStringLiteral("personView"));
                  for (int r = 0; r < view->model()->rowCount(); ++r) {
                      if (view->model()->index(r, 3).data().toString() == name)
                          view->selectRow(r);
                  }
                  withListDialog([&] { button(registry, QStringLiteral("查人员测试结果"))->click(); },
                                 [&](QWidget *dialog) {
                                     opened = true;
                                     QCOMPARE(rows(dialog), (QStringList{mine, mine}));
                                     listView(dialog)->selectRow(0);
                                     BoxSeen yes;
                                     answerBox(QMessageBox::Yes, &yes);
                                     button(dialog, QStringLiteral("删除"))->click();
                                     QVERIFY(yes.seen);
                                     QCOMPARE(rows(dialog), QStringList{mine});
                                     button(dialog, QStringLiteral("<<返回"))->click();
                                     QCOMPARE(rows(dialog), QStringList{mine});
                                     field(dialog, "searchEdit")->setText(QStringLiteral("王"));
                                     button(dialog, QStringLiteral("搜索"))->click();
                                     QCOMPARE(rows(dialog), QStringList{mine});
                                 });
                  static_cast<QDialog *>(registry)->reject();
              });
    w.usersList();
    QVERIFY(opened);
    QCOMPARE(global::currentPerson, name);
    QCOMPARE(rowsIn(QStringLiteral("Result")), 3); // only the one chosen row went

    // No registry form open: nobody is chosen.
    BoxSeen none;
    answerBox(QMessageBox::Ok, &none);
    w.dataListWithPerson();
    QVERIFY(none.seen);
    QCOMPARE(none.text, QStringLiteral("您还没有选择人员！"));
}

void TestLists::uploadAndPrintButtons()
{
    const int bca = insertResult(QStringLiteral("张三"), QStringLiteral("u1"));
    insertResult(QStringLiteral("李四"), QStringLiteral("u2"));
    const int fitOld = insertFit(QStringLiteral("张三"), QStringLiteral("u1"), 30);
    const int fitNew = insertFit(QStringLiteral("李四"), QStringLiteral("u2"), 31);
    MainWindow w;
    QCOMPARE(w.fitTestIdEdit()->text(), QString::number(fitNew));

    withListDialog([&] { w.dataList(); },
                   [&](QWidget *dialog) {
                       listView(dialog)->selectRow(1);
                       g_log.clear();
                       button(dialog, QStringLiteral("上传数据"))->click();
                       QCOMPARE(global::currentTestID, bca);
                       QCOMPARE(logCount(QStringLiteral("uploadBCA function")), 1);

                       field(dialog, "printStartEdit")->setText(QStringLiteral("1"));
                       field(dialog, "printEndEdit")->setText(QStringLiteral("2"));
                       bool printDialog = false;
                       QPointer<QTimer> watcher = rejectOtherModal(dialog, &printDialog);
                       g_log.clear();
                       button(dialog, QStringLiteral("批量打印"))->click();
                       delete watcher;
                       QVERIFY(logIndex({QStringLiteral("printAllReport"),
                                         QStringLiteral("printList at first= ")}) >= 0);
                   });

    withListDialog([&] { w.dataListFit(); },
                   [&](QWidget *dialog) {
                       listView(dialog)->selectRow(1);
                       g_log.clear();
                       button(dialog, QStringLiteral("上传数据"))->click();
                       QCOMPARE(logCount(QStringLiteral("uploadPhy function")), 1);
                       QCOMPARE(global::currentTestID, fitOld);
                       // The page keeps its own selection.
                       QCOMPARE(w.fitTestIdEdit()->text(), QString::number(fitNew));

                       bool printDialog = false;
                       QPointer<QTimer> watcher = rejectOtherModal(dialog, &printDialog);
                       g_log.clear();
                       global::sheetTag.clear();
                       button(dialog, QStringLiteral("打印报告"))->click();
                       delete watcher;
                       QCOMPARE(global::sheetTag, QStringLiteral("FITreport"));
                       QCOMPARE(global::currentTestID, fitOld);
                       QVERIFY(logIndex({QStringLiteral("printReport")}) >= 0);

                       // An empty list has no test to send: a warning, no upload.
                       field(dialog, "searchEdit")->setText(QStringLiteral("nobody"));
                       button(dialog, QStringLiteral("搜索"))->click();
                       BoxSeen warn;
                       answerBox(QMessageBox::Ok, &warn);
                       g_log.clear();
                       button(dialog, QStringLiteral("上传数据"))->click();
                       QVERIFY(warn.seen);
                       QCOMPARE(warn.text, QStringLiteral("请先选择测试记录!"));
                       QCOMPARE(logCount(QStringLiteral("uploadPhy function")), 0);
                   });
}

QTEST_MAIN(TestLists)
#include "tst_lists.moc"
