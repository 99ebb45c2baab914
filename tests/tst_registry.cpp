// Person registry and result lists through the real dialogs on a scratch
// database. Registry: a new entry (checked, a refused insert reported, never
// overwriting the chosen person, the form staying on it once saved), editing,
// deleting with both answers. Lists: name search with literal quotes and
// wildcards in both, the grip column under its header after a search, the
// detail table of the chosen test, the fitness report sheet, deletion (asked,
// all-or-nothing at the commit, a failed row reported, the fitness page
// reloaded), one person's results, and no upload without a chosen test.
#include "app/mainwindow.h"
#include "dialogs/resultlistdlg.h"
#include "people/personmodel.h"
#include "people/resultlists.h"
#include "tests/outputcheck.h"

#include <QComboBox>
#include <QLineEdit>
#include <QSqlQueryModel>
#include <QSqlRecord>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

using resultlists::ResultTable;
using testsupport::boxOf;
using testsupport::count;

namespace {
// Opens the registry of |w|, runs |body| on it and closes it.
void withRegistry(MainWindow &w, const std::function<void(PersonRegistryDlg *)> &body)
{
    QVERIFY2(testsupport::withModal(
                 [](QWidget *d) { return qobject_cast<PersonRegistryDlg *>(d) != nullptr; },
                 [&w] { w.usersList(); }, [&](QWidget *d) { body(static_cast<PersonRegistryDlg *>(d)); }),
             "the registry did not open");
}

QLineEdit *edit(QWidget *dialog, const char *name)
{
    return dialog->findChild<QLineEdit *>(QLatin1String(name));
}

testsupport::BoxSeen save(PersonRegistryDlg *d)
{
    return boxOf([d] { d->savePerson(); });
}

void addPersonRow(const QString &name, const QString &uid)
{
    QVERIFY(testsupport::addPerson(uid, name, QStringLiteral("1"), 1980));
}

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

class TestRegistry : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(testsupport::startProcessOn(m_dir->filePath(QStringLiteral("maindb.db"))));
    }
    void cleanup() { releaseProcessState(); }

    // A new entry: checked (name, a user number registered already names its
    // holder), a refused insert reported, never overwriting the chosen
    // person; sex chosen as 男/女 and stored as "1"/"2"; an empty user number
    // becomes the serial number; the form stays on the person saved.
    void newEntryNeverOverwritesTheChosenPerson()
    {
        addPersonRow("原来的人", "11");
        QVERIFY(QSqlQuery().exec("CREATE TRIGGER refuse BEFORE INSERT ON Person WHEN new.Name = '拒绝' "
                                 "BEGIN SELECT RAISE(ABORT, 'person refused'); END"));
        MainWindow w;
        withRegistry(w, [&](PersonRegistryDlg *d) {
            d->view()->selectRow(0);
            d->addPerson();
            QVERIFY(d->nameEdit()->text().isEmpty() && d->uidEdit()->text().isEmpty());
            QCOMPARE(d->sexCombo()->currentText(), QStringLiteral("男"));
            d->uidEdit()->setText("11");
            for (const char *blank : {"", "   "}) {
                d->nameEdit()->setText(blank);
                QCOMPARE(save(d).text, QStringLiteral("姓名不得为空！"));
            }
            QCOMPARE(d->nameEdit()->maxLength(), 30);
            d->nameEdit()->setText("拒绝");
            QCOMPARE(save(d).text, QStringLiteral("用户编号 11 已登记给 原来的人（序号 1），请换一个编号。"));
            // A refused insert is reported; the typed values stay, nothing is pending.
            d->uidEdit()->setText("12");
            const testsupport::BoxSeen refused = save(d);
            QCOMPARE(refused.icon, QMessageBox::Warning);
            QVERIFY2(refused.text.startsWith(QStringLiteral("数据库错误: ")) &&
                         refused.text.contains("refused"),
                     qPrintable(refused.text));
            QCOMPARE(w.personEntryFlag(), 1);
            QCOMPARE(d->nameEdit()->text(), QStringLiteral("拒绝"));
            QVERIFY(!d->model()->isDirty());
            // Saved, newest first, and the form stays on it, so a further save edits it in place.
            d->nameEdit()->setText(" 新来的人 ");
            d->sexCombo()->setCurrentText(QStringLiteral("女"));
            QVERIFY(!save(d).seen);
            QCOMPARE(w.personEntryFlag(), 0);
            QCOMPARE(rowsOf(d->model(), {3, 4}), QStringList({"新来的人|女", "原来的人|男"}));
            QCOMPARE(d->sexCombo()->currentText(), QStringLiteral("女"));
            edit(d, "noteEdit")->setText("补充");
            QCOMPARE(save(d).text, QStringLiteral("数据已更新！"));
            // An edit may not take another person's number either.
            d->uidEdit()->setText("11");
            QCOMPARE(save(d).text, QStringLiteral("用户编号 11 已登记给 原来的人（序号 1），请换一个编号。"));
            // No user number: the serial number.
            d->addPerson();
            d->nameEdit()->setText("无编号");
            QVERIFY(!save(d).seen);
            QCOMPARE(d->uidEdit()->text(), QStringLiteral("3"));
        });
        // The defaults of a new entry: a man born 1990, 170 cm.
        QCOMPARE(
            testsupport::scalar("SELECT group_concat(ID || '|' || UID || '|' || Name || '|' || Sex || '|' || "
                                "BirthYear || '|' || ifnull(Height, '') || '|' || ifnull(Note, ''), ';') "
                                "FROM Person")
                .toString(),
            QStringLiteral("1|11|原来的人|1|1980||;2|12|新来的人|2|1990|170|补充;3|3|无编号|1|1990|170|"));
    }

    void editStaysOnThePerson()
    {
        for (const char *name : {"甲", "乙", "丙"})
            addPersonRow(name, name);
        MainWindow w;
        withRegistry(w, [&](PersonRegistryDlg *d) {
            d->view()->selectRow(1);
            QTest::keyClicks(edit(d, "phoneEdit"), "138a0-0b1"); // only digits get in
            QCOMPARE(save(d).text, QStringLiteral("数据已更新！"));
            // Still on the same person after the model was written and reselected.
            QCOMPARE(d->nameEdit()->text(), QStringLiteral("乙"));
            edit(d, "noteEdit")->setText("第二次");
            QCOMPARE(save(d).text, QStringLiteral("数据已更新！"));
        });
        QCOMPARE(testsupport::scalar(
                     "SELECT group_concat(Name || '|' || ifnull(Phone, '') || '|' || ifnull(Note, ''), "
                     "';') FROM Person WHERE Phone <> '' OR Note <> ''")
                     .toString(),
                 QStringLiteral("乙|138001|第二次"));
    }

    void deleteAsksAndKeepsResults()
    {
        for (int i = 1; i <= 5; ++i)
            addPersonRow(QStringLiteral("人%1").arg(i), QString::number(i));
        QSqlQuery q;
        QVERIFY(q.exec("INSERT INTO Result (UID, Name) VALUES ('5', '人5')"));
        QVERIFY(q.exec("INSERT INTO ResultFIT (UID, Name) VALUES ('4', '人4')"));
        MainWindow w;
        withRegistry(w, [&](PersonRegistryDlg *d) {
            QCOMPARE(boxOf([d] { d->deletePerson(); }).text, QStringLiteral("没有所选用户！"));
            for (const auto answer : {QMessageBox::No, QMessageBox::Yes}) {
                d->view()->clearSelection();
                for (int row : {0, 1, 3})
                    d->view()->selectionModel()->select(
                        d->model()->index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
                QCOMPARE(boxOf([d] { d->deletePerson(); }, answer).text,
                         QStringLiteral("确定删除所选的 3 位用户吗？\n其测试结果会保留。"));
                if (answer == QMessageBox::No) {
                    QCOMPARE(count("SELECT count(*) FROM Person"), 5);
                    QVERIFY(!d->model()->isDirty());
                }
            }
            QCOMPARE(rowsOf(d->model(), {3}), QStringList({"人3", "人1"}));
            // One person is named; the form no longer shows him afterwards.
            d->view()->selectRow(0);
            QCOMPARE(d->nameEdit()->text(), QStringLiteral("人3"));
            QCOMPARE(boxOf([d] { d->deletePerson(); }, QMessageBox::Yes).text,
                     QStringLiteral("确定删除用户“人3”（用户编号 3）吗？\n其测试结果会保留。"));
            QVERIFY(d->nameEdit()->text().isEmpty() && d->uidEdit()->text().isEmpty());
        });
        QCOMPARE(count("SELECT count(*) FROM Person"), 1);
        // Their results stay.
        QCOMPARE(count("SELECT count(*) FROM Result") + count("SELECT count(*) FROM ResultFIT"), 2);
    }

    void searchByNamePrefix()
    {
        for (const char *name : {"张三", "张四", "李张", "O'Brien", "a_b", "axb"})
            addPersonRow(name, "u");
        addPersonRow("学号者", "2024017");
        QVERIFY(QSqlQuery().exec("INSERT INTO Person (UID) VALUES ('nameless')"));
        MainWindow w;
        withRegistry(w, [&](PersonRegistryDlg *d) {
            const auto search = [&](const QString &text) {
                edit(d, "searchEdit")->setText(text);
                d->searchPerson2();
                QStringList found = rowsOf(d->model(), {3});
                found.sort();
                return found;
            };
            d->view()->selectRow(d->model()->rowCount() - 1); // 张三, the oldest
            QCOMPARE(search("张"), QStringList({"张三", "张四"}));
            QCOMPARE(d->nameEdit()->text(), QStringLiteral("张三")); // the form stays on the chosen person
            QCOMPARE(search("O'"), QStringList{"O'Brien"});
            QCOMPARE(search("a_"), QStringList{"a_b"});
            QCOMPARE(search("' OR '1'='1"), QStringList());
            QCOMPARE(search("2024"), QStringList{"学号者"}); // by the user number too
            // Empty text: everyone; the refresh lists every row.
            QCOMPARE(search(QString()).size(), 8);
            w.refreshPerson();
            QCOMPARE(d->model()->rowCount(), 8);
        });
        QCOMPARE(count("SELECT count(*) FROM Person"), 8);
    }
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

    // Every list header over its own column, on the main page, in both list
    // dialogs and in their search results: one row whose values are all
    // distinct, compared whole. A segment header names its segment and its
    // quantity; the others are looked up in the table below.
    void headersSitOverTheirColumns()
    {
        // clang-format off
        const QString whole = QStringLiteral(
            "用户编号=UID 测试编号=TestID 姓名=Name 用户姓名=Name 出生年份=BirthYear 性别=Sex 测试日期=TestDate "
            "身高(cm)=Height 身高(厘米)=Height 体重(kg)=Weight 体重=Weight 总水分(kg)=Water 脂肪(kg)=Fat "
            "体脂率(%)=PBF 骨质(kg)=Bone 蛋白质(kg)=Protein 肌肉(kg)=Muscle 体质指数(BMI)=BMI 身体年龄=Body_age "
            "体型判定=BodyType 健康评分=Score 水肿系数=Edema 握力(公斤)=WOLI 肺活量=FHL 坐位体前屈=TQQ "
            "台阶指数=TZ 仰卧起坐=YWQZ 选择反应时=FYS 俯卧撑=FWC 闭眼单脚站=BYDJ 纵跳=ZT 立定跳远=TY");
        const QStringList segments = {"左上肢=LA", "右上肢=RA", "躯干=TR", "左下肢=LL", "右下肢=RL"};
        const QStringList quantities = {"水肿系数=edema", "细胞外液=ECW", "肌肉=muscle", "脂肪=fat", "水分=water"};
        // clang-format on
        QHash<QString, QString> columnOf;
        for (const QString &pair : whole.split(' '))
            columnOf[pair.section('=', 0, 0)] = pair.section('=', 1);
        const auto column = [&](const QString &header) {
            for (const QString &seg : segments) {
                if (!header.startsWith(seg.section('=', 0, 0)))
                    continue;
                for (const QString &q : quantities) {
                    if (header.endsWith(q.section('=', 0, 0)))
                        return seg.section('=', 1) + '_' + q.section('=', 1);
                }
            }
            return columnOf.value(header, "?" + header);
        };
        // A distinct value in every column of both tables; the sex shows as a word.
        QHash<QString, QString> shown{{"UID", "U-7"},
                                      {"Name", "甲乙"},
                                      {"Sex", "女"},
                                      {"TestDate", "2026-01-02"},
                                      {"BodyType", "肥胖型"}};
        const auto insertRow = [&shown](const QString &table) {
            QStringList names;
            QVariantList values;
            const QSqlRecord record = QSqlDatabase::database().record(table);
            for (int i = 0; i < record.count(); ++i) {
                const QString name = record.fieldName(i);
                if (name == QLatin1String("TestID"))
                    continue;
                const QString text = shown.value(name, QString::number(100 + 3 * i) + ".5");
                shown.insert(name, text);
                names << name;
                values << (name == QLatin1String("Sex") ? QStringLiteral("2") : text);
            }
            return outputcheck::insertRow(table, names.join(','), values);
        };
        const int bca = insertRow(QStringLiteral("Result"));
        const int fit = insertRow(QStringLiteral("ResultFIT"));
        QVERIFY(bca > 0 && fit > 0);
        const auto row = [&](QAbstractItemModel *model, int testId) {
            QStringList got, expected;
            for (int c = 0; c < model->columnCount(); ++c) {
                const QString header = model->headerData(c, Qt::Horizontal).toString();
                got << header + '=' + model->index(0, c).data().toString();
                const QString col = column(header);
                expected << header + '=' +
                                (col == QLatin1String("TestID") ? QString::number(testId)
                                                                : shown.value(col, "?" + col));
            }
            QCOMPARE(got.join(' '), expected.join(' '));
        };
        MainWindow w;
        row(w.fitModel(), fit);
        QCOMPARE(w.fitModel()->columnCount(), 16);
        for (const bool fitness : {false, true}) {
            withList([&] { fitness ? w.dataListFit() : w.dataList(); },
                     [&](ResultListDlg *dialog) {
                         QAbstractItemModel *model = dialog->view()->model();
                         QCOMPARE(model->columnCount(), fitness ? 16 : 44);
                         row(model, fitness ? fit : bca);
                         dialog->searchEdit()->setText("甲");
                         dialog->searchButton()->click();
                         row(dialog->view()->model(), fitness ? fit : bca);
                     });
        }
    }

    // The chosen fitness row stays chosen when a new result arrives and moves
    // it down, and when a result of another row changes in place.
    void chosenFitnessRowStaysWhenAResultArrives()
    {
        const int first = insertFit("张三", "u1");
        const int second = insertFit("李四", "u2");
        insertFit("王五", "u3");
        MainWindow w;
        const auto chosen = [&w] {
            const QModelIndex i = w.fitTable()->currentIndex();
            return QStringLiteral("row %1 test %2 field %3")
                .arg(i.row())
                .arg(w.fitModel()->index(i.row(), 1).data().toString(), w.fitTestIdEdit()->text());
        };
        w.fitTable()->setCurrentIndex(w.fitModel()->index(1, 2));
        QCOMPARE(chosen(), QStringLiteral("row 1 test %1 field %1").arg(second));
        insertFit("赵六", "u4");
        emit w.fitRecorded();
        QCOMPARE(chosen(), QStringLiteral("row 2 test %1 field %1").arg(second));
        QVERIFY(
            QSqlQuery().exec(QStringLiteral("UPDATE ResultFIT SET WOLI = 44 WHERE TestID = %1").arg(first)));
        emit w.fitRecorded();
        QCOMPARE(chosen(), QStringLiteral("row 2 test %1 field %1").arg(second));
    }

    // "查看详情" puts the chosen test on the main window's page (detail table
    // or fitness row) and closes the list, which would hide that page.
    void viewOnPageShowsTheChosenTest()
    {
        const int older = insertResult("张三", "u1", 61.25);
        const int gone = insertResult("李四", "u2", 70);
        const int newest = insertResult("王五", "u3", 80.04);
        const int olderFit = insertFit("张三", "u1");
        insertFit("王五", "u3");
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
        const auto viewOnPage = [&w](bool fitness, int row, const QString &typed = QString()) {
            withList([&] { fitness ? w.dataListFit() : w.dataList(); },
                     [&](ResultListDlg *dialog) {
                         dialog->view()->selectRow(row);
                         if (!typed.isNull())
                             dialog->testIdEdit()->setText(typed);
                         dialog->viewButton()->click();
                         QVERIFY(!dialog->isVisible());
                     });
        };
        viewOnPage(false, 2);
        QCOMPARE(detail(), QStringLiteral("%1|%1|张三|61.3").arg(older));
        QCOMPARE(w.pages()->currentIndex(), 1);
        viewOnPage(false, 0);
        QCOMPARE(detail(), QStringLiteral("%1|%1|王五|80.0").arg(newest));
        QVERIFY(QSqlQuery().exec(QStringLiteral("DELETE FROM Result WHERE TestID=%1").arg(gone)));
        viewOnPage(false, 0, QString::number(gone));
        QCOMPARE(detail(), QStringLiteral("%1|||0.0").arg(gone));
        viewOnPage(true, 1);
        QCOMPARE(w.pages()->currentIndex(), 0);
        QCOMPARE(w.fitTestIdEdit()->text(), QString::number(olderFit));
    }

    // Both lists open the chosen test's report with their own sheet, from the
    // button or a double-click.
    void reportsOpenFromBothLists()
    {
        const int older = insertFit("张三", "u1");
        insertFit("李四", "u2");
        const int bca = insertResult("王五", "u3");
        insertResult("赵六", "u4");
        MainWindow w;
        const auto preview = [](ResultListDlg *dialog, const std::function<void()> &open) {
            QString title = QStringLiteral("(no preview)");
            testsupport::withModal([dialog](QWidget *m) { return m != dialog; }, open,
                                   [&title](QWidget *m) { title = m->windowTitle(); });
            return title;
        };
        withList([&] { w.dataListFit(); },
                 [&](ResultListDlg *dialog) {
                     dialog->view()->selectRow(1);
                     global::sheetTag = QStringLiteral("TQ-20");
                     QCOMPARE(preview(dialog, [dialog] { dialog->reportButton()->click(); }),
                              QStringLiteral("机能评定报告"));
                     QCOMPARE(global::currentTestID, older);
                     QCOMPARE(global::sheetTag, QStringLiteral("FITreport"));
                 });
        withList([&] { w.dataList(); },
                 [&](ResultListDlg *dialog) {
                     QCOMPARE(preview(dialog,
                                      [dialog] {
                                          emit dialog->view()->doubleClicked(
                                              dialog->view()->model()->index(1, 3));
                                      }),
                              QStringLiteral("体成分分析报告"));
                     QCOMPARE(global::currentTestID, bca);
                     QCOMPARE(w.bcaTable()->item(1, 1)->text(), QString::number(bca));
                     QCOMPARE(global::sheetTag, QStringLiteral("TQ-40"));
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
                     // One test is named with its person.
                     dialog->view()->selectRow(1);
                     QCOMPARE(boxOf([&] { dialog->deleteButton()->click(); }, QMessageBox::No).text,
                              QStringLiteral("确定删除测试编号 %1（人2）的记录吗？").arg(ids.at(3)));
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
                     const QStringList texts =
                         boxOf([dialog] { dialog->deleteButton()->click(); }, QMessageBox::Yes).texts;
                     QCOMPARE(texts.value(0), QStringLiteral("确定删除所选的 3 条记录吗？"));
                     QVERIFY2(texts.value(1).startsWith(QStringLiteral("删除记录出错！\nlocked")),
                              qPrintable(texts.join('|')));
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
        QMap<QString, int> newest; // by user number
        for (const auto &person : {std::pair<const char *, const char *>{"王", "7"}, {"王飞", "8"}}) {
            QVERIFY(testsupport::addPerson(person.second, person.first, "1", 1990));
            QVERIFY(insertResult(person.first, person.second) > 0);
            newest[person.second] = insertResult(person.first, person.second);
            QVERIFY(newest[person.second] > 0);
            QVERIFY(insertFit(person.first, person.second) > 0);
        }
        const QString mine = uid + QLatin1Char('|') + name + QStringLiteral("|男"); // UID, name, shown sex
        MainWindow w;
        bool opened = false;
        withRegistry(w, [&](PersonRegistryDlg *registry) {
            registry->view()->selectRow(rowsOf(registry->model(), {3}).indexOf(name));
            withList([&] { emit registry->personResultsRequested(); },
                     [&](ResultListDlg *dialog) {
                         opened = true;
                         const auto rows = [dialog] { return rowsOf(dialog->view()->model(), {0, 2, 4}); };
                         QCOMPARE(rows(), QStringList({mine, mine}));
                         // No row clicked: the person's newest test is the one acted on.
                         QCOMPARE(dialog->chosenTestId(), newest.value(uid));
                         clickDelete(dialog, {0}, QMessageBox::Yes);
                         QCOMPARE(rows(), QStringList{mine});
                         dialog->backButton()->click();
                         QCOMPARE(rows(), QStringList{mine});
                         dialog->searchEdit()->setText("王");
                         dialog->searchButton()->click();
                         QCOMPARE(rows(), QStringList{mine});
                         // The second tab: the person's fitness results.
                         dialog->tableTabs()->setCurrentIndex(1);
                         QCOMPARE(rowsOf(dialog->view()->model(), {0, 2}), QStringList{uid + '|' + name});
                         QCOMPARE(dialog->view()->model()->headerData(6, Qt::Horizontal).toString(),
                                  QStringLiteral("握力(公斤)"));
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
                     QCOMPARE(boxOf([&] { dialog->uploadButton()->click(); }).texts,
                              QStringList{"请先选择测试记录!"});
                 });
    }
};

QTEST_MAIN(TestRegistry)
#include "tst_registry.moc"
