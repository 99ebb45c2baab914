// Main window slots of the person registry: the registry dialog with its
// name search, entry form, save and delete, and the import of people from a
// CSV file with a progress dialog and a summary box. Parsing, encoding
// detection and the insert loop live in people/personimport, the escaped
// name filter in people/personsearch.
#include "app/mainwindow.h"

#include "people/personimport.h"
#include "people/personsearch.h"

#include <QComboBox>
#include <QDataWidgetMapper>
#include <QDebug>
#include <QDialog>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QRegExpValidator>
#include <QSpinBox>
#include <QSqlError>
#include <QSqlRecord>
#include <QSqlTableModel>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>

namespace {
QPushButton *formButton(const QString &text, QWidget *parent)
{
    auto *button = new QPushButton(text, parent);
    button->setAutoDefault(false);
    return button;
}

QLabel *hint(const QString &html, QWidget *parent)
{
    return new QLabel(html, parent);
}

// The window the registry's message boxes belong to: the registry while it is
// open, else the main window.
QWidget *boxParent(QWidget *registryPart, QWidget *fallback)
{
    return registryPart ? registryPart->window() : fallback;
}

// The name column is narrow (50 pixels) but never narrower than a
// three-character name in the view's font.
int nameColumnWidth(QTableView *view)
{
    view->ensurePolished(); // the font the view is shown with
    return std::max(50, view->fontMetrics().horizontalAdvance(QStringLiteral("王小明")) + 12);
}
} // namespace

void MainWindow::initializeModelPerson()
{
    qDebug() << "initialize model person";
    if (!personModel)
        return;
    personModel->setTable(QStringLiteral("Person"));
    personModel->setSort(0, Qt::DescendingOrder);
    if (!personModel->select())
        qDebug() << personModel->lastError();
    const char *headers[] = {"序号",     "单位识别码", "用户编号", "姓名", "性别",
                             "出生年份", "身高",       "手机号",   "备注"};
    for (int column = 0; column < 9; ++column)
        personModel->setHeaderData(column, Qt::Horizontal, tr(headers[column]));
    // A new table resets the view's columns.
    if (personView && personView->model() == personModel)
        personView->setColumnWidth(3, nameColumnWidth(personView));
}

int MainWindow::currentPersonId() const
{
    if (!personModel || !personMapper || personMapper->currentIndex() < 0)
        return -1;
    return personModel->index(personMapper->currentIndex(), 0).data().toInt();
}

void MainWindow::returnToPerson(int id)
{
    // A reselect drops the mapper's row; the form goes back to the same person
    // when the new rows still hold him. A new entry being typed is left alone.
    if (id >= 0 && newFlag == 0)
        selectPersonRow(personsearch::rowOfId(personModel, id));
}

void MainWindow::selectPersonRow(int row)
{
    if (!personModel || !personView || !personMapper || row < 0 || row >= personModel->rowCount())
        return;
    personView->selectRow(row);
    personView->setCurrentIndex(personModel->index(row, 0));
    personMapper->setCurrentIndex(row);
}

