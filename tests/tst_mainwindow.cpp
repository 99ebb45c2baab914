// Application shell: start-up reads, shared defaults, actions, menus, toolbar
// and the two pages of the main window.
#include "app/mainwindow.h"
#include "app/startup.h"
#include "testsupport.h"

#include <QAction>
#include <QDataWidgetMapper>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSqlQuery>
#include <QSqlQueryModel>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QToolBar>
#include <QtTest>

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void startupReadsSheetAndUnit();
    void startupWithoutDatabaseTables();
    void menusAndToolbar();
    void pagesAndStatusWidgets();
    void fitSelectionFollowsTheHiddenField();
    void chineseStandardButtons_data();
    void chineseStandardButtons(); // last: the translation stays installed

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestMainWindow::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(testsupport::startProcessOn(m_dir->filePath(QStringLiteral("maindb.db"))));
}

void TestMainWindow::cleanup()
{
    releaseProcessState();
}

void TestMainWindow::startupReadsSheetAndUnit()
{
    QSqlQuery q;
    QVERIFY(q.exec(QStringLiteral("UPDATE Report SET Selected = 'TQ-20'")));
    MainWindow w;
    QCOMPARE(global::sheetTag, QStringLiteral("TQ-20"));
    QCOMPARE(w.unitId(), testsupport::scalar(QStringLiteral("SELECT UUID FROM Unit")).toString());
    QCOMPARE(w.windowTitle(), QStringLiteral("体质测试数据采集与管理系统 | Quelmar V2.0"));
    QCOMPARE(w.size(), QSize(1000, 650));
    QCOMPARE(global::currentDataIndex, -1);
    QCOMPARE(global::PCCtrlUID, QStringLiteral("0"));
    QCOMPARE(global::PCCtrlBirthYear, 1980);
    QCOMPARE(global::batchSwitch, QStringLiteral("OFF"));
    QCOMPARE(global::portFlag, QStringLiteral("0"));
    QCOMPARE(global::currentTestID, 0);
}

void TestMainWindow::startupWithoutDatabaseTables()
{
    releaseProcessState();
    initProcessState(m_dir->filePath(QStringLiteral("nothing-here.db")));
    QVERIFY(dbSetupResult);
    MainWindow w;
    QVERIFY(global::sheetTag.isEmpty());
    QVERIFY(w.unitId().isEmpty());
    QCOMPARE(w.fitModel()->rowCount(), 0);
}

void TestMainWindow::menusAndToolbar()
{
    MainWindow w;
    QStringList menus;
    QList<QStringList> entries;
    for (QAction *m : w.menuBar()->actions()) {
        menus << m->text();
        QStringList texts;
        for (QAction *a : m->menu()->actions())
            texts << a->text();
        entries << texts;
    }
    QCOMPARE(menus, QStringList({"&连接与设置", "&数据采集", "&人员信息", "&测量结果", "&说明与帮助"}));
    QCOMPARE(entries.at(0), QStringList({"连接与设置", "连接仪器", "退出"}));
    QCOMPARE(entries.at(1), QStringList({"实时采集模式", "主控测试模式", "通讯调试"}));
    QCOMPARE(entries.at(2), QStringList({"用户列表", "批量导入人员"}));
    QCOMPARE(entries.at(3), QStringList({"体质数据列表", "体成分数据列表", "体成分测试数据导出",
                                         "体测测试数据导出", "数据库备份"}));
    QCOMPARE(entries.at(4), QStringList({"关于", "使用帮助"}));

    QStringList toolbarActions;
    for (QAction *a : w.toolBar()->actions()) {
        if (!w.toolBar()->widgetForAction(a) || !qobject_cast<QLabel *>(w.toolBar()->widgetForAction(a)))
            toolbarActions << (a->text().isEmpty() ? QStringLiteral("<widget>") : a->iconText());
    }
    QCOMPARE(toolbarActions.mid(0, 6), QStringList({"连接与设置", "通讯调试", "人员列表", "体质数据列表",
                                                    "体成分数据列表", "使用帮助"}));
    QVERIFY(toolbarActions.contains(QStringLiteral("连接仪器")));
    QCOMPARE(w.toolBar()->height(), 90);
    QCOMPARE(w.toolBar()->iconSize(), QSize(32, 32));

    // Batch collection is reachable only through its action.
    for (const QStringList &texts : entries)
        QVERIFY(!texts.contains(QStringLiteral("批量采集模式")));
    QVERIFY(!w.toolBar()->actions().contains(w.batchAction()));
    QCOMPARE(w.batchAction()->text(), QStringLiteral("批量采集模式"));
}

void TestMainWindow::pagesAndStatusWidgets()
{
    MainWindow w;
    QCOMPARE(w.stateEdit()->text(), QStringLiteral(" 未连接"));
    QVERIFY(!w.stateIcon()->pixmap(Qt::ReturnByValue).isNull());
    QTableWidget *t = w.bcaTable();
    QCOMPARE(t->rowCount(), 6);
    QCOMPARE(t->columnCount(), 8);
    QCOMPARE(t->item(0, 0)->text(), QStringLiteral("用户编号"));
    QCOMPARE(t->item(5, 6)->text(), QStringLiteral("体型判定"));
    QCOMPARE(t->item(3, 4)->text(), QStringLiteral("蛋白质(kg)"));
    QCOMPARE(t->item(1, 6)->text(), QStringLiteral("基础代谢(kcal)"));
    QVERIFY(!t->item(0, 1));
    QCOMPARE(t->editTriggers(), QAbstractItemView::NoEditTriggers);
    QCOMPARE(w.fitModel()->columnCount(), 16);
    QCOMPARE(w.fitModel()->headerData(6, Qt::Horizontal).toString(), QStringLiteral("握力(公斤)"));
}

void TestMainWindow::fitSelectionFollowsTheHiddenField()
{
    QSqlQuery q;
    for (int i = 0; i < 3; ++i)
        QVERIFY(q.exec(
            QStringLiteral("INSERT INTO ResultFIT (UID, Name, TestDate) VALUES ('u%1', 'n', '2026-01-0%1')")
                .arg(i)));
    MainWindow w;
    QCOMPARE(w.fitModel()->rowCount(), 3);
    // Newest first; the constructor takes the current test from the first row.
    QCOMPARE(w.fitTestIdEdit()->text(), QStringLiteral("3"));
    QCOMPARE(global::currentTestID, 3);
    w.fitTable()->selectRow(2);
    QCOMPARE(w.fitTestIdEdit()->text(), QStringLiteral("1"));
    QCOMPARE(global::currentTestID, 3);
}

void TestMainWindow::chineseStandardButtons_data()
{
    QTest::addColumn<int>("button");
    QTest::addColumn<QString>("text");
    QTest::newRow("Yes") << int(QMessageBox::Yes) << QStringLiteral("是");
    QTest::newRow("No") << int(QMessageBox::No) << QStringLiteral("否");
    QTest::newRow("Ok") << int(QMessageBox::Ok) << QStringLiteral("确定");
    QTest::newRow("Cancel") << int(QMessageBox::Cancel) << QStringLiteral("取消");
}

void TestMainWindow::chineseStandardButtons()
{
    QFETCH(int, button);
    QFETCH(QString, text);
    static const bool installed = installQtChineseTranslation(qApp);
    QVERIFY(installed);
    QMessageBox box;
    box.setStandardButtons(QMessageBox::StandardButton(button));
    QCOMPARE(box.button(QMessageBox::StandardButton(button))
                 ->text()
                 .remove(QLatin1Char('&'))
                 .section(QLatin1Char('('), 0, 0),
             text);
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
