// One result list dialog ("测量结果列表"): every body-composition result,
// every fitness result, or both kinds of results of one person (a tab each).
// The dialog owns its model, mapper, search and buttons; the main window
// wires the buttons to its slots, which act through the operations below.
#pragma once

#include <QDialog>

#include "people/resultlists.h"

class QDataWidgetMapper;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabBar;
class QTableView;
class ResultListModel;

class ResultListDlg : public QDialog
{
    Q_OBJECT

public:
    enum class Kind { Results, Fitness, Person };

    // |personUid| is the user number whose results the Person kind lists,
    // |personName| the name shown with it.
    ResultListDlg(Kind kind, const QString &caption, const QString &personUid = QString(),
                  const QString &personName = QString(), QWidget *parent = nullptr);

    Kind kind() const { return m_kind; }
    QString personUid() const { return m_personUid; }
    // The table listed now; the person dialog switches it with its tabs.
    resultlists::ResultTable resultTable() const { return m_table; }
    void setResultTable(resultlists::ResultTable table);
    QTabBar *tableTabs() const { return m_tabs; }
    ResultListModel *model() const { return m_model; }
    QTableView *view() const { return m_view; }

    // Buttons and fields; null where the kind has none (the person dialog has
    // no test-number field and no batch-print row).
    QLineEdit *searchEdit() const { return m_search; }
    QPushButton *searchButton() const { return m_searchButton; }
    QPushButton *backButton() const { return m_backButton; }
    // "刷新": reads the list again (results other PCs stored meanwhile).
    QPushButton *refreshButton() const { return m_refreshButton; }
    QLineEdit *testIdEdit() const { return m_testId; }
    QPushButton *reportButton() const { return m_reportButton; } // "查看报告"
    QPushButton *printButton() const { return m_printButton; }   // "打印报告"
    QPushButton *viewButton() const { return m_viewButton; }     // "查看详情": on the main window's page
    QPushButton *deleteButton() const { return m_deleteButton; }
    QPushButton *uploadButton() const { return m_uploadButton; }
    // "历史趋势" of the listed person (the person dialog only).
    QPushButton *historyButton() const { return m_historyButton; }
    // Progress and outcome of an upload started here.
    QLabel *uploadStatusLabel() const { return m_uploadStatus; }
    // Batch-print range ("打印起止测试编号") and its button.
    QLineEdit *printStartEdit() const { return m_printStart; }
    QLineEdit *printEndEdit() const { return m_printEnd; }
    QPushButton *batchPrintButton() const { return m_batchPrintButton; }

    // Name search within what the dialog lists (a person's results stay that
    // person's); showAll lists them all again.
    void search();
    void showAll();
    // Lists again what is listed now (the same search), keeping the row.
    void refresh();
    // The chosen test: the test-number field, or in the person dialog the
    // current row (the first row before a choice); 0 when there is none.
    int chosenTestId() const;
    // Asks (naming the test and person, or how many), deletes the selected
    // tests and reloads the list.
    void deleteSelected();

signals:
    void resultTableChanged();

private:
    void select(const QString &namePrefix);
    void fitColumns();

    Kind m_kind;
    QString m_personUid;
    resultlists::ResultTable m_table;
    ResultListModel *m_model = nullptr;
    QTableView *m_view = nullptr;
    QDataWidgetMapper *m_mapper = nullptr;
    QLineEdit *m_search = nullptr;
    QPushButton *m_searchButton = nullptr;
    QPushButton *m_backButton = nullptr;
    QPushButton *m_refreshButton = nullptr;
    QString m_shownPrefix; // name prefix of the list shown; null: everything
    QLineEdit *m_testId = nullptr;
    QTabBar *m_tabs = nullptr;
    QPushButton *m_reportButton = nullptr;
    QPushButton *m_viewButton = nullptr;
    QPushButton *m_printButton = nullptr;
    QLabel *m_uploadStatus = nullptr;
    QPushButton *m_deleteButton = nullptr;
    QPushButton *m_uploadButton = nullptr;
    QPushButton *m_historyButton = nullptr;
    QLineEdit *m_printStart = nullptr;
    QLineEdit *m_printEnd = nullptr;
    QPushButton *m_batchPrintButton = nullptr;
};
