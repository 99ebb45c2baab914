// "统计分析": group statistics of a date range with optional sex and age
// group filters, shown as tables and handed out as CSV, PDF or print. The
// figures come from reports/groupstats; this dialog only shows them.
#pragma once

#include <QDialog>

#include "reports/groupstats.h"

class QComboBox;
class QDateEdit;
class QLabel;
class QPrinter;
class QPushButton;
class QTabWidget;
class QTableWidget;

class StatsDlg : public QDialog
{
    Q_OBJECT

public:
    explicit StatsDlg(QWidget *parent = nullptr);

    QDateEdit *fromEdit() const { return m_from; }
    QDateEdit *toEdit() const { return m_to; }
    QComboBox *sexBox() const { return m_sex; }
    QComboBox *ageBox() const { return m_age; }
    // Which group the item tables show: the whole selection or one sex x age group.
    QComboBox *groupBox() const { return m_group; }
    QPushButton *runButton() const { return m_run; }
    QPushButton *csvButton() const { return m_csv; }
    QPushButton *pdfButton() const { return m_pdf; }
    QPushButton *printButton() const { return m_print; }
    QLabel *summaryLabel() const { return m_summary; }
    QTabWidget *tabs() const { return m_tabs; }
    QTableWidget *fitnessTable() const { return m_fitness; }
    QTableWidget *totalTable() const { return m_total; }
    QTableWidget *bcaTable() const { return m_bca; }
    QTableWidget *bodyTypeTable() const { return m_bodyTypes; }
    QTableWidget *groupTable() const { return m_groups; }

    bool hasStatistics() const { return m_computed; }
    const reports::GroupStatistics &statistics() const { return m_stats; }

    // The file the next CSV or PDF writes instead of asking the operator (an
    // empty name acts like a cancelled file dialog); used once.
    void presetFile(const QString &path)
    {
        m_presetFile = path;
        m_hasPresetFile = true;
    }
    // The next print goes into this PDF file instead of a chosen printer; used once.
    void presetPrintOutput(const QString &pdfPath)
    {
        m_presetPrint = pdfPath;
        m_hasPresetPrint = true;
    }

public slots:
    void compute();
    void exportCsv();
    void savePdf();
    void print();

private:
    QString chooseFile(const QString &caption, const QString &filter, const QString &suffix);
    bool choosePrinter(QPrinter &printer);
    void showStatistics();
    void showGroup();
    void fillGroupTable();

    QDateEdit *m_from = nullptr;
    QDateEdit *m_to = nullptr;
    QComboBox *m_sex = nullptr;
    QComboBox *m_age = nullptr;
    QComboBox *m_group = nullptr;
    QPushButton *m_run = nullptr;
    QPushButton *m_csv = nullptr;
    QPushButton *m_pdf = nullptr;
    QPushButton *m_print = nullptr;
    QLabel *m_summary = nullptr;
    QTabWidget *m_tabs = nullptr;
    QTableWidget *m_fitness = nullptr;
    QLabel *m_totalLine = nullptr;
    QTableWidget *m_total = nullptr;
    QTableWidget *m_bca = nullptr;
    QTableWidget *m_bodyTypes = nullptr;
    QTableWidget *m_groups = nullptr;

    reports::GroupStatistics m_stats;
    bool m_computed = false;
    QString m_presetFile;
    bool m_hasPresetFile = false;
    QString m_presetPrint;
    bool m_hasPresetPrint = false;
};
