// Person registry through the real dialog on a scratch database: adding with
// the defaults, the checks of a new entry (which must never overwrite the
// selected person), a refused insert, editing, deleting with both answers,
// and the name search with quotes and wildcards.
#include "app/mainwindow.h"
#include "testsupport.h"

#include <QComboBox>
#include <QDataWidgetMapper>
#include <QLineEdit>
#include <QSpinBox>
#include <QSqlTableModel>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

using testsupport::boxOf;
using testsupport::count;

namespace {
// Everything of the open registry a test touches.
struct Registry
{
    QDialog *dialog = nullptr;
    QTableView *view = nullptr;
    QSqlTableModel *model = nullptr;
    QLineEdit *search = nullptr, *uid = nullptr, *name = nullptr, *phone = nullptr, *note = nullptr;

    void click(const QString &text) const
    {
        QPushButton *b = testsupport::buttonIn(dialog, text);
        QVERIFY2(b, qPrintable(text));
        b->click();
    }
    testsupport::BoxSeen save() const
    {
        return boxOf([this] { click(QStringLiteral("保存")); });
    }
    int mapperRow() const { return dialog->findChild<QDataWidgetMapper *>()->currentIndex(); }
    QStringList names() const
    {
        QStringList values;
        for (int row = 0; row < model->rowCount(); ++row)
            values << model->index(row, 3).data().toString();
        return values;
    }
};

// Opens the registry of |w|, runs |body| on it and closes it.
void withRegistry(MainWindow &w, const std::function<void(const Registry &)> &body)
{
    bool ran = false;
    testsupport::whenModal([](QWidget *d) { return d->windowTitle() == QStringLiteral("用户列表"); },
                           [&](QWidget *d) {
                               ran = true;
                               Registry r;
                               r.dialog = static_cast<QDialog *>(d);
                               r.view = d->findChild<QTableView *>(QStringLiteral("personView"));
                               r.model = qobject_cast<QSqlTableModel *>(r.view->model());
                               r.search = d->findChild<QLineEdit *>(QStringLiteral("searchEdit"));
                               r.uid = d->findChild<QLineEdit *>(QStringLiteral("uidEdit"));
                               r.name = d->findChild<QLineEdit *>(QStringLiteral("nameEdit"));
                               r.phone = d->findChild<QLineEdit *>(QStringLiteral("phoneEdit"));
                               r.note = d->findChild<QLineEdit *>(QStringLiteral("noteEdit"));
                               body(r);
                               r.dialog->reject();
                           });
    w.usersList();
    QVERIFY2(ran, "the registry did not open");
}

int addPersonRow(const QString &name, const QString &uid, const QString &phone = QString())
{
    QSqlQuery q;
    q.prepare(QStringLiteral("INSERT INTO Person (UUID, UID, Name, Sex, BirthYear, Height, Phone) "
                             "VALUES ('U0001', ?, ?, '1', 1980, 175, ?)"));
    q.addBindValue(uid);
    q.addBindValue(name);
    q.addBindValue(phone);
    return q.exec() ? q.lastInsertId().toInt() : -1;
}

QString personText(const QString &where)
{
    return testsupport::scalar(QStringLiteral("SELECT group_concat(UUID || '|' || UID || '|' || Name || '|' "
                                              "|| Sex "
                                              "|| '|' || BirthYear || '|' || Height || '|' || ifnull(Phone, "
                                              "'') "
                                              "|| '|' || ifnull(Note, ''), ';') FROM Person WHERE ") +
                               where)
        .toString();
}
} // namespace

