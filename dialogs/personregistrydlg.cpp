#include "dialogs/personregistrydlg.h"

#include "app/dbtarget.h"
#include "exchange/errortext.h"
#include "people/personmodel.h"
#include "people/personregistry.h"

#include <QComboBox>
#include <QDataWidgetMapper>
#include <QDebug>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegExpValidator>
#include <QSpinBox>
#include <QSqlError>
#include <QSqlRecord>
#include <QStyledItemDelegate>
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

QLineEdit *namedEdit(const char *name, QWidget *parent)
{
    auto *edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1String(name));
    return edit;
}

// The form's sex box shows 男/女 and carries the stored code "1"/"2" as its
// item data; the other fields go through the default delegate.
class FormDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void setEditorData(QWidget *editor, const QModelIndex &index) const override
    {
        if (auto *combo = qobject_cast<QComboBox *>(editor)) {
            const int i = combo->findData(index.data(Qt::EditRole).toString());
            combo->setCurrentIndex(i < 0 ? 0 : i);
            return;
        }
        QStyledItemDelegate::setEditorData(editor, index);
    }
    void setModelData(QWidget *editor, QAbstractItemModel *model, const QModelIndex &index) const override
    {
        if (auto *combo = qobject_cast<QComboBox *>(editor)) {
            model->setData(index, combo->currentData());
            return;
        }
        QStyledItemDelegate::setModelData(editor, model, index);
    }
};
} // namespace

PersonRegistryDlg::PersonRegistryDlg(int &entryFlag, QString &unitId, QWidget *parent)
    : QDialog(parent), m_entryFlag(entryFlag), m_unitId(unitId)
{
    setWindowTitle(tr("用户列表"));
    resize(700, 600);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::WindowMinMaxButtonsHint);

    m_model = new PersonModel(this);
    m_model->initialize();
    m_model->setEditStrategy(QSqlTableModel::OnManualSubmit);

    auto *top = new QVBoxLayout(this);
    top->addWidget(new QLabel(tr("全部用户列表(选中人员后，可主控测试)"), this));

    auto *searchRow = new QHBoxLayout;
    m_search = namedEdit("searchEdit", this);
    m_search->setPlaceholderText(tr("输入姓名或用户编号（可只输开头）"));
    QPushButton *searchButton = formButton(tr("搜索"), this);
    QPushButton *resultsButton = formButton(tr("查人员测试结果"), this);
    QPushButton *historyButton = formButton(tr("历史趋势"), this);
    historyButton->setObjectName(QStringLiteral("historyButton"));
    QPushButton *importButton = formButton(tr("批量导入人员"), this);
    searchRow->addWidget(m_search);
    searchRow->addWidget(searchButton);
    searchRow->addWidget(resultsButton);
    searchRow->addWidget(historyButton);
    searchRow->addWidget(importButton);
    top->addLayout(searchRow);

    m_view = new QTableView(this);
    m_view->setObjectName(QStringLiteral("personView"));
    m_view->setModel(m_model);
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    fitNameColumn();
    top->addWidget(m_view, 1);

    buildForm();

    connect(m_view->selectionModel(), &QItemSelectionModel::currentRowChanged, m_mapper,
            &QDataWidgetMapper::setCurrentModelIndex);
    connect(searchButton, &QPushButton::clicked, this, &PersonRegistryDlg::searchPerson2);
    connect(m_search, &QLineEdit::returnPressed, this, &PersonRegistryDlg::searchPerson2);
    connect(resultsButton, &QPushButton::clicked, this, &PersonRegistryDlg::personResultsRequested);
    connect(historyButton, &QPushButton::clicked, this, &PersonRegistryDlg::personHistoryRequested);
    connect(importButton, &QPushButton::clicked, this, &PersonRegistryDlg::importRequested);
}