void MainWindow::usersList()
{
    qDebug() << "usersList function";

    QDialog usersDialog(this);
    usersDialog.setWindowTitle(tr("用户列表"));
    usersDialog.resize(700, 600);
    usersDialog.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                               Qt::WindowCloseButtonHint | Qt::WindowMinMaxButtonsHint);

    personModel = new QSqlTableModel(&usersDialog);
    initializeModelPerson();
    personModel->setEditStrategy(QSqlTableModel::OnManualSubmit);

    auto *top = new QVBoxLayout(&usersDialog);
    top->addWidget(new QLabel(tr("全部用户列表(选中人员后，可主控测试)"), &usersDialog));

    auto *searchRow = new QHBoxLayout;
    searchEdit = new QLineEdit(&usersDialog);
    searchEdit->setObjectName(QStringLiteral("searchEdit"));
    searchEdit->setPlaceholderText(tr("请输入姓名查询，支持按姓氏模糊查找"));
    QPushButton *searchButton = formButton(tr("搜索"), &usersDialog);
    QPushButton *resultsButton = formButton(tr("查人员测试结果"), &usersDialog);
    QPushButton *importButton = formButton(tr("批量导入人员"), &usersDialog);
    searchRow->addWidget(searchEdit);
    searchRow->addWidget(searchButton);
    searchRow->addWidget(resultsButton);
    searchRow->addWidget(importButton);
    top->addLayout(searchRow);

    personView = new QTableView(&usersDialog);
    personView->setObjectName(QStringLiteral("personView"));
    personView->setModel(personModel);
    personView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    personView->setSelectionBehavior(QAbstractItemView::SelectRows);
    personView->setColumnWidth(3, nameColumnWidth(personView));
    top->addWidget(personView, 1);

    auto *group = new QGroupBox(tr("测试人员信息"), &usersDialog);
    auto *grid = new QGridLayout(group);
    uidEdit = new QLineEdit(group);
    uidEdit->setObjectName(QStringLiteral("uidEdit"));
    nameEdit = new QLineEdit(group);
    nameEdit->setObjectName(QStringLiteral("nameEdit"));
    sexCombo = new QComboBox(group);
    sexCombo->setObjectName(QStringLiteral("sexCombo"));
    sexCombo->addItems({tr("1"), tr("2")});
    sexCombo->setCurrentIndex(0);
    birthYearSpin = new QSpinBox(group);
    birthYearSpin->setObjectName(QStringLiteral("birthYearSpin"));
    birthYearSpin->setRange(1900, 3000);
    birthYearSpin->setSingleStep(1);
    birthYearSpin->setValue(1990);
    heightSpin = new QSpinBox(group);
    heightSpin->setObjectName(QStringLiteral("heightSpin"));
    heightSpin->setRange(100, 250);
    heightSpin->setSingleStep(1);
    heightSpin->setValue(170);
    phoneEdit = new QLineEdit(group);
    phoneEdit->setObjectName(QStringLiteral("phoneEdit"));
    phoneEdit->setValidator(new QRegExpValidator(
        QRegExp(QStringLiteral("[0-9]+$"), Qt::CaseSensitive, QRegExp::RegExp), phoneEdit));
    noteEdit = new QLineEdit(group);
    noteEdit->setObjectName(QStringLiteral("noteEdit"));

    const QString grey = QStringLiteral("<font color='grey'>%1</font>");
    grid->addWidget(new QLabel(tr("  编号"), group), 0, 0);
    grid->addWidget(uidEdit, 0, 1);
    grid->addWidget(hint(grey.arg(tr("默认是用户序号")), group), 0, 2);
    grid->addWidget(new QLabel(tr("<font color='red'>*</font> 姓名"), group), 1, 0);
    grid->addWidget(nameEdit, 1, 1);
    grid->addWidget(hint(grey.arg(tr("仅限3-10个字符")), group), 1, 2);
    grid->addWidget(new QLabel(tr("<font color='red'>*</font> 性别"), group), 2, 0);
    grid->addWidget(sexCombo, 2, 1);
    grid->addWidget(hint(grey.arg(tr("男1,女2")), group), 2, 2);
    grid->addWidget(new QLabel(tr("<font color='red'>*</font> 出生年份"), group), 3, 0);
    grid->addWidget(birthYearSpin, 3, 1);
    grid->addWidget(hint(grey.arg(tr("格式：1990")), group), 3, 2);
    grid->addWidget(new QLabel(tr("<font color='red'>*</font> 身高"), group), 4, 0);
    grid->addWidget(heightSpin, 4, 1);
    grid->addWidget(hint(grey.arg(QStringLiteral("cm")), group), 4, 2);
    grid->addWidget(new QLabel(tr("手机号"), group), 5, 0);
    grid->addWidget(phoneEdit, 5, 1);
    grid->addWidget(new QLabel(tr("备注："), group), 6, 0);
    grid->addWidget(noteEdit, 6, 1, 1, 3);

    QPushButton *saveButton = formButton(tr("保存"), group);
    QPushButton *pcStartButton = formButton(tr("主控测试"), group);
    QPushButton *pcStopButton = formButton(tr("停止主控"), group);
    QPushButton *addButton = formButton(tr("增加人员+"), group);
    QPushButton *deleteButton = formButton(tr("删除人员"), group);
    grid->addWidget(saveButton, 7, 0);
    grid->addWidget(pcStartButton, 7, 1);
    grid->addWidget(pcStopButton, 7, 2);
    grid->addWidget(addButton, 7, 3);
    grid->addWidget(deleteButton, 7, 4);
    top->addWidget(group);

    personMapper = new QDataWidgetMapper(&usersDialog);
    personMapper->setSubmitPolicy(QDataWidgetMapper::ManualSubmit);
    personMapper->setModel(personModel);
    personMapper->addMapping(uidEdit, 2);
    personMapper->addMapping(nameEdit, 3);
    personMapper->addMapping(sexCombo, 4);
    personMapper->addMapping(birthYearSpin, 5);
    personMapper->addMapping(heightSpin, 6);
    personMapper->addMapping(phoneEdit, 7);
    personMapper->addMapping(noteEdit, 8);
    // The whole list is needed to reach the last row (the oldest person).
    while (personModel->canFetchMore())
        personModel->fetchMore();
    personMapper->toLast();

    connect(personView->selectionModel(), &QItemSelectionModel::currentRowChanged, personMapper,
            &QDataWidgetMapper::setCurrentModelIndex);
    connect(searchButton, &QPushButton::clicked, this, &MainWindow::searchPerson2);
    connect(resultsButton, &QPushButton::clicked, this, &MainWindow::dataListWithPerson);
    connect(importButton, &QPushButton::clicked, this, &MainWindow::usersImport);
    connect(saveButton, &QPushButton::clicked, this, &MainWindow::savePerson);
    connect(pcStartButton, &QPushButton::clicked, this, &MainWindow::startPCctrl);
    connect(pcStopButton, &QPushButton::clicked, this, &MainWindow::stopPCctrl);
    connect(addButton, &QPushButton::clicked, this, &MainWindow::addPerson);
    connect(deleteButton, &QPushButton::clicked, this, &MainWindow::deletePerson);

    usersDialog.exec();
}

