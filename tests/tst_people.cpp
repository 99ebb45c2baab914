// Person registry through the real dialog on a scratch database: layout and
// model, adding with the defaults, duplicate user numbers, the checks of a
// new entry (which must never overwrite the selected person), editing,
// deleting with both answers, the name search with quotes, and the import
// button refreshing the open list.
#include "app/mainwindow.h"
#include "testsupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDataWidgetMapper>
#include <QDialog>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QSqlQuery>
#include <QSqlTableModel>
#include <QTableView>
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

// Runs |body| once a modal widget accepted by |wanted| is up; gives up after
// 10 s and rejects whatever modal is open then.
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

bool isMessageBox(QWidget *w)
{
    return qobject_cast<QMessageBox *>(w) != nullptr;
}

struct BoxSeen
{
    bool seen = false;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString title;
    QString text;
    QMessageBox::StandardButtons buttons;
};

// Answers the next message box with |answer| (or its first button) and records it.
QPointer<QTimer> answerBox(QMessageBox::StandardButton answer, BoxSeen *seen)
{
    return whenModal(isMessageBox, [answer, seen](QWidget *w) {
        auto *box = static_cast<QMessageBox *>(w);
        seen->seen = true;
        seen->icon = box->icon();
        seen->title = box->windowTitle();
        seen->text = box->text();
        seen->buttons = box->standardButtons();
        if (QAbstractButton *b = box->button(answer))
            b->click();
        else
            box->buttons().first()->click();
    });
}

// Runs |action| and returns the message box it showed (closed with OK).
BoxSeen boxOf(const std::function<void()> &action)
{
    BoxSeen seen;
    QPointer<QTimer> watcher = answerBox(QMessageBox::Ok, &seen);
    action();
    if (watcher) { // no box came
        watcher->stop();
        watcher->deleteLater();
    }
    return seen;
}

// Everything of the open registry a test touches.
struct Registry
{
    QDialog *dialog = nullptr;
    QTableView *view = nullptr;
    QSqlTableModel *model = nullptr;
    QLineEdit *search = nullptr;
    QLineEdit *uid = nullptr;
    QLineEdit *name = nullptr;
    QComboBox *sex = nullptr;
    QSpinBox *birthYear = nullptr;
    QSpinBox *height = nullptr;
    QLineEdit *phone = nullptr;
    QLineEdit *note = nullptr;

    QPushButton *button(const QString &text) const
    {
        for (QPushButton *b : dialog->findChildren<QPushButton *>()) {
            if (b->text() == text)
                return b;
        }
        return nullptr;
    }
    void click(const QString &text) const
    {
        QPushButton *b = button(text);
        QVERIFY2(b, qPrintable(text));
        b->click();
    }
    QString cell(int row, int column) const { return model->index(row, column).data().toString(); }
    int mapperRow() const { return dialog->findChild<QDataWidgetMapper *>()->currentIndex(); }
};