class TestPeople : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { g_previousHandler = qInstallMessageHandler(captureLog); }
    void cleanupTestCase() { qInstallMessageHandler(g_previousHandler); }
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(testsupport::startProcessOn(m_dir->filePath(QStringLiteral("maindb.db"))));
    }
    void cleanup() { releaseProcessState(); }

    void addWithDefaultsStaysOnTheNewPerson()
    {
        addPersonRow(QStringLiteral("老人"), QStringLiteral("42"));
        MainWindow w;
        withRegistry(w, [&](const Registry &r) {
            r.view->selectRow(0);
            r.click(QStringLiteral("增加人员+"));
            QCOMPARE(w.personEntryFlag(), 1);
            QVERIFY(r.name->text().isEmpty() && r.uid->text().isEmpty() && r.phone->text().isEmpty());
            // A user number may be registered twice.
            r.uid->setText(QStringLiteral("42"));
            r.name->setText(QStringLiteral("王新"));
            const testsupport::BoxSeen box = r.save();
            QVERIFY2(!box.seen, qPrintable(box.text));
            QCOMPARE(w.personEntryFlag(), 0);
            QCOMPARE(r.names(), QStringList({"王新", "老人"}));
            // The form stays on the new person: a further save edits it in place.
            QCOMPARE(r.mapperRow(), 0);
            r.note->setText(QStringLiteral("补充"));
            QCOMPARE(r.save().text, QStringLiteral("数据已更新！"));
        });
        // The defaults: the unit, a man born 1990, 170 cm.
        QCOMPARE(personText(QStringLiteral("UID = '42' ORDER BY ID")),
                 QStringLiteral("U0001|42|老人|1|1980|175||;U0001|42|王新|1|1990|170||补充"));
    }
    void failedCheckKeepsNewEntryMode()
    {
        const int chosen =
            addPersonRow(QStringLiteral("原来的人"), QStringLiteral("11"), QStringLiteral("555"));
        MainWindow w;
        withRegistry(w, [&](const Registry &r) {
            r.view->selectRow(0);
            QCOMPARE(r.name->text(), QStringLiteral("原来的人"));
            r.click(QStringLiteral("增加人员+"));
            // Each missing field in turn, in the order they are checked.
            r.uid->setText(QStringLiteral("12"));
            QCOMPARE(r.save().text, QStringLiteral("姓名不得为空！"));
            QCOMPARE(w.personEntryFlag(), 1);
            r.uid->clear();
            r.name->setText(QStringLiteral("新来的人"));
            QCOMPARE(r.save().text, QStringLiteral("用户编号不得为空！"));
            QCOMPARE(w.personEntryFlag(), 1);
            QCOMPARE(count(QStringLiteral("SELECT count(*) FROM Person")), 1);
            // Corrected and saved again: a new row, the selected person untouched.
            r.uid->setText(QStringLiteral("12"));
            QVERIFY(!r.save().seen);
        });
        QCOMPARE(personText(QStringLiteral("ID = %1").arg(chosen)),
                 QStringLiteral("U0001|11|原来的人|1|1980|175|555|"));
        QCOMPARE(count(QStringLiteral("SELECT count(*) FROM Person WHERE Name = "
                                      "'新来的人' AND UID = '12'")),
                 1);
    }
    void failedInsertIsReported()
    {
        QVERIFY(QSqlQuery().exec(
            QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON Person WHEN new.Name = '拒绝' "
                           "BEGIN SELECT RAISE(ABORT, 'person refused'); END")));
        MainWindow w;
        withRegistry(w, [&](const Registry &r) {
            r.click(QStringLiteral("增加人员+"));
            r.uid->setText(QStringLiteral("1"));
            r.name->setText(QStringLiteral("拒绝"));
            const testsupport::BoxSeen box = r.save();
            QCOMPARE(box.icon, QMessageBox::Warning);
            QVERIFY2(box.text.startsWith(QStringLiteral("数据库错误: ")) &&
                         box.text.contains("person refused"),
                     qPrintable(box.text));
            // Still a new entry with the typed values; nothing pending in the list.
            QCOMPARE(w.personEntryFlag(), 1);
            QCOMPARE(r.name->text(), QStringLiteral("拒绝"));
            QCOMPARE(r.model->rowCount(), 0);
            QVERIFY(!r.model->isDirty());
            r.name->setText(QStringLiteral("接受"));
            QVERIFY(!r.save().seen);
            QCOMPARE(r.model->rowCount(), 1);
        });
        QCOMPARE(count(QStringLiteral("SELECT count(*) FROM Person")), 1);
    }
    void editStaysOnThePerson()
    {
        addPersonRow(QStringLiteral("甲"), QStringLiteral("1"));
        const int id = addPersonRow(QStringLiteral("乙"), QStringLiteral("2"));
        addPersonRow(QStringLiteral("丙"), QStringLiteral("3"));
        MainWindow w;
        withRegistry(w, [&](const Registry &r) {
            r.view->selectRow(1);
            r.phone->clear();
            QTest::keyClicks(r.phone, QStringLiteral("138a0-0b1"));
            QCOMPARE(r.phone->text(), QStringLiteral("138001")); // only digits get in
            QCOMPARE(r.save().text, QStringLiteral("数据已更新！"));
            // Still on the same person after the model was written and reselected.
            QCOMPARE(r.name->text(), QStringLiteral("乙"));
            r.note->setText(QStringLiteral("第二次"));
            QCOMPARE(r.save().text, QStringLiteral("数据已更新！"));
        });
        QCOMPARE(personText(QStringLiteral("Phone <> '' OR Note <> ''")),
                 QStringLiteral("U0001|2|乙|1|1980|175|138001|第二次"));
        QCOMPARE(personText(QStringLiteral("ID = %1").arg(id)),
                 QStringLiteral("U0001|2|乙|1|1980|175|138001|第二次"));
    }
    void deleteAsksAndKeepsResults()
    {
        for (int i = 1; i <= 5; ++i)
            addPersonRow(QStringLiteral("人%1").arg(i), QString::number(i));
        QSqlQuery q;
        QVERIFY(q.exec(QStringLiteral("INSERT INTO Result (UID, Name) VALUES ('5', '人5')")));
        QVERIFY(q.exec(QStringLiteral("INSERT INTO ResultFIT (UID, Name) VALUES ('4', '人4')")));
        MainWindow w;
        withRegistry(w, [&](const Registry &r) {
            QCOMPARE(boxOf([&] { r.click(QStringLiteral("删除人员")); }).text,
                     QStringLiteral("没有所选用户！"));
            const auto selectThree = [&] {
                r.view->clearSelection();
                for (int row : {0, 1, 3})
                    r.view->selectionModel()->select(r.model->index(row, 0),
                                                     QItemSelectionModel::Select | QItemSelectionModel::Rows);
            };
            selectThree();
            const testsupport::BoxSeen no =
                boxOf([&] { r.click(QStringLiteral("删除人员")); }, QMessageBox::No);
            QCOMPARE(no.text, QStringLiteral("你确定删除所选用户吗？"));
            QCOMPARE(count(QStringLiteral("SELECT count(*) FROM Person")), 5);
            QVERIFY(!r.model->isDirty());
            QCOMPARE(r.model->rowCount(), 5);

            selectThree();
            QVERIFY(boxOf([&] { r.click(QStringLiteral("删除人员")); }, QMessageBox::Yes).seen);
            QCOMPARE(r.names(), QStringList({"人3", "人1"}));
        });
        QCOMPARE(count(QStringLiteral("SELECT count(*) FROM Person")), 2);
        // Their results stay.
        QCOMPARE(count(QStringLiteral("SELECT count(*) FROM Result")) +
                     count("SELECT count(*) FROM ResultFIT"),
                 2);
    }
    void searchByNamePrefix()
    {
        for (const char *name : {"张三", "张四", "李张", "O'Brien", "100%纯", "100x纯", "a_b", "axb"})
            addPersonRow(QString::fromUtf8(name), QStringLiteral("u"));
        QVERIFY(QSqlQuery().exec(QStringLiteral("INSERT INTO Person (UID) VALUES ('nameless')")));
        MainWindow w;
        withRegistry(w, [&](const Registry &r) {
            const auto search = [&](const QString &text) {
                r.search->setText(text);
                r.click(QStringLiteral("搜索"));
                QStringList names = r.names();
                names.sort();
                return names;
            };
            r.view->selectRow(r.model->rowCount() - 1); // 张三, the oldest
            QCOMPARE(search(QStringLiteral("张")), QStringList({"张三", "张四"}));
            QCOMPARE(r.name->text(),
                     QStringLiteral("张三")); // the form stays on the chosen person
            QCOMPARE(search(QStringLiteral("O'")), QStringList{"O'Brien"});
            QCOMPARE(search(QStringLiteral("100%")), QStringList{"100%纯"});
            QCOMPARE(search(QStringLiteral("a_")), QStringList{"a_b"});
            QCOMPARE(search(QStringLiteral("' OR '1'='1")), QStringList());
            QCOMPARE(search(QStringLiteral("'; DELETE FROM Person; --")), QStringList());
            // Empty text: everyone with a name; the refresh lists every row.
            QCOMPARE(search(QString()).size(), 8);
            w.refreshPerson();
            QCOMPARE(r.model->rowCount(), 9);
        });
        QCOMPARE(count(QStringLiteral("SELECT count(*) FROM Person")), 9);
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

QTEST_MAIN(TestPeople)
#include "tst_people.moc"