void PersonRegistryDlg::buildForm()
{
    auto *group = new QGroupBox(tr("测试人员信息"), this);
    auto *grid = new QGridLayout(group);
    m_uid = namedEdit("uidEdit", group);
    m_name = namedEdit("nameEdit", group);
    m_sex = new QComboBox(group);
    m_sex->setObjectName(QStringLiteral("sexCombo"));
    m_sex->addItem(tr("男"), QStringLiteral("1"));
    m_sex->addItem(tr("女"), QStringLiteral("2"));
    m_sex->setCurrentIndex(0);
    m_name->setMaxLength(personregistry::kNameMaxLength);
    m_birthYear = new QSpinBox(group);
    m_birthYear->setObjectName(QStringLiteral("birthYearSpin"));
    m_birthYear->setRange(1900, 3000);
    m_birthYear->setValue(1990);
    m_height = new QSpinBox(group);
    m_height->setObjectName(QStringLiteral("heightSpin"));
    m_height->setRange(100, 250);
    m_height->setValue(170);
    m_phone = namedEdit("phoneEdit", group);
    m_phone->setValidator(new QRegExpValidator(
        QRegExp(QStringLiteral("[0-9]+$"), Qt::CaseSensitive, QRegExp::RegExp), m_phone));
    m_note = namedEdit("noteEdit", group);

    const QString grey = QStringLiteral("<font color='grey'>%1</font>");
    const QString required = QStringLiteral("<font color='red'>*</font> %1");
    struct Row
    {
        QString label;
        QWidget *field;
        QString hint;
    };
    const Row rows[] = {
        {tr("  编号"), m_uid, tr("留空时使用用户序号")},
        {required.arg(tr("姓名")), m_name, tr("最多%1个字符").arg(personregistry::kNameMaxLength)},
        {required.arg(tr("性别")), m_sex, QString()},
        {required.arg(tr("出生年份")), m_birthYear, tr("格式：1990")},
        {required.arg(tr("身高")), m_height, QStringLiteral("cm")},
        {tr("手机号"), m_phone, QString()},
    };
    int r = 0;
    for (const Row &row : rows) {
        grid->addWidget(new QLabel(row.label, group), r, 0);
        grid->addWidget(row.field, r, 1);
        if (!row.hint.isEmpty())
            grid->addWidget(new QLabel(grey.arg(row.hint), group), r, 2);
        ++r;
    }
    grid->addWidget(new QLabel(tr("备注："), group), 6, 0);
    grid->addWidget(m_note, 6, 1, 1, 3);

    QPushButton *saveButton = formButton(tr("保存"), group);
    QPushButton *pcStartButton = formButton(tr("主控测试"), group);
    QPushButton *pcStopButton = formButton(tr("停止主控"), group);
    QPushButton *addButton = formButton(tr("增加人员+"), group);
    QPushButton *deleteButton = formButton(tr("删除人员"), group);
    int column = 0;
    for (QPushButton *button : {saveButton, pcStartButton, pcStopButton, addButton, deleteButton})
        grid->addWidget(button, 7, column++);
    layout()->addWidget(group);

    m_mapper = new QDataWidgetMapper(this);
    m_mapper->setSubmitPolicy(QDataWidgetMapper::ManualSubmit);
    m_mapper->setModel(m_model);
    m_mapper->setItemDelegate(new FormDelegate(m_mapper));
    m_mapper->addMapping(m_uid, 2);
    m_mapper->addMapping(m_name, 3);
    m_mapper->addMapping(m_sex, 4);
    m_mapper->addMapping(m_birthYear, 5);
    m_mapper->addMapping(m_height, 6);
    m_mapper->addMapping(m_phone, 7);
    m_mapper->addMapping(m_note, 8);
    // The whole list is needed to reach the last row (the oldest person).
    while (m_model->canFetchMore())
        m_model->fetchMore();
    m_mapper->toLast();

    connect(saveButton, &QPushButton::clicked, this, &PersonRegistryDlg::savePerson);
    connect(pcStartButton, &QPushButton::clicked, this, &PersonRegistryDlg::pcControlStartRequested);
    connect(pcStopButton, &QPushButton::clicked, this, &PersonRegistryDlg::pcControlStopRequested);
    connect(addButton, &QPushButton::clicked, this, &PersonRegistryDlg::addPerson);
    connect(deleteButton, &QPushButton::clicked, this, &PersonRegistryDlg::deletePerson);
}