// Opens the registry of |w|, runs |body| on it and closes it.
void withRegistry(MainWindow &w, const std::function<void(const Registry &)> &body)
{
    bool ran = false;
    whenModal([](QWidget *d) { return d->windowTitle() == QStringLiteral("用户列表"); },
              [&](QWidget *d) {
                  ran = true;
                  Registry r;
                  r.dialog = static_cast<QDialog *>(d);
                  r.view = d->findChild<QTableView *>(QStringLiteral("personView"));
                  r.model = qobject_cast<QSqlTableModel *>(r.view->model());
                  r.search = d->findChild<QLineEdit *>(QStringLiteral("searchEdit"));
                  r.uid = d->findChild<QLineEdit *>(QStringLiteral("uidEdit"));
                  r.name = d->findChild<QLineEdit *>(QStringLiteral("nameEdit"));
                  r.sex = d->findChild<QComboBox *>(QStringLiteral("sexCombo"));
                  r.birthYear = d->findChild<QSpinBox *>(QStringLiteral("birthYearSpin"));
                  r.height = d->findChild<QSpinBox *>(QStringLiteral("heightSpin"));
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

int count(const QString &sql)
{
    return testsupport::scalar(sql).toInt();
}

QStringList column(const Registry &r, int col)
{
    QStringList values;
    for (int row = 0; row < r.model->rowCount(); ++row)
        values << r.cell(row, col);
    return values;
}
} // namespace

class TestPeople : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void addWithDefaultsShowsAtTop();
    void sameUserNumberTwice();
    void failedCheckKeepsNewEntryMode();
    void failedInsertIsReported();
    void editPhoneAndReopen();
    void deleteAsksAndKeepsResults();
    void searchByNamePrefix();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestPeople::initTestCase()
{
    g_previousHandler = qInstallMessageHandler(captureLog);
}

void TestPeople::cleanupTestCase()
{
    qInstallMessageHandler(g_previousHandler);
}

void TestPeople::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(testsupport::startProcessOn(m_dir->filePath(QStringLiteral("maindb.db"))));
    g_log.clear();
}

void TestPeople::cleanup()
{
    releaseProcessState();
}

void TestPeople::addWithDefaultsShowsAtTop()
{
    addPersonRow(QStringLiteral("老人"), QStringLiteral("1"));
    MainWindow w;
    withRegistry(w, [&](const Registry &r) {
        r.name->setText(QStringLiteral("变了"));
        r.phone->setText(QStringLiteral("1"));
        r.click(QStringLiteral("增加人员+"));
        QCOMPARE(w.personEntryFlag(), 1);
        QVERIFY(r.name->text().isEmpty());
        QVERIFY(r.uid->text().isEmpty());
        QVERIFY(r.phone->text().isEmpty());
        QCOMPARE(r.sex->currentText(), QStringLiteral("1"));
        QCOMPARE(r.birthYear->value(), 1990);
        QCOMPARE(r.height->value(), 170);

        r.uid->setText(QStringLiteral("0042"));
        r.name->setText(QStringLiteral("王新"));
        const BoxSeen box = boxOf([&] { r.click(QStringLiteral("保存")); });
        QVERIFY2(!box.seen, qPrintable(box.text));
        QCOMPARE(w.personEntryFlag(), 0);
        QCOMPARE(r.model->rowCount(), 2);
        QCOMPARE(r.cell(0, 3), QStringLiteral("王新"));
        QCOMPARE(r.mapperRow(), 0);
        // The form stays on the new person: a further save edits it in place.
        r.note->setText(QStringLiteral("补充"));
        const BoxSeen again = boxOf([&] { r.click(QStringLiteral("保存")); });
        QCOMPARE(again.text, QStringLiteral("数据已更新！"));
    });
    QSqlQuery q(QStringLiteral("SELECT UUID, UID, Name, Sex, BirthYear, Height, Phone, Note FROM Person "
                               "WHERE Name = '王新'"));
    QVERIFY(q.next());
    QCOMPARE(q.value(0).toString(), QStringLiteral("U0001"));
    QCOMPARE(q.value(1).toString(), QStringLiteral("0042"));
    QCOMPARE(q.value(3).toString(), QStringLiteral("1"));
    QCOMPARE(q.value(4).toInt(), 1990);
    QCOMPARE(q.value(5).toInt(), 170);
    QCOMPARE(q.value(7).toString(), QStringLiteral("补充"));
    QVERIFY(!q.next());
    QCOMPARE(count(QStringLiteral("SELECT count(*) FROM Person WHERE Name = '老人'")), 1);
}

void TestPeople::sameUserNumberTwice()
{
    MainWindow w;
    withRegistry(w, [&](const Registry &r) {
        QCOMPARE(r.mapperRow(), -1); // empty register
        for (const QString &name : {QStringLiteral("甲"), QStringLiteral("乙")}) {
            r.click(QStringLiteral("增加人员+"));
            r.uid->setText(QStringLiteral("7"));
            r.name->setText(name);
            QVERIFY(!boxOf([&] { r.click(QStringLiteral("保存")); }).seen);
        }
        QCOMPARE(column(r, 3), (QStringList{QStringLiteral("乙"), QStringLiteral("甲")}));
    });
    QCOMPARE(count(QStringLiteral("SELECT count(*) FROM Person WHERE UID = '7'")), 2);
}

void TestPeople::failedCheckKeepsNewEntryMode()
{
    const int chosen = addPersonRow(QStringLiteral("原来的人"), QStringLiteral("11"), QStringLiteral("555"));
    MainWindow w;
    withRegistry(w, [&](const Registry &r) {
        r.view->selectRow(0);
        QCOMPARE(r.name->text(), QStringLiteral("原来的人"));
        r.click(QStringLiteral("增加人员+"));

        // Each missing field in turn, in the order they are checked.
        r.uid->setText(QStringLiteral("12"));
        BoxSeen box = boxOf([&] { r.click(QStringLiteral("保存")); });
        QCOMPARE(box.text, QStringLiteral("姓名不得为空！"));
        QCOMPARE(w.personEntryFlag(), 1);
        r.uid->clear();
        r.name->setText(QStringLiteral("新来的人"));
        box = boxOf([&] { r.click(QStringLiteral("保存")); });
        QCOMPARE(box.text, QStringLiteral("用户编号不得为空！"));
        QCOMPARE(w.personEntryFlag(), 1);
        QCOMPARE(count(QStringLiteral("SELECT count(*) FROM Person")), 1);

        // Corrected and saved again: a new row, the selected person untouched.
        r.uid->setText(QStringLiteral("12"));
        QVERIFY(!boxOf([&] { r.click(QStringLiteral("保存")); }).seen);
        QCOMPARE(w.personEntryFlag(), 0);
    });
    QCOMPARE(count(QStringLiteral("SELECT count(*) FROM Person")), 2);
    QSqlQuery q;
    q.prepare(QStringLiteral("SELECT Name, UID, Phone FROM Person WHERE ID = ?"));
    q.addBindValue(chosen);
    QVERIFY(q.exec() && q.next());
    QCOMPARE(q.value(0).toString(), QStringLiteral("原来的人"));
    QCOMPARE(q.value(1).toString(), QStringLiteral("11"));
    QCOMPARE(q.value(2).toString(), QStringLiteral("555"));
    QCOMPARE(count(QStringLiteral("SELECT count(*) FROM Person WHERE Name = '新来的人' AND UID = '12'")), 1);
}

void TestPeople::failedInsertIsReported()
{
    QSqlQuery q;
    QVERIFY(q.exec(QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON Person WHEN new.Name = '拒绝' "
                                  "BEGIN SELECT RAISE(ABORT, 'person refused'); END")));
    MainWindow w;
    withRegistry(w, [&](const Registry &r) {
        r.click(QStringLiteral("增加人员+"));
        r.uid->setText(QStringLiteral("1"));
        r.name->setText(QStringLiteral("拒绝"));
        const BoxSeen box = boxOf([&] { r.click(QStringLiteral("保存")); });
        QVERIFY(box.seen);
        QCOMPARE(box.icon, QMessageBox::Warning);
        QCOMPARE(box.title, QStringLiteral("人员数据"));
        QVERIFY2(box.text.startsWith(QStringLiteral("数据库错误: ")), qPrintable(box.text));
        QVERIFY(box.text.contains(QStringLiteral("person refused")));
        // Still a new entry with the typed values; nothing pending in the list.
        QCOMPARE(w.personEntryFlag(), 1);
        QCOMPARE(r.name->text(), QStringLiteral("拒绝"));
        QCOMPARE(r.model->rowCount(), 0);
        QVERIFY(!r.model->isDirty());

        r.name->setText(QStringLiteral("接受"));
        QVERIFY(!boxOf([&] { r.click(QStringLiteral("保存")); }).seen);
        QCOMPARE(r.model->rowCount(), 1);
    });
    QCOMPARE(count(QStringLiteral("SELECT count(*) FROM Person")), 1);
}

