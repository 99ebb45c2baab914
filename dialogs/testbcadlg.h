// Protocol test console of the body-composition analyzer: sends the fixed
// commands by hand and shows every answer as hex text with its meaning.
#pragma once

#include "analyzer/consoleanswers.h"

#include <QByteArray>
#include <QDialog>
#include <QMetaObject>
#include <QString>

class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

class testBCADlg : public QDialog
{
    Q_OBJECT

public:
    explicit testBCADlg(QWidget *parent = nullptr);
    ~testBCADlg() override;

    // Widgets tests and callers address.
    QComboBox *commandList() const { return m_commandList; }
    QPushButton *sendButton() const { return m_send; }
    QPushButton *clearCommandButton() const { return m_clearCommand; }
    QPushButton *clearSignalButton() const { return m_clearSignal; }
    QLineEdit *portStateEdit() const { return m_portState; }
    QPlainTextEdit *commandView() const { return m_commandView; }
    QPlainTextEdit *signalView() const { return m_signalView; }
    QPlainTextEdit *infoView() const { return m_infoView; }
    // Bytes of an answer still waiting for its end mark.
    int gatheredBytes() const { return m_gatherer.pending().size(); }

    const QByteArray &lastPersonData() const { return personData; }
    const QByteArray &lastWholeData() const { return wholeData; }
    const QByteArray &lastSegData() const { return segData; }
    const QByteArray &lastImpData() const { return impData; }

public slots:
    void sendCommand();
    void clearCommand();
    void clearSignal();
    void parseData();
    void done(int result) override;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    // Removes the readyRead connection, so the port is left as it was found.
    void detachPort();
    void showAnswer(const QByteArray &frame);

    QComboBox *m_commandList = nullptr;
    QPushButton *m_send = nullptr;
    QPushButton *m_clearCommand = nullptr;
    QPushButton *m_clearSignal = nullptr;
    QLineEdit *m_portState = nullptr;
    QPlainTextEdit *m_commandView = nullptr;
    QPlainTextEdit *m_signalView = nullptr;
    QPlainTextEdit *m_infoView = nullptr;

    QMetaObject::Connection m_readConnection;
    AnswerGatherer m_gatherer;
    QByteArray sendBuffer;
    QByteArray personData;
    QByteArray wholeData;
    QByteArray segData;
    QByteArray impData;
};
