// Batch collection page: batch reception is on while it is open, and it shows
// how many records have been stored since it opened.
#pragma once

#include <QDialog>

class QLabel;

class BatchDlg : public QDialog
{
    Q_OBJECT

public:
    explicit BatchDlg(QWidget *parent = nullptr);

    QLabel *recordNumberLabel() const { return m_recordNumber; }
    QLabel *stateLabel() const { return m_state; }
    QLabel *countLabel() const { return m_count; }

public slots:
    // A record was stored: |tid| records since the dialog opened.
    void displayTid(int tid);
    // The analyzer state changed; state 6 ends the batch at once.
    void displayState(int state);
    void done(int result) override;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void showFinished();

    QLabel *m_recordNumber = nullptr;
    QLabel *m_state = nullptr;
    QLabel *m_count = nullptr;
};