void TestPeople::editPhoneAndReopen()
{
    addPersonRow(QStringLiteral("甲"), QStringLiteral("1"));
    const int id = addPersonRow(QStringLiteral("乙"), QStringLiteral("2"));
    addPersonRow(QStringLiteral("丙"), QStringLiteral("3"));
    MainWindow w;
    withRegistry(w, [&](const Registry &r) {
        r.view->selectRow(1);
        QCOMPARE(r.name->text(), QStringLiteral("乙"));
        r.phone->clear();
        QTest::keyClicks(r.phone, QStringLiteral("138a0-0b1"));
        QCOMPARE(r.phone->text(), QStringLiteral("138001")); // only digits get in
        BoxSeen box = boxOf([&] { r.click(QStringLiteral("保存")); });
        QCOMPARE(box.text, QStringLiteral("数据已更新！"));
        // Still on the same person after the model was written and reselected.
        QCOMPARE(r.mapperRow(), 1);
        QCOMPARE(r.name->text(), QStringLiteral("乙"));
        r.note->setText(QStringLiteral("第二次"));
        box = boxOf([&] { r.click(QStringLiteral("保存")); });
        QCOMPARE(box.text, QStringLiteral("数据已更新！"));
    });
    withRegistry(w, [&](const Registry &r) {
        r.view->selectRow(1);
        QCOMPARE(r.phone->text(), QStringLiteral("138001"));
        QCOMPARE(r.note->text(), QStringLiteral("第二次"));
    });
    QSqlQuery q;
    q.prepare(QStringLiteral("SELECT Phone, Name FROM Person WHERE ID = ?"));
    q.addBindValue(id);
    QVERIFY(q.exec() && q.next());
    QCOMPARE(q.value(0).toString(), QStringLiteral("138001"));
    QCOMPARE(q.value(1).toString(), QStringLiteral("乙"));
    QCOMPARE(count(QStringLiteral("SELECT count(*) FROM Person WHERE Note IS NOT NULL AND Note <> ''")), 1);
}