// The name column is narrow (50 pixels) but never narrower than a
// three-character name in the view's font; a new table resets the columns.
void PersonRegistryDlg::fitNameColumn()
{
    m_view->ensurePolished();
    const int width = m_view->fontMetrics().horizontalAdvance(QStringLiteral("欧阳小明")) + 16;
    m_view->setColumnWidth(3, std::max(50, width));
}

int PersonRegistryDlg::currentPersonId() const
{
    if (m_mapper->currentIndex() < 0)
        return -1;
    return m_model->index(m_mapper->currentIndex(), 0).data().toInt();
}

void PersonRegistryDlg::returnToPerson(int id)
{
    // A reselect drops the mapper's row; the form goes back to the same person
    // when the new rows still hold him. A new entry being typed is left alone.
    if (id >= 0 && m_entryFlag == 0)
        selectPersonRow(m_model->rowOfId(id));
}

void PersonRegistryDlg::selectPersonRow(int row)
{
    if (row < 0 || row >= m_model->rowCount())
        return;
    m_view->selectRow(row);
    m_view->setCurrentIndex(m_model->index(row, 0));
    m_mapper->setCurrentIndex(row);
}

void PersonRegistryDlg::searchPerson2()
{
    qDebug() << "searchPerson2 function";
    const int id = currentPersonId();
    m_model->setNamePrefix(m_search->text());
    if (!m_model->select()) {
        qDebug() << m_model->lastError();
        return;
    }
    fitNameColumn();
    returnToPerson(id);
    const QSqlRecord columns = m_model->record();
    const int idColumn = columns.indexOf(QStringLiteral("ID"));
    const int nameColumn = columns.indexOf(QStringLiteral("Name"));
    for (int row = 0; row < m_model->rowCount(); ++row) {
        qDebug() << "ID:" << m_model->index(row, idColumn).data().toInt();
        qDebug() << "Name:" << m_model->index(row, nameColumn).data().toString();
    }
}

void PersonRegistryDlg::refreshPerson()
{
    qDebug() << "refreshPerson function";
    const int id = currentPersonId();
    m_model->initialize();
    fitNameColumn();
    returnToPerson(id);
}

void PersonRegistryDlg::addPerson()
{
    qDebug() << "addPerson function";
    m_entryFlag = 1;
    qDebug() << "Now newFlag = " << m_entryFlag;
    clearForm();
    qDebug() << "After clear,Name: " << m_name->text();
}

