// The person registry ("用户列表"): the list of table Person with a bound
// name search, and the entry form to add, edit and delete people. The
// dialog owns its model, mapper and widgets; the buttons that lead out of it
// (a person's results, import, PC-control) are signals the main window
// connects to its slots.
#pragma once

#include <QDialog>

class PersonModel;
class QComboBox;
class QDataWidgetMapper;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTableView;

class PersonRegistryDlg : public QDialog
{
    Q_OBJECT

public:
    // |entryFlag| (1 while a new person is being entered) and |unitId| belong
    // to the caller: a started entry survives closing and reopening.
    PersonRegistryDlg(int &entryFlag, QString &unitId, QWidget *parent = nullptr);

    PersonModel *model() const { return m_model; }
    QTableView *view() const { return m_view; }
    QLineEdit *uidEdit() const { return m_uid; }
    QLineEdit *nameEdit() const { return m_name; }
    QComboBox *sexCombo() const { return m_sex; }
    QSpinBox *birthYearSpin() const { return m_birthYear; }
    QSpinBox *heightSpin() const { return m_height; }
    // The stored code of the sex shown: "1" (男) or "2" (女).
    QString sexCode() const;

signals:
    void personResultsRequested();  // "查人员测试结果"
    void personHistoryRequested();  // "历史趋势"
    void importRequested();         // "批量导入人员"
    void pcControlStartRequested(); // "主控测试"
    void pcControlStopRequested();  // "停止主控"

public slots:
    void searchPerson2();
    void refreshPerson();
    void addPerson();
    void savePerson();
    void deletePerson();

private:
    void buildForm();
    void selectPersonRow(int row);
    int currentPersonId() const;
    void returnToPerson(int id);
    void fitNameColumn();
    void clearForm();

    int &m_entryFlag;
    QString &m_unitId;
    PersonModel *m_model = nullptr;
    QTableView *m_view = nullptr;
    QDataWidgetMapper *m_mapper = nullptr;
    QLineEdit *m_search = nullptr;
    QLineEdit *m_uid = nullptr;
    QLineEdit *m_name = nullptr;
    QComboBox *m_sex = nullptr;
    QSpinBox *m_birthYear = nullptr;
    QSpinBox *m_height = nullptr;
    QLineEdit *m_phone = nullptr;
    QLineEdit *m_note = nullptr;
};
