// The history dialog "历史趋势" of one person: trend charts of weight, body
// fat, skeletal muscle and visceral fat with their normal bands and a table
// of the tests with the change since the previous and the first test; the
// fitness total score over time and the graded items per test day. Printing
// and saving the history page are signals the main window handles.
#pragma once

#include "reports/personhistory.h"

#include <QDialog>

#include <array>

class QLabel;
class QPushButton;
class QTabWidget;
class QTableWidget;
class QwtPlot;

class HistoryDlg : public QDialog
{
    Q_OBJECT

public:
    explicit HistoryDlg(history::PersonHistory history, QWidget *parent = nullptr);

    const history::PersonHistory &history() const { return m_history; }
    // Null where the person has no test of that kind.
    QTableWidget *bcaTable() const { return m_bcaTable; }
    QTableWidget *fitnessTable() const { return m_fitTable; }
    QwtPlot *bcaPlot(history::Measure m) const { return m_bcaPlots[size_t(m)]; }
    QwtPlot *scorePlot() const { return m_scorePlot; }
    QTabWidget *tabs() const { return m_tabs; }
    // The sentence shown instead of tabs when the person has no test at all.
    QLabel *emptyLabel() const { return m_emptyLabel; }
    QPushButton *printButton() const { return m_printButton; }
    QPushButton *pdfButton() const { return m_pdfButton; }

    // Columns of the body-composition table: date, test number, then per
    // value the value, the change since the previous and since the first
    // test, then the body type.
    static int bcaValueColumn(history::Measure m) { return 2 + 3 * int(m); }

signals:
    void printRequested();
    void pdfRequested();

private:
    QWidget *buildBcaTab();
    QWidget *buildFitnessTab();

    history::PersonHistory m_history;
    QTabWidget *m_tabs = nullptr;
    QTableWidget *m_bcaTable = nullptr;
    QTableWidget *m_fitTable = nullptr;
    std::array<QwtPlot *, history::MeasureCount> m_bcaPlots{};
    QwtPlot *m_scorePlot = nullptr;
    QLabel *m_emptyLabel = nullptr;
    QPushButton *m_printButton = nullptr;
    QPushButton *m_pdfButton = nullptr;
};