void TestPeople::deleteAsksAndKeepsResults()
{
    QList<int> ids;
    for (int i = 1; i <= 5; ++i)
        ids << addPersonRow(QStringLiteral("人%1").arg(i), QString::number(i));
    QSqlQuery q;
    QVERIFY(q.exec(
        QStringLiteral("INSERT INTO Result (UUID, UID, Name, Sex, BirthYear, TestDate, Height, Weight) "
                       "VALUES ('U0001', '5', '人5', '1', 1980, '2024-05-01', 175, 70)")));
    QVERIFY(
        q.exec(QStringLiteral("INSERT INTO ResultFIT (UID, Name, Sex, BirthYear, TestDate, Height, Weight) "
                              "VALUES ('4', '人4', '1', 1980, '2024-05-01', 175, 70)")));
    MainWindow w;
    withRegistry(w, [&](const Registry &r) {
        // Nothing selected.
        BoxSeen box = boxOf([&] { r.click(QStringLiteral("删除人员")); });
        QCOMPARE(box.title, QStringLiteral("警告"));
        QCOMPARE(box.text, QStringLiteral("没有所选用户！"));
        QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Cancel));

        const auto selectThree = [&] {
            r.view->clearSelection();
            for (int row : {0, 1, 3})
                r.view->selectionModel()->select(r.model->index(row, 0),
                                                 QItemSelectionModel::Select | QItemSelectionModel::Rows);
        };
        selectThree();
        BoxSeen ask;
        answerBox(QMessageBox::No, &ask);
        r.click(QStringLiteral("删除人员"));
        QCOMPARE(ask.title, QStringLiteral("删除用户"));
        QCOMPARE(ask.text, QStringLiteral("你确定删除所选用户吗？"));
        QCOMPARE(ask.buttons, QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(count(QStringLiteral("SELECT count(*) FROM Person")), 5);
        QVERIFY(!r.model->isDirty());
        QCOMPARE(r.model->rowCount(), 5);

        selectThree();
        BoxSeen yes;
        answerBox(QMessageBox::Yes, &yes);
        r.click(QStringLiteral("删除人员"));
        QVERIFY(yes.seen);
        QCOMPARE(column(r, 3), (QStringList{QStringLiteral("人3"), QStringLiteral("人1")}));
    });
    QCOMPARE(count(QStringLiteral("SELECT count(*) FROM Person")), 2);
    QCOMPARE(count(QStringLiteral("SELECT count(*) FROM Person WHERE Name IN ('人5', '人4', '人2')")), 0);
    QCOMPARE(count(QStringLiteral("SELECT count(*) FROM Result")), 1);
    QCOMPARE(count(QStringLiteral("SELECT count(*) FROM ResultFIT")), 1);
    QCOMPARE(logCount(QStringLiteral("refreshPerson function")), 1);
}

void TestPeople::searchByNamePrefix()
{
    for (const char *name : {"张三", "张四", "李张", "O'Brien", "100%纯", "100x纯"})
        addPersonRow(QString::fromUtf8(name), QStringLiteral("u"));
    QSqlQuery nameless;
    QVERIFY(nameless.exec(QStringLiteral("INSERT INTO Person (UID) VALUES ('nameless')")));
    MainWindow w;
    withRegistry(w, [&](const Registry &r) {
        const auto search = [&](const QString &text) {
            r.search->setText(text);
            r.click(QStringLiteral("搜索"));
            QStringList names = column(r, 3);
            names.sort();
            return names;
        };
        r.view->selectRow(r.model->rowCount() - 1); // 张三, the oldest
        QCOMPARE(r.name->text(), QStringLiteral("张三"));
        QCOMPARE(search(QStringLiteral("张")), (QStringList{QStringLiteral("张三"), QStringLiteral("张四")}));
        QCOMPARE(r.mapperRow(), 1);
        QCOMPARE(r.name->text(), QStringLiteral("张三"));
        QCOMPARE(logCount(QStringLiteral("ID:")), 2);
        QCOMPARE(search(QStringLiteral("O'")), QStringList{QStringLiteral("O'Brien")});
        QCOMPARE(search(QStringLiteral("100%")), QStringList{QStringLiteral("100%纯")});
        QCOMPARE(search(QStringLiteral("' OR '1'='1")), QStringList());
        QCOMPARE(search(QStringLiteral("'; DELETE FROM Person; --")), QStringList());
        // Empty text: everyone with a name; the refresh lists every row.
        QCOMPARE(search(QString()).size(), 6);
        w.refreshPerson();
        QCOMPARE(r.model->rowCount(), 7);
        QVERIFY(r.model->filter().isEmpty());
    });
    QCOMPARE(count(QStringLiteral("SELECT count(*) FROM Person")), 7);
}

QTEST_MAIN(TestPeople)
#include "tst_people.moc"