void PersonRegistryDlg::savePerson()
{
    qDebug() << "savePerson function";
    qDebug() << "newFlag = " << m_entryFlag;

    QSqlTableModel unitModel;
    unitModel.setTable(SqlDialect::current().modelTable(QStringLiteral("Unit")));
    unitModel.select();
    m_unitId = unitIdOfThisPc(unitModel.record(0).value(QStringLiteral("UUID")).toString());
    qDebug() << "UUID when save person= " << m_unitId;
    qDebug() << "mapper CurrentIndex() is:" << m_mapper->currentIndex();

    if (m_entryFlag == 1) {
        qDebug() << "new person data";
        // A failed check leaves new-entry mode on: the corrected form is
        // inserted on the next click and never written over the person the
        // mapper stands on.
        const QString missing = !personregistry::nameProblem(m_name->text()).isEmpty()
                                    ? personregistry::nameProblem(m_name->text())
                                : m_birthYear->text().isEmpty() ? tr("出生年份不得为空！")
                                : m_height->text().isEmpty()    ? tr("身高不得为空！")
                                                                : QString();
        if (!missing.isEmpty()) {
            QMessageBox::warning(this, tr("人员数据"), missing);
            return;
        }
        personregistry::NewPerson person;
        person.uuid = m_unitId;
        person.uid = m_uid->text();
        person.name = m_name->text();
        qDebug() << "After save,Name: " << m_name->text();
        person.sex = sexCode();
        person.birthYear = m_birthYear->value();
        person.height = m_height->value();
        person.phone = m_phone->text();
        person.note = m_note->text();
        QString error;
        if (personregistry::insertPerson(person, &error) < 0) {
            qDebug() << "insert person failed:" << error;
            QMessageBox::warning(this, tr("人员数据"), error, QMessageBox::Ok);
            return;
        }
        m_model->initialize();
        fitNameColumn();
        m_entryFlag = 0;
        // Newest first: the person just stored is row 0; the form stays on it.
        selectPersonRow(0);
        qDebug() << "mapper CurrentIndex() is:" << m_mapper->currentIndex();
        return;
    }

    const int row = m_mapper->currentIndex();
    if (row == -1) {
        QMessageBox::warning(this, tr("人员数据"), tr("请先点击“增加人员+”！"));
        return;
    }
    const int id = m_model->index(row, 0).data().toInt();
    const QString problem = personregistry::nameProblem(m_name->text());
    if (!problem.isEmpty()) {
        QMessageBox::warning(this, tr("人员数据"), problem);
        return;
    }
    // An emptied user number becomes the serial number, as for a new person.
    const QString uid = m_uid->text().trimmed().isEmpty() ? QString::number(id) : m_uid->text().trimmed();
    const personregistry::Holder holder = personregistry::holderOf(uid, id);
    if (holder.found) {
        QMessageBox::warning(this, tr("人员数据"),
                             personregistry::duplicateText(uid, holder) + tr("，请换一个编号。"));
        return;
    }
    m_uid->setText(uid);
    m_name->setText(m_name->text().trimmed());
    m_mapper->submit();
    if (m_model->submitAll()) {
        // submitAll reselected the model; put the form back on the same person.
        selectPersonRow(m_model->rowOfId(id));
        QMessageBox::information(this, tr("人员数据"), tr("数据已更新！"));
    } else {
        qDebug() << m_model->lastError();
        QMessageBox::warning(this, tr("人员数据"),
                             tr("数据库错误: %1").arg(exchange::systemErrorText(m_model->lastError().text())),
                             QMessageBox::Ok);
    }
}

QString PersonRegistryDlg::sexCode() const
{
    return m_sex->currentData().toString();
}

void PersonRegistryDlg::clearForm()
{
    for (QLineEdit *edit : {m_uid, m_name, m_phone, m_note})
        edit->clear();
    m_sex->setCurrentIndex(0);
    m_birthYear->setValue(1990);
    m_height->setValue(170);
}

void PersonRegistryDlg::deletePerson()
{
    qDebug() << "deletePerson function";
    // One index per selected row (a row selection has an index per column).
    const QModelIndexList rows = m_view->selectionModel()->selectedRows();
    if (rows.isEmpty()) {
        QMessageBox::warning(this, tr("警告"), tr("没有所选用户！"), QMessageBox::Cancel);
        return;
    }
    // The question names who goes: the one person, or how many.
    const auto cell = [this](const QModelIndex &index, int column) {
        return m_model->index(index.row(), column).data(Qt::EditRole).toString();
    };
    const QString question =
        rows.size() == 1
            ? tr("确定删除用户“%1”（用户编号 %2）吗？").arg(cell(rows.first(), 3), cell(rows.first(), 2))
            : tr("确定删除所选的 %1 位用户吗？").arg(rows.size());
    for (const QModelIndex &index : rows)
        m_model->removeRow(index.row());
    const auto answer = QMessageBox::warning(this, tr("删除用户"), question + tr("\n其测试结果会保留。"),
                                             QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes) {
        m_model->revertAll();
        return;
    }
    if (!m_model->submitAll()) {
        const QString error = m_model->lastError().text();
        qDebug() << "delete person failed:" << m_model->lastError();
        m_model->revertAll();
        QMessageBox::warning(this, tr("删除用户"), tr("数据库错误: %1").arg(exchange::systemErrorText(error)),
                             QMessageBox::Ok);
        refreshPerson();
        return;
    }
    refreshPerson();
    // The form no longer shows anyone: the deleted person is gone.
    m_view->clearSelection();
    clearForm();
}
