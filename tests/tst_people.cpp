// Person registry through the real dialog on a scratch database: a new entry
// (checked, a refused insert reported, never overwriting the chosen person,
// the form staying on it once saved), editing, deleting with both answers,
// and the name search with quotes and wildcards.
#include "app/mainwindow.h"
#include "people/personmodel.h"
#include "testsupport.h"

#include <QDataWidgetMapper>
#include <QLineEdit>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

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

QStringList names(PersonRegistryDlg *d)
{
    QStringList values;
    for (int row = 0; row < d->model()->rowCount(); ++row)
        values << d->model()->index(row, 3).data().toString();
    return values;
}

void addPersonRow(const QString &name, const QString &uid)
{
    QSqlQuery q;
    q.prepare(QStringLiteral("INSERT INTO Person (UUID, UID, Name, Sex, BirthYear, Height) "
                             "VALUES ('U0001', ?, ?, '1', 1980, 175)"));
    q.addBindValue(uid);
    q.addBindValue(name);
    QVERIFY(q.exec());
}

// The rows of Person that |where| selects, as "UID|Name|Sex|BirthYear|Height|Phone|Note;...".
QString personText(const QString &where)
{
    return testsupport::scalar("SELECT group_concat(UID || '|' || Name || '|' || Sex || '|' || BirthYear || "
                               "'|' || Height || '|' || ifnull(Phone, '') || '|' || ifnull(Note, ''), ';') "
                               "FROM Person WHERE " +
                               where)
        .toString();
}
} // namespace

class TestPeople : public QObject
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
            // Each missing field in turn, in the order they are checked.
            d->uidEdit()->setText("11");
            QCOMPARE(save(d).text, QStringLiteral("姓名不得为空！"));
            d->uidEdit()->clear();
            d->nameEdit()->setText("拒绝");
            QCOMPARE(save(d).text, QStringLiteral("用户编号不得为空！"));
            // A refused insert is reported; the typed values stay, nothing is pending.
            d->uidEdit()->setText("11");
            const testsupport::BoxSeen refused = save(d);
            QCOMPARE(refused.icon, QMessageBox::Warning);
            QVERIFY2(refused.text.startsWith(QStringLiteral("数据库错误: ")) &&
                         refused.text.contains("refused"),
                     qPrintable(refused.text));
            QCOMPARE(w.personEntryFlag(), 1);
            QCOMPARE(d->nameEdit()->text(), QStringLiteral("拒绝"));
            QVERIFY(!d->model()->isDirty());
            // Saved: a second person with the same user number, newest first,
            // and the form stays on it, so a further save edits it in place.
            d->nameEdit()->setText("新来的人");
            QVERIFY(!save(d).seen);
            QCOMPARE(w.personEntryFlag(), 0);
            QCOMPARE(names(d), QStringList({"新来的人", "原来的人"}));
            edit(d, "noteEdit")->setText("补充");
            QCOMPARE(save(d).text, QStringLiteral("数据已更新！"));
        });
        // The defaults of a new entry: a man born 1990, 170 cm.
        QCOMPARE(personText("UID = '11' ORDER BY ID"),
                 QStringLiteral("11|原来的人|1|1980|175||;11|新来的人|1|1990|170||补充"));
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
        QCOMPARE(personText("Phone <> '' OR Note <> ''"), QStringLiteral("乙|乙|1|1980|175|138001|第二次"));
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
                         QStringLiteral("你确定删除所选用户吗？"));
                if (answer == QMessageBox::No) {
                    QCOMPARE(count("SELECT count(*) FROM Person"), 5);
                    QVERIFY(!d->model()->isDirty());
                }
            }
            QCOMPARE(names(d), QStringList({"人3", "人1"}));
        });
        QCOMPARE(count("SELECT count(*) FROM Person"), 2);
        // Their results stay.
        QCOMPARE(count("SELECT count(*) FROM Result") + count("SELECT count(*) FROM ResultFIT"), 2);
    }

    void searchByNamePrefix()
    {
        for (const char *name : {"张三", "张四", "李张", "O'Brien", "100%纯", "100x纯", "a_b", "axb"})
            addPersonRow(name, "u");
        QVERIFY(QSqlQuery().exec("INSERT INTO Person (UID) VALUES ('nameless')"));
        MainWindow w;
        withRegistry(w, [&](PersonRegistryDlg *d) {
            const auto search = [&](const QString &text) {
                edit(d, "searchEdit")->setText(text);
                testsupport::buttonIn(d, QStringLiteral("搜索"))->click();
                QStringList found = names(d);
                found.sort();
                return found;
            };
            d->view()->selectRow(d->model()->rowCount() - 1); // 张三, the oldest
            QCOMPARE(search("张"), QStringList({"张三", "张四"}));
            QCOMPARE(d->nameEdit()->text(), QStringLiteral("张三")); // the form stays on the chosen person
            QCOMPARE(search("O'"), QStringList{"O'Brien"});
            QCOMPARE(search("100%"), QStringList{"100%纯"});
            QCOMPARE(search("a_"), QStringList{"a_b"});
            QCOMPARE(search("' OR '1'='1"), QStringList());
            QCOMPARE(search("'; DELETE FROM Person; --"), QStringList());
            // Empty text: everyone with a name; the refresh lists every row.
            QCOMPARE(search(QString()).size(), 8);
            w.refreshPerson();
            QCOMPARE(d->model()->rowCount(), 9);
        });
        QCOMPARE(count("SELECT count(*) FROM Person"), 9);
    }
};

QTEST_MAIN(TestPeople)
#include "tst_people.moc"