void MainWindow::searchPerson2()
{
    qDebug() << "searchPerson2 function";
    if (!personModel || !searchEdit)
        return;
    const QString filter = personsearch::nameFilter(searchEdit->text());
    qDebug() << "filter:" << filter;
    const int id = currentPersonId();
    personModel->setFilter(filter);
    if (!personModel->select()) {
        qDebug() << personModel->lastError();
        return;
    }
    returnToPerson(id);
    const QSqlRecord columns = personModel->record();
    const int idColumn = columns.indexOf(QStringLiteral("ID"));
    const int nameColumn = columns.indexOf(QStringLiteral("Name"));
    for (int row = 0; row < personModel->rowCount(); ++row) {
        qDebug() << "ID:" << personModel->index(row, idColumn).data().toInt();
        qDebug() << "Name:" << personModel->index(row, nameColumn).data().toString();
    }
}

void MainWindow::refreshPerson()
{
    qDebug() << "refreshPerson function";
    const int id = currentPersonId();
    initializeModelPerson();
    returnToPerson(id);
}

void MainWindow::addPerson()
{
    qDebug() << "addPerson function";
    newFlag = 1;
    qDebug() << "Now newFlag = " << newFlag;
    if (!nameEdit)
        return;
    uidEdit->clear();
    nameEdit->clear();
    qDebug() << "After clear,Name: " << nameEdit->text();
    sexCombo->setCurrentIndex(0);
    birthYearSpin->setValue(1990);
    heightSpin->setValue(170);
    phoneEdit->clear();
    noteEdit->clear();
}

void MainWindow::savePerson()
{
    qDebug() << "savePerson function";
    qDebug() << "newFlag = " << newFlag;
    if (!personModel || !personMapper)
        return;
    QWidget *parent = boxParent(personView, this);

    QSqlTableModel unitModel;
    unitModel.setTable(QStringLiteral("Unit"));
    unitModel.select();
    UUID = unitModel.record(0).value(QStringLiteral("UUID")).toString();
    qDebug() << "UUID when save person= " << UUID;
    qDebug() << "mapper CurrentIndex() is:" << personMapper->currentIndex();

    if (newFlag == 1) {
        qDebug() << "new person data";
        // A failed check leaves new-entry mode on: the corrected form is
        // inserted on the next click and never written over the person the
        // mapper stands on.
        const QString missing = nameEdit->text().isEmpty()        ? tr("姓名不得为空！")
                                : uidEdit->text().isEmpty()       ? tr("用户编号不得为空！")
                                : birthYearSpin->text().isEmpty() ? tr("出生年份不得为空！")
                                : heightSpin->text().isEmpty()    ? tr("身高不得为空！")
                                                                  : QString();
        if (!missing.isEmpty()) {
            QMessageBox::warning(parent, tr("人员数据"), missing);
            return;
        }
        QSqlRecord record = personModel->record();
        record.setValue(QStringLiteral("UUID"), UUID);
        record.setValue(QStringLiteral("UID"), uidEdit->text());
        record.setValue(QStringLiteral("Name"), nameEdit->text());
        qDebug() << "After save,Name: " << nameEdit->text();
        record.setValue(QStringLiteral("Sex"), sexCombo->currentText());
        record.setValue(QStringLiteral("BirthYear"), birthYearSpin->value());
        record.setValue(QStringLiteral("Height"), heightSpin->value());
        record.setValue(QStringLiteral("Phone"), phoneEdit->text());
        record.setValue(QStringLiteral("Note"), noteEdit->text());
        // The record's ID is left for the database to assign.
        record.setGenerated(QStringLiteral("ID"), false);
        if (!personModel->insertRecord(-1, record) || !personModel->submitAll()) {
            const QString error = personModel->lastError().text();
            qDebug() << "insert person failed:" << personModel->lastError();
            personModel->revertAll();
            QMessageBox::warning(parent, tr("tableModel:"), tr("数据库错误: %1").arg(error), QMessageBox::Ok);
            return;
        }
        initializeModelPerson();
        newFlag = 0;
        // Newest first: the person just stored is row 0; the form stays on it.
        selectPersonRow(0);
        qDebug() << "mapper CurrentIndex() is:" << personMapper->currentIndex();
        return;
    }

    const int row = personMapper->currentIndex();
    if (row == -1) {
        QMessageBox::warning(parent, tr("人员数据"), tr("请先点击“增加人员+”！"));
        return;
    }
    const int id = personModel->index(row, 0).data().toInt();
    personMapper->submit();
    if (personModel->submitAll()) {
        // submitAll reselected the model; put the form back on the same person.
        selectPersonRow(personsearch::rowOfId(personModel, id));
        QMessageBox::information(parent, tr("人员数据"), tr("数据已更新！"));
    } else {
        qDebug() << personModel->lastError();
        QMessageBox::warning(this, tr("tableModel:"),
                             tr("数据库错误: %1").arg(personModel->lastError().text()), QMessageBox::Ok);
    }
}

void MainWindow::deletePerson()
{
    qDebug() << "deletePerson function";
    if (!personModel || !personView)
        return;
    // One index per selected row (a row selection has an index per column).
    const QModelIndexList rows = personView->selectionModel()->selectedRows();
    if (rows.isEmpty()) {
        QMessageBox::warning(this, tr("警告"), tr("没有所选用户！"), QMessageBox::Cancel);
        return;
    }
    for (const QModelIndex &index : rows)
        personModel->removeRow(index.row());
    const auto answer = QMessageBox::warning(this, tr("删除用户"), tr("你确定删除所选用户吗？"),
                                             QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes) {
        personModel->revertAll();
        return;
    }
    if (!personModel->submitAll()) {
        const QString error = personModel->lastError().text();
        qDebug() << "delete person failed:" << personModel->lastError();
        personModel->revertAll();
        QMessageBox::warning(this, tr("tableModel:"), tr("数据库错误: %1").arg(error), QMessageBox::Ok);
    }
    refreshPerson();
}

QString MainWindow::chooseImportFile()
{
    if (m_hasPresetImportFile) {
        m_hasPresetImportFile = false;
        return m_presetImportFile;
    }
    return QFileDialog::getOpenFileName(this, tr("选择CSV文件"), QStringLiteral("../"),
                                        QStringLiteral("*.csv"));
}

void MainWindow::usersImport()
{
    qDebug() << "usersImport function";
    const QString fileName = chooseImportFile();

    personimport::TextEncoding encoding = personimport::TextEncoding::Utf8;
    QString error;
    const std::optional<QStringList> lines = personimport::readLines(fileName, &encoding, &error);
    if (!lines) {
        qDebug() << "Cannot open file for writing: " << fileName << error;
        QMessageBox::warning(this, tr("导入数据"), tr("文件无法打开!"), QMessageBox::Ok);
        refreshPerson();
        return;
    }

    QProgressDialog progress(tr("正在导入人员数据…"), tr("取消"), 0, std::max(1, int(lines->size())),
                             boxParent(personView, this));
    progress.setWindowTitle(tr("导入数据"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(300);
    progress.setAutoReset(false);
    progress.setAutoClose(false);
    // setValue lets a window-modal progress dialog process events, so the
    // window repaints and the cancel button is heard during the import. The
    // instrument links rest meanwhile: a measurement stored now would join
    // the import's transaction and share its fate.
    suspendInstrumentLinks();
    personimport::ImportResult result = personimport::importLines(*lines, [&progress](int done, int total) {
        progress.setMaximum(std::max(1, total));
        progress.setValue(done);
        return !progress.wasCanceled();
    });
    result.encoding = encoding;
    progress.close();
    resumeInstrumentLinks();

    const personimport::Summary summary = personimport::summarize(result);
    qDebug() << "import summary:" << summary.text;
    QMessageBox box(summary.information ? QMessageBox::Information : QMessageBox::Warning, summary.title,
                    summary.text, QMessageBox::NoButton, this);
    box.addButton(tr("确定"), QMessageBox::AcceptRole);
    box.exec();
    refreshPerson();
}
